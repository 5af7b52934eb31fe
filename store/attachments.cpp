#include "store/attachments.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/sjis.h"
#include "mime/decode.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "shell/report.h"
#include "store/message_file.h"

namespace kolvy::store {

namespace {

constexpr std::string_view kPartInfo = "X-PartInfo: ";

bool startsNoCase(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && sjis::equalsNoCaseAscii(s.substr(0, p.size()), p);
}

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
            e.contentId = contentIdOf(text, e.offset);
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
        last = e.offset;
        out.push_back(std::move(e));
    }
    return out;
}

std::string partBytes(std::string_view text, const std::vector<AttachmentEntry>& entries,
                      size_t k) {
    const AttachmentEntry& e = entries[k];
    const size_t headerEnd = partHeaderEnd(text, e.offset);
    size_t bodyStart = std::min(headerEnd + 4, text.size());
    size_t end;
    if (k + 1 < entries.size()) {
        end = entries[k + 1].offset;
    } else {
        end = text.size();
        // The terminator the stored file ends with.
        if (end >= 3 && text.substr(end - 3) == ".\r\n" && (end == 3 || text[end - 4] == '\n'))
            end -= 3;
    }
    end = std::max(bodyStart, backOverBoundaries(text, end, bodyStart));
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
    if (e.html) {
        // Inline images by their saved names; the text grows as it needs to.
        for (const AttachmentEntry& other : entries) {
            if (other.contentId.empty()) continue;
            const std::string ref = "cid:" + other.contentId;
            for (size_t p = bytes.find(ref); p != std::string::npos;
                 p = bytes.find(ref, p + other.name.size())) {
                bytes.replace(p, ref.size(), other.name);
            }
        }
    }
    return bytes;
}

Err extractAttachments(Env& env, std::string_view text, std::string_view dest,
                       std::span<const int> parts, std::vector<std::string>* saved) {
    if (text.size() < kStatusLineSize || text[0] != '\f') {
        shell::report(env, kNothingToExtract);
        return Err::Invalid;
    }
    if (text[30] == 'a') {
        shell::report(env, kNothingToExtract);
        return Err::NotFound;
    }
    if (text[5] == '1') {
        shell::report(env, kAttachmentsLost, platform::Icon::Information);
        return Err::NotFound;
    }
    const std::vector<AttachmentEntry> entries = listAttachments(text);
    if (Err e = platform::makeDirs(env.fs, dest); e != Err::None) {
        shell::report(env, kWriteFailed);
        return e;
    }
    std::vector<int> chosen(parts.begin(), parts.end());
    if (chosen.empty()) {
        for (size_t k = 0; k < entries.size(); ++k)
            chosen.push_back(static_cast<int>(k));
    }
    for (int k : chosen) {
        if (k < 0 || static_cast<size_t>(k) >= entries.size()) {
            shell::report(env, kNoSuchPart, platform::Icon::Information);
            return Err::NotFound;
        }
        std::string name = entries[static_cast<size_t>(k)].name;
        // The whole path within the limit: the name is shortened, its extension kept.
        if (dest.size() + 1 + name.size() > kPathLimit) {
            const size_t room = kPathLimit > dest.size() + 1 ? kPathLimit - dest.size() - 1 : 0;
            if (room < 8) {
                shell::report(env, kWriteFailed);
                return Err::Invalid;
            }
            const size_t dot = name.rfind('.');
            const std::string ext = dot != std::string::npos && name.size() - dot < room / 2
                                        ? name.substr(dot)
                                        : std::string();
            std::string shortened(sjis::truncate(name, room - ext.size()));
            shortened += ext;
            name = std::move(shortened);
        }
        const std::string path = sjis::joinPath(dest, name);
        const std::string bytes = partBytes(text, entries, static_cast<size_t>(k));
        if (Err e = platform::writeWholeFile(env.fs, path, bytes); e != Err::None) {
            shell::report(env, kWriteFailed);
            return e;
        }
        if (saved) saved->push_back(path);
    }
    return Err::None;
}

}  // namespace kolvy::store
