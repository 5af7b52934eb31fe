// The body walk of message analysis: one scan over a message's body that decodes its text parts
// into Shift_JIS, keeps its other parts as they came and records a part entry for every leaf part.
//
// The walk keeps the boundaries of the multiparts it is inside on a stack, and a part ends at the
// first line that is a boundary line of any of them: so each byte of the body is scanned a fixed
// number of times, whatever the nesting and the number of parts, and a part whose multipart was
// never closed cannot swallow the parts of the one around it. The decoders get exactly the text
// of one part. Nesting and the number of parts are capped; past a cap the rest is kept as it
// came.
#pragma once

#include <cstddef>
#include <string>

#include "core/records.h"
#include "mime/analyze.h"

namespace kolvy::mime {

// Parts walked in one message (every boundary line that opens a part counts). Real mail has a
// few, a digest of a busy list some hundreds; past this the rest of the message is stored as it
// came, so that a message of many thousands of empty parts costs no more than its size.
inline constexpr size_t kMaxParts = 1000;

// Walks the body of `src` (its first `length` bytes) from `pos` under the message's header
// record: appends to a.output, a.parts and a.segments and sets a.partial, a.multipartOpen and
// a.asciiOnly. Returns where it stopped; what lies beyond is the caller's to keep.
size_t walkBody(std::string& src, size_t length, const HeaderInfo& header, size_t pos, Analysis& a);

}  // namespace kolvy::mime
