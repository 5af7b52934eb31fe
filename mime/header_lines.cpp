#include "mime/header_lines.h"

#include <algorithm>

#include "core/ascii.h"
#include "core/sjis.h"

namespace kolvy::mime {
namespace {

struct Name {
    std::string_view text;  // without the colon
    HeaderName name;
};
// In the order they are tried; the first whole name that stands there decides.
constexpr Name kNames[] = {
    {"Date", HeaderName::Date},
    {"Delivered-To", HeaderName::DeliveredTo},
    {"From", HeaderName::From},
    {"Resent-From", HeaderName::ResentFrom},
    {"To", HeaderName::To},
    {"Resent-To", HeaderName::ResentTo},
    {"Subject", HeaderName::Subject},
    {"Received", HeaderName::Received},
    {"Reply-To", HeaderName::ReplyTo},
    {"Return-Path", HeaderName::ReturnPath},
    {"User-Agent", HeaderName::UserAgent},
    {"X-Mailer", HeaderName::XMailer},
    {"X-PartInfo", HeaderName::XPartInfo},
    {"X-ML-Name", HeaderName::XMlName},
    {"Message-ID", HeaderName::MessageId},
    {"Cc", HeaderName::Cc},
    {"Content-Type", HeaderName::ContentType},
    {"Content-Disposition", HeaderName::ContentDisposition},
    {"Content-Transfer-Encoding", HeaderName::ContentTransferEncoding},
};

bool isBreak(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

}  // namespace

HeaderMatch recogniseHeader(std::string_view line) {
    for (const Name& n : kNames) {
        const size_t len = n.text.size();
        if (line.size() <= len || line[len] != ':') continue;
        if (!ascii::equalsNoCase(line.substr(0, len), n.text)) continue;
        if (n.name == HeaderName::XPartInfo && !isPartInfoLine(line, 0)) continue;
        return {n.name, len};
    }
    return {};
}

bool isPartInfoLine(std::string_view text, size_t lineStart) {
    constexpr std::string_view kName = "X-PartInfo:";
    if (text.size() < lineStart + kName.size()) return false;
    const std::string_view head = text.substr(lineStart, kName.size());
    return ascii::equalsNoCase(head, kName) && head[2] == 'P' && head[6] == 'I';
}

HeaderWalk::Step HeaderWalk::next(size_t from) const {
    const size_t n = text_.size();
    auto at = [&](size_t k) { return k < n ? text_[k] : '\0'; };
    for (size_t k = from; k < n; ++k) {
        const char c = text_[k];
        if (static_cast<unsigned char>(c) > '\r') continue;  // most bytes: no break, no NUL
        if (c == '\0') return {Stop::Cut, k, {}};
        if (c == '\n') {
            if (form_ == Form::Stored && (at(k + 1) == '\r' || at(k + 1) == '\n'))
                return {Stop::EmptyLine, k + 1, {}};
            return {Stop::Line, k, line(k + 1)};
        }
        if (c == '\r' && at(k + 1) != '\0' && at(k + 2) == '\r') return {Stop::EmptyLine, k, {}};
    }
    return {Stop::Cut, n, {}};
}

HeaderLine HeaderWalk::line(size_t start) const {
    HeaderLine l;
    l.start = std::min(start, text_.size());
    l.end = l.start;
    while (l.end < text_.size() && !isBreak(text_[l.end]))
        ++l.end;
    l.continued = l.start < text_.size() && ascii::isBlank(text_[l.start]);
    l.match = recogniseHeader(text_.substr(l.start, l.end - l.start));
    if (l.match.name != HeaderName::None) {
        l.value = l.start + l.match.colon + 1;
        while (l.value < l.end && text_[l.value] == ' ')
            ++l.value;
    }
    return l;
}

size_t HeaderWalk::fieldEnd(const HeaderLine& l) const {
    return mime::fieldEnd(text_, l.start);
}

size_t fieldEnd(std::string_view text, size_t from) {
    size_t i = from;
    for (;;) {
        while (i < text.size() && !isBreak(text[i]))
            i += sjis::charLen(text, i);
        if (i >= text.size()) return text.size();
        size_t j = i;
        if (text[j] == '\r') ++j;
        if (j < text.size() && text[j] == '\n') ++j;
        if (j == i || j >= text.size() || !ascii::isBlank(text[j])) return i;
        i = j;
    }
}

}  // namespace kolvy::mime
