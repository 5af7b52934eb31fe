// The index file of a tab, mokuji.bin: a 256-byte header and one variable-length record per
// stored message, in storing order. All numbers are little-endian, texts Shift_JIS.
//
// Invariants every writer keeps:
//   - bytes 0-16 are "Kolvy mokuji list", bytes 17-255 blanks except the summary line written at
//     offset 22, which never reaches past byte 255;
//   - records follow each other from offset 256 with no gap; each one's bytes 12-15 hold its own
//     offset in the file, so that a one-byte update can never land in another record;
//   - a record is 23 fixed bytes (byte 22 = 0x0C), four texts each ended by 0x0C and a fifth ended
//     by 0x01; texts hold no byte below 0x20;
//   - records are only appended; bytes 2, 3 and 20 of a record change in place (and 4-7, the stored
//     time, when a message is sent); anything else is a
//     whole new file written beside it (Tmp.bin) and moved over it in one step.
// A file cut short in the middle of a record (a crash during an append) is damaged; so is a record
// whose offset field disagrees with its place.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/mail_state.h"
#include "core/records.h"
#include "platform/env.h"

namespace kolvy::store {

inline constexpr size_t kIndexHeaderSize = 256;
inline constexpr char kIndexMagic[] = "Kolvy mokuji list";
inline constexpr size_t kSummaryOffset = 22;
// The fixed part of a record: number, state, mark, two times, offset, size, attachments, account
// and the first separator.
inline constexpr size_t kRecordFixedSize = 23;
inline constexpr char kTextSeparator = 0x0C;
inline constexpr char kRecordEnd = 0x01;
// Text fields of a record, in order: other party's name and address, subject, mailer, fallback
// address. Writers cut them shorter than readers accept so that older readers keep up.
inline constexpr int kTextCount = 5;
inline constexpr size_t kWriterCaps[kTextCount] = {126, 126, 510, 62, 126};
inline constexpr size_t kReaderLimits[kTextCount] = {127, 127, 511, 127, 127};
// Mail states are below 32 (outgoing 16 + 0..5); marks use bits 4 and 7 only.
using mail::kBookmarkBit;
using mail::kMarkBit;
using mail::kMarkUnusedBits;
using mail::kStateLimit;

enum LoadState : int32_t { kNotRead = 0, kTailRead = 1, kCompletelyRead = 2 };

inline constexpr char kIndexReadFailed[] = "mokuji.binファイルが開けませんでした。    ";
inline constexpr char kIndexWriteFailed[] = "mokuji.binファイルを開けませんでした。   ";
inline constexpr char kCompactFailed[] = "Tmp.binファイルを開けませんでした。   ";

// A new index file: the header alone.
std::string newIndexHeader();
// Creates mokuji.bin in a folder with the bare header; never over an existing file (Exists).
Err createIndexFile(Env& env, std::string_view folder);

// ----------------------------------------------------------------------------- records
// The fixed fields of a record, in their order on disk.
struct RecordFields {
    uint16_t fileNo = 0;
    uint8_t state = 0;
    uint8_t markColour = 0;
    uint32_t storedTime = 0;
    uint32_t dateTime = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint8_t attachments = 0;
    uint8_t account = mail::kUnmatchedAccount;
};

struct IndexRecord : RecordFields {
    std::string texts[kTextCount];  // name, address, subject, mailer, fallback
};

// The record's bytes. Texts are cut to the writer caps on a character boundary, and bytes below
// 0x20 in them (which would break the record's framing) become blanks.
std::string encodeRecord(const IndexRecord& r);

// A parsed record pointing into the buffer it came from.
struct RecordView : RecordFields {
    std::string_view texts[kTextCount];
    size_t length = 0;  // bytes of the whole record
};

// Parses the record at buf[pos]. False when it is not one: a file number outside 0..9999, byte 22
// not 0x0C, a fifth separator, or the buffer ending before the record's end byte. Never reads
// outside buf.
bool parseRecord(std::string_view buf, size_t pos, RecordView& out);
IndexRecord toRecord(const RecordView& v);

// Whether a record starts at buf[pos], where buf begins at file offset `base`: state below 32,
// mark bits 5-6 clear (bookmarks are bit 7), byte 22 = 0x0C, exactly four separators before the
// end byte with no other byte below 0x20, a file number below 10000 and the offset field equal to
// the position in the file.
bool isRecordStart(std::string_view buf, size_t pos, uint64_t base);
// The first record start that follows a 0x01 byte at or after `from`; npos when there is none.
size_t findRecordStart(std::string_view buf, uint64_t base, size_t from = 0);

// ----------------------------------------------------------------------------- summary line
struct IndexSummary {
    int64_t nextFileNo = 0, allMailCount = 0, noReadMailCount = 0, waitMailCount = 0,
            editMailCount = 0;
    uint32_t color = 0, textColor = 0;
    int64_t kind = 0;
};
// "nf=%d am=%d nr=%d wm=%d em=%d cr=%d tc=%d pt=%d gi=%d", blank-padded up to byte 255 so that
// nothing of a longer earlier line survives (bytes 22..255: 234 bytes).
std::string formatSummary(const Tab& tab);
// Reads nf, am, nr, wm, em, cr, tc and pt back from the bytes at offset 22; nullopt when they do
// not start with "nf=".
std::optional<IndexSummary> parseSummary(std::string_view bytes);
Err writeSummary(Env& env, const Tab& tab);
// The summary of the index file at `path`; nullopt when there is none (or no file).
std::optional<IndexSummary> readSummary(Env& env, std::string_view path);

// ----------------------------------------------------------------------------- items
// Names of the accounts for the account column; the account Part supplies them.
class AccountNames {
  public:
    virtual ~AccountNames() = default;
    // The name of account `number`, or nullopt when there is no such account.
    virtual std::optional<std::string> name(int number) = 0;
};

// Time texts of the list, "YY/MM/DD (曜) hh:mm" in local time. The conversion is the platform's,
// asked once per day of the calendar: within a day the offset from UTC is taken as constant
// unless its two ends disagree (a daylight-saving change), and then every time is asked.
class TimeTexts {
  public:
    explicit TimeTexts(platform::Clock& clock) : clock_(clock) {}
    void format(uint32_t seconds, char (&out)[20]);

  private:
    bool offsetFor(int64_t seconds, int64_t& offset);
    platform::Clock& clock_;
    int64_t cachedDay_ = INT64_MIN;
    bool cachedConstant_ = false;
    int64_t cachedOffset_ = 0;
    // The date part "YY/MM/DD (曜) " of the last local day formatted: an index lists its mail in
    // storing order, so neighbours mostly share their day.
    int64_t dateDay_ = INT64_MIN;
    char datePart_[14] = {};
};

void formatNumberText(int fileNo, char (&out)[8]);     // " 0042"
void formatSizeText(uint32_t bytes, char (&out)[16]);  // "%6.1fk" of bytes x 0.001
// Sets every field of the item but its links; text fields are NUL-terminated and what follows
// the NUL is left as it was.
void fillItem(MailItem& item, const RecordView& r, TimeTexts& times, AccountNames* accounts);
// The file number of an item (from its number text); -1 when the text is not one.
int itemNumber(const MailItem& item);

// ----------------------------------------------------------------------------- reading
enum class RebuildMode {
    Damaged = 0,   // unreadable, too short or damaged index
    Command = 1,   // the user asked for it
    Counters = 2,  // the start-up consistency check
    Silent = 3,    // records but no next file number; an external folder without summary
    Renumbered = 100,
};

// Rebuilds a tab's index from its message files. Until the rebuild exists the reader has none: a
// damaged index is then logged, its tab stays empty, and nothing is written over the file.
class IndexRebuilder {
  public:
    virtual ~IndexRebuilder() = default;
    // True when a new index was written.
    virtual bool rebuild(Env& env, Tab& tab, RebuildMode mode) = 0;
};

class WriteBatch;  // store/commit.h

struct IndexOptions {
    // Receive and import: appends and stored messages are not flushed one by one; the batch
    // commits them (store/commit.h). Null: every write is flushed at once.
    WriteBatch* batch = nullptr;
    // Option/ReadByte: bytes read from the tail of an index at first display; 0 reads everything.
    uint64_t readByte = 10000;
    IndexRebuilder* rebuilder = nullptr;
    AccountNames* accounts = nullptr;
};

// Reads a tab's index into its items: the first read (all of it, or its tail), or the part in
// front of an earlier tail read. A damaged index is logged to ErrorLog2.txt and rebuilt at most
// once per call; without a rebuild the tab is left empty and unread. Sets the load state.
Err readIndex(Env& env, Tab& tab, const IndexOptions& options);
// Reads until the index is complete, with no size limit.
Err readWholeIndex(Env& env, Tab& tab, const IndexOptions& options);
void freeItems(Tab& tab);

// The line ErrorLog2.txt gets for a damaged index.
std::string damagedIndexLine(std::string_view tabName, int fileNo);
// What a writer is told when the next file number of a tab is already taken by a file its index
// does not hold: most often a second program stored mail in the folder at the same time. The
// index itself is sound, so the text says what happened instead; it names the tab and the file.
std::string fileNumberTakenText(std::string_view tabName, int fileNo);

// ----------------------------------------------------------------------------- writing
// Appends a record to the existing index (never creating it): its offset is the file's size, and
// when the tab's items are loaded the new item joins them (and the stored range). Returns the
// item, or null when the tab's index is not loaded; the counters are the caller's.
Result<MailItem*> appendRecord(Env& env, Tab& tab, IndexRecord record, const IndexOptions& options);

// What one batch of appends added: the file's size before and after it and the new items (none
// when the tab's index is not loaded).
struct AppendedBatch {
    uint64_t sizeBefore = 0;
    uint64_t sizeAfter = 0;
    std::vector<MailItem*> items;
};
// Appends records in one write and one flush: all of them or none. The items are allocated
// before anything is written, so a record in the file is never reported as missing.
Result<AppendedBatch> appendRecords(Env& env, Tab& tab, std::vector<IndexRecord> records,
                                    const IndexOptions& options);
// Takes a batch back out: the file is cut back to its size before the batch and the items are
// freed. Refused (Err::Damaged) when the file no longer ends where the batch left it.
Err undoAppend(Env& env, Tab& tab, AppendedBatch& batch);

// Rewrites one byte of an item's record in place (after checking that the record is there) and
// the item's field with it.
enum class RecordByte : uint8_t { State = 2, MarkColour = 3, Attachments = 20 };
Err updateRecordByte(Env& env, Tab& tab, MailItem& item, RecordByte which, uint8_t value);
// A message sent: its stored time (bytes 4-7) and then its state byte rewritten in place in one
// open, and the item's fields with them. The state goes last: it is what says "sent". Not
// flushed to the disk: the message file already says "sent" durably, and the send run mends a
// record that lags behind its file.
Err updateRecordSent(Env& env, Tab& tab, MailItem& item, uint8_t state, uint32_t storedTime);

// Rewrites the index keeping the items for which `drop` is false. The new image is written to
// Tmp.bin, flushed and moved over mokuji.bin in one step; only then are the dropped items'
// counts taken off the tab, `afterDrop` called for each (to delete its files) and the items
// freed, and the counters written. When anything fails before the move, index, files, items and
// counters are exactly as they were.
Err compactIndex(Env& env, Tab& tab, const std::function<bool(const MailItem&)>& drop,
                 const std::function<void(const MailItem&)>& afterDrop);

// Rewrites one record whose texts may change length (a draft edited again): `change` gets the
// record as stored; the new index is written beside the old and moved over it in one step, the
// records behind it keep their own offsets, and the item is filled from the new record.
Err rewriteRecord(Env& env, Tab& tab, MailItem& item,
                  const std::function<void(IndexRecord&)>& change, const IndexOptions& options);

// Stores a message in a tab: the next file number, the file (status line and text) created as
// new, the record appended, the next number raised and written, the counters counted and written.
// A full tab (next number 10000) is refused with Err::Invalid. With a batch in the options nothing
// is flushed and the number and counters are written at its commit; the first store into a tab
// runs its start-up check (recoverTab) first.
Result<MailItem*> storeMessage(Env& env, Tab& tab, std::string_view fileText, IndexRecord record,
                               const IndexOptions& options);

}  // namespace kolvy::store
