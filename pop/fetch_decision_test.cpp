// The session's decision per listed message, as a table: every way a message can come (new,
// known and why, asked for by the checker) against the order and the size rules, and what must
// follow — fetched or not, how, kept or deleted, what the checker hears.
#include "pop/fetch_decision.h"

#include <gtest/gtest.h>

namespace kolvy::pop {
namespace {

using A = CheckerAction;
using Adv = FetchAdvice;

struct Row {
    const char* name;
    EntryFacts f;
    Adv advice;
    bool ruleKeeps;
    // expected
    bool wanted;
    int topLines;
    bool keep;
    std::optional<UidlKind> remember;
    int32_t checkerResult;
    bool dele;
    bool tooLarge = false;  // told to the user as too large
};

EntryFacts order(bool leave = false, bool headerOnly = false, int lines = 0) {
    EntryFacts f;
    f.hasOrder = true;
    f.leaveOnServer = leave;
    f.headerLinesOnly = headerOnly;
    f.headerLines = lines;
    f.listedSize = 1000;
    return f;
}
EntryFacts known(EntryFacts f, UidlKind k) {
    f.known = true;
    f.knownKind = k;
    return f;
}
EntryFacts checker(A action, bool isKnown = false, UidlKind k = UidlKind::Kept) {
    EntryFacts f;
    f.checker = true;
    f.action = action;
    f.known = isKnown;
    f.knownKind = k;
    f.listedSize = 1000;
    return f;
}
EntryFacts large(EntryFacts f) {
    f.listedSize = kMaxMessageSize + 1;
    return f;
}

TEST(FetchDecision, EveryCaseOfOneMessage) {
    const Adv none;
    const Adv keepRule{Adv::Fetch, 0, true};
    const Adv noDownload{Adv::NoDownload, 0, false};
    const Adv noDownloadKeep{Adv::NoDownload, 0, true};
    const Adv deleteUnread{Adv::DeleteUnread, 0, false};
    const Adv deleteUnreadKeep{Adv::DeleteUnread, 0, true};
    const Adv top7{Adv::HeaderAndLines, 7, false};
    const auto K = UidlKind::Kept, P = UidlKind::Pinned, D = UidlKind::DeletePending;
    const std::optional<UidlKind> no;
    const Row rows[] = {
        {"new, order deletes", order(), none, false, true, -1, false, no, 0, true},
        {"new, order leaves", order(true), none, false, true, -1, true, K, 0, false},
        {"new, a receive rule keeps", order(), none, true, true, -1, true, P, 0, false},
        {"new, a size rule keeps", order(), keepRule, false, true, -1, true, P, 0, false},
        {"new, header and lines only", order(false, true, 5), none, false, true, 5, true, P, 0,
         false},
        {"new, header lines below zero", order(false, true, -3), none, false, true, 0, true, P, 0,
         false},
        {"new, size rule says TOP 7", order(), top7, false, true, 7, true, P, 0, false},
        {"new, size rule: no download", order(), noDownload, false, false, -1, false, no, 0, false},
        {"new, no download and keep", order(), noDownloadKeep, false, false, -1, false, no, 0,
         false},
        {"new, delete unread", order(), deleteUnread, false, false, -1, false, no, 0, true},
        {"new, delete unread but keep", order(), deleteUnreadKeep, false, false, -1, false, no, 0,
         false},
        {"new, delete unread, order leaves", order(true), deleteUnread, false, false, -1, false, no,
         0, false},
        {"new, too large", large(order()), none, false, false, -1, false, no, 0, false, true},
        {"new, too large but only its header", large(order(false, true, 0)), none, false, true, 0,
         true, P, 0, false},
        // Seen again: the stored id stays as it was (the known check marks it present).
        {"kept by the order, order still leaves", known(order(true), K), none, false, false, -1,
         false, no, 0, false},
        {"kept by the order, order now deletes", known(order(), K), none, false, false, -1, false,
         no, 0, true},
        {"kept by the order, header-only order", known(order(false, true), K), none, false, false,
         -1, false, no, 0, false},
        {"pinned by a rule, order deletes", known(order(), P), none, false, false, -1, false, no, 0,
         false},
        {"deletion unconfirmed", known(order(), D), none, false, false, -1, false, no, 0, true},
        {"deletion unconfirmed, order leaves", known(order(true), D), none, false, false, -1, true,
         K, 0, false},
        {"checker: fetch and delete", checker(A::FetchAndDelete), none, false, true, -1, false, no,
         kCheckerDone, true},
        {"checker: fetch and keep", checker(A::FetchAndKeep), none, false, true, -1, true, P,
         kCheckerKept, false},
        {"checker: delete only", checker(A::DeleteOnly), none, false, false, -1, false, no, 0,
         true},
        {"checker: not listed", checker(A::None), none, false, false, -1, false, no, 0, false},
        {"checker: fetch a kept one", checker(A::FetchAndDelete, true, K), none, false, true, -1,
         false, no, kCheckerDone, true},
        {"checker: deletion unconfirmed", checker(A::FetchAndDelete, true, D), none, false, false,
         -1, false, no, 0, true},
        {"checker: keep an unconfirmed one", checker(A::FetchAndKeep, true, D), none, false, false,
         -1, true, P, kCheckerKept, false},
        {"checker: too large", large(checker(A::FetchAndDelete)), none, false, false, -1, false, no,
         0, false, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FetchPlan p = planFetch(r.f);
        // Only the session's own choice asks the size rules; the checker's user chose already.
        EXPECT_EQ(p.askSizeRules, !r.f.checker && p.wanted);
        applyAdvice(r.f, p.askSizeRules ? r.advice : Adv{}, p);
        EXPECT_EQ(p.wanted, r.wanted);
        EXPECT_EQ(p.topLines, r.topLines);
        EXPECT_EQ(p.tooLarge, r.tooLarge);
        const Settlement s =
            settle(r.f, p.askSizeRules ? r.advice : Adv{}, p, p.wanted, r.ruleKeeps);
        EXPECT_EQ(s.keep, r.keep);
        EXPECT_EQ(s.remember, r.remember);
        EXPECT_EQ(s.checkerResult, r.checkerResult);
        EXPECT_EQ(s.dele, r.dele);
    }
}

TEST(FetchDecision, ARefusedFetchIsNeitherKeptNorDeleted) {
    // The server refused RETR: nothing was stored, so nothing may be deleted or remembered.
    const EntryFacts f = order();
    FetchPlan p = planFetch(f);
    applyAdvice(f, {}, p);
    ASSERT_TRUE(p.wanted);
    const Settlement s = settle(f, {}, p, false, false);
    EXPECT_FALSE(s.dele);
    EXPECT_FALSE(s.remember.has_value());
}

}  // namespace
}  // namespace kolvy::pop
