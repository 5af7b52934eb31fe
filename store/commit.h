// Group commit of the store's writers.
//
// Crash-safety invariants of every writer of the store (what a kill at any instruction, or a
// power cut, may leave, and who settles it):
//
//   message file  Written under a temporary name (NNNN.tmp) in its tab folder and renamed to
//                 NNNN.txt (never over an existing file) once it is whole. A kill leaves at most a
//                 temporary file, which the start-up check (recoverTab) and `kolvytool check
//                 --repair` delete; never a half message under a real name.
//   index         Records are only appended after their file has its real name; a record cut by
//                 a kill is damage the reader finds and the rebuild (from the files) settles. A
//                 file whose record never arrived is found by the reader (the next number's file
//                 exists) or by `check`, and the rebuild takes it in. Compaction writes Tmp.bin,
//                 flushes and replaces the index in one step.
//   counters      AllMailCount ... and NextFileNo in Kolvy.ini are written once per commit, not
//                 per message; the start-up check recomputes them from the index (and the
//                 highest NNNN.txt) the first time a run stores into a tab, so nothing depends on
//                 their being current after a crash.
//   UIDL file     Replaced whole (temporary file, flush, replace). Between two such writes each
//                 stored message's id is appended to the account's journal (_UIDL\<name>.jnl);
//                 a session folds the journal in before it connects. A journal entry counts only
//                 when the message it names is found whole (size and content hash), so a power
//                 cut that keeps the journal but loses the message re-fetches it.
//   commit        Receive and import write without flushing and commit in this order: every
//                 message file written, then every index appended to (one syncFiles), then the
//                 counters, then (receive) the UIDL file, and only then QUIT. A receive session
//                 commits also every kCommitMessages messages or kCommitBytes bytes, an import
//                 every kCommitMessages messages, so a power cut costs at most one batch of
//                 re-fetching.
//   list edits    Copy every message into its target and append the target's records; make the
//                 copies and the target indexes durable (one syncFiles); write the source's drop
//                 journal (mokuji.jnl: the numbers, sizes and hashes of the source messages that
//                 go, replaced whole); compact the source; delete the dropped files; remove the
//                 journal. A kill before the journal leaves the source whole and at most copies in
//                 the targets that `check --repair` takes in (the pass can be run again); a kill
//                 after it is finished by settleDrops (start-up check, check --repair): every
//                 message ends up exactly once.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "store/index.h"

namespace kolvy::store {

// A batch commits after this many messages or bytes of message files, whichever comes first:
// few enough that a power cut re-fetches at most one batch, many enough that the flush is a
// small part of the time.
inline constexpr size_t kCommitMessages = 500;
inline constexpr uint64_t kCommitBytes = 32ull << 20;

// Hash of a message file's text after its status line (which changes in place when the message is
// read, marked or coloured): FNV-1a, 64 bits.
uint64_t messageContentHash(std::string_view fileText);

// The writes of a receive session or an import that are not yet on the disk.
class WriteBatch {
  public:
    // A message file and the index it was appended to.
    void noteMessage(Tab& tab, std::string filePath, std::string indexPath, uint64_t bytes);
    bool empty() const { return files_.empty() && indexes_.empty(); }
    size_t messages() const { return messages_; }
    bool due() const { return messages_ >= kCommitMessages || bytes_ >= kCommitBytes; }
    // Whether the batch has met this tab already (its start-up check has run).
    bool knows(const Tab& tab) const { return checked_.count(&tab) != 0; }
    void markChecked(const Tab& tab) { checked_.insert(&tab); }
    // Flushes the message files, then the indexes, then writes each tab's counters and next file
    // number. The batch is empty afterwards, also after a failure (which is returned).
    Err commit(Env& env);

  private:
    std::vector<std::string> files_;
    std::vector<std::string> indexes_;
    std::vector<Tab*> tabs_;
    std::set<const Tab*> checked_;
    size_t messages_ = 0;
    uint64_t bytes_ = 0;
};

// The start-up check of a tab before a run stores into it: deletes leftover temporary message
// files, takes the next file number past the highest NNNN.txt, reads the whole index (which a
// missing record makes the rebuild's work) and recounts the counters from it; what disagreed
// with Kolvy.ini is written back. `rebuilder` may be null.
Err recoverTab(Env& env, Tab& tab, IndexRebuilder* rebuilder);

// The drop journal of a list pass: which messages leave the tab. Written (and flushed) before the
// tab's index is compacted, removed after the last dropped file is deleted.
inline constexpr char kDropJournal[] = "mokuji.jnl";
Err writeDropJournal(Env& env, const Tab& tab, const std::unordered_set<const MailItem*>& drop);
void removeDropJournal(Env& env, const Tab& tab);
// Finishes a pass a kill interrupted: the journal's messages (those still of the size and content
// it names) leave the index and the folder. Nothing to do without a journal.
Err settleDrops(Env& env, Tab& tab);

// Temporary message files (NNNN.tmp) of a tab folder.
bool isTemporaryMessageName(std::string_view name);
std::vector<std::string> temporaryMessageFiles(Env& env, std::string_view tabFolder);

}  // namespace kolvy::store
