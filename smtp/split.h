// Split sending: one composed message cut into several messages, each handed to the SMTP session
// with the same connection and recipients. Every piece is wire text (CR LF lines, 7-bit, not
// dot-stuffed, no final "."), ending in CR LF.
//
//  - splitPartial: the whole wire text as message/partial pieces (RFC 2046) that a reader joins
//    back to the message byte for byte. Pieces end at line ends where a line end lies inside the
//    piece, so no joined line is broken.
//  - splitBodySjis / splitBodyJis: the body cut into numbered messages of their own, each with the
//    Subject suffixed " [n/T]" and a Message-ID of its own ("<n." prefix). The first cuts the
//    Shift_JIS body at character boundaries; the second cuts the ISO-2022-JP body keeping its
//    escape sequences intact (a piece never ends inside a kanji pair). A message with
//    attachments is not cut this way: it comes back whole, as its one piece.
//
// No cut falls between CR and LF, and every cut makes progress, whatever the piece size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "smtp/outgoing.h"

namespace kolvy::smtp {

// pieceBytes: N x 1,000 for a size condition of N KB. pieceTime and mailAddress make the
// pieces' common id ("%d.%s").
std::vector<std::string> splitPartial(const ComposedMessage& m, size_t pieceBytes,
                                      int64_t pieceTime, std::string_view mailAddress);
// pieceBytes: N x 2 for a body-length condition of N characters.
std::vector<std::string> splitBodySjis(const ComposedMessage& m, size_t pieceBytes);
std::vector<std::string> splitBodyJis(const ComposedMessage& m, size_t pieceBytes);

}  // namespace kolvy::smtp
