#include "store/attachments.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::store {

namespace {

using ascii::startsNoCase;

constexpr std::string_view kPartInfo = "X-PartInfo: ";

bool reservedDevice(std::string_view name) {
    const std::string_view base = name.substr(0, name.find('.'));
    static constexpr const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* d : kDevices) {
        if (sjis::equalsNoCaseAscii(base, d)) return true;
    }
    if (base.size() == 4 && (startsNoCase(base, "COM") || startsNoCase(base, "LPT")) &&
        base[3] >= '1' && base[3] <= '9') {
        return true;
    }
    return false;
}

// The header block of the part whose LF is at `offset`: its end (the blank line's first CR LF).
size_t partHeaderEnd(std::string_view text, size_t offset) {
    const size_t e = text.find("\r\n\r\n", offset);
    return e == std::string_view::npos ? text.size() : e;
}

std::string contentIdOf(std::string_view text, size_t offset) {
    const size_t end = partHeaderEnd(text, offset);
    for (size_t lf = offset; lf < end; lf = text.find('\n', lf + 1)) {
        if (lf == std::string_view::npos) break;
        const std::string_view line = text.substr(lf + 1, end - lf - 1);
        if (!startsNoCase(line, "Content-ID:")) continue;
        size_t i = std::strlen("Content-ID:");
        while (i < line.size() && (line[i] == ' ' || line[i] == '<'))
            ++i;
        size_t j = i;
        while (j < line.size() && line[j] != '>' && line[j] != '\r' && line[j] != '\n')
            ++j;
        return std::string(line.substr(i, j - i));
    }
    return {};
}

// The boundary of the multipart a part belongs to: the delimiter line whose LF is at `offset`,
// without its "--"; empty when that line is no delimiter.
std::string_view partBoundary(std::string_view text, size_t offset) {
    if (offset == 0 || offset >= text.size()) return {};
    const size_t ls = text.rfind('\n', offset - 1);
    const size_t start = ls == std::string_view::npos ? 0 : ls + 1;
    std::string_view line = text.substr(start, offset - start);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    if (line.size() < 3 || line.substr(0, 2) != "--") return {};
    return line.substr(2);
}

// Where the body that starts at `bodyStart` ends: before the line break of the next delimiter
// line of its own boundary, as the walk that stored it found it. npos when there is none.
size_t endAtBoundary(std::string_view text, size_t bodyStart, std::string_view boundary) {
    if (boundary.empty() || bodyStart == 0) return std::string_view::npos;
    std::string delimiter = "\n--";
    delimiter += boundary;
    const size_t lf = text.find(delimiter, bodyStart - 1);
    if (lf == std::string_view::npos) return lf;
    size_t end = lf;
    if (end > bodyStart && text[end - 1] == '\r') --end;
    return std::max(end, bodyStart);
}

// Backs over the boundary lines (and blank lines) that end at `p`.
size_t backOverBoundaries(std::string_view text, size_t p, size_t floor) {
    for (;;) {
        size_t q = p;
        while (q > floor && (text[q - 1] == '\r' || text[q - 1] == '\n'))
            --q;
        const size_t ls = text.rfind('\n', q == 0 ? 0 : q - 1);
        const size_t lineStart = ls == std::string_view::npos || ls < floor ? floor : ls + 1;
        const std::string_view line = text.substr(lineStart, q - lineStart);
        if (line.size() < 2 || line.substr(0, 2) != "--" || lineStart <= floor) return p;
        // A boundary line: the body ends before its line break.
        p = lineStart;
        if (p > floor && text[p - 1] == '\n') --p;
        if (p > floor && text[p - 1] == '\r') --p;
    }
}

}  // namespace

std::string sanitiseName(std::string_view name) {
    // The last path component, the separators found on character boundaries only.
    size_t start = 0;
    for (size_t i = 0; i < name.size(); i += sjis::charLen(name, i)) {
        const size_t n = sjis::charLen(name, i);
        if (n == 1 && (name[i] == '\\' || name[i] == '/' || name[i] == ':')) start = i + 1;
    }
    std::string out;
    for (size_t i = start; i < name.size();) {
        const size_t n = sjis::charLen(name, i);
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (n == 1 && (c < 0x20 || c == 0x7F || std::strchr("<>\"|?*", c))) {
            out += '_';
        } else {
            out.append(name.substr(i, n));
        }
        i += n;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    while (!out.empty() && out.front() == ' ')
        out.erase(out.begin());
    if (out.empty() || out == "." || out == "..") return "attachment";
    if (reservedDevice(out)) out.insert(out.begin(), '_');
    if (out.size() > kNameMax) {
        // Keep the extension.
        const size_t dot = out.rfind('.');
        const std::string ext =
            dot != std::string::npos && out.size() - dot <= 16 ? out.substr(dot) : "";
        out = std::string(sjis::truncate(out, kNameMax - ext.size())) + ext;
    }
    return out;
}

std::vector<AttachmentEntry> listAttachments(std::string_view text) {
    std::vector<AttachmentEntry> out;
    if (text.size() < kStatusLineSize) return out;
    const size_t headerEnd = partHeaderEnd(text, kStatusLineSize - 1);
    size_t last = 0;
    int n = 0;
    for (size_t lf = kStatusLineSize - 1; lf < headerEnd; lf = text.find('\n', lf + 1)) {
        if (lf == std::string_view::npos) break;
        if (!mime::isPartInfoLine(text, lf + 1)) continue;
        const size_t eol = std::min(text.find('\r', lf + 1), headerEnd);
        const std::string_view line = text.substr(lf + 1, eol - lf - 1);
        const int index = n++;
        if (line.size() <= kPartInfo.size()) continue;
        const std::string_view rest = line.substr(kPartInfo.size());
        const size_t semi = rest.find(';');
        const size_t lastSemi = rest.rfind("; ");
        if (semi == std::string_view::npos || lastSemi == std::string_view::npos) continue;
        const std::string_view type = rest.substr(0, semi);
        const std::string_view digits = rest.substr(lastSemi + 2);
        size_t offset = 0;
        bool ok = !digits.empty() && digits.size() < 12;
        for (char c : digits) {
            if (c < '0' || c > '9') ok = false;
            offset = offset * 10 + static_cast<size_t>(c - '0');
        }
        // The offset must name the start of a line inside the body, after the ones before.
        if (!ok || offset < 2 || offset >= text.size() || text[offset - 1] != '\n' ||
            offset <= headerEnd || offset - 1 <= last) {
            continue;
        }
        AttachmentEntry e;
        e.offset = offset - 1;
        const std::string_view after = rest.substr(semi + 1);
        const size_t nameAt = after.find("name=");
        if (nameAt == 1 && lastSemi > semi + 1 + nameAt + 5) {
            const std::string_view name =
                rest.substr(semi + 1 + nameAt + 5, lastSemi - (semi + 1 + nameAt + 5));
            e.name = sanitiseName(name);
            const size_t dot = e.name.rfind('.');
            e.html = dot != std::string::npos &&
                     sjis::findNoCase(std::string_view(e.name).substr(dot), "htm") !=
                         std::string_view::npos;
        } else if (sjis::equalsNoCaseAscii(type, "text/html")) {
            e.name = "tmp.html";
            e.html = true;
        } else if (sjis::equalsNoCaseAscii(type, "message/rfc822")) {
            e.name = "message.eml";
        } else if (index != 0) {
            std::string t(type);
            std::replace(t.begin(), t.end(), '/', '_');
            e.name = sanitiseName(t + ".txt");
        } else {
            continue;  // the main text
        }
        // Inline images may be unnamed; their Content-ID still ties them to the HTML part.
        e.contentId = contentIdOf(text, e.offset);
        last = e.offset;
        out.push_back(std::move(e));
    }
    return out;
}

std::string partBytes(std::string_view text, const std::vector<AttachmentEntry>& entries, size_t k,
                      std::span<const std::string> names) {
    const AttachmentEntry& e = entries[k];
    const size_t headerEnd = partHeaderEnd(text, e.offset);
    size_t bodyStart = std::min(headerEnd + 4, text.size());
    // The delimiter the part was stored with ends it: lines of its own that merely start with
    // "--" (a signature's armour, a certificate's END line) stay in it.
    size_t end = endAtBoundary(text, bodyStart, partBoundary(text, e.offset));
    if (end == std::string_view::npos) {
        // No delimiter of its own to go by: up to the next part, less the boundary lines.
        end = k + 1 < entries.size() ? entries[k + 1].offset : text.size();
        // The terminator the stored file ends with.
        if (k + 1 >= entries.size() && end >= 3 && text.substr(end - 3) == ".\r\n" &&
            (end == 3 || text[end - 4] == '\n'))
            end -= 3;
        end = std::max(bodyStart, backOverBoundaries(text, end, bodyStart));
    }
    const std::string_view body = text.substr(bodyStart, end - bodyStart);

    HeaderInfo h{};
    mime::readStoredHeader(text.substr(e.offset, headerEnd - e.offset + 2), h);
    const std::string_view te =
        h.transferEncodingStart
            ? std::string_view(h.transferEncodingStart,
                               static_cast<size_t>(h.transferEncodingEnd - h.transferEncodingStart))
            : std::string_view();
    const bool named = h.nameStart != nullptr;
    const std::string_view type =
        h.contentTypeStart
            ? std::string_view(h.contentTypeStart,
                               static_cast<size_t>(h.contentTypeEnd - h.contentTypeStart))
            : std::string_view();
    // Text parts without a name were decoded when the message was stored.
    const bool storedDecoded = !named && startsNoCase(type, "text/");
    std::string bytes;
    if (!storedDecoded && !te.empty() && (te[0] == 'b' || te[0] == 'B')) {
        bytes = mime::decodeBase64(body);
    } else if (!storedDecoded && !te.empty() && (te[0] == 'q' || te[0] == 'Q')) {
        bytes = mime::decodeQuotedPrintable(body);
    } else {
        bytes.assign(body);
    }
    if (e.html) bytes = rewriteInlineReferences(bytes, entries, names);
    return bytes;
}

std::string rewriteInlineReferences(std::string_view html,
                                    const std::vector<AttachmentEntry>& entries,
                                    std::span<const std::string> names) {
    std::string out;
    out.reserve(html.size());
    bool inTag = false;
    size_t i = 0;
    while (i < html.size()) {
        const char c = html[i];
        if (c == '<') inTag = true;
        if (c == '>') inTag = false;
        if (!inTag || !startsNoCase(html.substr(i), "cid:")) {
            out += c;
            ++i;
            continue;
        }
        // The whole id up to the end of the attribute value.
        size_t j = i + 4;
        while (j < html.size() && !std::strchr("\"' \t\r\n<>)", html[j]))
            ++j;
        const std::string_view id = html.substr(i + 4, j - i - 4);
        size_t hit = entries.size();
        for (size_t k = 0; k < entries.size() && !id.empty(); ++k) {
            if (entries[k].contentId == id) {
                hit = k;
                break;
            }
        }
        if (hit < entries.size()) {
            out += hit < names.size() ? names[hit] : entries[hit].name;
        } else {
            out.append(id);  // no such part: the reference loses only its "cid:"
        }
        i = j;
    }
    return out;
}

namespace {

// A name's extension ("." and at most 15 more bytes), or empty.
size_t extensionAt(std::string_view name) {
    const size_t dot = name.rfind('.');
    return dot != std::string_view::npos && dot > 0 && name.size() - dot <= 16 ? dot : name.size();
}

// `stem` + `suffix` + `ext`, the stem shortened on character boundaries until the whole name
// fits `room` bytes of the path and the file system's limit on one name. Empty when even an
// empty stem does not fit.
std::string fitName(std::string_view stem, std::string_view suffix, std::string_view ext,
                    size_t room) {
    for (size_t keep = stem.size();;) {
        std::string name(sjis::truncate(stem, keep));
        name += suffix;
        name += ext;
        const size_t used = sjis::truncate(stem, keep).size();
        if (name.size() <= room && platform::fileNameUnits(name) <= platform::kFileNameUnitsMax &&
            (used > 0 || stem.empty())) {
            return name;
        }
        if (used == 0) return {};
        keep = used - 1;
    }
}

bool takenIn(const std::vector<std::string>& used, std::string_view name) {
    for (const std::string& u : used) {
        if (sjis::equalsNoCase(u, name)) return true;
    }
    return false;
}

// The name entry `base` is saved under: free among the names of this extraction and, unless
// files are replaced, among the files of the folder ("name (2).ext", "name (3).ext", ...).
std::string freeName(Env& env, std::string_view dest, std::string_view base,
                     const std::vector<std::string>& used, bool replaceExisting) {
    const size_t room = kPathLimit > dest.size() + 1 ? kPathLimit - dest.size() - 1 : 0;
    const size_t dot = extensionAt(base);
    const std::string_view stem = base.substr(0, dot), ext = base.substr(dot);
    constexpr int kMaxTries = 10000;
    for (int n = 1; n < kMaxTries; ++n) {
        const std::string suffix = n == 1 ? std::string() : " (" + std::to_string(n) + ")";
        std::string name = fitName(stem, suffix, ext, room);
        if (name.empty()) name = fitName(base, suffix, {}, room);  // a very long extension
        if (name.empty()) return {};
        if (takenIn(used, name)) continue;
        if (!replaceExisting && env.fs.exists(sjis::joinPath(dest, name))) continue;
        return name;
    }
    return {};
}

// Writes a new file; Err::Exists leaves an existing one untouched.
Err writeNewFile(Env& env, const std::string& path, std::string_view bytes) {
    auto f = env.fs.open(path, platform::OpenMode::CreateNew);
    if (!f) return f.error();
    Err e = (*f)->write(bytes);
    if (e == Err::None) e = (*f)->flush();
    const Err closed = (*f)->close();
    if (e == Err::None) e = closed;
    if (e != Err::None) env.fs.remove(path);  // no half file under the name
    return e;
}

}  // namespace

Err extractAttachments(Env& env, std::string_view text, std::string_view dest,
                       std::span<const int> parts, std::vector<std::string>* saved) {
    if (text.size() < kStatusLineSize || text[0] != '\f') {
        report::report(env, kNothingToExtract);
        return Err::Invalid;
    }
    if (text[30] == 'a') {
        report::report(env, kNothingToExtract);
        return Err::NotFound;
    }
    if (text[5] == '1') {
        report::report(env, kAttachmentsLost, platform::Icon::Information);
        return Err::NotFound;
    }
    const std::vector<AttachmentEntry> entries = listAttachments(text);
    if (Err e = platform::makeDirs(env.fs, dest); e != Err::None) {
        report::report(env, kWriteFailed);
        return e;
    }
    std::vector<int> chosen(parts.begin(), parts.end());
    if (chosen.empty()) {
        for (size_t k = 0; k < entries.size(); ++k)
            chosen.push_back(static_cast<int>(k));
    }
    // The program's scratch folder is replaced into; a folder the user chose never is.
    const bool replaceExisting = sjis::equalsNoCase(dest, env.path(kTmpFolder));
    // Names first, so that the HTML part can point at the names its images are saved under.
    std::vector<std::string> names;
    for (const AttachmentEntry& e : entries)
        names.push_back(e.name);
    std::vector<std::string> used;
    std::vector<size_t> plan;
    bool missing = false;
    for (int k : chosen) {
        if (k < 0 || static_cast<size_t>(k) >= entries.size()) {
            missing = true;
            break;
        }
        const auto at = static_cast<size_t>(k);
        names[at] = freeName(env, dest, entries[at].name, used, replaceExisting);
        used.push_back(names[at]);
        plan.push_back(at);
    }
    Err result = Err::None;
    for (size_t at : plan) {
        Err e = names[at].empty() ? Err::Invalid : Err::None;
        std::string path;
        const std::string bytes = partBytes(text, entries, at, names);
        for (int tries = 0; e == Err::None && tries < 100; ++tries) {
            path = sjis::joinPath(dest, names[at]);
            e = replaceExisting ? platform::writeWholeFile(env.fs, path, bytes)
                                : writeNewFile(env, path, bytes);
            if (e != Err::Exists) break;
            // Someone made a file of that name since: the next free one.
            used.push_back(names[at]);
            names[at] = freeName(env, dest, entries[at].name, used, false);
            e = names[at].empty() ? Err::Invalid : Err::None;
        }
        if (e != Err::None) {
            // One part that cannot be written does not keep the others from being saved.
            if (result == Err::None) report::report(env, kWriteFailed);
            result = e;
            continue;
        }
        if (saved) saved->push_back(path);
    }
    if (missing) {
        report::report(env, kNoSuchPart, platform::Icon::Information);
        return Err::NotFound;
    }
    return result;
}

}  // namespace kolvy::store
