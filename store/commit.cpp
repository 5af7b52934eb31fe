#include "store/commit.h"

#include <algorithm>

#include "core/list.h"
#include "core/sjis.h"
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

Err recoverTab(Env& env, Tab& tab, IndexRebuilder* rebuilder) {
    const std::string folder = tabFolder(env, tab);
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
