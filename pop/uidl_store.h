// The UIDL store: per account, the unique ids of messages that are on the server and already
// stored here, so that no later run fetches them again.
//
// File "_UIDL\<account name>.txt", one id per line, each line ended by CR LF, no header:
//   " <id>"      (a blank first) a message stored whole and left on the server only because the
//                order left mail there: never fetched again, and deleted by the next run whose
//                order deletes mail (it is stored here already);
//   "<id>"       a message left on the server on purpose (a rule or the mail checker keeps it,
//                or only its header and first lines were fetched), and every id of a file
//                written before order-kept ids were told apart: never fetched again, never
//                deleted unless the mail checker asks;
//   TAB "<id>"   a message stored here whose deletion the server has not confirmed (the run
//                broke off before QUIT was answered): never fetched again, and deleted by the
//                next run whose order deletes mail.
// Ids never hold a blank or a control byte (see normaliseUidl), so the TAB cannot be part of one.
//
// Invariants: the file is only ever replaced whole (temporary file, flush, one replace), so a
// crash leaves the old or the new list. An id stays in the file for as long as the server lists
// it; it leaves the file only when the server no longer lists it or this run had its deletion
// confirmed. Empty ids are never written.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "core/records.h"
#include "platform/env.h"

namespace kolvy::pop {

// Ids longer than this do not fit the record's field (80 bytes with its NUL, one spare).
inline constexpr size_t kMaxUidl = 78;

// The form in which an id is kept: the id itself when it has at most kMaxUidl bytes and no blank
// or control byte; otherwise its first 45 bytes at most (such bytes made "_"), "~" and the MD5
// of the whole id in hexadecimal, 78 bytes at most. Distinct ids stay distinct, which plain cutting
// would not promise: two long ids sharing their first 78 bytes would make one message look fetched.
std::string normaliseUidl(std::string_view id);

enum class UidlKind {
    Kept,           // left on the server by the order
    DeletePending,  // stored, its deletion not confirmed
    Pinned,         // left on the server by a rule, the mail checker or a header-only fetch
};

// The stored list (read from the file) and the new list (ids added in this run), with their
// hashed indexes. Records are ServerEntry nodes; `known` marks stored ids seen in this run.
class UidlLists {
  public:
    UidlLists() = default;
    ~UidlLists();
    UidlLists(const UidlLists&) = delete;
    UidlLists& operator=(const UidlLists&) = delete;

    const ServerEntry& stored() const { return stored_; }
    const ServerEntry& added() const { return added_; }
    size_t storedCount() const { return storedIndex_.size(); }
    size_t addedCount() const { return addedIndex_.size(); }
    // The stored record of an id (null when the file does not hold it) and its kind.
    ServerEntry* findStored(std::string_view id);
    UidlKind storedKind(std::string_view id) const;
    // Takes a stored id out of what the file keeps: the server confirmed its deletion.
    void forget(std::string_view id);
    bool forgotAny() const { return forgotAny_; }
    // The server's ids were listed in this run: every stored id it still has is marked known,
    // so the stored ids left unmarked are no longer on the server.
    void setServerListed() { serverListed_ = true; }
    bool serverListed() const { return serverListed_; }

    // Appends a stored record; false when memory ran out. Repeated and empty ids are ignored.
    bool addStored(std::string_view id, UidlKind kind);
    // Appends to the new list, or changes the kind of an id already there (Pinned wins over
    // Kept, which wins over DeletePending).
    bool addNew(std::string_view id, UidlKind kind);
    UidlKind addedKind(std::string_view id) const;
    bool inNew(std::string_view id) const { return addedIndex_.count(id) != 0; }
    void clear();

  private:
    struct Ref {
        ServerEntry* record;
        UidlKind kind;
    };
    using Index = std::unordered_map<std::string_view, Ref>;  // keys point into the records
    bool append(ServerEntry& head, Index& index, std::string_view id, UidlKind kind);
    ServerEntry stored_{};
    ServerEntry added_{};
    Index storedIndex_, addedIndex_;
    bool forgotAny_ = false;
    bool serverListed_ = false;
};

// Path of the account's file, relative to the program folder.
std::string uidlFilePath(const Account& account);

// Reads the account's file into the stored list. A missing file leaves the list empty. 0 ok;
// 1 when memory ran out or the file exists but cannot be read (reported): going on would write
// the file without its ids and fetch their messages again.
int ReadUidlFile(Env& env, const Account& account, UidlLists& lists);

// 1 when the entry's id is in the stored list (exact comparison), and marks that record known;
// else 0. An entry without id is never known.
int IsKnownUidl(const ServerEntry& entry, UidlLists& lists);

// Adds the entry's id to the new list; 0 ok (an empty id is not added), 1 when memory ran out.
int AddUidl(const ServerEntry& entry, UidlLists& lists, UidlKind kind = UidlKind::Kept);

// Writes the new list and the stored ids seen in this run, replacing the file. With nothing to
// write the file keeps its contents, unless the server listed its ids in this run (its stored
// ids are all gone from the server) or this run forgot ids: then it is emptied. A failure is
// reported ("...UIDLファイルを作成できませんでした。"; no box when unattended or aborting) and
// ignored. Returns Err::None when the file holds the lists (or was left alone).
Err WriteUidlFile(Env& env, const Account& account, UidlLists& lists, bool aborting);

inline constexpr char kTextUidlWriteFailed[] =
    "現在受信中のアカウントについて、UIDLファイルを作成できませんでした。";
inline constexpr char kTextUidlReadFailed[] =
    "現在受信中のアカウントについて、UIDLファイルを読み込めませんでした。";

}  // namespace kolvy::pop
