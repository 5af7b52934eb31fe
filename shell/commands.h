// The one dispatcher every command goes through: menu, tool bar, shortcut key, tray menu, DDE.
// It holds the busy checks; the modules that own the commands register their handlers. The
// window layer calls dispatch() on the main thread.
#pragma once

#include <functional>
#include <map>

#include "core/run_state.h"
#include "platform/env.h"

namespace kolvy::shell {

inline constexpr char kProcessingNow[] = "処理中です。   ";

enum CommandFlags : unsigned {
    kCmdPlain = 0,
    kCmdWhileProcessing = 1,  // allowed while a list operation runs (tab selection)
    kCmdNotDuringRun = 2,     // silently ignored while a send or receive run is active
};

class CommandRouter {
  public:
    using Handler = std::function<void(int id)>;
    CommandRouter(Env& env, RunState& state) : env_(env), state_(state) {}

    // One handler per identifier; a later registration replaces an earlier one. `last` > `id`
    // registers the whole range.
    void add(int id, Handler handler, unsigned flags = kCmdPlain, int last = 0);
    bool has(int id) const;

    enum class Outcome { Started, Refused, Ignored, Unknown };
    // Refused: the processing flag is set (the box has been shown). Ignored: a run is active and
    // the command waits for none. Unknown: nobody registered it (its menu entry stays grey).
    Outcome dispatch(int id);

  private:
    struct Entry {
        Handler handler;
        unsigned flags;
    };
    const Entry* find(int id) const;

    Env& env_;
    RunState& state_;
    std::map<int, Entry> byId_;
};

}  // namespace kolvy::shell
