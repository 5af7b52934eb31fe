// Resource ids of Kolvy.exe.
#pragma once

#define IDR_MAINMENU 101
#define IDI_KOLVY 103
#define IDS_APPTITLE 40092

// Resource ids by owner, so that the window's modules never collide:
//   100-199, 10100-10199  main window: menus, tool bar, tray icons, shortcut and tool-bar dialogs
//   200-299, 10200-10299  receive run, mail checker
//   300-399, 10300-10399  new-mail notice
//   400-499, 10400-10499  send, compose and list-editing dialogs
