// What the POP3 session does with one listed message, decided apart from doing it: whether to
// ask the size rules, whether and how to fetch it, and afterwards whether it stays on the server
// (and why), what the mail checker is told and whether DELE goes out. Pure functions over what
// the session knows, so a table can try every combination.
#pragma once

#include <cstdint>
#include <optional>

#include "pop/session.h"
#include "pop/uidl_store.h"

namespace kolvy::pop {

// What the mail checker asks for a message (CheckerItem::action).
enum class CheckerAction : int32_t {
    None = 0,  // not in the checker's list
    FetchAndDelete = 1,
    DeleteOnly = 2,
    FetchAndKeep = 3,
};
// What the session tells the checker (CheckerItem::result).
inline constexpr int32_t kCheckerNoResult = 0;
inline constexpr int32_t kCheckerDone = 1;  // done, or no longer on the server
inline constexpr int32_t kCheckerKept = 2;  // fetched and left on the server

struct EntryFacts {
    bool checker = false;  // a checker list was given (KVA_Recieve)
    CheckerAction action = CheckerAction::None;
    bool known = false;  // the UIDL store has the id
    UidlKind knownKind = UidlKind::Kept;
    bool hasOrder = false;
    bool leaveOnServer = false, headerLinesOnly = false;
    int headerLines = 0;
    uint64_t listedSize = 0;
};

struct FetchPlan {
    bool storedBefore = false;  // stored by an earlier run; an order that deletes takes it now
    bool askSizeRules = false;
    bool wanted = false;    // RETR or TOP goes out
    int topLines = -1;      // TOP with this many lines; -1 RETR
    bool tooLarge = false;  // wanted, but beyond kMaxMessageSize: left and reported
};
// Before the size rules are asked.
FetchPlan planFetch(const EntryFacts& f);
// With the size rules' advice (ignored unless plan.askSizeRules).
void applyAdvice(const EntryFacts& f, const FetchAdvice& advice, FetchPlan& plan);

struct Settlement {
    bool keep = false;                 // stays on the server on purpose
    std::optional<UidlKind> remember;  // added to the UIDL store with this reason
    int32_t checkerResult = kCheckerNoResult;
    bool dele = false;  // send DELE
};
// After the fetch: `fetched` when the sink stored or discarded the message, `ruleKeeps` when
// a receive rule asked to leave it on the server.
Settlement settle(const EntryFacts& f, const FetchAdvice& advice, const FetchPlan& plan,
                  bool fetched, bool ruleKeeps);

}  // namespace kolvy::pop
