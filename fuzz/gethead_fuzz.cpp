// GetHead and MakeGMT on arbitrary bytes in exactly sized buffers: every pointer of the record
// lies in the copy, start never after end, the fixed fields stay terminated in their limits; a
// copy sized by the header block alone gives the same header as one sized by the whole text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mime/header.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kolvy::mime;
    const size_t n = size + 1;  // with the LF in front of the first header
    std::vector<char> src(n + kHeadRepairRoom, '\0');
    src[0] = '\n';
    if (size) std::memcpy(src.data() + 1, data, size);
    std::vector<char> copy(headerCopyMax(n));
    HeaderInfo info{};
    const HeadResult r = getHead(src, n, copy, info);
    check(r.sourceEnd < src.size() && r.copyEnd < copy.size() && copy[r.copyEnd] == '\0');
    const char* lo = copy.data();
    const char* hi = copy.data() + copy.size();
    char* const pairs[][2] = {
        {info.fromAddressStart, info.fromAddressEnd},
        {info.fromNameStart, info.fromNameEnd},
        {info.toAddressStart, info.toAddressEnd},
        {info.toNameStart, info.toNameEnd},
        {info.ccStart, info.ccEnd},
        {info.deliveredToStart, info.deliveredToEnd},
        {info.mailerStart, info.mailerEnd},
        {info.mlNameStart, info.mlNameEnd},
        {info.contentTypeStart, info.contentTypeEnd},
        {info.param1Start, info.param1End},
        {info.param2Start, info.param2End},
        {info.param3Start, info.param3End},
        {info.nameStart, info.nameEnd},
        {info.replyToStart, info.replyToEnd},
        {info.returnPathStart, info.returnPathEnd},
        {info.messageIdStart, info.messageIdEnd},
        {info.transferEncodingStart, info.transferEncodingEnd},
    };
    for (const auto& p : pairs) {
        if (!p[0]) continue;
        check(p[0] >= lo && p[1] >= p[0] && p[1] <= hi);
    }
    check(strnlen(info.subject, sizeof info.subject) <= kSubjectMax);
    check(strnlen(info.received, sizeof info.received) <= kReceivedMax);
    check(strnlen(info.otherHeaders, sizeof info.otherHeaders) <= kOtherHeadersMax);
    check(info.partCount == 0 && !info.boundaryStart);

    // A copy sized by the header block alone (as analysis sizes it) holds the same header.
    std::vector<char> src2(n + kHeadRepairRoom, '\0');
    src2[0] = '\n';
    if (size) std::memcpy(src2.data() + 1, data, size);
    std::vector<char> small(headerCopyRoom(std::string_view(src2.data(), n)));
    HeaderInfo info2{};
    const HeadResult r2 = getHead(src2, n, small, info2);
    check(r2.sourceEnd == r.sourceEnd && r2.copyEnd == r.copyEnd);
    check(std::memcmp(small.data(), copy.data(), r.copyEnd) == 0);
    check(std::strcmp(info.subject, info2.subject) == 0 &&
          std::strcmp(info.otherHeaders, info2.otherHeaders) == 0);

    const std::vector<char> date(data, data + size);
    const auto t = makeGmt(std::string_view(date.data(), date.size()));
    (void)t;
    return 0;
}
