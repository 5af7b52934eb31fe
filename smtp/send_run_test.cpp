#include "smtp/send_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "config/accounts.h"
#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "pop/testsupport/fake_server.h"
#include "smtp/queue.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"

namespace kolvy::smtp {
namespace {

std::string draftWith(std::string_view text) {
    store::StatusLine s;
    s.state = kWaiting;
    s.received = false;
    s.value = "not";
    return store::formatStatusLine(s) + std::string(text);
}

TEST(StoredCopy, MarksSentAndAddsTheIdAndPartLinesAtTheEndOfTheHeader) {
    ComposedMessage plain;
    plain.messageIdLine = "Message-ID: <KV17001me@example.jp>\r\n";
    ComposedMessage resent = plain;
    resent.messageIdLine = "Resent-Message-ID: <KV17002me@example.jp>\r\n";
    resent.resent = true;
    ComposedMessage attached = plain;
    attached.attachments = {{"a.txt", "text/plain"}, {"写真.jpg", "image/jpeg"}};
    struct Case {
        const char* name;
        std::string draft;
        const ComposedMessage& m;
        uint8_t state;
        std::string text;  // after the status line
    } cases[] = {
        {"plain", draftWith("To: a@x\r\nSubject: s\r\n\r\nbody\r\n\r\nmore\r\n"), plain, kSent,
         "To: a@x\r\nSubject: s\r\nX-Message-ID: "
         "<KV17001me@example.jp>\r\n\r\nbody\r\n\r\nmore\r\n"},
        {"resent", draftWith("Resent-To: b@x\r\n\r\nbody\r\n"), resent, kSent,
         "Resent-To: b@x\r\nX-Message-ID: <KV17002me@example.jp>\r\n\r\nbody\r\n"},
        {"attachments", draftWith("To: a@x\r\n\r\nb\r\n"), attached, kSentAttached,
         "To: a@x\r\nX-Message-ID: <KV17001me@example.jp>\r\nX-PartInfo: text/plain\r\n"
         "X-PartInfo: text/plain; name=a.txt\r\nX-PartInfo: image/jpeg; "
         "name=写真.jpg\r\n\r\nb\r\n"},
        {"no empty line", draftWith("To: a@x"), plain, kSent,
         "To: a@x\r\nX-Message-ID: <KV17001me@example.jp>\r\n"},
    };
    for (const Case& c : cases) {
        const std::string copy = storedCopy(c.draft, c.m, c.state, "2612071830");
        ASSERT_GE(copy.size(), store::kStatusLineSize) << c.name;
        const auto status = store::parseStatusLine(copy);
        ASSERT_TRUE(status.has_value()) << c.name;
        EXPECT_EQ(std::tuple(status->state, status->stamp, status->received),
                  std::tuple(c.state, "2612071830", false))
            << c.name;
        EXPECT_EQ(copy.substr(store::kStatusLineSize), c.text) << c.name;
    }
}

// A tab whose items have the given states and senders.
struct FakeTab {
    Tab tab{};
    std::vector<std::unique_ptr<MailItem>> items;
    std::vector<std::string> senders;
    MailItem& add(uint8_t state, std::string sender, int32_t stale) {
        auto item = std::make_unique<MailItem>();
        item->state = state;
        item->sendAccount = stale;
        item->offset = static_cast<uint32_t>(senders.size());
        senders.push_back(std::move(sender));
        listAppend(tab.items, item.get());
        items.push_back(std::move(item));
        return *items.back();
    }
    std::string senderOf(const MailItem& item) const { return senders[item.offset]; }
};

// Accounts of the given numbers and addresses, chained in order.
std::vector<Account> chain(std::initializer_list<std::pair<int32_t, const char*>> list) {
    std::vector<Account> out;
    for (const auto& [number, address] : list) {
        out.push_back(config::blankAccount());
        out.back().number = number;
        sjis::copyField(out.back().mailAddress, address);
    }
    for (size_t i = 1; i < out.size(); ++i)
        out[i - 1].next = &out[i];
    return out;
}

TEST(AssignAccounts, OnlyWaitingItemsWithAKnownSenderAreAssignedAndStaleOnesCleared) {
    // Account 7 has the address of 5: never chosen.
    std::vector<Account> a = chain({{3, "me@work.jp"}, {5, "me@home.jp"}, {7, "me@home.jp"}});
    FakeTab t;
    MailItem& work = t.add(kWaiting, "me@work.jp", kNotSending);
    MailItem& home = t.add(kWaitingAttached, "me@home.jp", 0);  // stale 0 replaced
    MailItem& unknown = t.add(kWaiting, "someone@else.jp", 3);  // stale: must not stay 3
    MailItem& none = t.add(kWaiting, "", 3);
    MailItem& sent = t.add(kSent, "me@work.jp", 3);
    MailItem& draft = t.add(kDraft, "me@work.jp", 3);
    EXPECT_EQ(assignAccounts(t.tab, &a[0], [&](const MailItem& i) { return t.senderOf(i); }), 2);
    EXPECT_EQ(std::tuple(work.sendAccount, home.sendAccount), std::tuple(3, 5));
    for (const MailItem* i : {&unknown, &none, &sent, &draft})
        EXPECT_EQ(i->sendAccount, kNotSending);
    EXPECT_EQ(std::tuple(a[0].sendPending, a[1].sendPending, a[2].sendPending),
              std::tuple(1, 1, 0));
}

TEST(AssignAccounts, ASelectionLimitsTheRunToTheChosenWaitingItems) {
    std::vector<Account> a = chain({{2, "me@work.jp"}, {6, "me@home.jp"}});
    FakeTab t;
    MailItem& chosenWork = t.add(kWaiting, "me@work.jp", kNotSending);
    MailItem& otherWork = t.add(kWaitingAttached, "me@work.jp", 2);  // stale, not chosen
    MailItem& otherHome = t.add(kWaiting, "me@home.jp", kNotSending);
    MailItem& chosenDraft = t.add(kDraft, "me@work.jp", 2);  // chosen, but not waiting
    const std::vector<const MailItem*> selection{&chosenWork, &chosenDraft};
    auto chosen = [&](const MailItem& i) {
        return std::find(selection.begin(), selection.end(), &i) != selection.end();
    };
    EXPECT_EQ(assignAccounts(
                  t.tab, &a[0], [&](const MailItem& i) { return t.senderOf(i); }, chosen),
              1);
    EXPECT_EQ(chosenWork.sendAccount, 2);
    for (const MailItem* i : {&otherWork, &otherHome, &chosenDraft})
        EXPECT_EQ(i->sendAccount, kNotSending);
    // Account 6's only waiting item was not chosen: no session.
    EXPECT_EQ(std::tuple(a[0].sendPending, a[1].sendPending), std::tuple(1, 0));
}

TEST(SenderAddress, ComesFromTheRecordsAccountOrItsFallback) {
    std::vector<Account> a = chain({{4, "me@work.jp"}});
    EXPECT_EQ(senderAddress(4, "ignored@x.jp", &a[0]), "me@work.jp");
    EXPECT_EQ(senderAddress(mail::kUnmatchedAccount, "me@work.jp", &a[0]), "me@work.jp");
    EXPECT_EQ(senderAddress(9, "me@work.jp", &a[0]), "");  // the account is gone
}

// Asks to stop once the first message is under way.
class StopAfterFirst final : public SendObserver {
  public:
    void status(int state) override { states.push_back(state); }
    void progress(int current, int, int) override { stop = stop || current >= 1; }
    bool stopRequested() override { return stop; }
    bool stop = false;
    std::vector<int> states;
};

TEST(SendRun, AStopRequestFinishesTheMessageUnderWayAndSendsNoMore) {
    test::TestEnv t;
    t.env.unattended = true;
    store::TabRegistry tabs;
    ASSERT_TRUE(tabs.load(t.env));
    Tab* outbox = tabs.basicTab(1);
    ASSERT_NE(outbox, nullptr);
    Account a = config::blankAccount();
    sjis::copyField(a.name, "home");
    sjis::copyField(a.mailAddress, "me@example.jp");
    sjis::copyField(a.smtpServer, "127.0.0.1");
    for (const char* subject : {"one", "two"}) {
        const std::string draft =
            std::string("From: me@example.jp\nTo: you@example.jp\nSubject: ") + subject +
            "\n\nhi\n";
        ASSERT_TRUE(static_cast<bool>(queueDraft(t.env, *outbox, &a, draft)));
    }
    test::FakeServer server;
    server.send("220 mx\r\n").readLine().send("250 mx\r\n");
    server.readLine().send("250 ok\r\n").readLine().send("250 ok\r\n").readLine();
    server.send("354 go\r\n").readData().send("250 ok\r\n").readLine().send("221 bye\r\n");
    server.start();
    a.smtpPort = server.port();
    StopAfterFirst observer;
    SendRun run(t.env, &a, observer);
    run.options.timeoutMs = 3000;
    Tab* list[] = {outbox};
    const SendOutcome o = runSend(run, list);
    server.finish(3000);
    EXPECT_EQ(std::tuple(o.sent, o.waiting, o.stopped), std::tuple(1, 1, true));
    EXPECT_EQ(server.transcript().back(), "QUIT\r\n");
    EXPECT_NE(std::find(observer.states.begin(), observer.states.end(), kStatusStopping),
              observer.states.end());
    std::vector<int> states;
    for (const MailItem* item : listRange(outbox->items))
        states.push_back(item->state);
    EXPECT_EQ(states, (std::vector<int>{kSent, kWaiting}));
    EXPECT_EQ(outbox->waitMailCount, 1);
    store::freeItems(*outbox);
}

}  // namespace
}  // namespace kolvy::smtp
