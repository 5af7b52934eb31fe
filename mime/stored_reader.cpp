#include "mime/stored_reader.h"

#include "core/sjis.h"
#include "mime/stored_header.h"
#include "rules/evaluate.h"

namespace kolvy::mime {

bool StoredReader::read(std::string& text, rules::StoredView& out) {
    if (text.empty() || text.front() != '\n') return false;
    header_ = HeaderInfo{};
    // The record points into `text`, which the caller keeps until the next read.
    readStoredHeader(text, header_);
    const rules::StoredParts parts = rules::splitStored(text);
    out.header = &header_;
    out.body.clear();
    if (!parts.body.empty())
        out.body.push_back({parts.body.data(), parts.body.data() + parts.body.size()});
    out.bodyLength = static_cast<uint32_t>(parts.body.size());
    out.convertedLength = rules::convertedLength(parts.body);
    out.asciiOnly = sjis::isAscii(text);
    return true;
}

}  // namespace kolvy::mime
