#include "core/ascii.h"
#include "core/sjis.h"
#include "mime/header_lines.h"

namespace kolvy::mime {
namespace {

constexpr size_t npos = std::string_view::npos;

// The first of `stops` at or after i, stepping over double-byte characters; v.size() if none.
size_t scanTo(std::string_view v, size_t i, std::string_view stops) {
    while (i < v.size() && stops.find(v[i]) == npos)
        i += sjis::charLen(v, i);
    return std::min(i, v.size());
}

std::string_view trimEnd(std::string_view v) {
    const char* data = v.data();
    while (!v.empty() && ascii::isSpace(v.back()))
        v.remove_suffix(1);
    return {data, v.size()};  // keeps a present empty name present
}

// The address inside "<" ">" after the "<" at lt (to the end without a ">").
std::string_view angle(std::string_view v, size_t lt) {
    return v.substr(lt + 1, scanTo(v, lt + 1, ">") - lt - 1);
}

NameAddress quoted(std::string_view v, AddressForm form) {
    const size_t close = scanTo(v, 1, "\"");
    if (scanTo(v, close, "@") < v.size()) {
        size_t k = std::min(close + 1, v.size());
        while (k < v.size() && (v[k] == ' ' || v[k] == '"' || v[k] == '<'))
            ++k;
        const size_t e = scanTo(v, k, form == AddressForm::FirstRecipient ? ">," : ">");
        return {trimEnd(v.substr(1, close - 1)), v.substr(k, e - k)};
    }
    // No address: the name runs on to the end, less one closing quote.
    std::string_view n = v.substr(1);
    if (!n.empty() && n.back() == '"') n.remove_suffix(1);
    return {trimEnd(n), {}};
}

}  // namespace

NameAddress parseNameAddress(std::string_view value, AddressForm form) {
    const std::string_view v = trimEnd(value);
    if (v.empty()) return {};
    if (v[0] == '"') return quoted(v, form);
    const size_t first = scanTo(v, 0, "@<");
    if (first == v.size()) return {v, {}};  // neither: all of it is the name
    size_t lt = npos;
    if (v[first] == '<') {
        lt = first;
    } else if (form != AddressForm::AllRecipients) {
        // "@" first: a later "<" before any "," still makes the angle form.
        const size_t next = scanTo(v, first, "<,");
        if (next < v.size() && v[next] == '<') lt = next;
    }
    if (lt != npos) return {trimEnd(v.substr(0, lt)), angle(v, lt)};
    const size_t e = scanTo(v, 0, form == AddressForm::FirstRecipient ? "(,\r" : "(");
    NameAddress out{{}, trimEnd(v.substr(0, e))};
    if (e < v.size() && v[e] == '(') {
        const size_t close = scanTo(v, e + 1, ")");
        out.name = trimEnd(v.substr(e + 1, close - e - 1));
    }
    return out;
}

}  // namespace kolvy::mime
