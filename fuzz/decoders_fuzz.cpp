// One fuzz entry point per decoder, chosen at compile time (KOLVY_FUZZ_DECODER): arbitrary bytes
// through an exactly sized output. The decoder must stay inside both buffers (the sanitizers
// watch), NUL-terminate, and report ends inside them; the resumable decoders must give the same
// bytes and findings when the input comes in chunks cut where the first byte says.
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

using namespace kolvy::mime;
#if KOLVY_FUZZ_DECODER == 1
using Decoder = Base64Decoder;
#elif KOLVY_FUZZ_DECODER == 2
using Decoder = QuotedPrintableDecoder;
#elif KOLVY_FUZZ_DECODER == 3
using Decoder = JisDecoder;
#elif KOLVY_FUZZ_DECODER == 4
using Decoder = Utf8Decoder;
#endif

// The text fed in pieces of `piece` bytes: the output, how much was taken, the findings.
template <class D>
[[maybe_unused]] std::string fed(std::string_view text, size_t piece) {
    D d;
    std::string out(2 * text.size() + 16, '\0');
    size_t w = 0, taken = 0;
    for (size_t i = 0; i < text.size(); i += piece) {
        const std::string_view chunk = text.substr(i, piece);
        const Step s = d.feed(chunk, std::span<char>(out).subspan(w));
        check(!s.full);
        w += s.written;
        taken += s.consumed;
        if (s.consumed < chunk.size()) break;  // the data ended
    }
    w += d.finish(std::span<char>(out).subspan(w)).written;
    out.resize(w);
    return out + '/' + std::to_string(taken) + '/' + std::to_string(d.asciiOnly()) + '/' +
           std::to_string(d.malformedAt());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::mime;
    const std::vector<char> in(data, data + size);  // exactly the input, no NUL after it
    const std::string_view text(in.data(), in.size());
    size_t max = 0;
    Decoded d;
    std::vector<char> out;
#if KOLVY_FUZZ_DECODER == 1
    out.resize(max = base64DecodedMax(size));
    d = base64Decode(text, out);
#elif KOLVY_FUZZ_DECODER == 2
    out.resize(max = quotedPrintableDecodedMax(size));
    d = quotedPrintableDecode(text, out);
#elif KOLVY_FUZZ_DECODER == 3
    out.resize(max = jisToSjisMax(size));
    d = jisToSjis(text, out);
#elif KOLVY_FUZZ_DECODER == 4
    out.resize(max = utf8ToSjisMax(size));
    d = utf8ToSjis(text, out);
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
        d = quotedPrintableDecode(text, small);
#elif KOLVY_FUZZ_DECODER == 3
        d = jisToSjis(text, small);
#elif KOLVY_FUZZ_DECODER == 4
        d = utf8ToSjis(text, small);
#elif KOLVY_FUZZ_DECODER == 5
        d = decodeEncodedWords(text, small);
#endif
        check(d.consumed <= size && d.written < small.size() && small[d.written] == '\0');
    }
#if KOLVY_FUZZ_DECODER >= 1 && KOLVY_FUZZ_DECODER <= 4
    const size_t piece = size > 0 ? 1 + data[0] % 13 : 1;
    check(fed<Decoder>(text, text.size()) == fed<Decoder>(text, piece));
#endif
    return 0;
}
