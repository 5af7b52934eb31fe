#include "shell/commands.h"

#include "report/report.h"

namespace kolvy::shell {

void CommandRouter::add(int id, Handler handler, unsigned flags, int last) {
    for (int i = id; i <= (last > id ? last : id); ++i)
        byId_[i] = Entry{handler, flags};
}

const CommandRouter::Entry* CommandRouter::find(int id) const {
    const auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : &it->second;
}

bool CommandRouter::has(int id) const {
    return find(id) != nullptr;
}

CommandRouter::Outcome CommandRouter::dispatch(int id) {
    const Entry* e = find(id);
    if (!e) return Outcome::Unknown;
    if (state_.processing.load() && !(e->flags & kCmdWhileProcessing)) {
        report::notice(env_, kProcessingNow);
        return Outcome::Refused;
    }
    if ((e->flags & kCmdNotDuringRun) && state_.running()) return Outcome::Ignored;
    e->handler(id);
    return Outcome::Started;
}

}  // namespace kolvy::shell
