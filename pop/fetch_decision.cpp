#include "pop/fetch_decision.h"

#include <algorithm>

namespace kolvy::pop {

FetchPlan planFetch(const EntryFacts& f) {
    FetchPlan p;
    const bool orderDeletes = !f.checker && f.hasOrder && !f.leaveOnServer && !f.headerLinesOnly;
    // Stored by an earlier run that could not have its deletion confirmed, or left on the server
    // only because the order then left mail there.
    p.storedBefore = f.known && (f.knownKind == UidlKind::DeletePending ||
                                 (f.knownKind == UidlKind::Kept && orderDeletes));
    const bool checkerFetches =
        f.action == CheckerAction::FetchAndDelete || f.action == CheckerAction::FetchAndKeep;
    p.wanted = (!f.checker && !f.known) || (checkerFetches && !p.storedBefore);
    // The mail checker's user chose per message; the size rules speak for everyone else.
    p.askSizeRules = p.wanted && !f.checker;
    return p;
}

void applyAdvice(const EntryFacts& f, const FetchAdvice& advice, FetchPlan& p) {
    if (!p.askSizeRules) {
        if (p.wanted && p.topLines < 0 && f.listedSize > kMaxMessageSize) {
            p.wanted = false;
            p.tooLarge = true;
        }
        return;
    }
    if (advice.kind == FetchAdvice::NoDownload || advice.kind == FetchAdvice::DeleteUnread)
        p.wanted = false;
    if (p.wanted) {
        if (f.hasOrder && f.headerLinesOnly) {
            p.topLines = std::max(0, f.headerLines);
        } else if (advice.kind == FetchAdvice::HeaderAndLines) {
            p.topLines = std::max(0, advice.lines);
        }
    }
    if (p.wanted && p.topLines < 0 && f.listedSize > kMaxMessageSize) {
        p.wanted = false;
        p.tooLarge = true;
    }
}

Settlement settle(const EntryFacts& f, const FetchAdvice& advice, const FetchPlan& p, bool fetched,
                  bool ruleKeeps) {
    Settlement s;
    const bool keepAction = f.action == CheckerAction::FetchAndKeep;
    if (fetched) {
        // Kept by the message's own verdict (a rule, the checker, only its header fetched), or
        // only by the order's.
        const bool pinned = ruleKeeps || advice.keepOnServer || keepAction || p.topLines >= 0;
        s.keep = pinned || (f.hasOrder && f.leaveOnServer);
        if (s.keep) s.remember = pinned ? UidlKind::Pinned : UidlKind::Kept;
        if (f.action == CheckerAction::FetchAndDelete) s.checkerResult = kCheckerDone;
        if (keepAction) s.checkerResult = kCheckerKept;
    }
    if (p.storedBefore && (keepAction || (f.hasOrder && f.leaveOnServer))) {
        s.keep = true;
        if (keepAction) s.checkerResult = kCheckerKept;
        s.remember = keepAction ? UidlKind::Pinned : UidlKind::Kept;
    }
    if (f.action == CheckerAction::DeleteOnly) {
        s.dele = true;
    } else if (f.action == CheckerAction::FetchAndDelete) {
        s.dele = fetched || p.storedBefore;
    } else if (f.hasOrder && !s.keep) {
        if (fetched) {
            s.dele = true;
        } else if (p.storedBefore) {
            s.dele = !f.leaveOnServer;
        } else if (!f.known && advice.kind == FetchAdvice::DeleteUnread) {
            s.dele = !advice.keepOnServer && !f.leaveOnServer;
        }
    }
    return s;
}

}  // namespace kolvy::pop
