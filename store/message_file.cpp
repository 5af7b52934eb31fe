#include "store/message_file.h"

#include <cstring>
#include <new>

#include "core/sjis.h"
#include "core/timetext.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "store/paths.h"
#include "store/times.h"

namespace kolvy::store {
namespace {

constexpr size_t kDirectionAt = 5, kStateAt = 7, kMarkAt = 9, kColourAt = 11;
constexpr size_t kStampAt = 16, kKindAt = 26, kValueAt = 30;
constexpr size_t kStampSize = 10;
// Sideline names tried for a stale attachment folder before giving up.
constexpr int kMaxSidelineNames = 1000;

constexpr char kHex[] = "0123456789ABCDEF";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The first 16 bytes of a status line: "\f st=D.D.D.H dt=".
bool hasStatusPrefix(std::string_view s) {
    if (s.size() < kStampAt) return false;
    return s[0] == '\f' && s.substr(1, 4) == " st=" && s[6] == '.' && s[8] == '.' && s[10] == '.' &&
           s.substr(12, 4) == " dt=";
}

// Reads the head of a message file and checks that it begins with a status line before any
// byte of it is overwritten.
Err writeIntoStatusLine(Env& env, std::string_view path, size_t offset, std::string_view bytes) {
    auto file = env.fs.open(path, platform::OpenMode::ReadWrite);
    if (!file) return file.error();
    char head[kStatusLineSize];
    auto got = (*file)->readAt(0, head);
    if (!got) return got.error();
    if (!hasStatusPrefix(std::string_view(head, *got)) || *got < offset + bytes.size()) {
        return Err::Damaged;
    }
    if (Err e = (*file)->writeAt(offset, bytes); e != Err::None) return e;
    if (Err e = (*file)->flush(); e != Err::None) return e;
    return (*file)->close();
}

}  // namespace

std::string numberDigits(int number) {
    if (!validFileNumber(number)) return {};
    char buf[5];
    buf[0] = static_cast<char>('0' + number / 1000);
    buf[1] = static_cast<char>('0' + number / 100 % 10);
    buf[2] = static_cast<char>('0' + number / 10 % 10);
    buf[3] = static_cast<char>('0' + number % 10);
    buf[4] = '\0';
    return buf;
}

std::string messageFileName(int number) {
    std::string d = numberDigits(number);
    if (d.empty()) return d;
    return d + ".txt";
}

std::string messagePath(const Env& env, const Tab& tab, int number) {
    const std::string name = messageFileName(number);
    if (name.empty()) return {};
    return sjis::joinPath(tabFolder(env, tab), name);
}

std::string attachmentFolder(std::string_view tabFolder, int number) {
    const std::string d = numberDigits(number);
    if (d.empty()) return {};
    return sjis::joinPath(sjis::joinPath(tabFolder, kAttachFolder), d);
}

// ----------------------------------------------------------------------------- status line

char stateDigit(uint8_t state) {
    return kHex[state & 0x0F];
}
char markDigit(uint8_t markColour) {
    return kHex[markColour >> 4];
}
char colourDigit(uint8_t markColour) {
    return kHex[markColour & 0x0F];
}

std::optional<uint8_t> hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

std::string formatStatusLine(const StatusLine& s) {
    std::string out = "\f st=";
    out += (s.state >> 4) ? '1' : '0';
    out += '.';
    out += stateDigit(s.state);
    out += '.';
    out += markDigit(s.markColour);
    out += '.';
    out += colourDigit(s.markColour);
    out += " dt=";
    std::string stamp = s.stamp.substr(0, kStampSize);
    stamp.resize(kStampSize, '0');
    out += stamp;
    out += s.received ? " rd=" : " at=";
    std::string value = s.value.substr(0, kStatusValueSize);
    value.resize(kStatusValueSize, ' ');
    out += value;
    out += "\r\n";
    return out;
}

std::optional<StatusLine> parseStatusLine(std::string_view s) {
    if (!hasStatusPrefix(s)) return std::nullopt;
    const char dir = s[kDirectionAt];
    if (dir != '0' && dir != '1') return std::nullopt;
    auto state = hexDigitValue(s[kStateAt]);
    auto mark = hexDigitValue(s[kMarkAt]);
    auto colour = hexDigitValue(s[kColourAt]);
    if (!state || !mark || !colour) return std::nullopt;
    StatusLine out;
    out.state = static_cast<uint8_t>((dir == '1' ? 16 : 0) + *state);
    out.markColour = static_cast<uint8_t>((*mark << 4) | *colour);
    if (s.size() >= kStampAt + kStampSize) out.stamp = std::string(s.substr(kStampAt, kStampSize));
    if (s.size() >= kValueAt) {
        out.received = s.substr(kKindAt, 4) != " at=";
        std::string_view v = s.substr(kValueAt, std::min(kStatusValueSize, s.size() - kValueAt));
        const size_t end = v.find_first_of(" \r\n");
        out.value = std::string(v.substr(0, end));
    }
    return out;
}

std::string stampDigits(const platform::LocalTime& t) {
    return tenDigitTime(t);
}

uint32_t stampToSeconds(std::string_view d) {
    if (d.size() < kStampSize) return 0;
    int v[5];
    for (size_t i = 0; i < 5; ++i) {
        const char a = d[2 * i], b = d[2 * i + 1];
        if (!isDigit(a) || !isDigit(b)) return 0;
        v[i] = (a - '0') * 10 + (b - '0');
    }
    if (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 0 && v[4] == 0) return 0;
    if (v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] > 23 || v[4] > 59) return 0;
    const int64_t s =
        daysFromCivil(2000 + v[0], v[1], v[2]) * 86400 + v[3] * 3600 + v[4] * 60 - kJapanOffset;
    return s < 0 ? 0 : static_cast<uint32_t>(s);
}

bool stateHasAttachments(uint8_t state) {
    const int dir = state >> 4, n = state & 0x0F;
    if (dir == 0) return n == 1 || n == 4 || n == 7 || n == 10;
    return n == 1 || n == 3 || n == 5;
}

Err updateStatusChar(Env& env, std::string_view path, StatusChar which, char digit) {
    return writeIntoStatusLine(env, path, static_cast<size_t>(which), std::string_view(&digit, 1));
}

Err updateAttachmentWord(Env& env, std::string_view path, bool have) {
    return writeIntoStatusLine(env, path, kValueAt, have ? "have" : "not ");
}

// ----------------------------------------------------------------------------- shared routines

std::unique_ptr<char[]> allocateBlock(Env& env, size_t size) {
    std::unique_ptr<char[]> p(new (std::nothrow) char[size == 0 ? 1 : size]());
    if (!p) report::report(env, kAllocateFailed);
    return p;
}

Err writeData(Env& env, platform::File& file, std::string_view data) {
    const Err e = file.write(data);
    if (e != Err::None) report::report(env, kWriteFailed);
    return e;
}

Err moveFile(Env& env, std::string_view from, std::string_view to) {
    const Err e = env.fs.rename(from, to);
    if (e != Err::None) report::report(env, kMoveFailed);
    return e;
}

Err copyFile(Env& env, std::string_view from, std::string_view to) {
    const Err e = env.fs.copy(from, to, true);
    if (e != Err::None) report::report(env, kCopyFailed);
    return e;
}

// ----------------------------------------------------------------------------- files

Err setAsideStaleAttachments(Env& env, std::string_view tabFolder, int number) {
    const std::string folder = attachmentFolder(tabFolder, number);
    if (folder.empty()) return Err::Invalid;
    if (!env.fs.exists(folder)) return Err::None;
    for (int k = 1; k < kMaxSidelineNames; ++k) {
        const std::string target = folder + "_" + std::to_string(k);
        if (env.fs.exists(target)) continue;
        return moveFile(env, folder, target);
    }
    report::report(env, kMoveFailed);
    return Err::Exists;
}

std::string temporaryFileName(int number) {
    const std::string d = numberDigits(number);
    return d.empty() ? d : d + ".tmp";
}

Err createMessageFile(Env& env, std::string_view tabFolder, int number, std::string_view data,
                      bool* reported, bool flush) {
    if (reported) *reported = false;
    const std::string name = messageFileName(number);
    if (name.empty()) return Err::Invalid;
    const std::string path = sjis::joinPath(tabFolder, name);
    if (env.fs.exists(path)) return Err::Exists;
    if (Err e = setAsideStaleAttachments(env, tabFolder, number); e != Err::None) return e;
    // A temporary file of a killed run under this number holds nothing anyone needs.
    const std::string tmp = sjis::joinPath(tabFolder, temporaryFileName(number));
    auto file = env.fs.open(tmp, platform::OpenMode::CreateTruncate);
    if (!file) return file.error();
    // The write routine reports a failed write; a failed flush or close is the same failure.
    Err e = writeData(env, **file, data);
    if (e == Err::None) {
        if (flush) e = (*file)->flush();
        if (e == Err::None) e = (*file)->close();
        if (e != Err::None) report::report(env, kWriteFailed);
    }
    if (e != Err::None) {
        file->reset();
        env.fs.remove(tmp);
        if (reported) *reported = true;
        return e;
    }
    file->reset();
    // Never over a message: a file that appeared meanwhile makes this one fail as "exists".
    if (Err r = env.fs.rename(tmp, path); r != Err::None) {
        env.fs.remove(tmp);
        if (r != Err::Exists) {
            report::report(env, kMoveFailed);
            if (reported) *reported = true;
        }
        return r;
    }
    return Err::None;
}

namespace {

// Refused when a number is out of range or the target file exists; attachments left at the
// target number are set aside first.
Err transferMessageFile(Env& env, std::string_view fromFolder, int number,
                        std::string_view toFolder, int newNumber, bool move) {
    const std::string from = messageFileName(number), to = messageFileName(newNumber);
    if (from.empty() || to.empty()) return Err::Invalid;
    const std::string target = sjis::joinPath(toFolder, to);
    if (env.fs.exists(target)) return Err::Exists;
    if (Err e = setAsideStaleAttachments(env, toFolder, newNumber); e != Err::None) return e;
    const std::string source = sjis::joinPath(fromFolder, from);
    return move ? moveFile(env, source, target) : copyFile(env, source, target);
}

}  // namespace

Err copyMessageFile(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber) {
    return transferMessageFile(env, fromFolder, number, toFolder, newNumber, false);
}

Err moveMessageFile(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber) {
    return transferMessageFile(env, fromFolder, number, toFolder, newNumber, true);
}

namespace {

// A message without attachments has nothing to take along; attachments left at the target number
// are set aside first.
Err transferAttachments(Env& env, std::string_view fromFolder, int number,
                        std::string_view toFolder, int newNumber, bool move) {
    const std::string from = attachmentFolder(fromFolder, number);
    const std::string to = attachmentFolder(toFolder, newNumber);
    if (from.empty() || to.empty()) return Err::Invalid;
    if (!env.fs.isDir(from)) return Err::None;
    if (Err e = setAsideStaleAttachments(env, toFolder, newNumber); e != Err::None) return e;
    if (move) {
        platform::makeDirs(env.fs, sjis::joinPath(toFolder, kAttachFolder));
        return moveFile(env, from, to);
    }
    if (Err e = platform::makeDirs(env.fs, to); e != Err::None) {
        report::report(env, kCopyFailed);
        return e;
    }
    auto entries = env.fs.list(from);
    if (!entries) return entries.error();
    for (const auto& entry : *entries) {
        if (entry.isDir) continue;
        if (Err e = copyFile(env, sjis::joinPath(from, entry.name), sjis::joinPath(to, entry.name));
            e != Err::None) {
            return e;
        }
    }
    return Err::None;
}

}  // namespace

Err moveAttachments(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber) {
    return transferAttachments(env, fromFolder, number, toFolder, newNumber, true);
}

Err copyAttachments(Env& env, std::string_view fromFolder, int number, std::string_view toFolder,
                    int newNumber) {
    return transferAttachments(env, fromFolder, number, toFolder, newNumber, false);
}

Err removeFolderFiles(Env& env, std::string_view folder) {
    auto entries = env.fs.list(folder);
    if (!entries) return entries.error();
    Err result = Err::None;
    for (const auto& entry : *entries) {
        if (entry.isDir) continue;
        if (Err e = env.fs.remove(sjis::joinPath(folder, entry.name)); e != Err::None) result = e;
    }
    if (Err e = env.fs.removeDir(folder); e != Err::None && result == Err::None) result = e;
    return result;
}

Err deleteMessage(Env& env, std::string_view tabFolder, int number) {
    const std::string name = messageFileName(number);
    if (name.empty()) return Err::Invalid;
    Err result = env.fs.remove(sjis::joinPath(tabFolder, name));
    if (result == Err::NotFound) result = Err::None;
    const std::string folder = attachmentFolder(tabFolder, number);
    if (env.fs.isDir(folder)) {
        if (Err e = removeFolderFiles(env, folder); e != Err::None && result == Err::None) {
            result = e;
        }
    }
    return result;
}

}  // namespace kolvy::store
