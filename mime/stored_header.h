// The header reader for stored messages: their text is Shift_JIS already, so nothing is decoded or
// copied; the record's start/end pairs point into the text itself. Besides the fields GetHead
// fills it records the first Resent-From: and Resent-To: addresses (resentFrom/resentTo) and the
// number of X-PartInfo: lines (partCount).
#pragma once

#include <cstddef>
#include <string_view>

#include "core/records.h"
#include "mime/header_lines.h"

namespace kolvy::mime {

// The subject field holds at most this many bytes of a stored subject.
inline constexpr size_t kStoredSubjectMax = sizeof(HeaderInfo::subject) - 1;

// Reads the header lines of `text`, each preceded by a LF (pass the stored text from the LF that
// ends the status line). `info` must be zeroed; it points into `text` afterwards, so the text must
// outlive it. Returns where the reading stopped: the CR of the empty line that ends the header
// block, or the text's end.
size_t readStoredHeader(std::string_view text, HeaderInfo& info);

}  // namespace kolvy::mime
