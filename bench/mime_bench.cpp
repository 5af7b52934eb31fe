// Decoder throughput against the peers a mail program would otherwise use, on the same 64 MB
// input in the same run: OpenSSL's EVP_DecodeBlock for Base64, glibc iconv for ISO-2022-JP and
// UTF-8 to code page 932. Quoted-printable and the header extraction are measured on their own.
#include <iconv.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "mime/analyze.h"
#include "mime/decode.h"
#include "mime/header.h"
#include "mime/walk.h"

namespace {

using namespace kolvy;
constexpr size_t kInput = 64u << 20;

// A Japanese line in UTF-8 (kanji, kana, ASCII and full-width forms), repeated to the size.
std::string japaneseUtf8(size_t size) {
    const std::string line =
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\xA1\xE3\x83\xBC\xE3\x83\xAB"
        " test 12345 \xE4\xBC\x9A\xE8\xAD\xB0\xE3\x81\xAE\xE4\xBA\x88\xE5\xAE\x9A\xE3\x81\xAB"
        "\xE3\x81\xA4\xE3\x81\x84\xE3\x81\xA6\xEF\xBC\xA1\xEF\xBC\xA2\r\n";
    std::string out;
    out.reserve(size + line.size());
    while (out.size() < size)
        out += line;
    return out;
}

std::string viaIconv(const char* to, const char* from, const std::string& in) {
    iconv_t cd = iconv_open(to, from);
    std::string out(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}

// A message of `parts` text parts, each with the same body line.
std::string manyParts(size_t parts, const std::string& bodyLine) {
    std::string text = "\nFrom: a@example.jp\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n";
    text.reserve(parts * (36 + bodyLine.size()) + 256);
    for (size_t k = 0; k < parts; ++k)
        text += "--b\r\nContent-Type: text/plain\r\n\r\n" + bodyLine;
    text += "--b--\r\n.\r\n";
    return text;
}

double analyzeMs(const std::string& text) {
    return bench::bestSeconds([&] { mime::analyzeText(text, "2612071030"); }, 3) * 1e3;
}

// A hostile message of 100,000 empty text parts against the half second a receive run may spend
// on one message; then the walk's cost per byte as the message grows, at the part cap (the
// walk's own work) and past it (the rest kept as it came).
void multipartWalk() {
    constexpr double kBudgetMs = 500;
    const std::string hostile = manyParts(100000, "\r\n");
    const double ms = analyzeMs(hostile);
    std::printf("BENCH mime.100k_empty_parts kolvy=%.4gms peer=%.4gms ratio=%.3f\n", ms, kBudgetMs,
                kBudgetMs / ms);
    std::printf("MEASURE mime.100k_empty_parts size=%.2fMB\n", hostile.size() / 1e6);
    const std::string line(60, 'x');
    for (size_t lines : {10u, 100u}) {
        std::string body;
        for (size_t k = 0; k < lines; ++k)
            body += line + "\r\n";
        const std::string text = manyParts(mime::kMaxParts, body);
        const double t = analyzeMs(text);
        std::printf("MEASURE mime.walk_%zu_parts size=%.1fMB kolvy=%.4gms (%.3gms/MB)\n",
                    mime::kMaxParts, text.size() / 1e6, t, t / (text.size() / 1e6));
    }
    for (size_t parts : {10000u, 100000u, 1000000u}) {
        const std::string text = manyParts(parts, "\r\n");
        const double t = analyzeMs(text);
        std::printf("MEASURE mime.empty_parts n=%zu size=%.1fMB kolvy=%.4gms (%.3gms/MB)\n", parts,
                    text.size() / 1e6, t, t / (text.size() / 1e6));
    }
    std::fflush(stdout);
}

void base64Lines() {
    // ------------------------------------------------------------------ Base64
    std::vector<unsigned char> raw(kInput / 4 * 3);
    std::mt19937 rng(1);
    for (auto& b : raw)
        b = static_cast<unsigned char>(rng());
    std::string b64(kInput, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64.data()), raw.data(),
                    static_cast<int>(raw.size()));
    b64.resize(std::strlen(b64.c_str()));
    std::vector<char> out(b64.size() + 16);
    size_t kolvyBytes = 0;
    int peerBytes = 0;
    bench::compareThroughput(
        "mime.base64_decode", static_cast<double>(b64.size()),
        [&] { kolvyBytes = mime::base64Decode(b64, out).written; },
        [&] {
            peerBytes = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                        reinterpret_cast<const unsigned char*>(b64.data()),
                                        static_cast<int>(b64.size()));
        });
    if (kolvyBytes != raw.size() || peerBytes != static_cast<int>(raw.size()))
        std::printf("base64: unexpected sizes %zu %d\n", kolvyBytes, peerBytes);
    // The narrower paths, as older processors and the 32-bit build run them.
    const mime::Base64Path widest = mime::base64Path();
    for (auto [path, name] : {std::pair{mime::Base64Path::Ssse3, "mime.base64_decode.ssse3"},
                              std::pair{mime::Base64Path::Scalar, "mime.base64_decode.scalar"}}) {
        if (path == widest || !mime::useBase64Path(path)) continue;
        bench::compareThroughput(
            name, static_cast<double>(b64.size()),
            [&] { kolvyBytes = mime::base64Decode(b64, out).written; },
            [&] {
                EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(b64.data()),
                                static_cast<int>(b64.size()));
            });
        if (kolvyBytes != raw.size()) std::printf("%s: unexpected size %zu\n", name, kolvyBytes);
    }
    mime::useBase64Path(widest);
}

void oneSidedMeasures(const std::string& utf8) {
    // ------------------------------------------------- quoted-printable, on its own
    std::string qp;
    qp.reserve(kInput + 128);
    static const char hex[] = "0123456789ABCDEF";
    size_t col = 0;
    for (size_t i = 0; qp.size() < kInput; ++i) {
        const auto c = static_cast<unsigned char>(utf8[i % utf8.size()]);
        if (c >= 0x80 || c == '=') {
            qp += '=';
            qp += hex[c >> 4];
            qp += hex[c & 15];
            col += 3;
        } else if (c != '\r' && c != '\n') {
            qp += static_cast<char>(c);
            ++col;
        }
        if (col >= 72) {
            qp += "=\r\n";
            col = 0;
        }
    }
    std::vector<char> qpOut(mime::quotedPrintableDecodedMax(qp.size()));
    const double qpSec = bench::bestSeconds([&] { mime::quotedPrintableDecode(qp, qpOut); }, 3);
    std::printf("MEASURE mime.quoted_printable_decode kolvy=%.4gMB/s\n",
                static_cast<double>(qp.size()) / qpSec / 1e6);

    // --------------------------------------------------------- GetHead, on its own
    const std::string header =
        "\nReceived: from mx.example.jp (mx.example.jp [192.0.2.1])\r\n"
        "\tby pop.example.jp with ESMTP id 1234; Tue, 5 Dec 2000 12:34:56 +0900\r\n"
        "Return-Path: <taro@example.jp>\r\n"
        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <taro@example.jp>\r\n"
        "To: =?UTF-8?B?6Iqx5a2Q?= <hanako@example.jp>\r\n"
        "Subject: =?ISO-2022-JP?B?GyRCMnE1RCROTVtEaiRLJEQkJCRGGyhC?=\r\n"
        " =?ISO-2022-JP?B?GyRCIUohSkwkJEckOSFLGyhC?=\r\n"
        "Date: Tue, 5 Dec 2000 12:34:56 +0900\r\n"
        "Message-ID: <20001205123456.1234@example.jp>\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "X-Mailer: Example Mailer 1.0\r\n"
        "\r\nbody\r\n.\r\n";
    std::vector<char> src(header.size() + mime::kHeadRepairRoom);
    std::vector<char> copy(mime::headerCopyMax(header.size()));
    constexpr int kHeads = 200000;
    const double headSec = bench::bestSeconds(
        [&] {
            for (int k = 0; k < kHeads; ++k) {
                std::memcpy(src.data(), header.data(), header.size());
                HeaderInfo info{};
                mime::getHead(src, header.size(), copy, info);
            }
        },
        3);
    std::printf("MEASURE mime.get_head kolvy=%.4gheaders/s (%zu-byte header, 13 fields)\n",
                kHeads / headSec, header.size());
}

}  // namespace

int main() {
    base64Lines();
    // ---------------------------------------------------------- ISO-2022-JP -> CP932
    const std::string utf8 = japaneseUtf8(kInput);
    const std::string sjisText = viaIconv("CP932", "UTF-8", utf8);
    std::string jis = viaIconv("ISO-2022-JP", "CP932", sjisText);
    jis.resize(jis.rfind('\n') + 1);
    std::vector<char> big(mime::jisToSjisMax(jis.size()));
    bench::compareThroughput(
        "mime.iso2022jp_to_sjis", static_cast<double>(jis.size()),
        [&] { mime::jisToSjis(jis, big); },
        [&] {
            iconv_t cd = iconv_open("CP932", "ISO-2022-JP");
            char* src = jis.data();
            size_t srcLeft = jis.size();
            char* dst = big.data();
            size_t dstLeft = big.size();
            iconv(cd, &src, &srcLeft, &dst, &dstLeft);
            iconv_close(cd);
        },
        3);
    if (mime::jisToSjis(jis) != viaIconv("CP932", "ISO-2022-JP", jis))
        std::printf("iso-2022-jp: outputs differ\n");

    // ----------------------------------------------------------------- UTF-8 -> CP932
    std::vector<char> u8out(mime::utf8ToSjisMax(utf8.size()));
    bench::compareThroughput(
        "mime.utf8_to_sjis", static_cast<double>(utf8.size()),
        [&] { mime::utf8ToSjis(utf8, u8out); },
        [&] {
            iconv_t cd = iconv_open("CP932", "UTF-8");
            char* src = const_cast<char*>(utf8.data());
            size_t srcLeft = utf8.size();
            char* dst = u8out.data();
            size_t dstLeft = u8out.size();
            iconv(cd, &src, &srcLeft, &dst, &dstLeft);
            iconv_close(cd);
        },
        3);

    oneSidedMeasures(utf8);
    multipartWalk();
    return 0;
}
