#include "rules/auto_answer.h"

#include "core/ascii.h"
#include "core/mail_state.h"
#include "core/sjis.h"

namespace kolvy::rules {
namespace {

using ascii::isBlank;
using ascii::trim;

// The first word of a header value: up to a blank, ";" or "(" (a comment).
std::string_view firstToken(std::string_view v) {
    const size_t end = v.find_first_of(" \t;(");
    return v.substr(0, end);
}

}  // namespace

AutoRequest replyRequest(const RuleResult& result) {
    AutoRequest r;
    r.templateName = sjis::fieldView(result.replyTemplate);
    r.intoTab = result.replyTab;
    r.extraHeaders = {kAutoRepliedHeader};
    return r;
}

AutoRequest forwardRequest(const RuleResult& result) {
    AutoRequest r;
    r.templateName = sjis::fieldView(result.templateName);
    r.intoTab = result.forwardTab;
    r.forwardKind = result.forwardKind;
    r.forwardFrom = sjis::fieldView(result.forwardFrom);
    r.forwardTo = sjis::fieldView(result.forwardTo);
    return r;
}

std::optional<std::string> headerValue(std::string_view text, std::string_view name) {
    size_t pos = 0;
    while (pos < text.size()) {
        // LF never is a trail byte: a byte scan for line ends is safe in Shift_JIS.
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(pos, end - pos);
        const bool match = line.size() > name.size() && line[name.size()] == ':' &&
                           sjis::equalsNoCaseAscii(line.substr(0, name.size()), name);
        if (match) {
            std::string value(line.substr(name.size() + 1));
            // Folded continuation lines belong to the value.
            size_t next = end + 1;
            while (next < text.size() && isBlank(text[next])) {
                size_t e = text.find('\n', next);
                if (e == std::string_view::npos) e = text.size();
                value += ' ';
                value += trim(text.substr(next, e - next));
                next = e + 1;
            }
            return std::string(trim(value));
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> ownAddresses(const Account* first) {
    std::vector<std::string> out;
    for (const Account* a = first; a; a = a->next)
        out.emplace_back(sjis::fieldView(a->mailAddress));
    return out;
}

AutoSkip autoAnswerGuard(std::string_view header, std::string_view fromAddress, uint8_t state,
                         std::span<const std::string> ownAddresses) {
    if (mail::isAnswered(state)) return AutoSkip::AlreadyAnswered;
    if (auto v = headerValue(header, "Auto-Submitted")) {
        if (!sjis::equalsNoCaseAscii(firstToken(*v), "no")) return AutoSkip::AutoSubmitted;
    }
    if (auto v = headerValue(header, "Precedence")) {
        const std::string_view t = firstToken(*v);
        if (sjis::equalsNoCaseAscii(t, "bulk") || sjis::equalsNoCaseAscii(t, "list") ||
            sjis::equalsNoCaseAscii(t, "junk")) {
            return AutoSkip::Precedence;
        }
    }
    if (headerValue(header, "List-Id")) return AutoSkip::ListId;
    if (auto v = headerValue(header, "Return-Path")) {
        std::string_view p = trim(*v);
        if (p.size() >= 2 && p.front() == '<' && p.back() == '>')
            p = trim(p.substr(1, p.size() - 2));
        if (p.empty()) return AutoSkip::EmptyReturnPath;
    }
    std::string_view from = trim(fromAddress);
    if (from.size() >= 2 && from.front() == '<' && from.back() == '>')
        from = from.substr(1, from.size() - 2);
    const std::string_view local = from.substr(0, from.find('@'));
    if (sjis::equalsNoCaseAscii(local, "MAILER-DAEMON")) return AutoSkip::MailerDaemon;
    for (const std::string& own : ownAddresses) {
        if (!own.empty() && sjis::equalsNoCaseAscii(trim(own), from)) return AutoSkip::OwnAccount;
    }
    return AutoSkip::None;
}

}  // namespace kolvy::rules
