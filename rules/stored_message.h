// How the rules over stored mail see a message file: its header record and its body pieces.
//
// Reading the header of stored text belongs to message decoding; the rule executor only hands
// it the text after the status line (starting with the LF that ends that line, as the stored
// header reader expects) and takes the record and the body back. Each file is read once per
// pass over a tab.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "rules/evaluate.h"

namespace kolvy::rules {

// A stored message as the conditions see it. The record and the pieces point into the text the
// reader was given or into the reader's own buffers; both stay valid until its next read.
struct StoredView {
    const HeaderInfo* header = nullptr;
    std::vector<TextPiece> body;
    uint32_t bodyLength = 0;       // Shift_JIS bytes of the body pieces
    uint32_t convertedLength = 0;  // the same after conversion, escape sequences included
    bool asciiOnly = false;        // no Japanese character in header or body
};

class StoredMessageReader {
  public:
    virtual ~StoredMessageReader() = default;
    // `text` is the file's text from the LF that ends its status line; the reader may change it
    // in place and must keep what it points into alive until its next call. False when the text
    // holds no message.
    virtual bool read(std::string& text, StoredView& out) = 0;
};

// The header lines of a stored text (from its leading LF up to the CR LF CR LF, or all of it
// when there is no empty line) and the body after the empty line.
struct StoredParts {
    std::string_view header;
    std::string_view body;
};
StoredParts splitStored(std::string_view text);

}  // namespace kolvy::rules
