// The UIDL journal: between two writes of an account's UIDL file, the id of each message stored
// is appended to "_UIDL\<account name>.jnl" at once (no flush), so that a kill or a crash in the
// middle of a session re-fetches at most the message that was under way.
//
// One line per stored message, CR LF ended, fields separated by TAB:
//   kind ("K" kept on the server by the order, "R" kept on purpose: a rule, the checker or a fetch
//   of the header only; "P" stored, deletion not confirmed), id, size of the message
//   file, its content hash (16 hex digits, store::messageContentHash), and the file's path from
//   the program folder (empty for a message a receive rule threw away).
// A line cut short by a kill has no CR LF and is ignored, so the journal is readable after a kill
// at any byte.
//
// A power cut can make the journal durable before the message it names; an entry therefore
// counts only when its file is found whole: the same size and content hash. Entries are folded
// into the stored list when a session starts, and the journal is removed once the UIDL file that
// holds them has been written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "pop/uidl_store.h"

namespace kolvy::pop {

struct JournalEntry {
    UidlKind kind = UidlKind::Kept;
    std::string id;
    uint64_t size = 0;
    uint64_t hash = 0;
    std::string path;  // from the program folder; empty: nothing was stored
};

// Path of the account's journal, relative to the program folder.
std::string uidlJournalPath(const Account& account);
std::string formatJournalEntry(const JournalEntry& e);
// The whole, well-formed lines of a journal.
std::vector<JournalEntry> parseJournal(std::string_view text);
// Whether the message an entry names is in the store whole.
bool storedWhole(Env& env, const JournalEntry& e);

class UidlJournal {
  public:
    UidlJournal(Env& env, const Account& account);
    // A journal of the same form elsewhere (the import's), from the program folder.
    UidlJournal(Env& env, std::string_view relativePath);
    // Creates the journal when it is not there: its presence says a run is under way.
    Err start();
    // Appends one entry. No flush: a kill keeps what was written; the session's commit covers a
    // power cut. A failure is returned (the id is then remembered only at the next UIDL write).
    Err append(const JournalEntry& e);
    // Adds every entry whose message is found whole to the stored list; returns how many.
    // `rejected` (when given) counts the entries whose message was not found whole.
    size_t fold(UidlLists& lists, size_t* rejected = nullptr);
    // The ids of the entries whose message is found whole.
    std::vector<std::string> wholeIds();
    // The UIDL file now holds everything the journal said: the journal goes.
    void clear();

  private:
    Err write(std::string_view bytes);
    Env& env_;
    std::string path_;
};

}  // namespace kolvy::pop
