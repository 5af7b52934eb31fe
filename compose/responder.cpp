#include "compose/responder.h"

#include "core/sjis.h"
#include "rules/evaluate.h"

namespace kolvy::compose {

bool RuleResponder::run(const ComposeRequest& request) {
    const ComposeOutcome out = compose(context_, dialogs_, request);
    if (out.stored) ++made_;
    return out.stored;
}

bool RuleResponder::reply(std::string storedText, RuleResult result, Tab&, int) {
    ComposeRequest q;
    q.mode = kComposeRuleReply;
    q.sourceFileText = std::move(storedText);
    q.templateName = sjis::fieldView(result.replyTemplate);
    q.intoTab = result.replyTab;
    return run(q);
}

bool RuleResponder::forward(std::string storedText, RuleResult result, Tab&, int) {
    ComposeRequest q;
    q.mode = kComposeRuleForward;
    q.sourceFileText = std::move(storedText);
    q.templateName = sjis::fieldView(result.templateName);
    q.intoTab = result.forwardTab;
    q.forwardKind = result.forwardKind > 0 ? result.forwardKind - 1 : 0;
    q.forwardFrom = sjis::fieldView(result.forwardFrom);
    q.forwardTo = sjis::fieldView(result.forwardTo);
    return run(q);
}

bool RuleResponder::reply(const rules::AutoRequest& r) {
    ComposeRequest q;
    q.mode = kComposeRuleReply;
    q.sourceTab = r.sourceTab;
    q.item = const_cast<MailItem*>(r.item);
    q.templateName = r.templateName;
    q.intoTab = r.intoTab;
    return run(q);
}

bool RuleResponder::forward(const rules::AutoRequest& r) {
    ComposeRequest q;
    q.mode = kComposeRuleForward;
    q.sourceTab = r.sourceTab;
    q.item = const_cast<MailItem*>(r.item);
    q.templateName = r.templateName;
    q.intoTab = r.intoTab;
    q.forwardKind = r.forwardKind > 0 ? r.forwardKind - 1 : 0;
    q.forwardFrom = r.forwardFrom;
    q.forwardTo = r.forwardTo;
    return run(q);
}

RuleHook ruleHook(Env& env, rules::RuleBook& book, rules::RuleKind kind) {
    return [&env, &book, kind](const SourceMessage& m, RuleResult& result) {
        const std::string_view body = m.body();
        rules::TextPiece piece{body.data(), body.data() + body.size()};
        rules::RuleSubject subject;
        subject.header = &m.info();
        subject.body = std::span<const rules::TextPiece>(&piece, 1);
        subject.bodyLength = static_cast<uint32_t>(body.size());
        subject.messageSize = static_cast<uint32_t>(m.message().size());
        subject.asciiOnly = sjis::isAscii(m.message());
        result = RuleResult{};
        rules::evaluateRules(subject, book.head(kind), result,
                             rules::evaluationContext(env, &book));
        return result.matched != nullptr;
    };
}

}  // namespace kolvy::compose
