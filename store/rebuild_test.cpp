// Rebuild and renumbering on real tab folders. Message files are made by message analysis, so the
// rebuilt records are checked against the records analysis wrote for the same files.
#include "store/rebuild.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/list.h"
#include "core/sjis.h"
#include "mime/analyze.h"
#include "platform/fileutil.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"
#include "tests/support/test_env.h"

namespace kolvy::store {
namespace {

struct Folder {
    Folder() {
        t.clock.setLocal(2026, 12, 7, 10, 30);
        EXPECT_TRUE(tabs.load(t.env));
        account.number = 4;
        sjis::copyField(account.mailAddress, "me@example.jp");
        ctx.accounts = &account;
    }
    ~Folder() {
        for (Tab* tab = tabs.first(); tab && tab != tabs.listHead(); tab = tab->next)
            freeItems(*tab);
    }
    Tab& receive() { return *tabs.basicTab(kReceiveTab); }
    std::string folder(Tab& tab) { return tabFolder(t.env, tab); }
    std::string path(Tab& tab, int n) { return messagePath(t.env, tab, n); }
    std::string index(Tab& tab) {
        auto d = platform::readWholeFile(*t.fs, indexPath(t.env, tab));
        return d ? *d : std::string("<missing>");
    }
    std::vector<IndexRecord> records(Tab& tab) {
        const std::string bytes = index(tab);
        std::vector<IndexRecord> out;
        RecordView v;
        for (size_t pos = kIndexHeaderSize; pos < bytes.size(); pos += v.length) {
            if (!parseRecord(bytes, pos, v)) {
                ADD_FAILURE() << "no record at " << pos;
                break;
            }
            out.push_back(toRecord(v));
        }
        return out;
    }
    void store(const std::string& text) {
        ServerEntry e{};
        e.size = 1;
        ASSERT_EQ(mime::mailAnalyze(ctx, text, e).kind, mime::AnalyzeOutcome::Stored);
    }
    void write(const std::string& path, std::string_view data) {
        ASSERT_EQ(platform::writeWholeFile(*t.fs, path, data), Err::None);
    }
    std::string attached(Tab& tab, int n, std::string_view name) {
        return sjis::joinPath(attachmentFolder(folder(tab), n), name);
    }
    void attach(Tab& tab, int n, std::string_view name) {
        platform::makeDirs(*t.fs, attachmentFolder(folder(tab), n));
        write(attached(tab, n, name), "x");
    }
    // Options of a fresh read of the receive tab, which is put back to unread.
    IndexOptions reread(IndexRebuilder* rebuilder = nullptr) {
        freeItems(receive());
        receive().loadState = kNotRead;
        IndexOptions o;
        o.rebuilder = rebuilder;
        o.readByte = 0;
        return o;
    }

    test::TestEnv t;
    TabRegistry tabs;
    mime::AnalyzeContext ctx{t.env, tabs};
    Account account{};
};

const char* const kMessages[] = {
    "\nFrom: Taro <taro@example.jp>\r\nTo: me@example.jp\r\nSubject: one\r\n"
    "Date: Mon, 07 Dec 2026 10:00:00 +0900\r\nX-Mailer: M1\r\n\r\nbody\r\n.\r\n",
    "\nFrom: \"Hanako\" <h@example.jp>\r\nTo: list@example.jp\r\nSubject: "
    "=?ISO-2022-JP?B?GyRCNEEbKEI=?=\r\n"
    "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nt\r\n"
    "--b\r\nContent-Type: image/png; name=a.png\r\n\r\nAAAA\r\n"
    "--b\r\nContent-Type: image/png; name=b.png\r\n\r\nBBBB\r\n--b--\r\n.\r\n",
    "\nFrom: x@example.jp\r\nTo: y@example.jp\r\nDelivered-To: me@example.jp\r\nSubject: three\r\n"
    "\r\nz\r\n.\r\n",
};

TEST(Rebuild, RebuiltRecordsMatchWhatAnalysisWroteAndGapsStay) {
    Folder f;
    for (int i = 0; i < 11; ++i)
        f.store(kMessages[i % 3]);
    const std::vector<IndexRecord> written = f.records(f.receive());
    ASSERT_EQ(written.size(), 11u);
    // Keep 0, 3 and 10, as moves and deletions leave a folder.
    for (int n = 0; n < 11; ++n) {
        if (n != 0 && n != 3 && n != 10) {
            ASSERT_EQ(f.t.fs->remove(f.path(f.receive(), n)), Err::None);
        }
    }
    const RebuildResult r = rebuildIndex(f.t.env, f.receive(), RebuildMode::Silent, &f.account);
    EXPECT_TRUE(r.written);
    EXPECT_EQ(r.taken, 3);
    const std::vector<IndexRecord> rebuilt = f.records(f.receive());
    ASSERT_EQ(rebuilt.size(), 3u);
    const int numbers[] = {0, 3, 10};
    for (size_t k = 0; k < 3; ++k) {
        // What analysis wrote, but stored at the dt digits (10:30 in Japan), with the file's size,
        // at its new place.
        IndexRecord w = written[static_cast<size_t>(numbers[k])];
        w.storedTime = 1796607000u;
        auto size = f.t.fs->fileSize(f.path(f.receive(), numbers[k]));
        ASSERT_TRUE(size);
        w.size = static_cast<uint32_t>(*size);
        w.offset = rebuilt[k].offset;
        EXPECT_EQ(encodeRecord(rebuilt[k]), encodeRecord(w)) << k;
    }
    EXPECT_EQ(rebuilt[2].attachments, 2);  // message 10 is one with two images
    const Tab& r0 = f.receive();
    EXPECT_EQ(std::tuple(r0.nextFileNo, r0.allMailCount, r0.noReadMailCount), std::tuple(11, 3, 3));
    EXPECT_EQ(f.t.ini->read("0", "NextFileNo").value_or("") + " " +
                  f.t.ini->read("0", "AllMailCount").value_or(""),
              "11 3");
}

TEST(Rebuild, PartLinesBehindLongHeadersAreCounted) {
    Folder f;
    std::string received;
    for (int i = 0; i < 60; ++i)
        received += "Received: from relay" + std::to_string(i) +
                    ".example.jp by mx.example.jp;"
                    " Mon, 7 Dec 2026 10:00:00 +0900\r\n";
    f.store("\nFrom: a@example.jp\r\n" + received +
            "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain"
            "\r\n\r\nt\r\n--b\r\nContent-Type: image/png; name=a.png\r\n\r\nAAAA\r\n"
            "--b\r\nContent-Type: image/png; name=b.png\r\n\r\nBBBB\r\n--b--\r\n.\r\n");
    auto size = f.t.fs->fileSize(f.path(f.receive(), 0));
    ASSERT_TRUE(size);
    ASSERT_GT(*size, kHeaderReadFirst);
    rebuildIndex(f.t.env, f.receive(), RebuildMode::Silent, &f.account);
    const auto r = f.records(f.receive());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].attachments, 2);
}

TEST(Rebuild, EmptyMessageFileIsDeletedWithItsMessage) {
    Folder f;
    f.write(f.path(f.receive(), 2), "");
    const RebuildResult r = rebuildIndex(f.t.env, f.receive(), RebuildMode::Silent, nullptr);
    EXPECT_TRUE(r.written);
    EXPECT_FALSE(f.t.fs->exists(f.path(f.receive(), 2)));
    ASSERT_EQ(f.t.reporter.shown().size(), 1u);
    EXPECT_EQ(f.t.reporter.shown()[0].text,
              "0002.txt ファイルの内容が失われている為、一旦削除します。");
    EXPECT_EQ(f.receive().nextFileNo, 1);
    EXPECT_EQ(f.index(f.receive()), newIndexHeader());
}

TEST(Rebuild, NonMessageFileIsLeftAndNumbersGoPastIt) {
    Folder f;
    f.store(kMessages[0]);
    f.write(f.path(f.receive(), 5), "not a message\r\n");
    rebuildIndex(f.t.env, f.receive(), RebuildMode::Silent, &f.account);
    EXPECT_EQ(f.records(f.receive()).size(), 1u);
    EXPECT_EQ(f.receive().nextFileNo, 6);
    EXPECT_TRUE(f.t.fs->exists(f.path(f.receive(), 5)));
    // The next message does not land on the stranger, and the index reads back sound.
    f.store(kMessages[2]);
    EXPECT_TRUE(f.t.fs->exists(f.path(f.receive(), 6)));
    EXPECT_EQ(*platform::readWholeFile(*f.t.fs, f.path(f.receive(), 5)), "not a message\r\n");
    FileRebuilder rebuilder(&f.account);
    EXPECT_EQ(readIndex(f.t.env, f.receive(), f.reread(&rebuilder)), Err::None);
    EXPECT_TRUE(f.t.reporter.shown().empty());
}

TEST(Rebuild, DamagedIndexIsRebuiltByTheReaderOnce) {
    Folder f;
    f.store(kMessages[0]);
    f.store(kMessages[1]);
    std::string bytes = f.index(f.receive());
    bytes.resize(bytes.size() - 3);  // an append cut short
    f.write(indexPath(f.t.env, f.receive()), bytes);
    FileRebuilder rebuilder(&f.account);
    EXPECT_EQ(readIndex(f.t.env, f.receive(), f.reread(&rebuilder)), Err::None);
    ASSERT_GE(f.t.reporter.shown().size(), 1u);
    EXPECT_EQ(f.t.reporter.shown()[0].text, std::string("『 受信 』タブの") + kRebuildDamaged);
    EXPECT_EQ(listSize(f.receive().items), 2u);
    EXPECT_EQ(f.records(f.receive()).size(), 2u);
}

TEST(Rebuild, CommandAsksFirstAndCancelLeavesTheIndex) {
    Folder f;
    f.store(kMessages[0]);
    const std::string before = f.index(f.receive());
    f.t.reporter.answer(platform::Answer::Cancel);
    EXPECT_FALSE(rebuildIndex(f.t.env, f.receive(), RebuildMode::Command, nullptr).written);
    EXPECT_EQ(f.t.reporter.lastText(), kRebuildAsk);
    EXPECT_EQ(f.index(f.receive()), before);
    f.t.reporter.answer(platform::Answer::Ok);
    EXPECT_TRUE(rebuildIndex(f.t.env, f.receive(), RebuildMode::Command, nullptr).written);
}

std::string outgoing(int state) {
    return "\f st=1." + std::to_string(state) +
           ".0.0 dt=0000000000 at=not               \r\nFrom: me@example.jp\r\n"
           "To: Friend <friend@example.jp>\r\nSubject: out\r\n\r\nhello\r\n";
}

TEST(Rebuild, TabKindFollowsItsMessagesUnlessBasic) {
    Folder f;
    auto made = f.tabs.create(f.t.env, CreateMode::NewTab, "保管");
    ASSERT_TRUE(made);
    Tab& other = **made;
    ASSERT_EQ(other.kind, kReceiveTab);
    f.write(f.path(other, 0), outgoing(3));
    f.attach(other, 0, "a.txt");
    f.attach(other, 0, "b.txt");
    rebuildIndex(f.t.env, other, RebuildMode::Silent, &f.account);
    EXPECT_EQ(other.kind, kSendTab);
    EXPECT_EQ(f.t.ini->read(std::to_string(other.id), "Propaty").value_or(""), "1");
    const auto r = f.records(other);
    ASSERT_EQ(r.size(), 1u);
    // The sender is the account's own address.
    EXPECT_EQ(std::tie(r[0].state, r[0].attachments, r[0].texts[0], r[0].texts[1], r[0].account),
              std::tuple(0x13, 2, "Friend", "friend@example.jp", 4));
    EXPECT_EQ(other.editMailCount, 1);

    // The basic receive tab keeps its kind.
    f.write(f.path(f.receive(), 0), outgoing(0));
    rebuildIndex(f.t.env, f.receive(), RebuildMode::Silent, &f.account);
    EXPECT_EQ(f.receive().kind, kReceiveTab);
    EXPECT_EQ(f.receive().waitMailCount, 1);
}

TEST(Renumber, ClosesGapsAndAttachmentsFollowTheirMessage) {
    Folder f;
    for (int i = 0; i < 11; ++i)
        f.store(kMessages[0]);
    for (int n = 0; n < 11; ++n) {
        if (n != 0 && n != 3 && n != 10) f.t.fs->remove(f.path(f.receive(), n));
    }
    f.attach(f.receive(), 3, "x.bin");
    rebuildIndex(f.t.env, f.receive(), RebuildMode::Silent, &f.account);
    const std::string third = *platform::readWholeFile(*f.t.fs, f.path(f.receive(), 10));
    ASSERT_EQ(renumberTab(f.t.env, f.receive(), f.reread(), &f.account, false), Err::None);
    for (int n = 0; n < 3; ++n)
        EXPECT_TRUE(f.t.fs->exists(f.path(f.receive(), n))) << n;
    EXPECT_FALSE(f.t.fs->exists(f.path(f.receive(), 3)));
    EXPECT_EQ(*platform::readWholeFile(*f.t.fs, f.path(f.receive(), 2)), third);
    EXPECT_TRUE(f.t.fs->exists(f.attached(f.receive(), 1, "x.bin")));
    EXPECT_EQ(f.receive().nextFileNo, 3);
    const auto r = f.records(f.receive());
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2].fileNo, 2);
}

TEST(Renumber, AttachmentFolderStaysWhenItsMessageCouldNotMove) {
    Folder f;
    f.store(kMessages[0]);
    f.store(kMessages[0]);
    f.t.fs->remove(f.path(f.receive(), 0));
    rebuildIndex(f.t.env, f.receive(), RebuildMode::Silent, &f.account);
    f.attach(f.receive(), 1, "x.bin");
    // A stranger now holds the name message 1 would move to.
    f.write(f.path(f.receive(), 0), "stranger");
    renumberTab(f.t.env, f.receive(), f.reread(), &f.account, false);
    EXPECT_TRUE(f.t.fs->exists(f.path(f.receive(), 1)));
    EXPECT_TRUE(f.t.fs->exists(f.attached(f.receive(), 1, "x.bin")));
    EXPECT_FALSE(f.t.fs->isDir(attachmentFolder(f.folder(f.receive()), 0)));
    EXPECT_EQ(*platform::readWholeFile(*f.t.fs, f.path(f.receive(), 0)), "stranger");
}

}  // namespace
}  // namespace kolvy::store
