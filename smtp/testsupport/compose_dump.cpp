// smtp_compose_dump: composes one draft file the way the send run does and writes what would go
// on the wire, so that independent readers (Python's email package, nkf, munpack) and the
// benchmark can look at it without a server.
//
//   smtp_compose_dump <draft> <out-folder> [--attach <folder>] [--from <address>] [--time <s>]
//                     [--counter <n>] [--partial <bytes> | --body-sjis <bytes> | --body-jis
//                     <bytes>]
//
// Writes <out>/wire.eml, <out>/recipients.txt (one address a line), <out>/message-id.txt and,
// with a split option, <out>/piece-NNN.eml. Paths are taken as they stand (ASCII is safest).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/fileutil.h"
#include "smtp/outgoing.h"
#include "smtp/split.h"

namespace {

using namespace kolvy;

int fail(const char* what) {
    std::fprintf(stderr, "smtp_compose_dump: %s\n", what);
    return 2;
}

struct Args {
    std::string draft, out, attach, from = "me@example.jp", split;
    int64_t time = 1765000000;
    int counter = 1;
    size_t pieceBytes = 0;
};

bool parse(int argc, char** argv, Args& a) {
    if (argc < 3) return false;
    a.draft = argv[1];
    a.out = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string_view opt = argv[i];
        const char* v = argv[i + 1];
        if (opt == "--attach") {
            a.attach = v;
        } else if (opt == "--from") {
            a.from = v;
        } else if (opt == "--time") {
            a.time = std::strtoll(v, nullptr, 10);
        } else if (opt == "--counter") {
            a.counter = std::atoi(v);
        } else if (opt == "--partial" || opt == "--body-sjis" || opt == "--body-jis") {
            a.split = opt.substr(2);
            a.pieceBytes = std::strtoull(v, nullptr, 10);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (!parse(argc, argv, a)) return fail("usage: <draft> <out-folder> [options]");
    auto fs = platform::makeFileSystem();
    smtp::ComposeInput in;
    in.mailAddress = a.from;
    in.sendTime = a.time;
    in.sendCounter = a.counter;
    in.attachmentFolder = a.attach;
    const smtp::ComposeResult r = smtp::composeDraftFile(*fs, a.draft, in);
    if (!r.ok()) {
        std::fprintf(stderr, "failure %d at %s\n", static_cast<int>(r.failure),
                     r.failedPath.c_str());
        return 1;
    }
    const smtp::ComposedMessage& m = r.message;
    std::string recipients;
    for (const std::string& rcpt : m.recipients)
        recipients += rcpt + "\n";
    using platform::Flush;
    using platform::writeWholeFile;
    if (writeWholeFile(*fs, a.out + "/wire.eml", m.wire, Flush::ToCache) != Err::None ||
        writeWholeFile(*fs, a.out + "/recipients.txt", recipients, Flush::ToCache) != Err::None ||
        writeWholeFile(*fs, a.out + "/message-id.txt", m.messageIdLine, Flush::ToCache) !=
            Err::None)
        return fail("cannot write the output");
    std::vector<std::string> pieces;
    if (a.split == "partial") pieces = smtp::splitPartial(m, a.pieceBytes, a.time + 1, a.from);
    if (a.split == "body-sjis") pieces = smtp::splitBodySjis(m, a.pieceBytes);
    if (a.split == "body-jis") pieces = smtp::splitBodyJis(m, a.pieceBytes);
    for (size_t n = 0; n < pieces.size(); ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "/piece-%03zu.eml", n + 1);
        if (writeWholeFile(*fs, a.out + name, pieces[n], Flush::ToCache) != Err::None)
            return fail("cannot write a piece");
    }
    std::printf("wire %zu bytes, %zu recipients, %zu attachments, %zu pieces\n", m.wire.size(),
                m.recipients.size(), m.attachments.size(), pieces.size());
    return 0;
}
