// What the command modules of the window get: the main window, the program, the one command
// dispatcher, and the routing of posted messages and timers. Each module registers its commands
// and messages once, after the main window is created.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "shell/commands.h"
#include "shell/program.h"

namespace kolvy::config {
class OrderList;
}

namespace kolvy::shell::win32 {

// Messages the workers post to the main thread, and the main window's timers, by number.
class MessageRouter {
  public:
    using Handler = std::function<void(WPARAM, LPARAM)>;
    void onMessage(UINT msg, Handler h) { messages_[msg] = std::move(h); }
    void onTimer(UINT_PTR id, std::function<void()> h) { timers_[id] = std::move(h); }
    // False when nobody handles it.
    bool message(UINT msg, WPARAM wp, LPARAM lp) const {
        const auto it = messages_.find(msg);
        if (it == messages_.end()) return false;
        it->second(wp, lp);
        return true;
    }
    bool timer(UINT_PTR id) const {
        const auto it = timers_.find(id);
        if (it == timers_.end()) return false;
        it->second();
        return true;
    }

  private:
    std::map<UINT, Handler> messages_;
    std::map<UINT_PTR, std::function<void()>> timers_;
};

struct ShellContext {
    HWND main;
    HINSTANCE instance;
    Program& program;
    CommandRouter& commands;
    MessageRouter& messages;
};

// The command modules, each in a file of its own.
void registerWindowCommands(ShellContext& c);   // tray, hot key, shortcuts, tool bar, about
void registerReceiveCommands(ShellContext& c);  // receive run, abort, periodic receive, checker
void registerNotifyCommands(ShellContext& c);   // new-mail notice
void registerSendCommands(ShellContext& c);     // send, send-and-receive, timed sending
void registerListCommands(ShellContext& c);     // compose, list editing, sort, rebuild, viewer

// What the main window offers the modules (main thread only unless said).
enum class RunMenus { Idle, Receiving, Sending };
// Greys the menu entries and tool-bar buttons a run must not meet, or gives them back.
void setRunMenus(HWND main, RunMenus state);
// Redraws the status area's run fields from runStatus(); any thread (it only invalidates).
void redrawRunStatus(HWND main);
enum class TrayIcon { Normal = 170, Busy = 171, NewMail = 172 };
// Changes the tray icon when it is shown.
void setTrayIcon(HWND main, TrayIcon icon);
// Redraws the tab headers (new-mail marks, counters).
void redrawTabs(HWND main);
// The close path while a send run is active: true when the window is to close as soon as the
// run ends (the send module posts the close request then); false when no send run is active.
bool closeAfterSendRun(HWND main);
// The receive orders of the process, read on first use (receive module). The account pane shows
// them and marks its selection with OrderList::selectForPane; 受信 receives the selected order.
config::OrderList& receiveOrders(Env& env);
// Whether a tab header shows its new-mail mark now (the blinker's phase); the notice module
// answers, the tab drawing asks.
bool tabBlinkOn(const Tab& tab);
// The names of the orders the receive run polled, in order, for the new-mail notice's title; the
// run sets them (any thread) before it posts 0x8004. The notice module answers.
void setNoticeOrders(std::vector<std::string> names);
// The receive order chosen in the account pane (its id, 100..149); -1 when none is.
int selectedOrder(HWND main);
// Refills the account pane from the receive orders (after the order dialog).
void refillAccountPane(HWND main);
// Posts to the main thread's message routing from any thread. The message goes to a
// message-only window, so that modal loops (message boxes, dialogs) never drop it.
bool postToMain(UINT msg, WPARAM wp, LPARAM lp);

// The rows of a tab's plain list, for the list commands (list_commands_win32.cpp, through the list
// view's own messages; main thread). The selected rows as items of the tab, in tab order:
std::vector<MailItem*> selectedItems(Tab& tab);
// The focused row when it is selected, else the first selected one; null when none.
MailItem* focusedItem(Tab& tab);
// Selects the rows with these file numbers, the first of them focused.
void selectNumbers(Tab& tab, std::span<const int> numbers);
// A start with a mail address ("mailto:" forms): composes a message to it once the window is up;
// the program ends when the composer has finished (list_commands_win32.cpp).
void composeToAddress(HWND main, const std::string& address);

}  // namespace kolvy::shell::win32
