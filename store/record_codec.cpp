// Index records and the summary line as bytes, and the list items drawn from them.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/sjis.h"
#include "core/timetext.h"
#include "store/index.h"
#include "store/index_layout.h"
#include "store/message_file.h"
#include "store/times.h"

namespace kolvy::store {
namespace {

using namespace layout;

constexpr const char* kWeekdays[7] = {"日", "月", "火", "水", "木", "金", "土"};

void two(char* p, int v) {
    p[0] = static_cast<char>('0' + v / 10 % 10);
    p[1] = static_cast<char>('0' + v % 10);
}
}  // namespace

using namespace layout;

std::string newIndexHeader() {
    std::string h(kIndexHeaderSize, ' ');
    std::memcpy(h.data(), kIndexMagic, sizeof kIndexMagic - 1);
    return h;
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
    static_cast<RecordFields&>(r) = v;
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

}  // namespace kolvy::store
