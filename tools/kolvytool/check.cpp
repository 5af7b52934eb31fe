// "check": every tab's index against its folder and its message files. Presence (a file without
// record, a record without file), contents (each record's state, mark, colour, attachment count,
// Date: time, address and subject against what its file gives), the counters and the next file
// number in Kolvy.ini against the records, and temporary files a crash left. "--repair" settles
// every difference from the files, which are the truth: temporaries go, the index is rebuilt.
#include <algorithm>
#include <array>
#include <set>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "store/commit.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/rebuild.h"
#include "store/tabs.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {
namespace {

// The NNNN.txt names of a tab folder that hold a message (a status line first).
std::set<int> messageFiles(Env& env, const Tab& tab) {
    std::set<int> out;
    const std::string folder = store::tabFolder(env, tab);
    auto list = env.fs.list(folder);
    if (!list) return out;
    for (const platform::DirEntry& e : *list) {
        if (e.isDir || e.name.size() != 8 || !sjis::equalsNoCaseAscii(e.name.substr(4), ".txt"))
            continue;
        if (!std::all_of(e.name.begin(), e.name.begin() + 4,
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int n = std::stoi(e.name.substr(0, 4));
        auto f = env.fs.open(sjis::joinPath(folder, e.name), platform::OpenMode::Read);
        if (!f) continue;
        std::array<char, 16> head{};
        auto got = (*f)->readAt(0, head);
        if (got && *got == head.size() && head[0] == '\f' && head[15] == '=') out.insert(n);
    }
    return out;
}

std::string hex2(unsigned v) {
    static constexpr char kHex[] = "0123456789abcdef";
    return {kHex[(v >> 4) & 15], kHex[v & 15]};
}

// A record's texts as the writer caps them, so that a text cut on storing compares equal.
store::IndexRecord asWritten(const store::IndexRecord& r) {
    const std::string bytes = store::encodeRecord(r);
    store::RecordView v;
    if (!store::parseRecord(bytes, 0, v)) return r;
    return store::toRecord(v);
}

// What differs between an index record and its file.
void compareRecord(const store::RecordView& rec, const store::IndexRecord& fileRecord,
                   std::vector<std::string>& problems) {
    const store::IndexRecord f = asWritten(fileRecord);
    const std::string what = "record " + store::numberDigits(rec.fileNo) + ": ";
    auto differs = [&](const char* field, const std::string& index, const std::string& file) {
        problems.push_back(what + field + " " + index + " in the index, " + file + " in the file");
    };
    if (rec.state != f.state) differs("state", hex2(rec.state), hex2(f.state));
    if (rec.markColour != f.markColour)
        differs("mark and colour", hex2(rec.markColour), hex2(f.markColour));
    if (rec.attachments != f.attachments)
        differs("attachments", std::to_string(rec.attachments), std::to_string(f.attachments));
    if (rec.dateTime != f.dateTime)
        differs("Date: time", std::to_string(rec.dateTime), std::to_string(f.dateTime));
    if (rec.texts[1] != f.texts[1] || rec.texts[2] != f.texts[2])
        problems.push_back(what + "address or subject differ from the file's");
}

struct TabCheck {
    std::vector<std::string> problems;
    std::vector<std::string> temporaries;
};

void checkCounters(const Tab& tab, const Tab& counted, std::vector<std::string>& problems) {
    auto differs = [&](const char* key, int32_t ini, int32_t records) {
        if (ini != records) {
            problems.push_back(std::string(key) + " " + std::to_string(ini) + ", the records say " +
                               std::to_string(records));
        }
    };
    differs("AllMailCount", tab.allMailCount, counted.allMailCount);
    differs("NoReadMailCount", tab.noReadMailCount, counted.noReadMailCount);
    differs("WaitMailCount", tab.waitMailCount, counted.waitMailCount);
    differs("EditMailCount", tab.editMailCount, counted.editMailCount);
}

void checkRecords(Tool& tool, Tab& tab, TabCheck& c) {
    Env& env = tool.env;
    std::set<int> indexed;
    for (const MailItem* i : listRange(tab.items))
        indexed.insert(store::itemNumber(*i));
    const std::set<int> files = messageFiles(env, tab);
    for (int n : files) {
        if (!indexed.count(n))
            c.problems.push_back(store::messageFileName(n) + " is not in the index");
    }
    for (int n : indexed) {
        if (!files.count(n))
            c.problems.push_back("record " + store::numberDigits(n) + " has no file");
    }
    auto bytes = platform::readWholeFile(env.fs, store::indexPath(env, tab));
    if (!bytes) return;
    const std::string folder = store::tabFolder(env, tab);
    Tab counted{};
    for (const MailItem* item : listRange(tab.items)) {
        store::RecordView rec;
        if (!store::parseRecord(*bytes, item->offset, rec)) continue;
        store::countIn(counted, rec.state, 0);
        if (!files.count(rec.fileNo)) continue;
        auto fromFile =
            store::recordOfMessageFile(env, folder, rec.fileNo, tool.accounts.head().next);
        if (fromFile) compareRecord(rec, *fromFile, c.problems);
    }
    if (!tab.external) checkCounters(tab, counted, c.problems);
}

TabCheck checkTab(Tool& tool, Tab& tab) {
    Env& env = tool.env;
    TabCheck c;
    const std::string folder = store::tabFolder(env, tab);
    if (env.fs.exists(sjis::joinPath(folder, store::kDropJournal))) {
        c.problems.push_back("a list operation was interrupted (" +
                             std::string(store::kDropJournal) + ")");
    }
    for (const std::string& t : store::temporaryMessageFiles(env, folder)) {
        c.problems.push_back(t + " is a temporary file left by a crash");
        c.temporaries.push_back(t);
    }
    const std::set<int> files = messageFiles(env, tab);
    if (!files.empty() && tab.nextFileNo <= *files.rbegin()) {
        c.problems.push_back("NextFileNo " + std::to_string(tab.nextFileNo) + " is not past " +
                             store::messageFileName(*files.rbegin()));
        tab.nextFileNo = *files.rbegin() + 1;  // only to read the index; repair writes it
    }
    store::IndexOptions o;
    o.readByte = 0;
    if (store::readWholeIndex(env, tab, o) != Err::None) {
        c.problems.push_back("the index is damaged");
    } else {
        checkRecords(tool, tab, c);
    }
    store::freeItems(tab);
    tab.loadState = store::kNotRead;
    return c;
}

}  // namespace

int checkCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    const bool repair = a.has("--repair");
    for (std::string_view o : a.options) {
        if (o != "--repair") {
            tool.err("kolvytool: unknown option " + std::string(o) + "\n");
            return 2;
        }
    }
    if (a.positional.size() != 1) {
        tool.err("usage: kolvytool check <program-folder> [--repair]\n");
        return 2;
    }
    int unsound = 0;
    for (Tab* tab = tool.tabs.first(); tab && tab != tool.tabs.listHead(); tab = tab->next) {
        const std::string name = toTerminal(store::tabName(*tab));
        // A list pass a kill interrupted is finished first: its messages leave this tab.
        if (repair &&
            tool.env.fs.exists(
                sjis::joinPath(store::tabFolder(tool.env, *tab), store::kDropJournal)) &&
            store::settleDrops(tool.env, *tab) == Err::None) {
            tool.out(name + ": finished an interrupted list operation\n");
        }
        const TabCheck c = checkTab(tool, *tab);
        if (c.problems.empty()) {
            tool.out(name + ": sound\n");
            continue;
        }
        for (const std::string& p : c.problems)
            tool.out(name + ": " + toTerminal(p) + "\n");
        if (!repair) {
            ++unsound;
            continue;
        }
        const std::string folder = store::tabFolder(tool.env, *tab);
        // A registered tab whose folder went missing gets an empty one back.
        platform::makeDirs(tool.env.fs, sjis::joinPath(folder, store::kAttachFolder));
        for (const std::string& t : c.temporaries)
            tool.env.fs.remove(sjis::joinPath(folder, t));
        // The files are the truth: the index, the counters and the next number follow them.
        if (store::rebuildIndex(tool.env, *tab, store::RebuildMode::Silent,
                                tool.accounts.head().next)
                .written) {
            tool.out(name + ": rebuilt\n");
        } else {
            tool.out(name + ": could not be rebuilt\n");
            ++unsound;
        }
    }
    return unsound > 0 ? 1 : 0;
}

}  // namespace kolvy::tool
