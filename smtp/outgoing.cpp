#include "smtp/outgoing.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>
#include <random>

#include "core/sjis.h"
#include "platform/fileutil.h"
#include "smtp/encode.h"
#include "smtp/header_fields.h"

namespace kolvy::smtp {

namespace {

struct MimeType {
    const char* ext;
    const char* type;
};
// Compared exactly with the text after the first "." of the file name.
constexpr MimeType kMimeTypes[] = {
    {"hqx", "application/mac-binhex40"},
    {"eps", "application/postscript"},
    {"ps", "application/postscript"},
    {"ai", "application/postscript"},
    {"rtf", "application/rtf"},
    {"sit", "application/x-stuffit"},
    {"uue", "application/x-uuencode"},
    {"uu", "application/x-uuencode"},
    {"zip", "application/x-zip-compressed"},
    {"au", "audio/basic"},
    {"snd", "audio/basic"},
    {"aiff", "audio/x-aiff"},
    {"aif", "audio/x-aiff"},
    {"ra", "audio/x-pn-realaudio"},
    {"ram", "audio/x-pn-realaudio"},
    {"wav", "audio/x-wav"},
    {"gif", "image/gif"},
    {"jpg", "image/jpeg"},
    {"jpeg", "image/jpeg"},
    {"png", "image/png"},
    {"tiff", "image/tiff"},
    {"tif", "image/tiff"},
    {"eml", "message/rfc822"},
    {"html", "text/html"},
    {"htm", "text/html"},
    {"txt", "text/plain; charset=shift_jis"},
    {"vcf", "text/x-vcard"},
    {"mpg", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"qt", "video/quicktime"},
    {"mov", "video/quicktime"},
    {"avi", "video/x-msvideo"},
};
static_assert(std::size(kMimeTypes) == 32);
constexpr char kOctetStream[] = "application/octet-stream";

// Largest draft plus attachments held in memory at once: with the wire text (4/3 of it) this
// stays well inside a 32-bit process, and far beyond what mail servers accept.
constexpr uint64_t kMessageMax = 200ull << 20;

}  // namespace

std::string_view attachmentWireType(std::string_view fileName) {
    const size_t dot = fileName.find('.');
    if (dot == std::string_view::npos) return kOctetStream;
    const std::string_view ext = fileName.substr(dot + 1);
    for (const MimeType& m : kMimeTypes)
        if (ext == m.ext) return m.type;
    return kOctetStream;
}

std::string_view attachmentStoredType(std::string_view fileName) {
    const std::string_view t = attachmentWireType(fileName);
    return t.substr(0, t.find(';'));
}

uint32_t nextMessageSequence() {
    // Seeded once per process so that two processes started within one second differ too.
    static std::atomic<uint32_t> next{static_cast<uint32_t>(std::random_device{}() % 100000)};
    return next.fetch_add(1) % 1000000;
}

namespace {

// The draft with its line ends made CR LF (a bare CR or LF would end DATA lines unevenly) and cut
// at a NUL, as the file routines read text.
std::string normaliseLineEnds(std::string_view draft) {
    draft = draft.substr(0, draft.find('\0'));
    std::string out;
    out.reserve(draft.size() + draft.size() / 32 + 2);
    for (size_t i = 0; i < draft.size(); ++i) {
        const char c = draft[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < draft.size() && draft[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

struct Attachment {
    std::string name;
    std::string bytes;
};

Result<std::vector<std::string>> attachmentNames(platform::FileSystem& fs,
                                                 std::string_view folder) {
    auto entries = fs.list(folder);
    if (!entries) return entries.error();
    std::vector<std::string> names;
    for (const platform::DirEntry& e : *entries) {
        // Files only: folders, "." and ".." and hidden names are not attachments.
        if (e.isDir || e.name.empty() || e.name[0] == '.') continue;
        names.push_back(e.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string messageIdValue(const ComposeInput& in) {
    char head[48];
    std::snprintf(head, sizeof head, "<KV%lld%d.%u.", static_cast<long long>(in.sendTime),
                  in.sendCounter, nextMessageSequence());
    return std::string(head) + std::string(in.mailAddress) + ">";
}

std::string boundaryOf(int64_t sendTime) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(sendTime));
    return std::string(hex) + "XXXXXXXXXXXXXXXXXBOUNDARY";
}

// "name" as it stands in Content-Type and Content-Disposition: one encoded word for a name with
// Japanese (folded when long), else the name itself.
std::string wireName(std::string_view name) {
    return sjis::isAscii(name) ? std::string(name) : encodeWords(name, "\r\n ");
}

void appendAttachmentPart(std::string& wire, const std::string& boundary, const Attachment& a) {
    const std::string name = wireName(a.name);
    wire += "\r\n--" + boundary + "\r\n";
    wire += "Content-Type: ";
    wire += attachmentWireType(a.name);
    wire += ";\r\n name=\"" + name + "\"\r\n";
    wire += "Content-Disposition: attachment;\r\n filename=\"" + name + "\"\r\n";
    wire += "Content-Transfer-Encoding: BASE64\r\n\r\n";
    appendBase64(wire, a.bytes, true);
    wire += "\r\n";
}

void appendBody(ComposedMessage& m, std::string_view sjisBody) {
    m.bodyStart = m.wire.size();
    appendJis(m.wire, sjisBody);
    m.bodyEnd = m.wire.size();
    m.wire += "\r\n";
}

}  // namespace

namespace {

// Reads every attachment whole; on failure fills in why and returns false.
bool readAttachments(platform::FileSystem& fs, std::string_view folder, uint64_t draftBytes,
                     std::vector<Attachment>& out, ComposeResult& r) {
    auto names = attachmentNames(fs, folder);
    if (!names) {
        r.failure = ComposeFailure::AttachmentUnreadable;
        r.err = names.error();
        r.failedPath = std::string(folder);
        return false;
    }
    uint64_t total = draftBytes;
    for (const std::string& name : *names) {
        const std::string path = sjis::joinPath(folder, name);
        auto bytes = platform::readWholeFile(fs, path, kMessageMax);
        if (bytes) total += bytes->size();
        if (!bytes || total > kMessageMax) {
            const bool tooLarge = bytes ? true : bytes.error() == Err::Invalid;
            r.failure = tooLarge ? ComposeFailure::TooLarge : ComposeFailure::AttachmentUnreadable;
            r.err = bytes ? Err::NoMemory : bytes.error();
            r.failedPath = path;
            return false;
        }
        out.push_back({name, bytes.take()});
    }
    return true;
}

// The multipart body: the text part, then each attachment, whose bytes are let go once encoded.
void appendMultipart(ComposedMessage& m, std::string_view sjisBody,
                     std::vector<Attachment>& attachments, int64_t sendTime) {
    const std::string boundary = boundaryOf(sendTime);
    m.wire += "MIME-Version: 1.0\r\n";
    m.wire += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n";
    if (!m.resent) m.wire += std::string("X-Mailer: ") + kMailerName + "\r\n";
    m.wire += "\r\n--" + boundary + "\r\n";
    m.wire += "Content-Type: text/plain; charset=ISO-2022-JP\r\n";
    m.wire += "Content-Transfer-Encoding: 7bit\r\n";
    m.wire += "Content-Description: Mail message body\r\n\r\n";
    appendBody(m, sjisBody);
    for (Attachment& a : attachments) {
        appendAttachmentPart(m.wire, boundary, a);
        m.attachments.push_back({a.name, std::string(attachmentStoredType(a.name))});
        std::string().swap(a.bytes);
    }
    m.wire += "\r\n--" + boundary + "--\r\n";
}

}  // namespace

ComposeResult composeMessage(platform::FileSystem& fs, const ComposeInput& in) {
    ComposeResult r;
    const std::string draft = normaliseLineEnds(in.draft);
    if (draft.empty()) {
        r.failure = ComposeFailure::DraftEmpty;
        return r;
    }
    // Attachments first: an unreadable one fails the message before anything is built.
    std::vector<Attachment> attachments;
    if (!in.attachmentFolder.empty() &&
        !readAttachments(fs, in.attachmentFolder, draft.size(), attachments, r))
        return r;

    ComposedMessage& m = r.message;
    const DraftParts parts = splitDraft(draft);
    const std::string idValue = messageIdValue(in);
    HeaderOptions opt;
    opt.messageIdValue = idValue;
    opt.multipart = !attachments.empty();
    HeaderOutput h = rewriteHeader(parts.header, opt);
    m.recipients = std::move(h.recipients);
    m.resent = h.resent;
    m.messageIdLine = std::move(h.messageIdLine);
    m.sjisBody = std::string(parts.body);

    // Sized once: the header, the body's worst case, every attachment's Base64 and part lines.
    size_t reserve = h.text.size() + sjisToJisMax(parts.body.size()) + 1024;
    for (const Attachment& a : attachments)
        reserve += base64LinesLength(a.bytes.size(), true) + 16 * a.name.size() + 512;
    try {
        m.wire.reserve(reserve);
    } catch (const std::bad_alloc&) {
        r.failure = ComposeFailure::TooLarge;
        r.err = Err::NoMemory;
        return r;
    }
    m.wire += h.text;
    if (attachments.empty()) {
        m.wire += "\r\n";
        appendBody(m, parts.body);
    } else {
        appendMultipart(m, parts.body, attachments, in.sendTime);
    }
    return r;
}

ComposeResult composeDraftFile(platform::FileSystem& fs, std::string_view draftPath,
                               ComposeInput in) {
    auto text = platform::readWholeFile(fs, draftPath, kMessageMax);
    if (!text) {
        ComposeResult r;
        r.failure = text.error() == Err::Invalid ? ComposeFailure::TooLarge
                                                 : ComposeFailure::DraftUnreadable;
        r.err = text.error();
        r.failedPath = std::string(draftPath);
        return r;
    }
    in.draft = *text;
    ComposeResult r = composeMessage(fs, in);
    if (r.failure == ComposeFailure::DraftEmpty) r.failedPath = std::string(draftPath);
    return r;
}

}  // namespace kolvy::smtp
