// Message rules:
//   rules_eval_1000x10000   1,000 receive rules against 10,000 messages through the evaluator /
//                           the same keywords searched with std::string_view::find in the same
//                           fields (no character-boundary checks, no attributes, no counting)
//   sort_10000_2000_to_5    the console sort of a 10,000-message tab where 2,000 messages move to
//                           5 tabs / reading every message file once and renaming the 2,000 into
//                           the target folders
//   sort_5000_1000_to_5     the same at half the size
//   sort_linearity          time(10,000) / time(5,000) against the target 2.2 (a tab holds at
//                           most 10,000 messages: four-digit file numbers)
//   sort_file_reads_10000   message files the sort read / messages in the tab
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "mime/header.h"
#include "platform/fileutil.h"
#include "platform/silent_reporter.h"
#include "rules/evaluate.h"
#include "rules/head_reader_test.h"
#include "rules/rule_book.h"
#include "rules/sort.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"

namespace {

using namespace kolvy;

std::string header(int n) {
    std::string h = "From: 送信者" + std::to_string(n % 97) + " <sender" + std::to_string(n % 97) +
                    "@example.co.jp>\r\nTo: 自分 <me@example.jp>\r\n";
    if (n % 5 == 0) {
        h += "Subject: 定例報告 [振分" + std::to_string((n / 5) % 5) + "] 第" + std::to_string(n) +
             "号\r\n";
    } else {
        h += "Subject: お知らせ 第" + std::to_string(n) + "号\r\n";
    }
    h += "X-Mailer: Writer 2.0\r\nReceived: from relay.example.jp by mx.example.jp\r\n"
         "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n";
    return h;
}

std::string body(int n) {
    return "いつもお世話になっております。\r\n本文の" + std::to_string(n) +
           "行目です。よろしくお願いします。\r\n";
}

// ----------------------------------------------------------------------------- evaluation

void evaluation() {
    constexpr int kMessages = 10000, kRules = 1000;
    std::vector<std::string> texts, bodies;
    texts.reserve(kMessages);
    bodies.reserve(kMessages);
    std::vector<mime::HeadCopy> heads;
    heads.reserve(kMessages);
    for (int n = 0; n < kMessages; ++n) {
        texts.push_back(header(n) + "\r\n");
        bodies.push_back(body(n));
        heads.push_back(mime::extractHead(texts.back()));
    }
    std::vector<rules::TextPiece> pieces;
    std::vector<rules::RuleSubject> subjects(kMessages);
    for (int n = 0; n < kMessages; ++n) {
        const std::string& b = bodies[static_cast<size_t>(n)];
        pieces.push_back({b.data(), b.data() + b.size()});
    }
    for (int n = 0; n < kMessages; ++n) {
        rules::RuleSubject& s = subjects[static_cast<size_t>(n)];
        s.header = &heads[static_cast<size_t>(n)].info;
        s.body = std::span<const rules::TextPiece>(&pieces[static_cast<size_t>(n)], 1);
        s.bodyLength = static_cast<uint32_t>(bodies[static_cast<size_t>(n)].size());
        s.messageSize = static_cast<uint32_t>(texts[static_cast<size_t>(n)].size() + s.bodyLength);
    }
    // Rules on every item; one in a hundred keywords occurs in the mail.
    Rule head{};
    std::vector<std::unique_ptr<Rule>> owned;
    for (int i = 0; i < kRules; ++i) {
        auto r = std::make_unique<Rule>();
        rules::clearRule(*r);
        r->item1 = i % 100 == 99 ? 3 : 1 + i % 14;
        r->mode1 = 1;
        const std::string keyword =
            i % 100 == 99 ? "第" + std::to_string(i) + "号" : "該当なし" + std::to_string(i);
        sjis::copyField(r->keyword1, keyword);
        r->setMark = 1;
        listAppend(head, r.get());
        owned.push_back(std::move(r));
    }
    // The same keywords and fields for the plain search.
    std::vector<std::vector<std::string>> fields(kMessages);
    for (int n = 0; n < kMessages; ++n) {
        auto& f = fields[static_cast<size_t>(n)];
        for (int item = 1; item <= 14; ++item) {
            f.push_back(item == 5 ? bodies[static_cast<size_t>(n)]
                                  : rules::fieldText(subjects[static_cast<size_t>(n)], item));
        }
    }
    std::vector<std::pair<int, std::string>> plain;
    for (const auto& r : owned)
        plain.emplace_back(r->item1, std::string(sjis::fieldView(r->keyword1)));

    long kolvyMatches = 0, peerMatches = 0;
    const double k = bench::bestSeconds(
        [&] {
            kolvyMatches = 0;
            for (const rules::RuleSubject& s : subjects) {
                RuleResult result{};
                rules::evaluateRules(s, head, result);
                kolvyMatches += result.matched ? 1 : 0;
            }
        },
        3);
    const double p = bench::bestSeconds(
        [&] {
            peerMatches = 0;
            for (const auto& f : fields) {
                bool any = false;
                for (auto it = plain.rbegin(); it != plain.rend(); ++it) {
                    if (f[static_cast<size_t>(it->first - 1)].find(it->second) !=
                        std::string::npos) {
                        any = true;
                    }
                }
                peerMatches += any ? 1 : 0;
            }
        },
        3);
    if (kolvyMatches != peerMatches)
        std::fprintf(stderr, "matches differ: %ld / %ld\n", kolvyMatches, peerMatches);
    bench::printLine("rules_eval_1000x10000", k * 1e3, p * 1e3, "ms", p / k);
}

// ----------------------------------------------------------------------------- sort

struct SortRun {
    double seconds = 0;
    int reads = 0;
    int moved = 0;
};

constexpr int kTargets = 5;

// A program folder with a receive tab of `messages` messages, five target tabs and the command
// rules that move every fifth message to one of them.
std::string prepare(platform::FileSystem& fs, platform::SilentReporter& reporter, int messages) {
    const std::string folder = sjis::joinPath(platform::tempFolder(), "kolvy-bench-sort");
    platform::removeTree(fs, folder);
    platform::makeDirs(fs, folder);
    auto ini = platform::makeProfile(sjis::joinPath(folder, "Kolvy.ini"));
    Env env{fs, *ini, reporter, platform::systemClock(), folder};
    store::TabRegistry registry;
    registry.load(env);
    std::vector<Tab*> targets;
    for (int k = 0; k < kTargets; ++k)
        targets.push_back(
            *registry.create(env, store::CreateMode::NewTab, "振分" + std::to_string(k)));
    rules::RegistryTabs tabs(registry);
    rules::RuleBook book;
    book.load(env, rules::RuleKind::Command, tabs, 3);
    for (int k = 0; k < kTargets; ++k) {
        auto* r = new Rule;
        rules::clearRule(*r);
        r->item1 = 3;
        r->mode1 = 1;
        sjis::copyField(r->keyword1, "[振分" + std::to_string(k) + "]");
        r->targetTab = targets[static_cast<size_t>(k)];
        book.addAtFileEnd(rules::RuleKind::Command, r);
    }
    for (int k = 0; k < 15; ++k) {  // rules that take nothing here
        auto* r = new Rule;
        rules::clearRule(*r);
        r->item1 = 1;
        r->mode1 = 1;
        sjis::copyField(r->keyword1, "nobody" + std::to_string(k) + "@");
        r->targetTab = targets[0];
        book.addAtFileEnd(rules::RuleKind::Command, r);
    }
    book.save(env, rules::RuleKind::Command, tabs);

    Tab& inbox = *registry.basicTab(store::kReceiveTab);
    const std::string tabFolder = store::tabFolder(env, inbox);
    std::string image = store::newIndexHeader();
    for (int n = 0; n < messages; ++n) {
        store::StatusLine s;
        s.state = 3;
        const std::string text = store::formatStatusLine(s) + header(n) + "\r\n" + body(n);
        platform::writeWholeFile(fs, sjis::joinPath(tabFolder, store::messageFileName(n)), text);
        store::IndexRecord r;
        r.fileNo = static_cast<uint16_t>(n);
        r.state = 3;
        r.storedTime = 1700000000u + static_cast<uint32_t>(n);
        r.size = static_cast<uint32_t>(text.size());
        r.account = mail::kUnmatchedAccount;
        r.texts[0] = "送信者";
        r.texts[1] = "sender@example.co.jp";
        r.texts[2] = "件名";
        r.offset = static_cast<uint32_t>(image.size());
        image += store::encodeRecord(r);
    }
    platform::writeWholeFile(fs, store::indexPath(env, inbox), image);
    inbox.nextFileNo = messages;
    inbox.allMailCount = messages;
    store::writeNextFileNo(env, inbox);
    store::writeCounters(env, inbox);
    return folder;
}

SortRun sortOnce(platform::FileSystem& fs, platform::SilentReporter& reporter, int messages) {
    const std::string folder = prepare(fs, reporter, messages);
    auto ini = platform::makeProfile(sjis::joinPath(folder, "Kolvy.ini"));
    Env env{fs, *ini, reporter, platform::systemClock(), folder};
    rules::HeadReader reader;
    std::string out;
    const std::string_view args[] = {folder, "受信"};
    SortRun run;
    const double t0 = bench::monotonicSeconds();
    const int rc = rules::sortCommand(env, args, reader, out);
    run.seconds = bench::monotonicSeconds() - t0;
    run.reads = reader.reads;
    if (rc != 0) std::fprintf(stderr, "sort failed: %s", out.c_str());
    return run;
}

// The file work no sort can avoid: each message read once, the moving ones renamed away.
double peerOnce(platform::FileSystem& fs, platform::SilentReporter& reporter, int messages) {
    const std::string folder = prepare(fs, reporter, messages);
    const std::string data = sjis::joinPath(folder, "MailData");
    const std::string from = sjis::joinPath(data, "受信");
    const double t0 = bench::monotonicSeconds();
    int next[kTargets] = {};
    for (int n = 0; n < messages; ++n) {
        const std::string path = sjis::joinPath(from, store::messageFileName(n));
        auto text = platform::readWholeFile(fs, path);
        if (!text) std::fprintf(stderr, "peer read failed\n");
        if (n % 5 == 0) {
            const int k = (n / 5) % 5;
            const std::string to = sjis::joinPath(sjis::joinPath(data, "振分" + std::to_string(k)),
                                                  store::messageFileName(next[k]++));
            fs.rename(path, to);
        }
    }
    return bench::monotonicSeconds() - t0;
}

void sort(platform::FileSystem& fs, platform::SilentReporter& reporter) {
    constexpr int kRuns = 3;
    double best[2] = {1e300, 1e300}, peer[2] = {1e300, 1e300};
    int reads[2] = {0, 0};
    const int sizes[2] = {5000, 10000};
    for (int run = 0; run < kRuns; ++run) {
        for (int i = 0; i < 2; ++i) {
            const SortRun r = sortOnce(fs, reporter, sizes[i]);
            best[i] = std::min(best[i], r.seconds);
            reads[i] = r.reads;
            peer[i] = std::min(peer[i], peerOnce(fs, reporter, sizes[i]));
        }
    }
    platform::removeTree(fs, sjis::joinPath(platform::tempFolder(), "kolvy-bench-sort"));
    bench::printLine("sort_10000_2000_to_5", best[1] * 1e3, peer[1] * 1e3, "ms", peer[1] / best[1]);
    bench::printLine("sort_5000_1000_to_5", best[0] * 1e3, peer[0] * 1e3, "ms", peer[0] / best[0]);
    const double linear = best[1] / best[0];
    bench::printLine("sort_linearity", linear, 2.2, "x", 2.2 / linear);
    bench::printLine("sort_file_reads_10000", reads[1], sizes[1], "reads",
                     static_cast<double>(sizes[1]) / std::max(reads[1], 1));
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Selection run(argc, argv);
    auto fs = platform::makeFileSystem();
    platform::SilentReporter reporter;
    if (run.wanted("rules_eval")) evaluation();
    if (run.wanted("sort")) sort(*fs, reporter);
    return 0;
}
