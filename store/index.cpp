#include "store/index.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "core/timetext.h"
#include "platform/fileutil.h"
#include "report/logs.h"
#include "report/report.h"
#include "store/commit.h"
#include "store/index_layout.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"
#include "store/times.h"

namespace kolvy::store {
namespace {

using namespace layout;

// ----------------------------------------------------------------------------- reading

enum class Outcome { Ok, CannotOpen, TooShort, Damaged, NoMemory };
struct ReadResult {
    Outcome outcome = Outcome::Ok;
    int fileNo = 0;  // where damage was found
};

// Parses every record of buf (which starts at file offset base) from `start` to its end into a
// chain behind `chain`. Damage: returns false with the file number reached.
bool parseAll(std::string_view buf, uint64_t base, size_t start, MailItem& chain, TimeTexts& times,
              AccountNames* accounts, int& fileNo, bool& noMemory) {
    size_t pos = start;
    while (pos < buf.size()) {
        RecordView r;
        if (!parseRecord(buf, pos, r) || r.offset != base + pos) {
            if (buf.size() - pos >= 2 && get16(buf, pos) < kFileNumberLimit) {
                fileNo = get16(buf, pos);
            }
            return false;
        }
        // Not zeroed: fillItem sets every field (10,000 items are 14 MB to clear otherwise).
        auto* item = new (std::nothrow) MailItem;
        if (!item) {
            noMemory = true;
            return false;
        }
        fillItem(*item, r, times, accounts);
        listAppend(chain, item);
        fileNo = r.fileNo;
        pos += r.length;
    }
    return true;
}

Result<std::string> readRange(platform::File& f, uint64_t from, uint64_t to) {
    std::string buf;
    buf.resize(static_cast<size_t>(to - from));
    size_t got = 0;
    while (got < buf.size()) {
        auto n = f.readAt(from + got, std::span<char>(buf.data() + got, buf.size() - got));
        if (!n) return n.error();
        if (*n == 0) break;
        got += *n;
    }
    if (got != buf.size()) return Err::Io;
    return buf;
}

// The bytes to read: all of [lo, hi), or only its last readByte bytes from the first record
// start in them (falling back to all when the tail holds none).
struct Span {
    std::string bytes;
    uint64_t base = 0;
    size_t start = 0;
};
Result<Span> readSpan(platform::File& f, uint64_t lo, uint64_t hi, uint64_t readByte) {
    Span s;
    if (readByte > 0 && hi - lo > readByte) {
        s.base = hi - readByte;
        auto tail = readRange(f, s.base, hi);
        if (!tail) return tail.error();
        const size_t start = findRecordStart(*tail, s.base);
        if (start != std::string_view::npos) {
            s.bytes = tail.take();
            s.start = start;
            return s;
        }
    }
    s.base = lo;
    auto all = readRange(f, lo, hi);
    if (!all) return all.error();
    s.bytes = all.take();
    return s;
}

void splice(Tab& tab, MailItem& chain) {
    if (!chain.next) return;
    MailItem* firstNew = chain.next;
    MailItem* lastNew = chain.prev;
    MailItem* oldFirst = tab.items.next;
    firstNew->prev = &tab.items;
    tab.items.next = firstNew;
    lastNew->next = oldFirst;
    if (oldFirst) {
        oldFirst->prev = lastNew;
    } else {
        tab.items.prev = lastNew;
    }
    chain.next = chain.prev = nullptr;
}

ReadResult readOnce(Env& env, Tab& tab, const IndexOptions& o) {
    ReadResult res;
    auto file = env.fs.open(indexPath(env, tab), platform::OpenMode::Read);
    if (!file) return {Outcome::CannotOpen, 0};
    auto size = (*file)->size();
    if (!size) return {Outcome::CannotOpen, 0};
    if (*size < kIndexHeaderSize) return {Outcome::TooShort, 0};

    const bool extending = !listEmpty(tab.items);
    uint64_t hi = *size;
    if (extending) {
        hi = tab.items.next->offset;
        if (hi == kIndexHeaderSize) {
            tab.loadState = kCompletelyRead;
            return res;
        }
        if (hi < kIndexHeaderSize || hi > *size)
            return {Outcome::Damaged, itemNumber(*tab.items.next)};
    }
    if (hi == kIndexHeaderSize) {
        tab.loadState = kCompletelyRead;
        return res;
    }
    auto span = readSpan(**file, kIndexHeaderSize, hi, o.readByte);
    if (!span) return {span.error() == Err::NoMemory ? Outcome::NoMemory : Outcome::CannotOpen, 0};
    file->reset();  // closed at once: no file stays open while items are built

    TimeTexts times(env.clock);
    MailItem chain{};
    bool noMemory = false;
    if (!parseAll(span->bytes, span->base, span->start, chain, times, o.accounts, res.fileNo,
                  noMemory)) {
        listFreeAll(chain);
        return {noMemory ? Outcome::NoMemory : Outcome::Damaged, res.fileNo};
    }
    const bool complete = span->base + span->start == kIndexHeaderSize;

    if (!extending && chain.prev) {
        // The next file number must lie beyond the last record, and its file must not exist yet.
        const int last = itemNumber(*chain.prev);
        bool damaged = tab.nextFileNo <= last;
        if (!damaged && last + 1 < kFileNumberLimit) {
            damaged = env.fs.exists(messagePath(env, tab, last + 1));
        }
        if (damaged) {
            listFreeAll(chain);
            return {Outcome::Damaged, last};
        }
        if (tab.nextFileNo != last + 1) {
            tab.nextFileNo = last + 1;
            writeNextFileNo(env, tab);
        }
    }
    splice(tab, chain);
    tab.loadState = complete ? kCompletelyRead : kTailRead;
    return res;
}

void forgetStored(Tab& tab, const MailItem* item) {
    if (tab.storedFirst == item && tab.storedLast == item) {
        tab.storedFirst = tab.storedLast = nullptr;
    } else if (tab.storedFirst == item) {
        tab.storedFirst = item->next;
    } else if (tab.storedLast == item) {
        tab.storedLast = item->prev;
    }
}

// The tab's index file open for writing in place; a failure to open it is reported.
Result<std::unique_ptr<platform::File>> openIndexForWrite(Env& env, const Tab& tab) {
    auto file = env.fs.open(indexPath(env, tab), platform::OpenMode::ReadWrite);
    if (!file) report::report(env, kIndexWriteFailed);
    return file;
}

// The whole index file of a writer that rewrites it; a failure to read it is reported.
Result<std::string> readIndexForRewrite(Env& env, const std::string& path) {
    auto data = platform::readWholeFile(env.fs, path);
    if (!data) report::report(env, kIndexWriteFailed);
    return data;
}

// The index file open for writing the item's record in place, once the record is found where
// the item says it is (Err::Damaged, nothing written, when it is not).
Result<std::unique_ptr<platform::File>> openItemRecord(Env& env, Tab& tab, const MailItem& item) {
    auto file = openIndexForWrite(env, tab);
    if (!file) return file.error();
    char fixed[kRecordFixedSize];
    auto n = (*file)->readAt(item.offset, fixed);
    if (!n) return n.error();
    const std::string_view head(fixed, *n);
    if (*n < kRecordFixedSize || get16(head, 0) != itemNumber(item) ||
        head[kFirstSeparatorAt] != kTextSeparator) {
        return Err::Damaged;
    }
    return file;
}

// The index file replaced by a rewritten image. An external folder may lie on another volume:
// its scratch file stays beside its index so that the final move is one step.
Err replaceIndexImage(Env& env, const Tab& tab, const std::string& path, std::string_view image) {
    const std::string tmp = tab.external ? sjis::joinPath(tabFolder(env, tab), kCompactFileName)
                                         : env.path(kCompactFileName);
    if (platform::replaceFileContents(env.fs, path, tmp, image) != Err::None) {
        report::report(env, kCompactFailed);
        return Err::Io;
    }
    return Err::None;
}

}  // namespace

// ----------------------------------------------------------------------------- header

Err createIndexFile(Env& env, std::string_view folder) {
    const std::string path = sjis::joinPath(folder, kIndexFileName);
    auto file = env.fs.open(path, platform::OpenMode::CreateNew);
    if (!file) return file.error();
    Err e = (*file)->write(newIndexHeader());
    if (e == Err::None) e = (*file)->flush();
    if (e == Err::None) e = (*file)->close();
    if (e != Err::None) {
        file->reset();
        env.fs.remove(path);
    }
    return e;
}

Err writeSummary(Env& env, const Tab& tab) {
    auto file = openIndexForWrite(env, tab);
    if (!file) return file.error();
    auto size = (*file)->size();
    if (!size || *size < kIndexHeaderSize) return Err::Damaged;
    if (Err e = (*file)->writeAt(kSummaryOffset, formatSummary(tab)); e != Err::None) return e;
    if (Err e = (*file)->flush(); e != Err::None) return e;
    return (*file)->close();
}

std::optional<IndexSummary> readSummary(Env& env, std::string_view path) {
    auto file = env.fs.open(path, platform::OpenMode::Read);
    if (!file) return std::nullopt;
    char buf[kSummaryReadSize];
    auto n = (*file)->readAt(kSummaryOffset, buf);
    if (!n) return std::nullopt;
    return parseSummary(std::string_view(buf, *n));
}

// ----------------------------------------------------------------------------- reading

std::string fileNumberTakenText(std::string_view tabName, int fileNo) {
    char file[16];
    std::snprintf(file, sizeof file, "%04d.txt", fileNo);
    std::string text = "タブ「";
    text += tabName;
    text += "」に次のメールファイル ";
    text += file;
    text +=
        " が既にあるので、このメールを保存できませんでした。    \n"
        "ほかのKolvyかkolvytoolが同じフォルダに同時に書き込んだためと思われます。"
        "何も上書きしていません。    \n"
        "受信中のメールはサーバに残っています。プログラムを起動し直してから、"
        "もう一度実行してください。    ";
    return text;
}

std::string damagedIndexLine(std::string_view tabName, int fileNo) {
    std::string line = "目次リード関数で、『 ";
    line += tabName;
    line += " 』タブのメール番号[ ";
    line += std::to_string(fileNo);
    line += " ]番以前のメールでエラーがありました。";
    return line;
}

void freeItems(Tab& tab) {
    listFreeAll(tab.items);
    tab.storedFirst = tab.storedLast = nullptr;
}

Err readIndex(Env& env, Tab& tab, const IndexOptions& o) {
    if (tab.loadState == kCompletelyRead) return Err::None;
    bool rebuilt = false;
    for (;;) {
        const ReadResult r = readOnce(env, tab, o);
        switch (r.outcome) {
            case Outcome::Ok:
                return Err::None;
            case Outcome::NoMemory:
                report::report(env, kAllocateFailed);
                return Err::NoMemory;
            case Outcome::CannotOpen:
                if (!rebuilt) report::report(env, kIndexReadFailed);
                break;
            case Outcome::TooShort:
                break;
            case Outcome::Damaged:
                report::appendErrorLog2(env, damagedIndexLine(tabName(tab), r.fileNo));
                break;
        }
        // The items of an earlier read go with the rest: the list is rebuilt from the new file.
        freeItems(tab);
        tab.loadState = kNotRead;
        const Err failure = r.outcome == Outcome::CannotOpen ? Err::NotFound : Err::Damaged;
        if (rebuilt || !o.rebuilder) return failure;
        rebuilt = true;
        if (!o.rebuilder->rebuild(env, tab, RebuildMode::Damaged)) return failure;
    }
}

Err readWholeIndex(Env& env, Tab& tab, const IndexOptions& o) {
    IndexOptions all = o;
    all.readByte = 0;
    return readIndex(env, tab, all);
}

// ----------------------------------------------------------------------------- writing

Result<AppendedBatch> appendRecords(Env& env, Tab& tab, std::vector<IndexRecord> records,
                                    const IndexOptions& o) {
    AppendedBatch batch;
    if (records.empty()) return batch;
    for (const IndexRecord& r : records) {
        if (!validFileNumber(r.fileNo)) return Err::Invalid;
        if (r.state >= kStateLimit || (r.markColour & kMarkUnusedBits)) return Err::Invalid;
    }
    // The items are allocated before anything is written: a record in the file must never be
    // reported as not appended (its caller would then delete the message it points to).
    const bool loaded = tab.loadState != kNotRead;
    std::vector<std::unique_ptr<MailItem>> items;
    if (loaded) {
        items.reserve(records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            items.emplace_back(new (std::nothrow) MailItem());
            if (!items.back()) {
                report::report(env, kAllocateFailed);
                return Err::NoMemory;
            }
        }
    }
    auto file = openIndexForWrite(env, tab);
    if (!file) return file.error();
    auto size = (*file)->size();
    if (!size) return size.error();
    if (*size < kIndexHeaderSize) return Err::Damaged;
    std::string bytes;
    std::vector<size_t> starts;
    starts.reserve(records.size());
    for (IndexRecord& r : records) {
        const uint64_t at = *size + bytes.size();
        if (at > UINT32_MAX) return Err::Damaged;  // offsets are 32-bit
        r.offset = static_cast<uint32_t>(at);
        starts.push_back(bytes.size());
        bytes += encodeRecord(r);
    }
    if (*size + bytes.size() > UINT32_MAX) return Err::Damaged;
    Err e = (*file)->writeAt(*size, bytes);
    if (e == Err::None && !o.batch) e = (*file)->flush();
    if (e != Err::None) {
        // Leave no partial record behind.
        (*file)->truncate(*size);
        report::report(env, kWriteFailed);
        return e;
    }
    if (Err c = (*file)->close(); c != Err::None) {
        // Whether the bytes reached the file is unknown: take them back out.
        if (auto again = env.fs.open(indexPath(env, tab), platform::OpenMode::ReadWrite)) {
            auto now = (*again)->size();
            if (now && *now == *size + bytes.size()) (*again)->truncate(*size);
        }
        return c;
    }
    batch.sizeBefore = *size;
    batch.sizeAfter = *size + bytes.size();
    if (!loaded) return batch;
    TimeTexts times(env.clock);
    for (size_t i = 0; i < items.size(); ++i) {
        RecordView view;
        parseRecord(bytes, starts[i], view);
        view.offset = records[i].offset;
        MailItem* item = items[i].release();
        fillItem(*item, view, times, o.accounts);
        listAppend(tab.items, item);
        if (!tab.storedFirst) tab.storedFirst = item;
        tab.storedLast = item;
        batch.items.push_back(item);
    }
    return batch;
}

Result<MailItem*> appendRecord(Env& env, Tab& tab, IndexRecord record, const IndexOptions& o) {
    std::vector<IndexRecord> one;
    one.push_back(std::move(record));
    auto batch = appendRecords(env, tab, std::move(one), o);
    if (!batch) return batch.error();
    return batch->items.empty() ? static_cast<MailItem*>(nullptr) : batch->items.front();
}

Err undoAppend(Env& env, Tab& tab, AppendedBatch& batch) {
    if (batch.sizeAfter <= batch.sizeBefore) return Err::None;
    auto file = env.fs.open(indexPath(env, tab), platform::OpenMode::ReadWrite);
    if (!file) return file.error();
    auto size = (*file)->size();
    if (!size) return size.error();
    // Something else appended after the batch: cutting the file would lose it.
    if (*size != batch.sizeAfter) return Err::Damaged;
    Err e = (*file)->truncate(batch.sizeBefore);
    if (e == Err::None) e = (*file)->flush();
    if (e == Err::None) e = (*file)->close();
    if (e != Err::None) return e;
    for (MailItem* item : batch.items) {
        if (!item) continue;
        forgetStored(tab, item);
        listUnlink(tab.items, item);
        delete item;
    }
    batch.items.clear();
    batch.sizeAfter = batch.sizeBefore;
    return Err::None;
}

Err updateRecordByte(Env& env, Tab& tab, MailItem& item, RecordByte which, uint8_t value) {
    if (which == RecordByte::State && value >= kStateLimit) return Err::Invalid;
    if (which == RecordByte::MarkColour && (value & kMarkUnusedBits)) return Err::Invalid;
    auto file = openItemRecord(env, tab, item);
    if (!file) return file.error();
    const char byte = static_cast<char>(value);
    if (Err e =
            (*file)->writeAt(item.offset + static_cast<uint8_t>(which), std::string_view(&byte, 1));
        e != Err::None) {
        return e;
    }
    if (Err e = (*file)->flush(); e != Err::None) return e;
    if (Err e = (*file)->close(); e != Err::None) return e;
    switch (which) {
        case RecordByte::State:
            item.state = value;
            break;
        case RecordByte::MarkColour:
            item.markColour = value;
            break;
        case RecordByte::Attachments:
            formatCount(value, item.attachText);
            break;
    }
    return Err::None;
}

Err updateRecordSent(Env& env, Tab& tab, MailItem& item, uint8_t state, uint32_t storedTime) {
    if (state >= kStateLimit) return Err::Invalid;
    auto file = openItemRecord(env, tab, item);
    if (!file) return file.error();
    std::string time;
    put32(time, storedTime);
    const char byte = static_cast<char>(state);
    if (Err e = (*file)->writeAt(item.offset + kStoredAt, time); e != Err::None) return e;
    if (Err e = (*file)->writeAt(item.offset + static_cast<uint8_t>(RecordByte::State),
                                 std::string_view(&byte, 1));
        e != Err::None) {
        return e;
    }
    // No flush of its own: the message file, rewritten and flushed before, says "sent" durably,
    // and the send run mends an index record that lags behind its file.
    if (Err e = (*file)->close(); e != Err::None) return e;
    item.state = state;
    item.storedTime = storedTime;
    return Err::None;
}

Err compactIndex(Env& env, Tab& tab, const std::function<bool(const MailItem&)>& drop,
                 const std::function<void(const MailItem&)>& afterDrop) {
    if (listEmpty(tab.items)) return Err::None;
    const std::string path = indexPath(env, tab);
    auto data = readIndexForRewrite(env, path);
    if (!data) return data.error();
    const std::string_view file = *data;
    const uint32_t first = tab.items.next->offset;
    if (first < kIndexHeaderSize || first > file.size()) return Err::Damaged;

    // Each record's extent comes from its own end byte; the items must cover the file from the
    // first one to its end, record after record.
    std::string image(file.substr(0, first));
    std::vector<std::pair<MailItem*, uint32_t>> kept;
    std::vector<MailItem*> dropped;
    Tab after = tab;  // the counters once the dropped records are gone
    size_t pos = first;
    for (MailItem* item : listRange(tab.items)) {
        RecordView r;
        if (item->offset != pos || !parseRecord(file, pos, r) || r.fileNo != itemNumber(*item)) {
            return Err::Damaged;
        }
        if (drop(*item)) {
            dropped.push_back(item);
            countOut(after, item->state, item->newMark);
        } else {
            const auto at = static_cast<uint32_t>(image.size());
            kept.emplace_back(item, at);
            image.append(file.substr(pos, r.length));
            set32(image, at + kOffsetAt, at);
        }
        pos += r.length;
    }
    if (pos != file.size()) return Err::Damaged;
    if (dropped.empty()) return Err::None;
    image.replace(kSummaryOffset, kSummaryRoom, formatSummary(after));
    if (Err e = replaceIndexImage(env, tab, path, image); e != Err::None) return e;

    // The new index is in place: now the dropped messages may go.
    for (auto& [item, at] : kept)
        item->offset = at;
    tab.allMailCount = after.allMailCount;
    tab.noReadMailCount = after.noReadMailCount;
    tab.newMailCount = after.newMailCount;
    tab.waitMailCount = after.waitMailCount;
    tab.editMailCount = after.editMailCount;
    for (MailItem* item : dropped) {
        if (afterDrop) afterDrop(*item);
        forgetStored(tab, item);
        listUnlink(tab.items, item);
        delete item;
    }
    if (listEmpty(tab.items) && first == kIndexHeaderSize) tab.loadState = kCompletelyRead;
    if (!tab.external) writeCounters(env, tab);
    return Err::None;
}

Result<MailItem*> storeMessage(Env& env, Tab& tab, std::string_view fileText, IndexRecord record,
                               const IndexOptions& o) {
    if (o.batch && !o.batch->knows(tab)) {
        // The counters and the next number of a killed run never reached the ini.
        recoverTab(env, tab, o.rebuilder);
        o.batch->markChecked(tab);
    }
    if (!validFileNumber(tab.nextFileNo)) return Err::Invalid;
    const int number = tab.nextFileNo;
    record.fileNo = static_cast<uint16_t>(number);
    const std::string folder = tabFolder(env, tab);
    bool reported = false;
    if (Err e = createMessageFile(env, folder, number, fileText, &reported, !o.batch);
        e != Err::None) {
        // A file already under the next number: the index and the folder disagree.
        if (!reported && record.state < 16) {
            const std::string text = e == Err::Exists ? fileNumberTakenText(tabName(tab), number)
                                                      : std::string(kCreateFailedBox);
            report::report(env, text, e == Err::Exists ? report::oneLine(text) : kCreateFailedLog,
                           platform::Icon::Exclamation);
        }
        return e;
    }
    const uint8_t state = record.state;
    auto item = appendRecord(env, tab, std::move(record), o);
    if (!item) return item.error();
    tab.nextFileNo = number + 1;
    countIn(tab, state);
    if (o.batch) {
        o.batch->noteMessage(tab, sjis::joinPath(folder, messageFileName(number)),
                             indexPath(env, tab), fileText.size());
    } else {
        writeNextFileNo(env, tab);
        writeCounters(env, tab);
    }
    return *item;
}

}  // namespace kolvy::store

namespace kolvy::store {

Err rewriteRecord(Env& env, Tab& tab, MailItem& item,
                  const std::function<void(IndexRecord&)>& change, const IndexOptions& o) {
    const std::string path = indexPath(env, tab);
    auto data = readIndexForRewrite(env, path);
    if (!data) return data.error();
    const std::string_view file = *data;
    RecordView old;
    if (!parseRecord(file, item.offset, old) || old.offset != item.offset ||
        old.fileNo != itemNumber(item))
        return Err::Damaged;
    IndexRecord record = toRecord(old);
    change(record);
    record.offset = item.offset;
    const std::string bytes = encodeRecord(record);
    // The records behind it move by the change in length; each keeps its own offset field.
    const int64_t delta = static_cast<int64_t>(bytes.size()) - static_cast<int64_t>(old.length);
    std::string image(file.substr(0, item.offset));
    image += bytes;
    const size_t restAt = image.size();
    image.append(file.substr(item.offset + old.length));
    std::vector<std::pair<MailItem*, uint32_t>> moved;
    for (MailItem* m : listRange(tab.items)) {
        if (m->offset <= item.offset) continue;
        const auto at = static_cast<uint32_t>(static_cast<int64_t>(m->offset) + delta);
        if (at + kRecordFixedSize > image.size() || at < restAt) return Err::Damaged;
        set32(image, at + kOffsetAt, at);
        moved.emplace_back(m, at);
    }
    if (Err e = replaceIndexImage(env, tab, path, image); e != Err::None) return e;
    for (auto& [m, at] : moved)
        m->offset = at;
    RecordView now;
    if (parseRecord(image, item.offset, now)) {
        TimeTexts times(env.clock);
        fillItem(item, now, times, o.accounts);
    }
    return Err::None;
}

}  // namespace kolvy::store
