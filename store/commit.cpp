#include "store/commit.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"

namespace kolvy::store {
namespace {

bool fourDigits(std::string_view name) {
    return name.size() >= 4 &&
           std::all_of(name.begin(), name.begin() + 4, [](char c) { return c >= '0' && c <= '9'; });
}

// The number of a message file name NNNN.txt; -1 for any other name.
int messageNumber(std::string_view name) {
    if (name.size() != 8 || !fourDigits(name) || !sjis::equalsNoCaseAscii(name.substr(4), ".txt"))
        return -1;
    return (name[0] - '0') * 1000 + (name[1] - '0') * 100 + (name[2] - '0') * 10 + (name[3] - '0');
}

void addOnce(std::vector<std::string>& v, std::string s) {
    if (std::find(v.begin(), v.end(), s) == v.end()) v.push_back(std::move(s));
}

}  // namespace

uint64_t messageContentHash(std::string_view fileText) {
    const std::string_view body =
        fileText.size() > kStatusLineSize ? fileText.substr(kStatusLineSize) : std::string_view();
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : body) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

bool isTemporaryMessageName(std::string_view name) {
    return name.size() == 8 && fourDigits(name) && sjis::equalsNoCaseAscii(name.substr(4), ".tmp");
}

std::vector<std::string> temporaryMessageFiles(Env& env, std::string_view tabFolder) {
    std::vector<std::string> out;
    auto list = env.fs.list(tabFolder);
    if (!list) return out;
    for (const platform::DirEntry& e : *list) {
        if (!e.isDir && isTemporaryMessageName(e.name)) out.push_back(e.name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void WriteBatch::noteMessage(Tab& tab, std::string filePath, std::string indexPath,
                             uint64_t bytes) {
    files_.push_back(std::move(filePath));
    addOnce(indexes_, std::move(indexPath));
    if (std::find(tabs_.begin(), tabs_.end(), &tab) == tabs_.end()) tabs_.push_back(&tab);
    ++messages_;
    bytes_ += bytes;
}

Err WriteBatch::commit(Env& env) {
    // Files before the index: a record that reached the disk always finds its message there.
    Err e = files_.empty() ? Err::None : env.fs.syncFiles(files_);
    if (e == Err::None && !indexes_.empty()) e = env.fs.syncFiles(indexes_);
    for (Tab* tab : tabs_) {
        writeNextFileNo(env, *tab);
        writeCounters(env, *tab);
    }
    files_.clear();
    indexes_.clear();
    tabs_.clear();
    messages_ = 0;
    bytes_ = 0;
    return e;
}

namespace {

struct DropEntry {
    uint64_t size = 0;
    uint64_t hash = 0;
};

// Whether the file `number` of a folder is the one the journal named (or is gone already).
bool namedByJournal(Env& env, std::string_view folder, int number, const DropEntry& d) {
    const std::string path = sjis::joinPath(folder, messageFileName(number));
    if (!env.fs.exists(path)) return true;
    auto text = platform::readWholeFile(env.fs, path, d.size);
    return text && text->size() == d.size && messageContentHash(*text) == d.hash;
}

std::map<int, DropEntry> readDropJournal(std::string_view text) {
    std::map<int, DropEntry> out;
    size_t at = 0;
    for (size_t end; (end = text.find("\r\n", at)) != std::string_view::npos; at = end + 2) {
        const std::string line(text.substr(at, end - at));
        int number = -1;
        unsigned long long size = 0, hash = 0;
        if (std::sscanf(line.c_str(), "%d\t%llu\t%llx", &number, &size, &hash) == 3 &&
            validFileNumber(number)) {
            out[number] = {size, hash};
        }
    }
    return out;
}

}  // namespace

Err writeDropJournal(Env& env, const Tab& tab, const std::unordered_set<const MailItem*>& drop) {
    const std::string folder = tabFolder(env, tab);
    std::string text;
    for (const MailItem* item : drop) {
        const int number = itemNumber(*item);
        auto data =
            platform::readWholeFile(env.fs, sjis::joinPath(folder, messageFileName(number)));
        const uint64_t size = data ? data->size() : 0;
        const uint64_t hash = data ? messageContentHash(*data) : 0;
        char line[64];
        std::snprintf(line, sizeof line, "%d\t%llu\t%016llx\r\n", number,
                      static_cast<unsigned long long>(size), static_cast<unsigned long long>(hash));
        text += line;
    }
    return platform::replaceFileContents(env.fs, sjis::joinPath(folder, kDropJournal),
                                         sjis::joinPath(folder, "mokuji.jnt"), text);
}

void removeDropJournal(Env& env, const Tab& tab) {
    env.fs.remove(sjis::joinPath(tabFolder(env, tab), kDropJournal));
}

Err settleDrops(Env& env, Tab& tab) {
    const std::string folder = tabFolder(env, tab);
    const std::string path = sjis::joinPath(folder, kDropJournal);
    if (!env.fs.exists(path)) return Err::None;
    auto text = platform::readWholeFile(env.fs, path);
    if (!text) return text.error();
    const std::map<int, DropEntry> drops = readDropJournal(*text);
    const bool wasRead = tab.loadState != kNotRead;
    IndexOptions o;
    o.readByte = 0;
    if (Err e = readWholeIndex(env, tab, o); e != Err::None) return e;
    std::set<int> indexed;
    for (const MailItem* item : listRange(tab.items))
        indexed.insert(itemNumber(*item));
    auto goes = [&](int number) {
        auto d = drops.find(number);
        return d != drops.end() && namedByJournal(env, folder, number, d->second);
    };
    Err e = compactIndex(
        env, tab, [&](const MailItem& m) { return goes(itemNumber(m)); },
        [&](const MailItem& m) { deleteMessage(env, folder, itemNumber(m)); });
    if (e == Err::None) {
        // Those whose records had gone already: the kill came among the deletions.
        for (const auto& [number, d] : drops) {
            if (!indexed.count(number) && namedByJournal(env, folder, number, d))
                deleteMessage(env, folder, number);
        }
        env.fs.remove(path);
    }
    if (!wasRead) {
        freeItems(tab);
        tab.loadState = kNotRead;
    }
    return e;
}

Err recoverTab(Env& env, Tab& tab, IndexRebuilder* rebuilder) {
    const std::string folder = tabFolder(env, tab);
    settleDrops(env, tab);
    auto list = env.fs.list(folder);
    if (!list) return list.error();
    int highest = -1;
    for (const platform::DirEntry& e : *list) {
        if (e.isDir) continue;
        if (isTemporaryMessageName(e.name)) {
            env.fs.remove(sjis::joinPath(folder, e.name));  // a kill left it half written
        } else {
            highest = std::max(highest, messageNumber(e.name));
        }
    }
    const int32_t nextBefore = tab.nextFileNo;
    // Written only at commits: after a kill the file numbers may have gone past it.
    if (tab.nextFileNo <= highest) tab.nextFileNo = highest + 1;
    const bool wasRead = tab.loadState != kNotRead;
    IndexOptions o;
    o.readByte = 0;
    o.rebuilder = rebuilder;
    if (Err e = readWholeIndex(env, tab, o); e != Err::None) return e;
    Tab counted{};
    for (const MailItem* item : listRange(tab.items))
        countIn(counted, item->state, 0);
    if (!wasRead) {
        // The run does not need the list: keep the tab as lazily read as it was.
        freeItems(tab);
        tab.loadState = kNotRead;
    }
    if (counted.allMailCount != tab.allMailCount ||
        counted.noReadMailCount != tab.noReadMailCount ||
        counted.waitMailCount != tab.waitMailCount || counted.editMailCount != tab.editMailCount) {
        tab.allMailCount = counted.allMailCount;
        tab.noReadMailCount = counted.noReadMailCount;
        tab.waitMailCount = counted.waitMailCount;
        tab.editMailCount = counted.editMailCount;
        writeCounters(env, tab);
    }
    if (tab.nextFileNo != nextBefore) writeNextFileNo(env, tab);
    return Err::None;
}

}  // namespace kolvy::store
