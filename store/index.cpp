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
#include "shell/logs.h"
#include "shell/report.h"
#include "store/commit.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"
#include "store/times.h"

namespace kolvy::store {
namespace {

constexpr size_t kStateAt = 2, kMarkAt = 3, kStoredAt = 4, kDateAt = 8, kOffsetAt = 12;
constexpr size_t kSizeAt = 16, kAttachAt = 20, kAccountAt = 21, kFirstSeparatorAt = 22;
constexpr size_t kSummaryRoom = kIndexHeaderSize - kSummaryOffset;  // 234 bytes
// Bytes of the summary read back when registering: the line and its blanks.
constexpr size_t kSummaryReadSize = 127;

uint16_t get16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}
uint32_t get32(std::string_view b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
}
void put16(std::string& b, uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
}
void put32(std::string& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void set32(std::string& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

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

constexpr const char* kWeekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};

// "%d" of a byte.
void formatCount(uint8_t v, char (&out)[4]) {
    int n = 0;
    if (v >= 100) out[n++] = static_cast<char>('0' + v / 100);
    if (v >= 10) out[n++] = static_cast<char>('0' + v / 10 % 10);
    out[n++] = static_cast<char>('0' + v % 10);
    out[n] = '\0';
}

void two(char* p, int v) {
    p[0] = static_cast<char>('0' + v / 10 % 10);
    p[1] = static_cast<char>('0' + v % 10);
}

}  // namespace

// ----------------------------------------------------------------------------- header

std::string newIndexHeader() {
    std::string h(kIndexHeaderSize, ' ');
    std::memcpy(h.data(), kIndexMagic, sizeof kIndexMagic - 1);
    return h;
}

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

// ----------------------------------------------------------------------------- records

std::string encodeRecord(const IndexRecord& r) {
    std::string b;
    b.reserve(kRecordFixedSize + 8 + 64);
    put16(b, r.fileNo);
    b += static_cast<char>(r.state);
    b += static_cast<char>(r.markColour);
    put32(b, r.storedTime);
    put32(b, r.dateTime);
    put32(b, r.offset);
    put32(b, r.size);
    b += static_cast<char>(r.attachments);
    b += static_cast<char>(r.account);
    b += kTextSeparator;
    for (int i = 0; i < kTextCount; ++i) {
        const std::string_view t = sjis::truncate(r.texts[i], kWriterCaps[i]);
        for (char c : t) {
            b += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
        b += i + 1 < kTextCount ? kTextSeparator : kRecordEnd;
    }
    return b;
}

bool parseRecord(std::string_view buf, size_t pos, RecordView& out) {
    if (pos > buf.size() || buf.size() - pos < kRecordFixedSize + kTextCount) return false;
    const std::string_view b = buf.substr(pos);
    out.fileNo = get16(b, 0);
    if (out.fileNo >= kFileNumberLimit || b[kFirstSeparatorAt] != kTextSeparator) return false;
    out.state = static_cast<uint8_t>(b[kStateAt]);
    out.markColour = static_cast<uint8_t>(b[kMarkAt]);
    out.storedTime = get32(b, kStoredAt);
    out.dateTime = get32(b, kDateAt);
    out.offset = get32(b, kOffsetAt);
    out.size = get32(b, kSizeAt);
    out.attachments = static_cast<uint8_t>(b[kAttachAt]);
    out.account = static_cast<uint8_t>(b[kAccountAt]);
    // The record ends at the first end byte; within it lie exactly four separators.
    const char* base = b.data();
    const void* endHit =
        std::memchr(base + kRecordFixedSize, kRecordEnd, b.size() - kRecordFixedSize);
    if (!endHit) return false;  // cut off
    const size_t end = static_cast<size_t>(static_cast<const char*>(endHit) - base);
    size_t p = kRecordFixedSize;
    for (int i = 0; i < kTextCount; ++i) {
        size_t q = end;
        if (i + 1 < kTextCount) {
            const void* hit = std::memchr(base + p, kTextSeparator, end - p);
            if (!hit) return false;  // too few separators
            q = static_cast<size_t>(static_cast<const char*>(hit) - base);
        } else if (std::memchr(base + p, kTextSeparator, end - p)) {
            return false;  // a fifth separator
        }
        out.texts[i] = b.substr(p, std::min(q - p, kReaderLimits[i]));
        p = q + 1;
    }
    out.length = end + 1;
    return true;
}

IndexRecord toRecord(const RecordView& v) {
    IndexRecord r;
    r.fileNo = v.fileNo;
    r.state = v.state;
    r.markColour = v.markColour;
    r.storedTime = v.storedTime;
    r.dateTime = v.dateTime;
    r.offset = v.offset;
    r.size = v.size;
    r.attachments = v.attachments;
    r.account = v.account;
    for (int i = 0; i < kTextCount; ++i)
        r.texts[i] = std::string(v.texts[i]);
    return r;
}

bool isRecordStart(std::string_view buf, size_t pos, uint64_t base) {
    if (pos > buf.size() || buf.size() - pos < kRecordFixedSize + kTextCount) return false;
    const std::string_view b = buf.substr(pos);
    if (static_cast<uint8_t>(b[kStateAt]) >= kStateLimit) return false;
    if (static_cast<uint8_t>(b[kMarkAt]) & kMarkUnusedBits) return false;
    if (b[kFirstSeparatorAt] != kTextSeparator) return false;
    if (get16(b, 0) >= kFileNumberLimit) return false;
    if (get32(b, kOffsetAt) != base + pos) return false;
    int separators = 0;
    for (size_t q = kRecordFixedSize; q < b.size(); ++q) {
        const auto c = static_cast<unsigned char>(b[q]);
        if (c >= 0x20) continue;
        if (c == static_cast<unsigned char>(kTextSeparator)) {
            if (++separators > kTextCount - 1) return false;
        } else if (c == static_cast<unsigned char>(kRecordEnd)) {
            return separators == kTextCount - 1;
        } else {
            return false;
        }
    }
    return false;
}

size_t findRecordStart(std::string_view buf, uint64_t base, size_t from) {
    while (from < buf.size()) {
        const void* hit = std::memchr(buf.data() + from, kRecordEnd, buf.size() - from);
        if (!hit) break;
        const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - buf.data());
        if (isRecordStart(buf, at + 1, base)) return at + 1;
        from = at + 1;
    }
    return std::string_view::npos;
}

// ----------------------------------------------------------------------------- summary line

std::string formatSummary(const Tab& tab) {
    char buf[kSummaryRoom + 1];
    const int n = std::snprintf(
        buf, sizeof buf, "nf=%d am=%d nr=%d wm=%d em=%d cr=%d tc=%d pt=%d gi=%d", tab.nextFileNo,
        tab.allMailCount, tab.noReadMailCount, tab.waitMailCount, tab.editMailCount,
        static_cast<int>(tab.color), static_cast<int>(tab.textColor), tab.kind, tab.otherGomiIcon);
    std::string line(buf, n < 0 ? 0 : std::min<size_t>(static_cast<size_t>(n), kSummaryRoom));
    line.resize(kSummaryRoom, ' ');
    return line;
}

std::optional<IndexSummary> parseSummary(std::string_view bytes) {
    if (bytes.substr(0, 3) != "nf=") return std::nullopt;
    int64_t values[8] = {};
    size_t pos = 0;
    for (int i = 0; i < 8; ++i) {
        const size_t eq = bytes.find('=', pos);
        if (eq == std::string_view::npos) return std::nullopt;
        size_t end = bytes.find(' ', eq + 1);
        if (end == std::string_view::npos) end = bytes.size();
        auto v = platform::parseNumber(bytes.substr(eq + 1, end - eq - 1));
        if (!v) return std::nullopt;
        values[i] = *v;
        pos = end;
    }
    IndexSummary s;
    s.nextFileNo = values[0];
    s.allMailCount = values[1];
    s.noReadMailCount = values[2];
    s.waitMailCount = values[3];
    s.editMailCount = values[4];
    s.color = static_cast<uint32_t>(values[5]);
    s.textColor = static_cast<uint32_t>(values[6]);
    s.kind = values[7];
    return s;
}

Err writeSummary(Env& env, const Tab& tab) {
    auto file = env.fs.open(indexPath(env, tab), platform::OpenMode::ReadWrite);
    if (!file) {
        shell::report(env, kIndexWriteFailed);
        return file.error();
    }
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

// ----------------------------------------------------------------------------- items

bool TimeTexts::offsetFor(int64_t seconds, int64_t& offset) {
    const int64_t day = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    if (day != cachedDay_) {
        platform::LocalTime a, b;
        const int64_t start = day * 86400, end = start + 86399;
        cachedDay_ = day;
        cachedConstant_ = clock_.toLocal(start, a) && clock_.toLocal(end, b) &&
                          civilSeconds(a) - start == civilSeconds(b) - end;
        cachedOffset_ = civilSeconds(a) - start;
    }
    if (cachedConstant_) {
        offset = cachedOffset_;
        return true;
    }
    platform::LocalTime t;
    if (!clock_.toLocal(seconds, t)) return false;
    offset = civilSeconds(t) - seconds;
    return true;
}

void TimeTexts::format(uint32_t seconds, char (&out)[20]) {
    if (seconds == 0) {
        sjis::copyField(out, "未定");
        return;
    }
    int64_t offset = 0;
    if (!offsetFor(seconds, offset)) {
        sjis::copyField(out, "不定");
        return;
    }
    // "YY/MM/DD (曜) hh:mm"
    const int64_t local = static_cast<int64_t>(seconds) + offset;
    const int64_t day = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    if (day != dateDay_) {
        const platform::LocalTime t = civilTime(day * 86400);
        char* d = datePart_;
        two(d, twoDigitYear(t.year));
        d[2] = '/';
        two(d + 3, t.month);
        d[5] = '/';
        two(d + 6, t.day);
        d[8] = ' ';
        d[9] = '(';
        std::memcpy(d + 10, kWeekdays[t.weekday % 7], 2);
        d[12] = ')';
        d[13] = ' ';
        dateDay_ = day;
    }
    const auto inDay = static_cast<int>(local - day * 86400);
    std::memcpy(out, datePart_, sizeof datePart_);
    two(out + 14, inDay / 3600);
    out[16] = ':';
    two(out + 17, inDay / 60 % 60);
    out[19] = '\0';
}

void formatNumberText(int fileNo, char (&out)[8]) {
    const int n = validFileNumber(fileNo) ? fileNo : 0;
    out[0] = ' ';
    out[1] = static_cast<char>('0' + n / 1000);
    out[2] = static_cast<char>('0' + n / 100 % 10);
    out[3] = static_cast<char>('0' + n / 10 % 10);
    out[4] = static_cast<char>('0' + n % 10);
    out[5] = '\0';
}

void formatSizeText(uint32_t bytes, char (&out)[16]) {
    if (bytes % 100 == 50) {
        // A tie in tenths: the binary value of bytes x 0.001 decides, as the format rounds it.
        std::snprintf(out, sizeof out, "%6.1fk", bytes * 0.001);
        return;
    }
    const uint32_t tenths = static_cast<uint32_t>((static_cast<uint64_t>(bytes) + 50) / 100);
    char digits[16];
    int n = 0;
    digits[n++] = static_cast<char>('0' + tenths % 10);
    digits[n++] = '.';
    uint32_t whole = tenths / 10;
    do {
        digits[n++] = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole);
    int o = 0;
    for (int pad = 6 - n; pad > 0; --pad)
        out[o++] = ' ';
    while (n > 0)
        out[o++] = digits[--n];
    out[o++] = 'k';
    out[o] = '\0';
}

void fillItem(MailItem& item, const RecordView& r, TimeTexts& times, AccountNames* accounts) {
    item.newMark = 0;
    formatNumberText(r.fileNo, item.number);
    item.state = r.state;
    item.markColour = r.markColour;
    item.storedTime = r.storedTime;
    times.format(r.storedTime, item.storedText);
    times.format(r.dateTime, item.dateText);
    item.offset = r.offset;
    formatSizeText(r.size, item.sizeText);
    formatCount(r.attachments, item.attachText);
    sjis::copyField(item.name, r.texts[0]);
    sjis::copyField(item.address, r.texts[1]);
    sjis::copyField(item.subject, r.texts[2]);
    sjis::copyField(item.mailer, r.texts[3]);
    std::optional<std::string> account;
    if (r.account != mail::kUnmatchedAccount && accounts) account = accounts->name(r.account);
    if (account) {
        sjis::copyField(item.account, *account);
    } else if (!r.texts[4].empty()) {
        sjis::copyField(item.account, r.texts[4]);
    } else {
        sjis::copyField(item.account, "宛先（To:）がありません");
    }
    item.messageId[0] = '\0';
    item.inReplyTo[0] = '\0';
    item.threadLevel = 0;
    item.collapsed = 0;
    item.sendAccount = mail::kNotSending;
    item.editing = 0;
}

int itemNumber(const MailItem& item) {
    int n = 0;
    for (int i = 1; i <= 4; ++i) {
        const char c = item.number[i];
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n;
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
                shell::report(env, kAllocateFailed);
                return Err::NoMemory;
            case Outcome::CannotOpen:
                if (!rebuilt) shell::report(env, kIndexReadFailed);
                break;
            case Outcome::TooShort:
                break;
            case Outcome::Damaged:
                shell::appendErrorLog2(env, damagedIndexLine(tabName(tab), r.fileNo));
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
                shell::report(env, kAllocateFailed);
                return Err::NoMemory;
            }
        }
    }
    auto file = env.fs.open(indexPath(env, tab), platform::OpenMode::ReadWrite);
    if (!file) {
        shell::report(env, kIndexWriteFailed);
        return file.error();
    }
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
        shell::report(env, kWriteFailed);
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
    auto file = env.fs.open(indexPath(env, tab), platform::OpenMode::ReadWrite);
    if (!file) {
        shell::report(env, kIndexWriteFailed);
        return file.error();
    }
    char fixed[kRecordFixedSize];
    auto n = (*file)->readAt(item.offset, fixed);
    if (!n) return n.error();
    const std::string_view head(fixed, *n);
    if (*n < kRecordFixedSize || get16(head, 0) != itemNumber(item) ||
        head[kFirstSeparatorAt] != kTextSeparator) {
        return Err::Damaged;  // the record is not where the item says: write nothing
    }
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
    auto file = env.fs.open(indexPath(env, tab), platform::OpenMode::ReadWrite);
    if (!file) {
        shell::report(env, kIndexWriteFailed);
        return file.error();
    }
    char fixed[kRecordFixedSize];
    auto n = (*file)->readAt(item.offset, fixed);
    if (!n) return n.error();
    const std::string_view head(fixed, *n);
    if (*n < kRecordFixedSize || get16(head, 0) != itemNumber(item) ||
        head[kFirstSeparatorAt] != kTextSeparator) {
        return Err::Damaged;  // the record is not where the item says: write nothing
    }
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
    auto data = platform::readWholeFile(env.fs, path);
    if (!data) {
        shell::report(env, kIndexWriteFailed);
        return data.error();
    }
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

    // An external folder may lie on another volume: its scratch file stays beside its index so
    // that the final move is one step.
    const std::string tmp = tab.external ? sjis::joinPath(tabFolder(env, tab), kCompactFileName)
                                         : env.path(kCompactFileName);
    if (platform::replaceFileContents(env.fs, path, tmp, image) != Err::None) {
        shell::report(env, kCompactFailed);
        return Err::Io;
    }

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
            shell::report(env, text, e == Err::Exists ? shell::oneLine(text) : kCreateFailedLog,
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
    auto data = platform::readWholeFile(env.fs, path);
    if (!data) {
        shell::report(env, kIndexWriteFailed);
        return data.error();
    }
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
    const std::string tmp = tab.external ? sjis::joinPath(tabFolder(env, tab), kCompactFileName)
                                         : env.path(kCompactFileName);
    if (platform::replaceFileContents(env.fs, path, tmp, image) != Err::None) {
        shell::report(env, kCompactFailed);
        return Err::Io;
    }
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
