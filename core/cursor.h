// The C entry points' side of a DecodeCursor, the same for every decoder and encoder.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "core/records.h"

namespace kolvy::cursor {

// The source as a view up to its terminating NUL.
inline std::string_view sourceOf(const DecodeCursor* c) {
    return c->source ? std::string_view(c->source) : std::string_view();
}

// A cursor without a destination converts nothing; its ends still say so, since callers go on
// from them.
inline bool usable(DecodeCursor* c) {
    if (!c) return false;
    if (c->destination) return true;
    c->sourceEnd = c->source;
    c->destinationEnd = c->destination;
    return false;
}

// Callers of the C entry points guarantee room for the worst case of the input they pass.
inline std::span<char> roomFor(DecodeCursor* c, size_t worstCase) {
    return {c->destination, worstCase};
}

// The ends after a conversion: `r` tells the input bytes it took and the output bytes it wrote.
template <class Converted>
void setEnds(DecodeCursor* c, const Converted& r) {
    c->sourceEnd = c->source + r.consumed;
    c->destinationEnd = c->destination + r.written;
}

}  // namespace kolvy::cursor
