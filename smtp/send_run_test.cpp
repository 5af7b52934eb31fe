#include "smtp/send_run.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "config/accounts.h"
#include "core/list.h"
#include "core/sjis.h"
#include "store/message_file.h"

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
        EXPECT_EQ(status->state, c.state) << c.name;
        EXPECT_EQ(status->stamp, "2612071830") << c.name;
        EXPECT_FALSE(status->received) << c.name;
        EXPECT_EQ(copy.substr(store::kStatusLineSize), c.text) << c.name;
    }
}

// A tab whose items have the given states and account columns.
struct FakeTab {
    Tab tab{};
    std::vector<std::unique_ptr<MailItem>> items;
    MailItem& add(uint8_t state, std::string_view accountColumn, int32_t stale) {
        auto item = std::make_unique<MailItem>();
        item->state = state;
        item->sendAccount = stale;
        sjis::copyField(item->account, accountColumn);
        listAppend(tab.items, item.get());
        items.push_back(std::move(item));
        return *items.back();
    }
};

TEST(AssignAccounts, OnlyWaitingItemsWithAKnownSenderAreAssignedAndStaleOnesCleared) {
    Account a = config::blankAccount(), b = config::blankAccount(), c = config::blankAccount();
    a.number = 3;
    sjis::copyField(a.name, "work");
    sjis::copyField(a.mailAddress, "me@work.jp");
    b.number = 5;
    sjis::copyField(b.name, "home");
    sjis::copyField(b.mailAddress, "me@home.jp");
    c.number = 7;  // the same address as "home": never chosen
    sjis::copyField(c.name, "home2");
    sjis::copyField(c.mailAddress, "me@home.jp");
    a.next = &b;
    b.next = &c;
    FakeTab t;
    MailItem& byName = t.add(kWaiting, "work", kNotSending);
    MailItem& second = t.add(kWaitingAttached, "home2", 0);  // same address: the first account
    MailItem& fallback = t.add(kWaiting, "me@work.jp", kNotSending);  // record without account
    MailItem& unknown = t.add(kWaiting, "someone@else.jp", 3);        // stale: must not stay 3
    MailItem& sent = t.add(kSent, "work", 3);
    MailItem& draft = t.add(kDraft, "work", 3);
    EXPECT_EQ(assignAccounts(t.tab, &a), 3);
    EXPECT_EQ(byName.sendAccount, 3);
    EXPECT_EQ(second.sendAccount, 5);
    EXPECT_EQ(fallback.sendAccount, 3);
    EXPECT_EQ(unknown.sendAccount, kNotSending);
    EXPECT_EQ(sent.sendAccount, kNotSending);
    EXPECT_EQ(draft.sendAccount, kNotSending);
    EXPECT_EQ(a.sendPending, 1);
    EXPECT_EQ(b.sendPending, 1);
    EXPECT_EQ(c.sendPending, 0);
}

}  // namespace
}  // namespace kolvy::smtp
