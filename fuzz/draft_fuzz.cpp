// Drafts from arbitrary bytes: template files read and written back, the reply template expanded
// against an arbitrary message (its header part never gains a line), HTML turned into text, and
// the header check in every mode.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "compose/check.h"
#include "compose/expand.h"
#include "compose/templates.h"

namespace {

using namespace kolvy;

void check(bool ok, int line) {
    if (!ok) {
        std::fprintf(stderr, "draft_fuzz: check at line %d failed\n", line);
        std::abort();
    }
}
#define CHECK(x) check((x), __LINE__)

size_t lineBreaks(std::string_view s) {
    size_t n = 0;
    for (char c : s)
        n += c == '\n' || c == '\r' || c == '\0';
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);

    // A file written by the program reads back to the same list and the same bytes.
    const auto list = compose::parseTemplates(in);
    const std::string bytes = compose::formatTemplates(list);
    const auto again = compose::parseTemplates(bytes);
    CHECK(compose::formatTemplates(again) == bytes);
    CHECK(again.size() == list.size());

    Account account{};
    std::snprintf(account.mailAddress, sizeof account.mailAddress, "me@example.jp");
    compose::ExpandContext context;
    context.accounts = &account;
    context.paneAccount = &account;
    context.htmlLineCount = 40;
    auto message = compose::SourceMessage::fromText(in);
    const compose::Template t = compose::defaultTemplate(compose::kReplyTemplate);
    const std::string header = compose::expand(t.header, context, message.get(), true);
    CHECK(lineBreaks(header) == lineBreaks(t.header));
    const std::string body = compose::expand(t.body, context, message.get(), true);
    CHECK(body.size() >= 2 && body.substr(body.size() - 2) == "\r\n");

    const std::string text = compose::htmlToText(in, 40);
    CHECK(text.size() <= 3 * in.size() + 2);

    for (auto mode : {compose::CheckMode::Template, compose::CheckMode::NewTemplate,
                      compose::CheckMode::Draft, compose::CheckMode::ReplyDraft,
                      compose::CheckMode::EditedDraft, compose::CheckMode::ResendDraft}) {
        const compose::HeaderCheck c = compose::checkHeader(in, mode);
        CHECK(c.ok() || c.noAddress == compose::NoAddress::None);
    }
    return 0;
}
