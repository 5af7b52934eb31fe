// The index and status-line readers on arbitrary bytes: a record start the scanner accepts always
// parses, parsed records stay inside the buffer, a clean record re-encodes to its own bytes, and
// a status line read back from its own formatting reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "store/index.h"
#include "store/message_file.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::store;
    const std::string_view buf(reinterpret_cast<const char*>(data), size);
    const uint64_t base = kIndexHeaderSize;

    for (size_t at = findRecordStart(buf, base); at != std::string_view::npos;
         at = findRecordStart(buf, base, at)) {
        check(isRecordStart(buf, at, base));
        RecordView v;
        check(parseRecord(buf, at, v));
        check(v.length <= buf.size() - at);
        bool clean = true;
        for (int i = 0; i < kTextCount; ++i)
            clean = clean && v.texts[i].size() <= kWriterCaps[i];
        if (clean) check(encodeRecord(toRecord(v)) == buf.substr(at, v.length));
    }
    size_t pos = 0;
    RecordView v;
    while (pos < buf.size() && parseRecord(buf, pos, v)) {
        check(v.length >= kRecordFixedSize + kTextCount && v.length <= buf.size() - pos);
        pos += v.length;
    }

    parseSummary(buf);
    if (auto line = parseStatusLine(buf)) {
        const std::string again = formatStatusLine(*line);
        check(again.size() == kStatusLineSize);
        auto back = parseStatusLine(again);
        check(back && back->state == line->state && back->markColour == line->markColour);
    }
    stampToSeconds(buf);
    return 0;
}
