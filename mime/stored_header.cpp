#include "mime/stored_header.h"

#include <algorithm>
#include <cstring>

#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/header.h"

namespace kolvy::mime {

namespace {

using Field = HeaderName;

class Reader {
  public:
    Reader(std::string_view text, HeaderInfo& h) : t_(text), h_(h) {}
    size_t run();

  private:
    unsigned char at(size_t i) const {
        return i < t_.size() ? static_cast<unsigned char>(t_[i]) : 0;
    }
    char* ptr(size_t i) const { return const_cast<char*>(t_.data() + i); }
    // The end of the line at i: its CR (or LF, or the text's end).
    size_t lineEnd(size_t i) const {
        while (i < t_.size() && t_[i] != '\r' && t_[i] != '\n' && t_[i] != '\0')
            i += sjis::charLen(t_, i);
        return std::min(i, t_.size());
    }
    // The end of the field at i: the line break not followed by a blank or TAB.
    size_t fieldEnd(size_t i) const { return mime::fieldEnd(t_, i); }
    void nameAddress(size_t v, AddressForm form, char*& nameStart, char*& nameEnd, char*& addrStart,
                     char*& addrEnd);
    void contentType(size_t v);
    void disposition(size_t v);
    void other(size_t from, size_t to);
    void field(Field f, const HeaderLine& l, size_t fend);
    void subject(size_t v, size_t fend);
    void address(Field f, size_t v);

    std::string_view t_;
    HeaderInfo& h_;
    int fromCount_ = 0, toCount_ = 0, received_ = 0;
    size_t receivedLen_ = 0, otherLen_ = 0;
};

// Sets a start/end pair from a view into the text; an absent or empty name stays unset.
void setPair(char*& start, char*& end, std::string_view v) {
    if (!v.data() || v.empty()) return;
    start = const_cast<char*>(v.data());
    end = start + v.size();
}

void Reader::nameAddress(size_t v, AddressForm form, char*& nameStart, char*& nameEnd,
                         char*& addrStart, char*& addrEnd) {
    const NameAddress na = parseNameAddress(t_.substr(v, lineEnd(v) - v), form);
    setPair(nameStart, nameEnd, na.name);
    if (na.address.data()) {
        addrStart = ptr(static_cast<size_t>(na.address.data() - t_.data()));
        addrEnd = addrStart + na.address.size();
    }
}

void Reader::contentType(size_t v) {
    const size_t end = fieldEnd(v);
    size_t i = v;
    while (i < end && t_[i] != ' ' && t_[i] != ';' && t_[i] != '\r')
        ++i;
    h_.contentTypeStart = ptr(v);
    h_.contentTypeEnd = ptr(i);
    auto skip = [&] {
        while (i < end &&
               (t_[i] == ' ' || t_[i] == ';' || t_[i] == '\t' || t_[i] == '\r' || t_[i] == '\n'))
            ++i;
    };
    auto stopAt = [&](size_t k, const char* stops) {
        while (k < end && !std::strchr(stops, t_[k]))
            k += sjis::charLen(t_, k);
        return std::min(k, end);
    };
    auto nameValue = [&](size_t k, const char* stops) {
        const size_t eq = stopAt(k, "=");
        if (eq >= end) return;
        size_t s = eq + 1;
        while (s < end && (t_[s] == ' ' || t_[s] == '"'))
            ++s;
        h_.nameStart = ptr(s);
        h_.nameEnd = ptr(stopAt(s, stops));
    };
    for (int n = 0; n < 2; ++n) {
        skip();
        if (i >= end) return;
        const bool name = t_[i] == 'N' || t_[i] == 'n';
        const size_t start = i;
        if (n == 0) {
            if (name) {
                nameValue(i, " ;\r\"");
            } else {
                h_.param1Start = ptr(i);
                h_.param1End = ptr(stopAt(i, " ;\r"));
            }
            i = stopAt(start, name ? ";\r" : " ;\r");
        } else if (name) {
            nameValue(i, "\"");
        } else {
            h_.param2Start = ptr(i);
            h_.param2End = ptr(lineEnd(i));
        }
    }
}

void Reader::disposition(size_t v) {
    const size_t end = fieldEnd(v);
    size_t i = v;
    while (i < end && (t_[i] == ' ' || t_[i] == '\r' || t_[i] == '\n' || t_[i] == '\t'))
        ++i;
    const char c = ascii::lower(static_cast<char>(at(i)));
    if (i >= end || (c != 'a' && c != 'i')) return;
    while (i < end && t_[i] != '=')
        i += sjis::charLen(t_, i);
    if (i >= end) return;
    while (i < end && (t_[i] == '=' || t_[i] == '"'))
        ++i;
    size_t e = end;
    if (e > i && t_[e - 1] == '"') --e;
    h_.nameStart = ptr(i);
    h_.nameEnd = ptr(e);
}

void Reader::other(size_t from, size_t to) {
    for (size_t i = from; i < to && otherLen_ < kOtherHeadersMax;) {
        const size_t n = sjis::charLen(t_, i);
        const char c = t_[i];
        if (n == 1 && (c == '\r' || c == '\n' || c == '\t')) {
            ++i;
            continue;
        }
        if (otherLen_ + n > kOtherHeadersMax) break;
        std::memcpy(h_.otherHeaders + otherLen_, t_.data() + i, n);
        otherLen_ += n;
        i += n;
    }
    h_.otherHeaders[otherLen_] = '\0';
}

// The subject, unfolded, cut at kStoredSubjectMax bytes on a character boundary.
void Reader::subject(size_t v, size_t fend) {
    size_t n = 0;
    for (size_t k = v; k < fend && n < kStoredSubjectMax;) {
        if (t_[k] == '\r' || t_[k] == '\n') {
            while (k < fend && (t_[k] == '\r' || t_[k] == '\n' || t_[k] == ' ' || t_[k] == '\t'))
                ++k;
            continue;
        }
        const size_t len = sjis::charLen(t_, k);
        if (n + len > kStoredSubjectMax) break;
        std::memcpy(h_.subject + n, t_.data() + k, len);
        n += len;
        k += len;
    }
    h_.subject[n] = '\0';
}

// From:, To: and the first Resent-From: / Resent-To: after them.
void Reader::address(Field f, size_t v) {
    if (f == Field::From || f == Field::To) {
        const bool from = f == Field::From;
        (from ? fromCount_ : toCount_) = 0;
        if (from) {
            h_.fromNameStart = h_.fromNameEnd = h_.fromAddressStart = h_.fromAddressEnd = nullptr;
            nameAddress(v, AddressForm::Sender, h_.fromNameStart, h_.fromNameEnd,
                        h_.fromAddressStart, h_.fromAddressEnd);
        } else {
            h_.toNameStart = h_.toNameEnd = h_.toAddressStart = h_.toAddressEnd = nullptr;
            nameAddress(v, AddressForm::AllRecipients, h_.toNameStart, h_.toNameEnd,
                        h_.toAddressStart, h_.toAddressEnd);
        }
        return;
    }
    const bool from = f == Field::ResentFrom;
    int& count = from ? fromCount_ : toCount_;
    if (++count != 1) return;
    char *ns = nullptr, *ne = nullptr;
    nameAddress(v, from ? AddressForm::Sender : AddressForm::AllRecipients, ns, ne,
                from ? h_.resentFromStart : h_.resentToStart,
                from ? h_.resentFromEnd : h_.resentToEnd);
}

// One recognised field; fend is the end of the field.
void Reader::field(Field f, const HeaderLine& l, size_t fend) {
    const size_t v = l.value, eol = l.end;
    switch (f) {
        case Field::Date: {
            if (const auto s = makeGmt(t_.substr(v, eol - v))) h_.date = *s;
            break;
        }
        case Field::DeliveredTo:
            h_.deliveredToStart = ptr(v);
            h_.deliveredToEnd = ptr(eol);
            break;
        case Field::From:
        case Field::To:
        case Field::ResentFrom:
        case Field::ResentTo:
            address(f, v);
            break;
        case Field::Subject:
            subject(v, fend);
            break;
        case Field::Received: {
            ++received_;
            const std::string_view piece = sjis::truncate(
                t_.substr(v, fend - v), kReceivedMax - std::min(kReceivedMax, receivedLen_));
            std::memcpy(h_.received + receivedLen_, piece.data(), piece.size());
            receivedLen_ += piece.size();
            h_.received[receivedLen_] = '\0';
            break;
        }
        case Field::ReplyTo:
            h_.replyToStart = ptr(v);
            h_.replyToEnd = ptr(eol);
            break;
        case Field::ReturnPath:
            h_.returnPathStart = ptr(v);
            h_.returnPathEnd = ptr(eol);
            break;
        case Field::UserAgent:
        case Field::XMailer:
            h_.mailerStart = ptr(v);
            h_.mailerEnd = ptr(eol);
            break;
        case Field::XMlName:
            h_.mlNameStart = ptr(v);
            h_.mlNameEnd = ptr(eol);
            break;
        case Field::MessageId:
            h_.messageIdStart = ptr(v);
            h_.messageIdEnd = ptr(eol);
            break;
        case Field::Cc:
            h_.ccStart = ptr(v);
            h_.ccEnd = ptr(fend);
            break;
        case Field::ContentType:
            contentType(v);
            break;
        case Field::ContentDisposition:
            disposition(v);
            break;
        case Field::ContentTransferEncoding:
            h_.transferEncodingStart = ptr(v);
            h_.transferEncodingEnd = ptr(eol);
            break;
        case Field::None:
        case Field::XPartInfo:
            break;
    }
}

size_t Reader::run() {
    const HeaderWalk walk(t_, HeaderWalk::Form::Stored);
    for (size_t i = 0;;) {
        const HeaderWalk::Step s = walk.next(i);
        if (s.stop != HeaderWalk::Stop::Line) return s.at;
        const HeaderLine& l = s.line;
        const size_t fend = walk.fieldEnd(l);
        Field f = l.match.name;
        if (f == Field::Received && received_ >= 10) f = Field::None;
        if (f == Field::XPartInfo) ++h_.partCount;
        if (f == Field::None || f == Field::XPartInfo) {
            other(l.start, fend);
        } else {
            field(f, l, fend);
        }
        i = fend;
    }
}

}  // namespace

size_t readStoredHeader(std::string_view text, HeaderInfo& info) {
    Reader r(text, info);
    return r.run();
}

}  // namespace kolvy::mime
