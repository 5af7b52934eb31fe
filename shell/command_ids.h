// The identifiers of the main window's commands: menu items, tool-bar buttons, shortcut actions,
// tray-menu items and DDE requests all end in these.
#pragma once

namespace kolvy::shell::cmd {

inline constexpr int kAccounts = 40001;
inline constexpr int kOrders = 40002;
inline constexpr int kReceive = 40003;
inline constexpr int kSend = 40004;
inline constexpr int kSendReceive = 40005;
inline constexpr int kComposeForward = 40006;
inline constexpr int kComposeNew = 40007;
inline constexpr int kComposeReply = 40008;
inline constexpr int kSearch = 40009;
inline constexpr int kSort = 40010;
inline constexpr int kEmptyTrash = 40011;
inline constexpr int kPeriodicSwitch = 40012;  // tool bar only
inline constexpr int kPrint = 40013;
inline constexpr int kImport = 40014;
inline constexpr int kExport = 40015;
inline constexpr int kViewByMailer = 40016;
inline constexpr int kMailChecker = 40017;
inline constexpr int kAbort = 40018;
inline constexpr int kToTray = 40019;
inline constexpr int kExit = 40020;
inline constexpr int kTabSettings = 40021;
inline constexpr int kOpenFolderTab = 40022;
inline constexpr int kThreadView = 40023;
inline constexpr int kViewUnread = 40024;
inline constexpr int kViewAttached = 40025;
inline constexpr int kViewMarked = 40026;
inline constexpr int kViewByStored = 40027;
inline constexpr int kViewByDate = 40028;
inline constexpr int kOptions = 40030;
inline constexpr int kRules = 40031;
inline constexpr int kTemplates = 40032;
inline constexpr int kShortcutSettings = 40033;
inline constexpr int kHelp = 40034;
inline constexpr int kAbout = 40035;
inline constexpr int kAddressBook = 40036;
inline constexpr int kAttach = 40037;
inline constexpr int kShortcutList = 40038;
inline constexpr int kRebuildIndex = 40040;
inline constexpr int kRenumber = 40041;
inline constexpr int kViewColourFirst = 40042;  // .. 40055: colour 1..14 only
inline constexpr int kViewColourLast = 40055;
inline constexpr int kMoveToTab = 40056;
inline constexpr int kCopyToTab = 40057;
inline constexpr int kDelete = 40058;
inline constexpr int kDeleteCompletely = 40059;
inline constexpr int kMarkUnread = 40060;
inline constexpr int kMarkRead = 40061;
inline constexpr int kMarkAllRead = 40062;
inline constexpr int kToggleMark = 40063;
inline constexpr int kColourFirst = 40064;  // .. 40077: colour 1..14
inline constexpr int kColourLast = 40077;
inline constexpr int kColourNone = 40078;
inline constexpr int kToolBarSettings = 40079;
inline constexpr int kCloseOtherTabs = 40080;
inline constexpr int kFromTray = 40081;
inline constexpr int kTrayExit = 40082;
inline constexpr int kViewPlain = 40084;
inline constexpr int kJoinSplit = 40085;
inline constexpr int kOpenViewer = 40086;
inline constexpr int kMakeDraft = 40088;
inline constexpr int kMakeWaiting = 40089;
inline constexpr int kViewBySender = 40097;
// The list's context menu: register the selected message's sender as a rule, or as spam.
inline constexpr int kRuleRegister = 40087;
inline constexpr int kSpamRegister = 40096;
inline constexpr int kTabFirst = 40200;  // .. 40300: tab (id - 40200) of the タブ menu
inline constexpr int kTabLast = 40300;

}  // namespace kolvy::shell::cmd
