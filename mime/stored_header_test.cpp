// The stored header reader: what only it records, and that it never reads past the text it was
// given. The fields both readers fill are tested with GetHead's (header_test, header_lines_test).
#include "mime/stored_header.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/header.h"

namespace kolvy::mime {
namespace {

std::string v(const char* s, const char* e) {
    return HeadCopy::view(s, e).empty() ? std::string("<none>") : std::string(HeadCopy::view(s, e));
}

struct Read {
    explicit Read(std::string t) : text(std::move(t)) { readStoredHeader(text, h); }
    std::string text;
    HeaderInfo h{};
};

TEST(StoredHeader, ResentAddressesFillTheExtraPairsInEitherOrder) {
    for (const char* text :
         {"\nFrom: a@example.jp\r\nResent-From: rf@example.jp\r\nTo: t@example.jp\r\n"
          "Resent-To: rt@example.jp\r\nResent-From: later@example.jp\r\n\r\n",
          "\nResent-To: <rt@example.jp>\r\nResent-From: Someone <rf@example.jp>\r\n"
          "To: t@example.jp\r\nFrom: a@example.jp\r\n\r\n"}) {
        Read r(text);
        EXPECT_EQ(v(r.h.fromAddressStart, r.h.fromAddressEnd), "a@example.jp");
        EXPECT_EQ(v(r.h.toAddressStart, r.h.toAddressEnd), "t@example.jp");
        EXPECT_EQ(v(r.h.resentFromStart, r.h.resentFromEnd), "rf@example.jp");
        EXPECT_EQ(v(r.h.resentToStart, r.h.resentToEnd), "rt@example.jp");
    }
}

TEST(StoredHeader, FileNameOfTheTypeOrAnAttachedOrInlineDisposition) {
    const struct {
        const char *header, *name;
    } rows[] = {
        {"Content-Type: application/pdf;\r\n name=\"報告書.pdf\"", "報告書.pdf"},
        {"Content-Disposition: attachment; filename=\"表.xls\"", "表.xls"},
        {"Content-Disposition: form-data; filename=\"x\"", "<none>"},
    };
    for (const auto& r : rows) {
        Read d(std::string("\n") + r.header + "\r\n\r\n");
        EXPECT_EQ(v(d.h.nameStart, d.h.nameEnd), r.name) << r.header;
    }
}

TEST(StoredHeader, EveryCutOfTheTextStaysInsideIt) {
    const std::string full =
        "\nFrom: \"Taro\" <taro@example.jp>\r\nTo: t@example.jp (T)\r\nSubject: a\r\n b\r\n"
        "Content-Type: text/plain; name=\"x\"\r\nContent-Disposition: attachment; "
        "filename=\"y\"\r\n"
        "Received: from a\r\n by b\r\n\r\nbody";
    for (size_t n = 0; n <= full.size(); ++n) {
        // The text alone, in a buffer of its own, so that the sanitizer sees any read beyond.
        std::vector<char> buf(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        HeaderInfo h{};
        const size_t stop = readStoredHeader(std::string_view(buf.data(), n), h);
        ASSERT_LE(stop, n);
        for (char* p : {h.fromNameEnd, h.fromAddressEnd, h.toAddressEnd, h.toNameEnd, h.nameEnd,
                        h.contentTypeEnd}) {
            if (p) {
                EXPECT_LE(p, buf.data() + n) << n;
            }
        }
    }
}

}  // namespace
}  // namespace kolvy::mime
