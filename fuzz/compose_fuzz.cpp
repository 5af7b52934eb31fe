// The outgoing composer and the three splitters on arbitrary draft bytes (the first byte chooses
// the piece size): the wire text is 7-bit with CR LF lines and one id line, the recipients are
// bare addresses, and every piece is 7-bit wire text. The message/partial pieces join back to
// the wire text, and each escape-aware body piece starts and ends in ASCII. The three exported
// encoders run on the same bytes in outputs of exactly their worst case.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/encode.h"
#include "smtp/outgoing.h"
#include "smtp/split.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}

bool wireText(std::string_view s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b == 0 || b >= 0x80) return false;
        if (b == '\r' && (i + 1 == s.size() || s[i + 1] != '\n')) return false;
        if (b == '\n' && (i == 0 || s[i - 1] != '\r')) return false;
    }
    return s.ends_with("\r\n");
}

size_t countAtLineStart(std::string_view s, std::string_view what) {
    size_t n = s.starts_with(what) ? 1 : 0;
    const std::string needle = "\r\n" + std::string(what);
    const size_t end = s.find("\r\n\r\n");
    for (size_t at = s.find(needle); at < end; at = s.find(needle, at + 1))
        ++n;
    return n;
}

void checkPartial(const kolvy::smtp::ComposedMessage& m, size_t p) {
    std::string joined;
    for (const std::string& piece : kolvy::smtp::splitPartial(m, p, 1, "me@example.jp")) {
        check(wireText(piece));
        std::string body = piece.substr(piece.find("\r\n\r\n") + 4);
        if (m.wire.compare(joined.size(), body.size(), body) != 0) body.resize(body.size() - 2);
        joined += body;
    }
    check(joined == m.wire);
}

// The exported encoders on the same bytes, each in an output of exactly its worst case.
void checkEntryPoints(std::string text) {
    using namespace kolvy::smtp;
    text = text.substr(0, text.find('\0'));
    std::vector<char> jis(sjisToJisMax(text.size()));
    DecodeCursor c{text.data(), jis.data(), nullptr, nullptr};
    SJisToJis(&c);
    check(c.sourceEnd == text.data() + text.size() && *c.destinationEnd == '\0');
    std::vector<char> words(encodedWordsMax(text.size(), 3));
    c = {text.data(), words.data(), nullptr, nullptr};
    MIME_Encode(&c);
    check(c.sourceEnd == text.data() + text.size() && *c.destinationEnd == '\0');
    std::vector<char> b64(base64LinesLength(text.size(), true) + 1);
    c = {text.data(), b64.data(), nullptr, nullptr};
    KVA_Base64Encode(&c, static_cast<int>(text.size()), 1);
    check(c.destinationEnd == b64.data() + b64.size() - 1);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::smtp;
    if (size == 0) return 0;
    const size_t p = 1 + data[0] % 64;
    const std::string draft(reinterpret_cast<const char*>(data) + 1, size - 1);
    static auto fs = kolvy::platform::makeFileSystem();
    ComposeInput in;
    in.draft = draft;
    in.mailAddress = "me@example.jp";
    in.sendTime = 1765000000;
    checkEntryPoints(draft);
    const ComposeResult r = composeMessage(*fs, in);
    if (!r.ok()) return 0;
    const ComposedMessage& m = r.message;
    check(wireText(m.wire));
    check(m.bodyStart <= m.bodyEnd && m.bodyEnd <= m.wire.size());
    check(countAtLineStart(m.wire, m.resent ? "Resent-Message-ID:" : "Message-ID:") == 1);
    for (const std::string& a : m.recipients)
        check(!a.empty() && a.find_first_of("\r\n<>, \x80") == std::string::npos);
    checkPartial(m, p);
    for (const std::string& piece : splitBodySjis(m, p))
        check(wireText(piece));
    for (const std::string& piece : splitBodyJis(m, p)) {
        check(wireText(piece));
        const std::string body = piece.substr(piece.find("\r\n\r\n") + 4);
        const size_t open = body.rfind("\x1b$B"), close = body.rfind("\x1b(B");
        check(open == std::string::npos || (close != std::string::npos && close > open));
    }
    return 0;
}
