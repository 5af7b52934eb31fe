#include "compose/responder.h"

#include "core/sjis.h"
#include "rules/evaluate.h"
#include "rules/sort.h"

namespace kolvy::compose {

bool RuleResponder::run(const ComposeRequest& request) {
    const ComposeOutcome out = compose(context_, dialogs_, request);
    if (out.stored) ++made_;
    return out.stored;
}

namespace {

// The answer a rule asks for, from its template into its tab. The message answered: analysis
// hands its own copy of the stored text, the executor an item.
ComposeRequest ruleRequest(int mode, const rules::AutoRequest& r) {
    ComposeRequest q;
    q.mode = mode;
    if (!r.storedText.empty()) {
        q.sourceFileText = r.storedText;
    } else {
        q.sourceTab = r.sourceTab;
        q.item = const_cast<MailItem*>(r.item);
    }
    q.templateName = r.templateName;
    q.intoTab = r.intoTab;
    return q;
}

}  // namespace

bool RuleResponder::reply(const rules::AutoRequest& r) {
    return run(ruleRequest(kComposeRuleReply, r));
}

bool RuleResponder::forward(const rules::AutoRequest& r) {
    ComposeRequest q = ruleRequest(kComposeRuleForward, r);
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

void loadComposeRules(ComposeContext& c, rules::RuleBook& book, rules::TabDirectory& tabs) {
    const int stale = rules::readSortSettings(c.env.ini).staleMonths;
    for (rules::RuleKind k :
         {rules::RuleKind::Make, rules::RuleKind::Reply, rules::RuleKind::Forward}) {
        book.load(c.env, k, tabs, stale);
    }
    c.makeRules = ruleHook(c.env, book, rules::RuleKind::Make);
    c.replyRules = ruleHook(c.env, book, rules::RuleKind::Reply);
    c.forwardRules = ruleHook(c.env, book, rules::RuleKind::Forward);
}

}  // namespace kolvy::compose
