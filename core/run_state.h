// The busy state of the process, one for every starter of a run (commands, timers, the mail
// checker's receive, DDE): at most one send or receive run at a time, and the flags other code
// reads between its steps.
#pragma once

#include <atomic>
#include <cstdint>

namespace kolvy {

enum class RunKind : int32_t { None = 0, Receive = 1, Send = 2 };

// What a send or a receive asked for while a run holds the flag is told, whichever run it is.
inline constexpr char kTextRunActive[] = "受信中です。    ";

struct RunState {
    // Claims the run flag for a run of `kind`; false when any run holds it (nothing changed).
    bool tryBegin(RunKind kind) {
        int32_t none = static_cast<int32_t>(RunKind::None);
        return active.compare_exchange_strong(none, static_cast<int32_t>(kind));
    }
    // Gives the flag back; only the run that holds it calls this.
    void end() { active.store(static_cast<int32_t>(RunKind::None)); }
    bool running() const { return active.load() != static_cast<int32_t>(RunKind::None); }
    RunKind kind() const { return static_cast<RunKind>(active.load()); }

    std::atomic<int32_t> active{0};
    // A long list operation; every command but tab selection is refused meanwhile.
    std::atomic<bool> processing{false};
    // The window is hidden in the tray.
    std::atomic<bool> inTray{false};
    // Composers waiting on the user's editor: the program must not exit under them (the draft
    // lies in _Tmp, which the shutdown empties).
    std::atomic<int32_t> composersWaiting{0};
    // Read between steps by the runs and, through its address, by the mail checker: a plain
    // 32-bit integer for the program's whole life.
    std::atomic<int32_t> abortRequested{0};
    // Set while a message box shows; the mail checker reads it through its address too.
    std::atomic<int32_t> boxShowing{0};
};
static_assert(sizeof(std::atomic<int32_t>) == 4 && std::atomic<int32_t>::is_always_lock_free,
              "the checker reads these as plain 32-bit integers");

// The one instance of the process.
RunState& runState();

}  // namespace kolvy
