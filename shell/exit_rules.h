// When the program may end: the close request, the tray menu's exit and the deferred exit the
// workers post. No exit may cut a run or a list operation short, nor delete a draft that a
// composer still waits for in the editor (the shutdown empties _Tmp).
#pragma once

namespace kolvy::shell {

enum class ExitSource { Close, Tray, Deferred };
enum class ExitAction {
    DestroyNow,   // end without asking
    CloseChecks,  // ask the close checks (they refuse during runs and list operations)
    Refuse,       // a composer waits: say so, stay
    Wait,         // try again when the busy state has cleared
};
struct ExitState {
    bool running = false;
    bool processing = false;
    int composersWaiting = 0;
};

constexpr ExitAction exitDecision(ExitState s, ExitSource source) {
    const bool busy = s.running || s.processing;
    switch (source) {
        case ExitSource::Close:
            return !busy && s.composersWaiting > 0 ? ExitAction::Refuse : ExitAction::CloseChecks;
        case ExitSource::Tray:
            if (busy) return ExitAction::CloseChecks;
            return s.composersWaiting > 0 ? ExitAction::Refuse : ExitAction::DestroyNow;
        case ExitSource::Deferred:
            return busy || s.composersWaiting > 0 ? ExitAction::Wait : ExitAction::DestroyNow;
    }
    return ExitAction::CloseChecks;
}

}  // namespace kolvy::shell
