#include "smtp/split.h"

#include <cstdio>

#include "core/sjis.h"
#include "smtp/encode.h"

namespace kolvy::smtp {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// The wire header of a message (its lines with CR LF, without the blank line after them).
std::string_view wireHeader(const ComposedMessage& m) {
    const size_t blank = m.wire.find("\r\n\r\n");
    return blank == std::string::npos ? std::string_view(m.wire)
                                      : std::string_view(m.wire).substr(0, blank + 2);
}

// Line start of the first header field named Subject (whole name, any case); npos when none.
size_t subjectLine(std::string_view header) {
    for (size_t i = 0; i < header.size();) {
        const size_t eol = header.find(kCrLf, i);
        const size_t next = eol == std::string_view::npos ? header.size() : eol + 2;
        const std::string_view line = header.substr(i, next - i);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            sjis::equalsNoCaseAscii(line.substr(0, colon), "Subject"))
            return i;
        i = next;
    }
    return std::string_view::npos;
}

// End of the field that starts at `at` (after the CR LF of its last continuation line).
size_t fieldEnd(std::string_view header, size_t at) {
    size_t end = at;
    do {
        const size_t eol = header.find(kCrLf, end);
        end = eol == std::string_view::npos ? header.size() : eol + 2;
    } while (end < header.size() && (header[end] == ' ' || header[end] == '\t'));
    return end;
}

std::string numbered(size_t n, size_t total) {
    char s[48];
    std::snprintf(s, sizeof s, " [%zu/%zu]", n, total);
    return s;
}

// The header lines with the Subject suffixed " [n/T]" and the message's own id line given the
// "<n." prefix. Lines from `stopAfterId` on are left out (message/partial keeps them inside).
std::string pieceHeader(const ComposedMessage& m, std::string_view header, size_t n, size_t total,
                        bool stopAfterId) {
    std::string out;
    out.reserve(header.size() + 32);
    const size_t subject = subjectLine(header);
    const size_t idAt =
        m.messageIdLine.empty() ? std::string_view::npos : header.find(m.messageIdLine);
    size_t i = 0;
    while (i < header.size()) {
        const size_t end = fieldEnd(header, i);
        if (i == subject) {
            out.append(header.substr(i, end - i - 2));  // its line end goes after the suffix
            out += numbered(n, total) + "\r\n";
        } else if (i == idAt) {
            const size_t lt = m.messageIdLine.find('<') + 1;
            out.append(header.substr(i, lt));
            out += std::to_string(n) + ".";
            out.append(header.substr(i + lt, end - i - lt));
            if (stopAfterId) return out;
        } else {
            out.append(header.substr(i, end - i));
        }
        i = end;
    }
    return out;
}

// A cut moved off the middle of a CR LF pair (the pair stays whole in the earlier piece when
// it fits, else goes whole to the next).
size_t keepCrLf(std::string_view text, size_t start, size_t cut) {
    if (cut > start && cut < text.size() && text[cut - 1] == '\r' && text[cut] == '\n')
        return cut - 1 > start ? cut - 1 : cut + 1;
    return cut;
}

// The length of the ISO-2022-JP unit at i (an escape sequence, a kanji pair or a byte) and the
// shift state after it.
size_t jisUnit(std::string_view x, size_t i, bool& kanji) {
    if (x[i] == '\x1b' && i + 2 < x.size()) {
        if (x[i + 1] == '$') kanji = true;
        if (x[i + 1] == '(') kanji = false;
        return 3;
    }
    if (x[i] == '\r' || x[i] == '\n') return 1;
    return kanji && i + 1 < x.size() ? 2 : 1;
}

// A cut inside a line that is longer than a piece. A reader joins the pieces with a line break
// there, so the cut goes where that break harms least: the last place in shift state ASCII, not
// next to a CR; else the last place between whole kanji. `kanji` is the state at `start` and
// becomes the state at the cut.
size_t midLineCut(std::string_view w, size_t start, size_t cut, bool& kanji) {
    size_t ascii = 0, whole = 0;
    bool state = kanji, asciiState = false, wholeState = false;
    for (size_t i = start; i <= cut && i < w.size();) {
        if (i > start && w[i] != '\r' && w[i - 1] != '\r') {
            if (!state) {
                ascii = i;
                asciiState = state;
            }
            whole = i;
            wholeState = state;
        }
        i += jisUnit(w, i, state);
    }
    if (ascii > start) {
        kanji = asciiState;
        return ascii;
    }
    if (whole > start) {
        kanji = wholeState;
        return whole;
    }
    return keepCrLf(w, start, cut);
}

// Cuts of the wire text for message/partial. A reader joins the pieces' bodies as they stand,
// the CR LF that ends each one included, so a piece ends after the last line end within its size
// and the joined message is the wire text byte for byte. Only a line longer than a piece is cut
// inside (see midLineCut).
std::vector<size_t> partialCuts(std::string_view w, size_t p) {
    std::vector<size_t> cuts{0};
    size_t start = 0;
    bool kanji = false;
    while (start < w.size()) {
        size_t cut = start + p < w.size() ? start + p : w.size();
        if (cut < w.size()) {
            const size_t lf = w.rfind('\n', cut - 1);
            if (lf != std::string_view::npos && lf >= start) {
                cut = lf + 1;
                kanji = false;
            } else {
                cut = midLineCut(w, start, cut, kanji);
            }
        }
        cuts.push_back(cut);
        start = cut;
    }
    return cuts;
}

}  // namespace

std::vector<std::string> splitPartial(const ComposedMessage& m, size_t pieceBytes,
                                      int64_t pieceTime, std::string_view mailAddress) {
    const std::string_view w = m.wire;
    const size_t p = pieceBytes == 0 ? 1 : pieceBytes;
    const std::vector<size_t> cuts = partialCuts(w, p);
    const size_t total = cuts.size() - 1;
    const std::string id = std::to_string(pieceTime) + "." + std::string(mailAddress);
    const std::string_view header = wireHeader(m);
    std::vector<std::string> pieces;
    pieces.reserve(total);
    for (size_t n = 1; n <= total; ++n) {
        const std::string_view bytes = w.substr(cuts[n - 1], cuts[n] - cuts[n - 1]);
        std::string piece = pieceHeader(m, header, n, total, true);
        // "total" only on the last piece, where it is required: some readers refuse a set
        // that states it more than once.
        char type[96];
        if (n < total) {
            std::snprintf(type, sizeof type, "Content-Type: message/partial; number=%zu;", n);
        } else {
            std::snprintf(type, sizeof type,
                          "Content-Type: message/partial; number=%zu; total=%zu;", n, total);
        }
        piece += type;
        piece += "\r\n\tid=\"" + id + "\"\r\nMIME-Version: 1.0\r\nX-Mailer: ";
        piece += kMailerName;
        piece += "\r\n\r\n";
        piece.append(bytes);
        if (!bytes.ends_with(kCrLf)) piece += kCrLf;
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

namespace {

// A message whose body cannot be cut on its own (it has attachments) goes whole.
bool bodySplittable(const ComposedMessage& m) {
    return m.attachments.empty() && m.bodyStart <= m.bodyEnd && m.bodyEnd <= m.wire.size();
}

std::vector<std::string> bodyPieces(const ComposedMessage& m,
                                    const std::vector<std::string>& bodies) {
    const std::string_view header = wireHeader(m);
    std::vector<std::string> pieces;
    pieces.reserve(bodies.size());
    for (size_t n = 1; n <= bodies.size(); ++n) {
        std::string piece = pieceHeader(m, header, n, bodies.size(), false);
        piece += kCrLf;
        piece += bodies[n - 1];
        piece += kCrLf;
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

}  // namespace

std::vector<std::string> splitBodySjis(const ComposedMessage& m, size_t pieceBytes) {
    if (!bodySplittable(m)) return {m.wire};
    const std::string_view body = m.sjisBody;
    const size_t p = pieceBytes == 0 ? 1 : pieceBytes;
    std::vector<std::string> bodies;
    size_t start = 0;
    do {
        size_t cut = start + p < body.size() ? start + p : body.size();
        if (cut < body.size()) {
            cut = start + sjis::boundaryAtOrBefore(body.substr(start), cut - start);
            cut = keepCrLf(body, start, cut);
            // A voiced mark stays with its half-width katakana: they become one character.
            const auto at = [&](size_t k) { return static_cast<unsigned char>(body[k]); };
            if (cut > start + 1 && (at(cut) == 0xDE || at(cut) == 0xDF) && at(cut - 1) >= 0xA1 &&
                at(cut - 1) <= 0xDD &&
                sjis::boundaryAtOrBefore(body.substr(start), cut - 1 - start) == cut - 1 - start)
                --cut;
            if (cut <= start) cut = start + sjis::charLen(body, start);  // always move on
        }
        bodies.push_back(sjisToJis(body.substr(start, cut - start)));
        start = cut;
    } while (start < body.size());
    return bodyPieces(m, bodies);
}

namespace {

// One unit of ISO-2022-JP text that a cut never splits: an escape sequence, a kanji pair, a
// CR LF pair or a single byte.
struct Unit {
    size_t len;
    int shift;  // +1 ESC "$B" (into kanji), -1 ESC "(B" (back to ASCII), 0 otherwise
};

Unit unitAt(std::string_view x, size_t i, bool kanji) {
    if (x[i] == '\x1b' && i + 2 < x.size()) {
        const std::string_view esc = x.substr(i, 3);
        if (esc == "\x1b$B" || esc == "\x1b$@") return {3, +1};
        if (esc == "\x1b(B" || esc == "\x1b(J") return {3, -1};
        return {3, 0};
    }
    if (x[i] == '\r' && i + 1 < x.size() && x[i + 1] == '\n') return {2, 0};
    if (kanji && i + 1 < x.size() && x[i] != '\r' && x[i] != '\n') return {2, 0};
    return {1, 0};
}

constexpr std::string_view kIntoKanji = "\x1b$B", kToAscii = "\x1b(B";
// A kanji run that begins this close to the end of a piece goes whole to the next piece.
constexpr size_t kRunTail = 7;

// The next piece of the converted body from `start` in shift state `kanji`, within p bytes
// (its opening and closing escapes included where needed); always takes at least one unit.
std::string nextJisPiece(std::string_view x, size_t& start, bool& kanji, size_t p) {
    if (kanji && x.substr(start, 3) == kToAscii) {  // the run ended right at the cut
        start += 3;
        kanji = false;
    }
    const size_t open = kanji ? kIntoKanji.size() : 0;
    size_t i = start, lastRunStart = std::string_view::npos;
    bool state = kanji;
    while (i < x.size()) {
        const Unit u = unitAt(x, i, state);
        const bool after = u.shift > 0 ? true : (u.shift < 0 ? false : state);
        const size_t close = after ? kToAscii.size() : 0;
        if (i > start && open + (i - start) + u.len + close > p) break;
        if (u.shift > 0) lastRunStart = i;
        state = after;
        i += u.len;
    }
    // A run opened within the last few bytes before the cut starts the next piece instead; a
    // piece that holds nothing but the opening of a run takes its first kanji too.
    const size_t rawCut = start + (p > open ? p - open : 0);
    const bool endsOpened =
        state && lastRunStart != std::string_view::npos && i == lastRunStart + kIntoKanji.size();
    if (i < x.size() && state && lastRunStart != std::string_view::npos && lastRunStart > start &&
        (endsOpened || (rawCut >= lastRunStart && rawCut - lastRunStart <= kRunTail))) {
        i = lastRunStart;
        state = false;
    } else if (i < x.size() && endsOpened) {
        i += unitAt(x, i, state).len;
    }
    std::string piece(kanji ? kIntoKanji : std::string_view());
    piece.append(x.substr(start, i - start));
    if (state) piece += kToAscii;
    start = i;
    kanji = state;
    return piece;
}

}  // namespace

std::vector<std::string> splitBodyJis(const ComposedMessage& m, size_t pieceBytes) {
    if (!bodySplittable(m)) return {m.wire};
    const std::string_view x =
        std::string_view(m.wire).substr(m.bodyStart, m.bodyEnd - m.bodyStart);
    const size_t p = pieceBytes == 0 ? 1 : pieceBytes;
    std::vector<std::string> bodies;
    size_t start = 0;
    bool kanji = false;
    do {
        std::string piece = nextJisPiece(x, start, kanji, p);
        // Only the closing escape of a run was left: no message of its own.
        if (!piece.empty() || bodies.empty()) bodies.push_back(std::move(piece));
    } while (start < x.size());
    return bodyPieces(m, bodies);
}

}  // namespace kolvy::smtp
