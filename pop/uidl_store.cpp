#include "pop/uidl_store.h"

#include <new>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/retry.h"
#include "pop/md5.h"
#include "report/logs.h"
#include "report/report.h"

namespace kolvy::pop {
namespace {

constexpr char kFolder[] = "_UIDL";
constexpr char kPendingMark = '\t';
// Only ids the order alone left are marked: a plain line, as older files hold them, is never
// deleted, so mail that a rule kept or that was fetched in part is safe in any file. No id holds
// a blank.
constexpr char kOrderKeptMark = ' ';
// The visible part of a long id's kept form: kMaxUidl less "~" and 32 hex digits.
constexpr size_t kLongIdPrefix = kMaxUidl - 1 - 32;

bool plainIdByte(unsigned char c) {
    return c > 0x20 && c != 0x7f;
}

}  // namespace

std::string normaliseUidl(std::string_view id) {
    bool plain = id.size() <= kMaxUidl;
    for (size_t i = 0; plain && i < id.size(); ++i)
        plain = plainIdByte(static_cast<unsigned char>(id[i]));
    if (plain) return std::string(id);
    std::string out;
    const std::string_view head = sjis::truncate(id, kLongIdPrefix);
    for (char c : head)
        out.push_back(plainIdByte(static_cast<unsigned char>(c)) ? c : '_');
    out.push_back('~');
    out += md5Hex(id);
    return out;
}

UidlLists::~UidlLists() {
    clear();
}

void UidlLists::clear() {
    storedIndex_.clear();
    addedIndex_.clear();
    listFreeAll(stored_);
    listFreeAll(added_);
    forgotAny_ = false;
    serverListed_ = false;
}

bool UidlLists::append(ServerEntry& head, Index& index, std::string_view id, UidlKind kind) {
    if (id.empty()) return true;
    auto found = index.find(id);
    if (found != index.end()) {
        UidlKind& had = found->second.kind;
        if (kind == UidlKind::Pinned || (kind == UidlKind::Kept && had != UidlKind::Pinned))
            had = kind;
        return true;
    }
    ServerEntry* node = new (std::nothrow) ServerEntry();
    if (!node) return false;
    sjis::copyField(node->uidl, id);
    listAppend(head, node);
    try {
        index.emplace(sjis::fieldView(node->uidl), Ref{node, kind});
    } catch (const std::bad_alloc&) {
        listUnlink(head, node);
        delete node;
        return false;
    }
    return true;
}

bool UidlLists::addStored(std::string_view id, UidlKind kind) {
    return append(stored_, storedIndex_, id, kind);
}

bool UidlLists::addNew(std::string_view id, UidlKind kind) {
    return append(added_, addedIndex_, id, kind);
}

ServerEntry* UidlLists::findStored(std::string_view id) {
    auto found = storedIndex_.find(id);
    return found == storedIndex_.end() ? nullptr : found->second.record;
}

UidlKind UidlLists::storedKind(std::string_view id) const {
    auto found = storedIndex_.find(id);
    return found == storedIndex_.end() ? UidlKind::Kept : found->second.kind;
}

UidlKind UidlLists::addedKind(std::string_view id) const {
    auto found = addedIndex_.find(id);
    return found == addedIndex_.end() ? UidlKind::Kept : found->second.kind;
}

void UidlLists::forget(std::string_view id) {
    if (ServerEntry* r = findStored(id); r && r->known) {
        r->known = 0;
        forgotAny_ = true;
    }
    // An id added in this run and then deleted for good leaves the new list too.
    auto found = addedIndex_.find(id);
    if (found != addedIndex_.end()) {
        ServerEntry* node = found->second.record;
        addedIndex_.erase(found);
        listUnlink(added_, node);
        delete node;
        forgotAny_ = true;
    }
}

std::string uidlFilePath(const Account& account) {
    std::string p = kFolder;
    p += '\\';
    p += sjis::fieldView(account.name);
    p += ".txt";
    return p;
}

int ReadUidlFile(Env& env, const Account& account, UidlLists& lists) {
    lists.clear();
    const std::string path = env.path(uidlFilePath(account));
    Result<std::string> text = platform::retryWhileBusy(
        [&]() -> Result<std::string> {
            if (!env.fs.exists(path)) return Err::NotFound;
            try {
                return platform::readWholeFile(env.fs, path);
            } catch (const std::bad_alloc&) {
                return Err::NoMemory;
            }
        },
        report::retryNote(env, path));
    if (!text) {
        if (text.error() == Err::NotFound) return 0;
        report::report(env, text.error() == Err::NoMemory
                                ? std::string("メモリ確保に失敗しました。 ")
                                : std::string(kTextUidlReadFailed) + "    ");
        return 1;
    }
    const std::string& t = *text;
    size_t i = 0;
    while (i < t.size()) {
        while (i < t.size() && (t[i] == '\r' || t[i] == '\n'))
            ++i;
        size_t end = i;
        while (end < t.size() && t[end] != '\r' && t[end] != '\n')
            ++end;
        if (end == i) break;
        std::string_view line(t.data() + i, end - i);
        i = end;
        UidlKind kind = UidlKind::Pinned;
        if (line.front() == kPendingMark) {
            kind = UidlKind::DeletePending;
            line.remove_prefix(1);
        } else if (line.front() == kOrderKeptMark) {
            kind = UidlKind::Kept;
            line.remove_prefix(1);
        }
        if (!lists.addStored(normaliseUidl(line), kind)) {
            report::report(env, "メモリ確保に失敗しました。 ");
            return 1;
        }
    }
    return 0;
}

int IsKnownUidl(const ServerEntry& entry, UidlLists& lists) {
    ServerEntry* r = lists.findStored(sjis::fieldView(entry.uidl));
    if (!r) return 0;
    r->known = 1;
    return 1;
}

int AddUidl(const ServerEntry& entry, UidlLists& lists, UidlKind kind) {
    return lists.addNew(sjis::fieldView(entry.uidl), kind) ? 0 : 1;
}

Err WriteUidlFile(Env& env, const Account& account, UidlLists& lists, bool aborting) {
    std::string text;
    size_t count = 0;
    auto put = [&](std::string_view id, UidlKind kind) {
        if (kind == UidlKind::DeletePending) text.push_back(kPendingMark);
        if (kind == UidlKind::Kept) text.push_back(kOrderKeptMark);
        text.append(id);
        text.append("\r\n");
        ++count;
    };
    try {
        for (const ServerEntry* e = lists.added().next; e; e = e->next) {
            const std::string_view id = sjis::fieldView(e->uidl);
            put(id, lists.addedKind(id));
        }
        for (const ServerEntry* e = lists.stored().next; e; e = e->next) {
            const std::string_view id = sjis::fieldView(e->uidl);
            if (e->known && !lists.inNew(id)) put(id, lists.storedKind(id));
        }
    } catch (const std::bad_alloc&) {
        count = 0;
        text.clear();
        report::report(env, "メモリ確保に失敗しました。 ");
        return Err::NoMemory;
    }
    const bool stale = lists.serverListed() && lists.storedCount() > 0;
    if (count == 0 && !lists.forgotAny() && !stale) return Err::None;

    const std::string path = env.path(uidlFilePath(account));
    const std::string tmp = path.substr(0, path.size() - 4) + ".tmp";
    Err e = platform::makeDirs(env.fs, env.path(kFolder));
    if (e == Err::None) {
        e = platform::retryWhileBusy(
            [&] { return platform::replaceFileContents(env.fs, path, tmp, text); },
            report::retryNote(env, path));
    }
    if (e != Err::None) {
        // Attended and not aborting: a box, so the user knows the next run may fetch again.
        report::report(env, kTextUidlWriteFailed, kTextUidlWriteFailed, platform::Icon::Exclamation,
                       aborting ? report::Abort::Yes : report::Abort::No);
    }
    return e;
}

}  // namespace kolvy::pop
