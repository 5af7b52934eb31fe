// The mail checker: a library of its own, loaded on demand and kept, that shows what waits on a
// server and calls KVA_Recieve back with what the user chose. The program hands it the addresses
// of its abort request and message-box flags, which stay put for the program's life.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/run_state.h"
#include "platform/env.h"
#include "pop/receive_run.h"

namespace kolvy::pop {

inline constexpr char kCheckerDefault[] = "Fendle.dll";
inline constexpr char kTextCheckerLoad[] = "メールチェッカDLLが読み込めません。   ";
inline constexpr char kTextCheckerNoWindow[] =
    "メールチェッカDLLからMakeCheckerWindow関数が呼び出せません。   ";
inline constexpr char kTextCheckerNoCheck[] =
    "メールチェッカDLLからMailCheck関数が呼び出せません。   ";
inline constexpr char kTextCheckerFailed[] = "メークチェッカが異常終了しました。   ";

// (main window, mode, &abort request, &message box showing) -> 0 when the window was made.
using MakeCheckerWindowFn = int(KOLVY_STDCALL*)(uintptr_t, int32_t, int32_t*, int32_t*);

// Loading a library and finding its entries (Win32: LoadLibrary and GetProcAddress).
class CheckerLoader {
  public:
    virtual ~CheckerLoader() = default;
    virtual bool load(const std::string& name) = 0;
    virtual void* entry(const char* name) = 0;
};

class CheckerBridge {
  public:
    CheckerBridge(Env& env, CheckerLoader& loader, RunState& state = runState())
        : env_(env), loader_(loader), state_(state) {}
    // On the main thread: loads the library once, finds its entries and opens its window.
    // 0 ok, 1 failure (told in a box).
    int open(uintptr_t mainWindow, int32_t mode);
    // What the receive run polls for: MailCheck once found, null before.
    MailCheckFn mailCheck() const { return mailCheck_.load(); }
    bool checkerOpen() const { return checkerOpen_.load(); }

  private:
    int fail(const char* text);
    Env& env_;
    CheckerLoader& loader_;
    RunState& state_;
    bool loaded_ = false;
    std::atomic<MailCheckFn> mailCheck_{nullptr};
    std::atomic<bool> checkerOpen_{false};
};

// Option/MailChecker: the library's file name.
std::string checkerLibraryName(platform::Profile& ini);

}  // namespace kolvy::pop

extern "C" {
// The mail checker's receive: carries out the actions of the list for the account (the program
// exports it). 0 ok, 1 failure.
int KOLVY_STDCALL KVA_Recieve(CheckerItem* list, int32_t accountNumber);
}
