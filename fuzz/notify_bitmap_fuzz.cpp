// The animation bitmap reader on arbitrary bytes: an accepted header describes pixel rows that lie
// inside the file, and every frame it names can be cut without reading past the end.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "pop/notify.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::pop;
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    const auto b = readAnimationBitmap(file);
    if (!b) return 0;
    check(b->width >= 1 && b->frames >= 1 && b->frames * b->width <= b->rows);
    check(b->pixels <= size && b->stride * static_cast<size_t>(b->rows) <= size - b->pixels);
    check(b->colourTable + 4 * size_t{b->colours} <= b->pixels);
    for (int f = 0; f < b->frames && f < 4; ++f)
        check(frameRows(file, *b, f).size() == b->stride * static_cast<size_t>(b->width));
    check(frameRows(file, *b, b->frames).empty());
    return 0;
}
