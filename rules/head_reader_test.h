// A stored message reader for tests and benchmarks: the header through the received-mail header
// extraction, the body after the empty line as one piece.
#pragma once

#include <string>

#include "core/sjis.h"
#include "mime/header.h"
#include "rules/evaluate.h"
#include "rules/stored_message.h"

namespace kolvy::rules {

class HeadReader final : public StoredMessageReader {
  public:
    bool read(std::string& text, StoredView& out) override {
        ++reads;
        if (text.empty() || text.front() != '\n') return false;
        const StoredParts parts = splitStored(text);
        body_.assign(parts.body);
        header_.assign(parts.header.substr(1));
        header_ += "\r\n\r\n";
        head_ = mime::extractHead(header_);
        out.header = &head_.info;
        out.body.clear();
        if (!body_.empty()) out.body.push_back({body_.data(), body_.data() + body_.size()});
        out.bodyLength = static_cast<uint32_t>(body_.size());
        out.convertedLength = convertedLength(body_);
        out.asciiOnly = sjis::isAscii(text);
        return true;
    }
    int reads = 0;

  private:
    std::string header_, body_;
    mime::HeadCopy head_;
};

}  // namespace kolvy::rules
