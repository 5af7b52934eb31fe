// Resource ids of the send commands' dialogs (ids 400-449, 10400-10449).
#pragma once

#define IDD_SEND_CHOICE 400
#define IDC_SEND_SELECTED 401
#define IDC_SEND_TAB 402
#define IDC_SEND_ALL 403
