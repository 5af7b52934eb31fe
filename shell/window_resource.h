// Resource ids of the main window's own resources (its range of resource.h).
#pragma once

#define IDB_TOOLBAR 150
#define IDI_TRAY_NORMAL 170
#define IDI_TRAY_BUSY 171
#define IDI_TRAY_NEWMAIL 172
#define IDR_TRAYMENU 181

#define IDD_SHORTCUT 10100
#define IDD_TOOLBAR 10101
#define IDD_ABOUT 10102

#define IDC_SC_LIST 10110
#define IDC_SC_CHANGE 10111
#define IDC_SC_DEFAULT 10112
#define IDC_SC_PROMPT 10113
#define IDC_TB_SHOWN 10120
#define IDC_TB_HIDDEN 10121
#define IDC_TB_ADD 10122
#define IDC_TB_REMOVE 10123
#define IDC_TB_UP 10124
#define IDC_TB_DOWN 10125
#define IDC_TB_DEFAULT 10126
#define IDC_ABOUT_ICON 10130
