// "receive": one receive order, unattended, through the session the program's receive run uses.
#include <string>

#include "compose/responder.h"
#include "config/orders.h"
#include "core/sjis.h"
#include "mime/analyze.h"
#include "pop/analysis_sink.h"
#include "pop/receive_order.h"
#include "report/logs.h"
#include "rules/rule_book.h"
#include "rules/sort.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {
namespace {}  // namespace

int receiveCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    if (a.positional.size() != 2 || !a.options.empty()) {
        tool.err("usage: kolvytool receive <program-folder> <order-name>\n");
        return 2;
    }
    Env& env = tool.env;
    config::OrderList orders;
    if (orders.load(env, false) != Err::None) {
        tool.err("kolvytool: the receive orders could not be read\n");
        return 1;
    }
    const ReceiveOrder* order = pop::orderByName(orders, fromTerminal(a.positional[1]));
    if (!order) {
        tool.err("kolvytool: no receive order named " + std::string(a.positional[1]) + "\n");
        return 2;
    }

    rules::RegistryTabs directory(tool.tabs);
    rules::RuleBook book;
    const rules::SortSettings settings = rules::readSortSettings(env.ini);
    // Without its receive rules the mail would be filed where the user does not expect it.
    if (book.load(env, rules::RuleKind::Receive, directory, settings.staleMonths) != Err::None) {
        tool.err("kolvytool: the receive rules could not be read\n");
        return 1;
    }
    const int64_t appliedBefore = book.appliedTotal(rules::RuleKind::Receive);

    mime::AnalyzeContext analysis(env, tool.tabs);
    analysis.accounts = tool.accounts.head().next;
    analysis.receiveRules = rules::receiveRuleHook(book, env);
    // Replies and forwards the receive rules ask for become waiting drafts.
    compose::ComposeContext composing(env, tool.tabs, tool.accounts.head().next,
                                      tool.accounts.head().next);
    compose::RuleResponder responder(composing);
    analysis.responder = &responder;
    // Nobody makes a temporary tab for the tool: a full basic tab stops the run.
    analysis.requestTemporaryTab = [] {};
    pop::AnalysisSink sink(analysis);
    pop::SizeRuleAdvice sizeRules(book, &env);

    pop::ReceiveContext context(env, sink, sizeRules);
    context.options = pop::readSessionOptions(env.ini);
    report::RunLog receivedLog = report::RunLog::open(env, report::RunLogKind::Receive);
    context.receivedLog = &receivedLog;
    const pop::OrderRun run = pop::receiveOrder(context, tool.accounts, *order);
    receivedLog.close();

    if (book.appliedTotal(rules::RuleKind::Receive) != appliedBefore)
        book.save(env, rules::RuleKind::Receive, directory);
    tool.out("stored " + std::to_string(sink.stored()) + "\n");
    if (sink.joined() > 0) tool.out("joined " + std::to_string(sink.joined()) + "\n");
    const bool ok = run.result == pop::kReceiveDone || run.result == pop::kReceiveNoMail;
    if (!ok) tool.err("kolvytool: the receive failed; the communication log says why\n");
    return ok ? 0 : 1;
}

}  // namespace kolvy::tool
