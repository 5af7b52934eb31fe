#include "pop/uidl_journal.h"

#include <cstdio>

#include "core/sjis.h"
#include "platform/fileutil.h"
#include "store/commit.h"

namespace kolvy::pop {
namespace {

constexpr char kSeparator = '\t';
constexpr size_t kFieldCount = 5;

std::vector<std::string_view> fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t at = 0;
    while (out.size() + 1 < kFieldCount) {
        const size_t tab = line.find(kSeparator, at);
        if (tab == std::string_view::npos) break;
        out.push_back(line.substr(at, tab - at));
        at = tab + 1;
    }
    out.push_back(line.substr(at));  // the path may hold anything but CR and LF
    return out;
}

bool parseUnsigned(std::string_view s, int base, uint64_t& out) {
    if (s.empty() || s.size() > 20) return false;
    uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else {
            return false;
        }
        if (v > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    out = v;
    return true;
}

}  // namespace

std::string uidlJournalPath(const Account& account) {
    std::string p = uidlFilePath(account);
    return p.substr(0, p.size() - 4) + ".jnl";
}

std::string formatJournalEntry(const JournalEntry& e) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(e.hash));
    std::string line(1, e.kind == UidlKind::DeletePending ? 'P'
                        : e.kind == UidlKind::Pinned      ? 'R'
                                                          : 'K');
    line += kSeparator;
    line += e.id;
    line += kSeparator;
    line += std::to_string(e.size);
    line += kSeparator;
    line += hash;
    line += kSeparator;
    line += e.path;
    line += "\r\n";
    return line;
}

std::vector<JournalEntry> parseJournal(std::string_view text) {
    std::vector<JournalEntry> out;
    size_t at = 0;
    for (;;) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos) break;  // the last line was cut by a kill
        const std::string_view line = text.substr(at, end - at);
        at = end + 2;
        const auto f = fields(line);
        if (f.size() != kFieldCount || (f[0] != "K" && f[0] != "P" && f[0] != "R")) continue;
        JournalEntry e;
        e.kind = f[0] == "P"   ? UidlKind::DeletePending
                 : f[0] == "R" ? UidlKind::Pinned
                               : UidlKind::Kept;
        e.id = normaliseUidl(f[1]);
        if (e.id.empty() || !parseUnsigned(f[2], 10, e.size) || f[3].size() != 16 ||
            !parseUnsigned(f[3], 16, e.hash) ||
            f[4].find_first_of("\r\n") != std::string_view::npos) {
            continue;
        }
        e.path = std::string(f[4]);
        out.push_back(std::move(e));
    }
    return out;
}

bool storedWhole(Env& env, const JournalEntry& e) {
    if (e.path.empty()) return true;  // thrown away by a rule: nothing to lose
    // A tab outside the program folder (an external folder) is named by its whole path.
    const bool whole =
        e.path[0] == '\\' || e.path[0] == '/' || (e.path.size() > 1 && e.path[1] == ':');
    auto text = platform::readWholeFile(env.fs, whole ? e.path : env.path(e.path), e.size);
    return text && text->size() == e.size && store::messageContentHash(*text) == e.hash;
}

UidlJournal::UidlJournal(Env& env, const Account& account)
    : env_(env), path_(env.path(uidlJournalPath(account))) {}

UidlJournal::UidlJournal(Env& env, std::string_view relativePath)
    : env_(env), path_(env.path(relativePath)) {}

std::vector<std::string> UidlJournal::wholeIds() {
    std::vector<std::string> out;
    if (!env_.fs.exists(path_)) return out;
    auto text = platform::readWholeFile(env_.fs, path_);
    if (!text) return out;
    for (JournalEntry& e : parseJournal(*text)) {
        if (storedWhole(env_, e)) out.push_back(std::move(e.id));
    }
    return out;
}

Err UidlJournal::write(std::string_view bytes) {
    auto file = env_.fs.open(path_, platform::OpenMode::Append);
    if (!file && file.error() == Err::NotFound) {
        platform::makeDirs(env_.fs, sjis::parentPath(path_));
        file = env_.fs.open(path_, platform::OpenMode::Append);
    }
    if (!file) return file.error();
    if (Err w = (*file)->write(bytes); w != Err::None) return w;
    return (*file)->close();
}

Err UidlJournal::start() {
    return write({});
}

Err UidlJournal::append(const JournalEntry& e) {
    return write(formatJournalEntry(e));
}

size_t UidlJournal::fold(UidlLists& lists, size_t* rejected) {
    if (rejected) *rejected = 0;
    if (!env_.fs.exists(path_)) return 0;
    auto text = platform::readWholeFile(env_.fs, path_);
    if (!text) return 0;
    size_t folded = 0;
    for (const JournalEntry& e : parseJournal(*text)) {
        if (!storedWhole(env_, e)) {
            if (rejected) ++*rejected;
            continue;
        }
        if (lists.addStored(e.id, e.kind)) ++folded;
    }
    return folded;
}

void UidlJournal::clear() {
    if (env_.fs.exists(path_)) env_.fs.remove(path_);
}

}  // namespace kolvy::pop
