// Reply framing and the multi-line decoder on arbitrary bytes: fed whole, byte by byte or in
// two pieces they agree, the decoded text outgrows its input by at most the normalised end line and
// ends with the "." line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pop/reply.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}

size_t frame(kolvy::pop::ReplyKind kind, std::string_view in, size_t step, bool& done) {
    kolvy::pop::ReplyFramer f(kind);
    size_t used = 0;
    for (size_t i = 0; i < in.size() && !f.done(); i += step)
        used += f.feed(in.substr(i, step));
    done = f.done();
    return used;
}

std::string decode(std::string_view in, size_t step, size_t& used, bool& done) {
    kolvy::pop::MultiLineDecoder d;
    std::string out;
    used = 0;
    for (size_t i = 0; i < in.size() && !d.done(); i += step) {
        used += d.feed(in.substr(i, step), out);
    }
    done = d.done();
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using kolvy::pop::ReplyKind;
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const size_t split = size ? data[0] % size + 1 : 1;
    for (ReplyKind kind : {ReplyKind::Line, ReplyKind::MultiLine, ReplyKind::Smtp}) {
        bool d1 = false, d2 = false, d3 = false;
        const size_t whole = frame(kind, in, size ? size : 1, d1);
        check(frame(kind, in, 1, d2) == whole && d1 == d2);
        check(frame(kind, in, split, d3) == whole && d1 == d3);
        check(whole <= size);
    }
    size_t u1 = 0, u2 = 0, u3 = 0;
    bool d1 = false, d2 = false, d3 = false;
    const std::string out = decode(in, size ? size : 1, u1, d1);
    check(decode(in, 1, u2, d2) == out && u1 == u2 && d1 == d2);
    check(decode(in, split, u3, d3) == out && u1 == u3 && d1 == d3);
    // A bare-LF end line comes out as ".\r\n": one byte more than came in, never two.
    check(out.size() <= u1 + 1);
    if (d1 && !out.empty()) check(out.size() >= 4 && out.compare(out.size() - 3, 3, ".\r\n") == 0);
    return 0;
}
