// The mail store against plain file reads and writes of the same bytes:
//   index_read_10000     reading a 10,000-record index into the item list / reading its bytes
//   index_append_10000   appending 10,000 records through the store / appending their bytes
//   index_read_vs_rebuild_10000
//                        reading a 10,000-record index into the item list / rebuilding the same
//                        tab from its 10,000 message files
//   startup_100_tabs     start-up with 100 tabs of 10,000 messages / start-up in an empty folder
//                        (only the current tab's index is read; with ReadByte 10000 and 0)
#include <malloc.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/silent_reporter.h"
#include "shell/program.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/rebuild.h"
#include "store/tabs.h"

namespace {

using namespace kolvy;

constexpr int kRecords = 10000;
constexpr int kTabs = 100;

struct Folder {
    explicit Folder(platform::FileSystem& f, const std::string& name) : fs(f) {
        path = sjis::joinPath(platform::tempFolder(), "kolvy-bench-" + name);
        remove();
        platform::makeDirs(fs, path);
    }
    ~Folder() { remove(); }
    void remove() { platform::removeTree(fs, path); }
    platform::FileSystem& fs;
    std::string path;
};

store::IndexRecord sample(int n) {
    store::IndexRecord r;
    r.fileNo = static_cast<uint16_t>(n);
    r.state = static_cast<uint8_t>(n % 6);
    r.storedTime = 1100000000u + static_cast<uint32_t>(n) * 7919u;  // spread over days
    r.dateTime = r.storedTime - 300;
    r.size = 2000u + static_cast<uint32_t>(n % 5000);
    r.attachments = static_cast<uint8_t>(n % 3);
    r.account = mail::kUnmatchedAccount;
    r.texts[0] = "山田太郎" + std::to_string(n % 97);
    r.texts[1] = "taro" + std::to_string(n % 97) + "@example.co.jp";
    r.texts[2] = "Re: 来週の打ち合わせ資料について（第" + std::to_string(n) + "版）";
    r.texts[3] = "Kolvy Mailer 1.0";
    r.texts[4] = "me@example.jp";
    return r;
}

std::string indexImage(int records) {
    std::string image = store::newIndexHeader();
    for (int n = 0; n < records; ++n) {
        store::IndexRecord r = sample(n);
        r.offset = static_cast<uint32_t>(image.size());
        image += store::encodeRecord(r);
    }
    return image;
}

double seconds(const std::function<void()>& fn) {
    const double t0 = bench::monotonicSeconds();
    fn();
    return bench::monotonicSeconds() - t0;
}

void indexRead(platform::FileSystem& fs, platform::SilentReporter& reporter, bool warm) {
    Folder f(fs, "read");
    auto ini = platform::makeProfile(sjis::joinPath(f.path, "Kolvy.ini"));
    Env env{fs, *ini, reporter, platform::systemClock(), f.path};
    Tab tab{};
    sjis::copyField(tab.name, "受信");
    platform::makeDirs(fs, store::tabFolder(env, tab));
    const std::string image = indexImage(kRecords);
    platform::writeWholeFile(fs, store::indexPath(env, tab), image);
    store::IndexOptions o;
    o.readByte = 0;
    double best = 1e300;
    for (int run = 0; run < 7; ++run) {
        tab.nextFileNo = kRecords;
        tab.loadState = store::kNotRead;
        best = std::min(best, seconds([&] { store::readIndex(env, tab, o); }));
        if (listSize(tab.items) != static_cast<size_t>(kRecords))
            std::fprintf(stderr, "short read\n");
        store::freeItems(tab);
    }
    double raw = 1e300;
    for (int run = 0; run < 7; ++run) {
        raw = std::min(raw, seconds([&] {
                           auto d = platform::readWholeFile(fs, store::indexPath(env, tab));
                           if (!d || d->size() != image.size())
                               std::fprintf(stderr, "raw read failed\n");
                       }));
    }
    bench::printLine(warm ? "index_read_10000_warm_heap" : "index_read_10000", best * 1e3,
                     raw * 1e3, "ms", raw / best);
}

void indexRebuild(platform::FileSystem& fs, platform::SilentReporter& reporter) {
    Folder f(fs, "rebuild");
    auto ini = platform::makeProfile(sjis::joinPath(f.path, "Kolvy.ini"));
    Env env{fs, *ini, reporter, platform::systemClock(), f.path};
    Tab tab{};
    sjis::copyField(tab.name, "受信");
    tab.basic = 1;
    const std::string folder = store::tabFolder(env, tab);
    platform::makeDirs(fs, folder);
    for (int n = 0; n < kRecords; ++n) {
        const store::IndexRecord r = sample(n);
        store::StatusLine status;
        status.state = r.state;
        status.stamp = "2612071030";
        std::string text = store::formatStatusLine(status);
        text +=
            "Received: from mx.example.jp by mail.example.jp; Mon, 7 Dec 2026 10:00:00 +0900\r\n";
        text += "From: " + r.texts[0] + " <" + r.texts[1] + ">\r\nTo: me@example.jp\r\n";
        text += "Subject: " + r.texts[2] + "\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n";
        text += "X-Mailer: " + r.texts[3] + "\r\n\r\n";
        for (int line = 0; line < 20 + n % 40; ++line)
            text += "本文の行です。これはベンチマーク用のテキストです。\r\n";
        platform::writeWholeFile(fs, sjis::joinPath(folder, store::messageFileName(n)), text);
    }
    double rebuild = 1e300;
    for (int run = 0; run < 3; ++run) {
        rebuild = std::min(rebuild, seconds([&] {
                               store::rebuildIndex(env, tab, store::RebuildMode::Silent, nullptr);
                           }));
    }
    if (tab.allMailCount != kRecords) std::fprintf(stderr, "short rebuild\n");
    store::IndexOptions o;
    o.readByte = 0;
    double read = 1e300;
    for (int run = 0; run < 7; ++run) {
        tab.loadState = store::kNotRead;
        read = std::min(read, seconds([&] { store::readIndex(env, tab, o); }));
        if (listSize(tab.items) != static_cast<size_t>(kRecords))
            std::fprintf(stderr, "short read\n");
        store::freeItems(tab);
    }
    bench::printLine("index_read_vs_rebuild_10000", read * 1e3, rebuild * 1e3, "ms",
                     rebuild / read);
}

void indexAppend(platform::FileSystem& fs, platform::SilentReporter& reporter) {
    Folder f(fs, "append");
    auto ini = platform::makeProfile(sjis::joinPath(f.path, "Kolvy.ini"));
    Env env{fs, *ini, reporter, platform::systemClock(), f.path};
    Tab tab{};
    sjis::copyField(tab.name, "受信");
    platform::makeDirs(fs, store::tabFolder(env, tab));
    std::vector<store::IndexRecord> records;
    std::vector<std::string> bytes;
    for (int n = 0; n < kRecords; ++n) {
        records.push_back(sample(n));
        bytes.push_back(store::encodeRecord(records.back()));
    }
    store::IndexOptions o;
    const std::string path = store::indexPath(env, tab);
    double best = 1e300, raw = 1e300;
    for (int run = 0; run < 3; ++run) {
        platform::writeWholeFile(fs, path, store::newIndexHeader());
        best = std::min(best, seconds([&] {
                            for (const auto& r : records)
                                store::appendRecord(env, tab, r, o);
                        }));
        platform::writeWholeFile(fs, path, store::newIndexHeader());
        raw = std::min(raw, seconds([&] {
                           for (const auto& b : bytes)
                               platform::appendToFile(fs, path, b);
                       }));
    }
    bench::printLine("index_append_10000", best * 1e3, raw * 1e3, "ms", raw / best);
}

// One start: the data folder, then the loaders (tab look, registry, the current tab's index).
double startOnce(platform::FileSystem& fs, platform::SilentReporter& reporter,
                 const std::string& folder, const char* readByte) {
    auto ini = platform::makeProfile(sjis::joinPath(folder, "Kolvy.ini"));
    if (readByte) ini->write("Option", "ReadByte", readByte);
    Env env{fs, *ini, reporter, platform::systemClock(), folder};
    return seconds([&] {
        shell::prepareDataFolder(env);
        shell::Program program(env);
        if (!program.load()) std::fprintf(stderr, "start-up failed\n");
    });
}

void startup(platform::FileSystem& fs, platform::SilentReporter& reporter) {
    Folder full(fs, "startup-full");
    const std::string image = indexImage(kRecords);
    std::string ini = "[TagList]\r\nTagTab=";
    for (int i = 0; i < kTabs; ++i)
        ini += (i ? ";" : "") + std::to_string(i);
    ini += "\r\n";
    const std::string data = sjis::joinPath(full.path, "MailData");
    for (int i = 0; i < kTabs; ++i) {
        const std::string name = "タブ" + std::to_string(i);
        ini += "[" + std::to_string(i) + "]\r\nTabName=" + name +
               "\r\nPropaty=" + std::to_string(i < 3 ? i : 0) +
               "\r\nDefault=" + (i < 3 ? "1" : "0") +
               "\r\nNextFileNo=10000\r\nAllMailCount=10000\r\n";
        const std::string folder = sjis::joinPath(data, name);
        platform::makeDirs(fs, sjis::joinPath(folder, "添付"));
        platform::writeWholeFile(fs, sjis::joinPath(folder, "mokuji.bin"), image);
    }
    ini += "[0]\r\nTabCursor=1\r\n";

    for (const char* readByte : {"10000", "0"}) {
        double best = 1e300, empty = 1e300;
        for (int run = 0; run < 5; ++run) {
            platform::writeWholeFile(fs, sjis::joinPath(full.path, "Kolvy.ini"), ini);
            best = std::min(best, startOnce(fs, reporter, full.path, readByte));
            Folder fresh(fs, "startup-empty");
            empty = std::min(empty, startOnce(fs, reporter, fresh.path, readByte));
        }
        bench::printLine(std::string("startup_100_tabs_readbyte_") + readByte, best * 1e3,
                         empty * 1e3, "ms", empty / best);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Selection run(argc, argv);
    auto fs = platform::makeFileSystem();
    platform::SilentReporter reporter;
    // Cold: every read gets its item memory fresh from the system (14 MB of new pages for
    // 10,000 items). Warm: the heap keeps what the previous read freed, as a running program's
    // does, so the line shows the reading itself.
    if (run.wanted("index_read_cold")) indexRead(*fs, reporter, false);
    if (run.wanted("index_read_warm")) {
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        mallopt(M_MMAP_THRESHOLD, 256 << 20);
        indexRead(*fs, reporter, true);
    }
    if (run.wanted("index_append")) indexAppend(*fs, reporter);
    if (run.wanted("index_rebuild")) indexRebuild(*fs, reporter);
    if (run.wanted("startup")) startup(*fs, reporter);
    return 0;
}
