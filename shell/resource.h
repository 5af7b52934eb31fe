// Resource ids of Kolvy.exe.
#pragma once

#define IDR_MAINMENU 101
#define IDI_KOLVY 103
#define IDS_APPTITLE 40092
#define IDM_EXIT 40001
#define IDM_SEARCH 40002
