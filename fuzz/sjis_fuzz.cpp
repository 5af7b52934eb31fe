// The Shift_JIS helpers on arbitrary bytes: every position they return is a character boundary,
// bounded copies never overrun or split a pair, and the case-insensitive comparisons agree.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/sjis.h"

namespace {
bool isBoundary(std::string_view s, size_t pos) {
    size_t i = 0;
    while (i < pos)
        i += kolvy::sjis::charLen(s, i);
    return i == pos;
}
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::sjis;
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const size_t cut = size ? data[0] % (size + 1) : 0;
    const std::string_view hay = all.substr(cut), needle = all.substr(0, cut % 4);

    const size_t b = boundaryAtOrBefore(hay, cut);
    check(b <= hay.size() && isBoundary(hay, b));
    char field[17];
    const size_t n = copyField(field, hay);
    check(n < sizeof field && field[n] == '\0' && isBoundary(hay, n));

    const size_t f = find(hay, needle);
    if (f != std::string_view::npos)
        check(isBoundary(hay, f) && hay.substr(f, needle.size()) == needle);
    const size_t g = findNoCase(hay, needle);
    if (g != std::string_view::npos) check(isBoundary(hay, g));
    check(equalsNoCase(hay, hay) && compareNoCase(hay, hay) == 0);
    check((compareNoCase(hay, needle) < 0) == (compareNoCase(needle, hay) > 0));
    const std::string_view last = lastComponent(hay);
    check(last.size() <= hay.size());
    (void)joinPath(needle, last);
    return 0;
}
