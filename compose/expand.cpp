#include "compose/expand.h"

#include <cstdio>

#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/stored_header.h"

namespace kolvy::compose {

namespace {

using R = SourceMessage;

bool startsWith(std::string_view s, size_t pos, std::string_view what) {
    return s.compare(pos, what.size(), what) == 0;
}

std::string paneText(const Account* a) {
    if (!a) return {};
    return headerSafe(std::string(sjis::fieldView(a->fromName)) + " <" +
                      std::string(sjis::fieldView(a->mailAddress)) + ">");
}

std::string toText(const SourceMessage& m, const ExpandContext& c) {
    const HeaderInfo& h = m.info();
    const Account* a = addressedAccount(h, c.accounts);
    if (!a) return {};
    return headerSafe(std::string(sjis::fieldView(a->fromName)) + " <" +
                      std::string(sjis::fieldView(a->mailAddress)) + ">");
}

std::string replyToText(const SourceMessage& m) {
    const HeaderInfo& h = m.info();
    const std::string_view replyTo = R::range(h.replyToStart, h.replyToEnd);
    if (!replyTo.empty()) return headerSafe(replyTo);
    return headerSafe(std::string(R::range(h.fromNameStart, h.fromNameEnd)) + " <" +
                      std::string(R::range(h.fromAddressStart, h.fromAddressEnd)) + ">");
}

// The stored header lines without the X-PartInfo lines the store adds.
std::string allHeader(const SourceMessage& m) {
    const std::string_view header = m.header();
    std::string out;
    out.reserve(header.size());
    size_t pos = 0;
    bool skipping = false;
    while (pos < header.size()) {
        size_t end = header.find('\n', pos);
        end = end == std::string_view::npos ? header.size() : end + 1;
        const std::string_view line = header.substr(pos, end - pos);
        const bool continuation = !line.empty() && (line[0] == ' ' || line[0] == '\t');
        if (!continuation) {
            // isPartInfoLine looks at the line after a LF.
            std::string probe = "\n";
            probe += line.substr(0, 12);
            skipping = mime::isPartInfoLine(probe, 1);
        }
        if (!skipping) out += line;
        pos = end;
    }
    while (!out.empty() && (out.back() == '\r' || out.back() == '\n'))
        out.pop_back();
    return out;
}

std::string bodyText(const SourceMessage& m, const ExpandContext& c) {
    if (!m.html()) return std::string(m.body());
    std::string text = htmlToText(m.body(), c.htmlLineCount);
    size_t lead = 0;
    while (lead < text.size() && (text[lead] == ' ' || text[lead] == '\t'))
        ++lead;
    return text.substr(lead);
}

// The quoting form $"prefix"$Body at text[pos]: the prefix and the length of the form.
bool quotingForm(std::string_view text, size_t pos, std::string_view& prefix, size_t& length) {
    if (!startsWith(text, pos, "$\"")) return false;
    const size_t open = pos + 2;
    for (size_t close = open; close <= open + 4 && close < text.size(); ++close) {
        if (text[close] != '"') continue;
        if (!startsWith(text, close + 1, "$Body")) return false;
        prefix = text.substr(open, close - open);
        length = close + 1 + 5 - pos;
        return true;
    }
    return false;
}

}  // namespace

std::string quoteBody(std::string_view body, std::string_view prefix) {
    auto trimEnds = [](std::string_view& s) {
        while (!s.empty() && (s.back() == '\r' || s.back() == '\n'))
            s.remove_suffix(1);
    };
    trimEnds(body);
    // Only a line that is a lone "." is a terminator; a sentence's full stop stays.
    if (body == "." || (body.size() >= 2 && body.back() == '.' && body[body.size() - 2] == '\n')) {
        body.remove_suffix(1);
        trimEnds(body);
    }
    size_t lines = 1;
    for (char ch : body)
        if (ch == '\n') ++lines;
    std::string out;
    out.reserve(body.size() + lines * (prefix.size() + 2) + 2);
    size_t pos = 0;
    for (;;) {
        size_t end = body.find('\n', pos);
        const bool last = end == std::string_view::npos;
        if (last) end = body.size();
        std::string_view line = body.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        out += prefix;
        out += line;
        out += "\r\n";
        if (last) break;
        pos = end + 1;
    }
    return out;
}

std::string expand(std::string_view text, const ExpandContext& c, const SourceMessage* m,
                   bool withBody) {
    std::string out;
    out.reserve(text.size() + (m && withBody ? m->message().size() * 2 : 0) + 64);
    size_t i = 0;
    while (i < text.size()) {
        const size_t len = sjis::charLen(text, i);
        std::string_view prefix;
        size_t formLen = 0;
        if (text[i] != '$') {
            out.append(text, i, len);
            i += len;
            continue;
        }
        if (startsWith(text, i, "$AcountPain")) {
            out += paneText(c.paneAccount);
            i += 11;
        } else if (startsWith(text, i, "$Time")) {
            out += c.timeText;
            i += 5;
        } else if (!m) {
            ++i;  // an unknown variable loses its "$"
        } else if (startsWith(text, i, "$FromName")) {
            out += headerSafe(R::range(m->info().fromNameStart, m->info().fromNameEnd));
            i += 9;
        } else if (startsWith(text, i, "$From")) {
            if (out.size() >= 2 && out.compare(out.size() - 2, 2, "  ") == 0) out.pop_back();
            out += '<';
            out += headerSafe(R::range(m->info().fromAddressStart, m->info().fromAddressEnd));
            out += '>';
            i += 5;
        } else if (startsWith(text, i, "$To")) {
            out += toText(*m, c);
            i += 3;
        } else if (startsWith(text, i, "$Subject")) {
            out += headerSafe(sjis::fieldView(m->info().subject));
            i += 8;
        } else if (startsWith(text, i, "$ReplyTo")) {
            out += replyToText(*m);
            i += 8;
        } else if (quotingForm(text, i, prefix, formLen)) {
            if (withBody) out += quoteBody(bodyText(*m, c), prefix);
            i += formLen;
        } else if (startsWith(text, i, "$Body")) {
            if (withBody) out += quoteBody(bodyText(*m, c), {});
            i += 5;
        } else if (startsWith(text, i, "$AllHeader")) {
            if (withBody) out += allHeader(*m);
            i += 10;
        } else {
            ++i;
        }
    }
    return out;
}

namespace {

bool letterIs(std::string_view s, size_t i, char upper) {
    return i < s.size() && ascii::lower(s[i]) == ascii::lower(upper);
}
bool tagStarts(std::string_view tag, std::string_view upperLetters) {
    for (size_t k = 0; k < upperLetters.size(); ++k)
        if (!letterIs(tag, k, upperLetters[k])) return false;
    return true;
}

struct HtmlWriter {
    std::string out;
    int lineLength = 0;
    int limit;
    void put(std::string_view s, int width) {
        out += s;
        lineLength += width;
        if (limit > 0 && lineLength >= limit) lineBreak();
    }
    void lineBreak() {
        out += "\r\n";
        lineLength = 0;
    }
    bool endsInThreeBreaks() const {
        return out.size() >= 6 && out.compare(out.size() - 6, 6, "\r\n\r\n\r\n") == 0;
    }
};

// The entity at html[i] ('&'): its text and length, or false.
bool entity(std::string_view html, size_t i, std::string_view& text, size_t& length) {
    static constexpr std::pair<std::string_view, std::string_view> table[] = {
        {"&nbsp;", " "}, {"&#160;", " "}, {"&copy;", "(c)"}, {"&quot;", "\""},
        {"&amp;", "&"},  {"&lt;", "<"},   {"&gt;", ">"},
    };
    for (const auto& [name, value] : table) {
        if (startsWith(html, i, name)) {
            text = value;
            length = name.size();
            return true;
        }
    }
    if (startsWith(html, i, "&#822") && i + 6 < html.size() && html[i + 6] == ';') {
        text = " ";
        length = 7;
        return true;
    }
    return false;
}

// The first character after `pos` that is not blank is a double-byte one.
bool japaneseFollows(std::string_view html, size_t pos) {
    while (pos < html.size() &&
           (html[pos] == ' ' || html[pos] == '\t' || html[pos] == '\r' || html[pos] == '\n'))
        ++pos;
    return pos < html.size() && sjis::charLen(html, pos) == 2;
}

// The head section from html[pos] (after its opening tag): only the titles remain.
size_t headSection(std::string_view html, size_t pos, HtmlWriter& w) {
    while (pos < html.size()) {
        const size_t lt = html.find('<', pos);
        if (lt == std::string_view::npos) return html.size();
        const size_t gt = html.find('>', lt);
        if (gt == std::string_view::npos) return html.size();
        const std::string_view tag = html.substr(lt + 1, gt - lt - 1);
        if (tagStarts(tag, "/HE")) return gt + 1;
        if (tagStarts(tag, "TI")) {
            const size_t next = html.find('<', gt + 1);
            const size_t end = next == std::string_view::npos ? html.size() : next;
            w.out += html.substr(gt + 1, end - gt - 1);
            w.lineBreak();
        }
        pos = gt + 1;
    }
    return pos;
}

// The tag html[lt..gt]; returns where reading goes on.
size_t htmlTag(std::string_view html, size_t lt, size_t gt, HtmlWriter& w) {
    const std::string_view tag = html.substr(lt + 1, gt - lt - 1);
    // Style sheets are dropped with their contents (only STYLE: <strong> keeps its words).
    if (tagStarts(tag, "STY")) {
        size_t pos = gt + 1;
        while (pos < html.size()) {
            const size_t close = html.find("</", pos);
            if (close == std::string_view::npos) return html.size();
            const size_t end = html.find('>', close);
            if (end == std::string_view::npos) return html.size();
            if (tagStarts(html.substr(close + 2), "ST")) return end + 1;
            pos = end + 1;
        }
        return html.size();
    }
    if (tagStarts(tag, "HE")) return headSection(html, gt + 1, w);
    if (tagStarts(tag, "BR") || (!tag.empty() && tag[0] == '/' && !tagStarts(tag, "/TA"))) {
        if (!w.endsInThreeBreaks() && !japaneseFollows(html, gt + 1)) w.out += "\r\n";
        w.lineLength = 0;
    }
    return gt + 1;
}

}  // namespace

std::string htmlToText(std::string_view html, int lineLimit) {
    HtmlWriter w{{}, 0, lineLimit};
    w.out.reserve(html.size() + html.size() / 8 + 16);
    size_t i = 0;
    while (i < html.size()) {
        const char ch = html[i];
        if (ch == '\r') {
            ++i;
            while (i < html.size() && (html[i] == '\r' || html[i] == '\n'))
                ++i;
            continue;
        }
        if (ch == ' ' || ch == '\t') {
            while (i < html.size() && (html[i] == ' ' || html[i] == '\t'))
                ++i;
            w.put(" ", 1);
            continue;
        }
        if (ch == '<') {
            const size_t gt = html.find('>', i);
            if (gt == std::string_view::npos) break;  // a tag cut off at the end
            i = htmlTag(html, i, gt, w);
            continue;
        }
        std::string_view text;
        size_t length = 0;
        if (ch == '&' && entity(html, i, text, length)) {
            w.put(text, static_cast<int>(text.size()));
            i += length;
            continue;
        }
        const size_t len = sjis::charLen(html, i);
        w.put(html.substr(i, len), static_cast<int>(len));
        i += len;
    }
    return w.out;
}

std::string dateLine(const platform::LocalTime& t) {
    static constexpr const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char buf[80];
    std::snprintf(buf, sizeof buf, "Date: %s, %d %s %d %02d:%02d:%02d +0900\r\n",
                  days[(t.weekday % 7 + 7) % 7], t.day, months[((t.month - 1) % 12 + 12) % 12],
                  t.year, t.hour, t.minute, t.second);
    return buf;
}

std::string replaceHeaderValue(std::string_view header, char first, char second,
                               std::string_view value) {
    std::string out;
    size_t pos = 0;
    while (pos < header.size()) {
        size_t end = header.find('\n', pos);
        end = end == std::string_view::npos ? header.size() : end + 1;
        std::string_view line = header.substr(pos, end - pos);
        const size_t colon = line.find(':');
        if (line.size() > 2 && line[0] == first && ascii::lower(line[1]) == ascii::lower(second) &&
            colon != std::string_view::npos) {
            const bool lineEnd = line.back() == '\n';
            out.append(line.substr(0, colon + 1));
            out += ' ';
            out += headerSafe(value);
            if (lineEnd) out += "\r\n";
        } else {
            out += line;
        }
        pos = end;
    }
    return out;
}

namespace {

std::string headerPart(const DraftRequest& r, const ExpandContext& c) {
    std::string h =
        expand(r.tmpl ? std::string_view(r.tmpl->header) : std::string_view(), c, r.source, false);
    if (!r.forwardFrom.empty()) h = replaceHeaderValue(h, 'F', 'r', r.forwardFrom);
    if (!r.forwardTo.empty()) h = replaceHeaderValue(h, 'T', 'o', r.forwardTo);
    while (!h.empty() && (h.back() == '\r' || h.back() == '\n'))
        h.pop_back();
    h += "\r\n";
    h += dateLine(r.now);
    if (r.ruleMade) h += kAutoSubmittedLine;
    return h;
}

std::string finish(std::string header, const DraftRequest& r, const ExpandContext& c) {
    header += "\r\n";
    header += expand(r.tmpl ? std::string_view(r.tmpl->body) : std::string_view(), c, r.source,
                     r.source != nullptr && r.withBody);
    return header;
}

}  // namespace

std::string newDraft(const DraftRequest& r, const ExpandContext& c) {
    DraftRequest plain = r;
    plain.source = nullptr;
    return finish(headerPart(plain, c), plain, c);
}

std::string replyDraft(const DraftRequest& r, const ExpandContext& c) {
    std::string h = headerPart(r, c);
    if (r.source) {
        const HeaderInfo& info = r.source->info();
        const std::string id = headerSafe(R::range(info.messageIdStart, info.messageIdEnd));
        if (!id.empty()) h += "In-Reply-To: " + id + "\r\nReferences: " + id + "\r\n";
    }
    return finish(std::move(h), r, c);
}

std::string forwardDraft(const DraftRequest& r, const ExpandContext& c) {
    return finish(headerPart(r, c), r, c);
}

std::string resendDraft(const SourceMessage& source, std::string_view to, std::string_view from,
                        bool ruleMade) {
    std::string out =
        "Resent-To: " + headerSafe(to) + "\r\nResent-From: " + headerSafe(from) + "\r\n";
    if (ruleMade) out += kAutoSubmittedLine;
    if (source.html()) out += "X-Content-Type: html\r\n";
    out += source.message();
    return out;
}

}  // namespace kolvy::compose
