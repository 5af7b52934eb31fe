// One fuzz entry point per decoder, chosen at compile time (KOLVY_FUZZ_DECODER): arbitrary bytes
// through an exactly sized output, with the first byte choosing a boundary. The decoder must stay
// inside both buffers (the sanitizers watch), NUL-terminate, and report ends inside them.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mime/decode.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::mime;
    const bool withBoundary = size > 0 && (data[0] & 1);
    const std::vector<char> in(data, data + size);  // exactly the input, no NUL after it
    const std::string_view text(in.data(), in.size());
    [[maybe_unused]] const Boundary boundary = withBoundary ? Boundary("b1") : Boundary();
    size_t max = 0;
    Decoded d;
    std::vector<char> out;
#if KOLVY_FUZZ_DECODER == 1
    out.resize(max = base64DecodedMax(size));
    d = base64Decode(text, out);
#elif KOLVY_FUZZ_DECODER == 2
    out.resize(max = quotedPrintableDecodedMax(size));
    d = quotedPrintableDecode(text, out, boundary);
#elif KOLVY_FUZZ_DECODER == 3
    out.resize(max = jisToSjisMax(size));
    d = jisToSjis(text, out, boundary);
#elif KOLVY_FUZZ_DECODER == 4
    out.resize(max = utf8ToSjisMax(size));
    d = utf8ToSjis(text, out, boundary);
#elif KOLVY_FUZZ_DECODER == 5
    out.resize(max = encodedWordsMax(size));
    d = decodeEncodedWords(text, out);
#endif
    check(d.consumed <= size && d.written < max && out[d.written] == '\0');
    // A smaller output than the worst case: still bounded, still terminated.
    if (max > 2) {
        std::vector<char> small(max / 2);
#if KOLVY_FUZZ_DECODER == 1
        d = base64Decode(text, small);
#elif KOLVY_FUZZ_DECODER == 2
        d = quotedPrintableDecode(text, small, boundary);
#elif KOLVY_FUZZ_DECODER == 3
        d = jisToSjis(text, small, boundary);
#elif KOLVY_FUZZ_DECODER == 4
        d = utf8ToSjis(text, small, boundary);
#elif KOLVY_FUZZ_DECODER == 5
        d = decodeEncodedWords(text, small);
#endif
        check(d.consumed <= size && d.written < small.size() && small[d.written] == '\0');
    }
    return 0;
}
