#include "store/rebuild.h"

#include <algorithm>
#include <map>
#include <vector>

#include "core/mail_state.h"
#include "core/sjis.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"

namespace kolvy::store {

namespace {

constexpr char kTmpIndex[] = "Tmp.bin";
// The status line's digits.
constexpr size_t kDirectionAt = 5, kStateAt = 7, kMarkAt = 9, kColourAt = 11, kStampAt = 16;
constexpr size_t kStampLength = 10;
constexpr size_t kValueAt = 30;

std::string_view view(const char* s, const char* e) {
    return s && e > s ? std::string_view(s, static_cast<size_t>(e - s)) : std::string_view();
}

std::string replaceFirst(std::string_view pattern, std::string_view value) {
    std::string out(pattern);
    const size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, value);
    return out;
}

// The file number of a message file name "NNNN.txt" (any case of the extension); -1 otherwise.
int numberOfName(std::string_view name) {
    if (name.size() != 8 || !sjis::equalsNoCaseAscii(name.substr(4), ".txt")) return -1;
    int n = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

const Account* accountByAddress(const Account* accounts, std::string_view address) {
    if (address.empty()) return nullptr;
    for (const Account* a = accounts; a; a = a->next) {
        if (sjis::fieldView(a->mailAddress) == address) return a;
    }
    return nullptr;
}

size_t countFiles(Env& env, const std::string& folder) {
    if (!env.fs.isDir(folder)) return 0;
    auto list = env.fs.list(folder);
    if (!list) return 0;
    return static_cast<size_t>(
        std::count_if(list->begin(), list->end(), [](const auto& e) { return !e.isDir; }));
}

}  // namespace

std::optional<IndexRecord> recordFromFile(std::string_view text, int number, uint64_t fileSize,
                                          size_t attachmentFiles, const Account* accounts) {
    if (text.size() <= kStampAt + kStampLength || text[0] != '\f' || text[15] != '=') {
        return std::nullopt;
    }
    auto digit = [&](size_t at) { return hexDigitValue(text[at]).value_or(0); };
    const int direction = text[kDirectionAt] == '1' ? 1 : 0;
    IndexRecord r;
    r.fileNo = static_cast<uint16_t>(number);
    r.state = static_cast<uint8_t>(16 * direction + (digit(kStateAt) & 0x0F));
    r.markColour = static_cast<uint8_t>(16 * (digit(kMarkAt) & 0x09) + digit(kColourAt));
    r.storedTime = stampToSeconds(text.substr(kStampAt, kStampLength));
    r.size = fileSize > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(fileSize);

    const size_t lf = text.find('\n', kValueAt);
    HeaderInfo h{};
    if (lf != std::string_view::npos) mime::readStoredHeader(text.substr(lf), h);
    r.dateTime = h.date;
    const bool outgoing = direction == 1;
    if (outgoing) {
        r.attachments = static_cast<uint8_t>(std::min<size_t>(attachmentFiles, 255));
    } else {
        r.attachments = static_cast<uint8_t>(std::clamp(h.partCount - 1, 0, 255));
    }
    // For an outgoing message the recipient is the other party and the sender the own address.
    const std::string_view otherName =
        outgoing ? view(h.toNameStart, h.toNameEnd) : view(h.fromNameStart, h.fromNameEnd);
    const std::string_view otherAddress = outgoing ? view(h.toAddressStart, h.toAddressEnd)
                                                   : view(h.fromAddressStart, h.fromAddressEnd);
    const std::string_view own = outgoing ? view(h.fromAddressStart, h.fromAddressEnd)
                                          : view(h.toAddressStart, h.toAddressEnd);
    const Account* a = accountByAddress(accounts, own);
    if (!a && !outgoing) a = accountByAddress(accounts, view(h.deliveredToStart, h.deliveredToEnd));
    if (a && a->number >= 0 && a->number < mail::kUnmatchedAccount) {
        r.account = static_cast<uint8_t>(a->number);
    } else {
        r.account = mail::kUnmatchedAccount;
        r.texts[4] = own;
    }
    r.texts[0] = otherName;
    r.texts[1] = otherAddress;
    r.texts[2] = sjis::fieldView(h.subject);
    r.texts[3] = view(h.mailerStart, h.mailerEnd);
    return r;
}

std::optional<IndexRecord> recordOfOpenFile(Env& env, platform::File& file, uint64_t fileSize,
                                            std::string_view folder, int number,
                                            const Account* accounts) {
    std::string head(static_cast<size_t>(std::min<uint64_t>(fileSize, kHeaderReadFirst)), '\0');
    auto got = file.readAt(0, head);
    if (!got) return std::nullopt;
    head.resize(*got);
    // Read on until the header block ends (or the cap).
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < fileSize &&
           head.size() < kHeaderReadMax) {
        std::string more(std::min<size_t>(head.size(), kHeaderReadMax - head.size()), '\0');
        auto m = file.readAt(head.size(), more);
        if (!m || *m == 0) break;
        head.append(more, 0, *m);
    }
    const size_t attachmentFiles = head.size() > kDirectionAt && head[kDirectionAt] == '1'
                                       ? countFiles(env, attachmentFolder(folder, number))
                                       : 0;
    return recordFromFile(head, number, fileSize, attachmentFiles, accounts);
}

std::optional<IndexRecord> recordOfMessageFile(Env& env, std::string_view folder, int number,
                                               const Account* accounts) {
    const std::string name = messageFileName(number);
    if (name.empty()) return std::nullopt;
    auto file = env.fs.open(sjis::joinPath(folder, name), platform::OpenMode::Read);
    if (!file) return std::nullopt;
    auto size = (*file)->size();
    if (!size || *size == 0) return std::nullopt;
    return recordOfOpenFile(env, **file, *size, folder, number, accounts);
}

namespace {

// What the rebuild says before it starts; false when the user declined.
bool announceRebuild(Env& env, const Tab& tab, RebuildMode mode) {
    const std::string name = tabName(tab);
    switch (mode) {
        case RebuildMode::Damaged:
            report::report(env,
                           replaceFirst(replaceFirst(kRebuildTabMessage, name), kRebuildDamaged));
            break;
        case RebuildMode::Command:
            return report::ask(env, kRebuildAsk, platform::Icon::Information) ==
                   platform::Answer::Ok;
        case RebuildMode::Counters:
            report::report(env,
                           replaceFirst(replaceFirst(kRebuildTabMessage, name), kRebuildCounters));
            break;
        case RebuildMode::Silent:
        case RebuildMode::Renumbered:
            break;
    }
    return true;
}

// The new index and what it counts, made from the message files of a folder.
struct Scan {
    std::string image = newIndexHeader();
    int taken = 0, last = -1, highest = -1, unread = 0, waiting = 0, drafts = 0;
    bool sawReceived = false, sawOutgoing = false;

    void add(IndexRecord& record) {
        ++taken;
        const int a = record.state >> 4, b = record.state & 0x0F;
        if (a == 0) {
            sawReceived = true;
            if (b < 3) ++unread;
        } else {
            sawOutgoing = true;
            if (b < 2) {
                ++waiting;
            } else if (b < 4) {
                ++drafts;
            }
        }
        record.offset = static_cast<uint32_t>(image.size());
        image += encodeRecord(record);
    }
};

// One NNNN.txt of the folder: an empty one is deleted, a message is added to the scan.
void scanFile(Env& env, const std::string& folder, int number, uint64_t listedSize,
              const Account* accounts, Scan& scan) {
    const std::string path = sjis::joinPath(folder, messageFileName(number));
    auto file = env.fs.open(path, platform::OpenMode::Read);
    if (!file) {
        scan.highest = std::max(scan.highest, number);
        return;
    }
    auto size = (*file)->size();
    const uint64_t fileSize = size ? *size : listedSize;
    if (fileSize == 0) {
        file->reset();
        report::report(env, replaceFirst(kEmptyFileDeleted, messageFileName(number)));
        if (env.fs.remove(path) != Err::None) scan.highest = std::max(scan.highest, number);
        return;
    }
    // Whatever stays under this name, message or not, keeps its number taken.
    scan.highest = std::max(scan.highest, number);
    auto record = recordOfOpenFile(env, **file, fileSize, folder, number, accounts);
    file->reset();
    if (!record) return;  // not a message file: left alone
    scan.last = number;
    scan.add(*record);
}

// The tab's counters and next number from the scan; a tab whose mail is of the other direction
// (or of both) changes its kind, except a basic tab.
void settleTab(Env& env, Tab& tab, const Scan& scan) {
    tab.nextFileNo = std::max(scan.last < 0 ? 1 : scan.last + 1, scan.highest + 1);
    tab.allMailCount = scan.taken;
    tab.noReadMailCount = scan.unread;
    tab.waitMailCount = scan.waiting;
    tab.editMailCount = scan.drafts;
    tab.newMailCount = 0;
    int kind = tab.kind;
    if (scan.sawReceived && scan.sawOutgoing) {
        kind = kTrashTab;
    } else if (scan.sawReceived && tab.kind == kSendTab) {
        kind = kReceiveTab;
    } else if (scan.sawOutgoing && tab.kind == kReceiveTab) {
        kind = kSendTab;
    }
    if (tab.external) {
        if (scan.sawReceived || scan.sawOutgoing) tab.kind = kind;
    } else if (!tab.basic && kind != tab.kind) {
        tab.kind = kind;
        platform::writeInt(env.ini, std::to_string(tab.id), "Propaty", kind);
    }
    writeNextFileNo(env, tab);
    writeCounters(env, tab);
}

}  // namespace

RebuildResult rebuildIndex(Env& env, Tab& tab, RebuildMode mode, const Account* accounts) {
    RebuildResult result;
    if (!announceRebuild(env, tab, mode)) return result;
    const std::string folder = tabFolder(env, tab);
    auto list = env.fs.list(folder);
    if (!list) return result;

    // Message file names in number order; the highest number of any NNNN.txt, message or not,
    // bounds the next file number so that no new message lands on it.
    std::map<int, uint64_t> files;
    for (const platform::DirEntry& e : *list) {
        if (e.isDir) continue;
        const int n = numberOfName(e.name);
        if (n >= 0) files[n] = e.size;
    }
    Scan scan;
    for (const auto& [number, listedSize] : files)
        scanFile(env, folder, number, listedSize, accounts, scan);
    result.taken = scan.taken;

    const std::string index = sjis::joinPath(folder, kIndexFileName);
    if (platform::replaceFileContents(env.fs, index, sjis::joinPath(folder, kTmpIndex),
                                      scan.image) != Err::None) {
        report::report(env, kIndexWriteFailed);
        return result;
    }
    result.written = true;
    settleTab(env, tab, scan);
    return result;
}

Err renumberTab(Env& env, Tab& tab, const IndexOptions& options, const Account* accounts,
                bool ask) {
    if (ask &&
        report::ask(env, kRenumberAsk, platform::Icon::Information) != platform::Answer::Ok) {
        return Err::Cancelled;
    }
    if (Err e = readWholeIndex(env, tab, options); e != Err::None) return e;
    const std::string folder = tabFolder(env, tab);
    int k = 0;
    for (MailItem* item = tab.items.next; item && item != &tab.items; item = item->next, ++k) {
        const int n = itemNumber(*item);
        if (n < 0 || n == k) continue;
        const std::string from = sjis::joinPath(folder, messageFileName(n));
        const std::string to = sjis::joinPath(folder, messageFileName(k));
        if (env.fs.rename(from, to) != Err::None) continue;
        // The attachments follow only a message that moved: otherwise they would belong to
        // whichever message keeps the old number.
        const std::string attachFrom = attachmentFolder(folder, n);
        if (env.fs.isDir(attachFrom)) env.fs.rename(attachFrom, attachmentFolder(folder, k));
    }
    freeItems(tab);
    tab.loadState = kNotRead;
    if (!rebuildIndex(env, tab, RebuildMode::Renumbered, accounts).written) return Err::Io;
    return readIndex(env, tab, options);
}

}  // namespace kolvy::store
