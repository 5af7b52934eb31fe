#include "pop/receive_run_store.h"

#include "compose/responder.h"
#include "mime/analyze.h"
#include "pop/analysis_sink.h"
#include "rules/rule_book.h"
#include "rules/sort.h"

namespace kolvy::pop {
namespace {

// Tells whether the session got as far as the listing: it calls begin() once it read it.
class ListingSink final : public MessageSink {
  public:
    explicit ListingSink(AnalysisSink& inner) : inner_(inner) {}
    void begin() override {
        listed = true;
        inner_.begin();
    }
    StoreOutcome store(std::string& text, const ServerEntry& entry, bool asciiOnly) override {
        return inner_.store(text, entry, asciiOnly);
    }
    bool commitDue() const override { return inner_.commitDue(); }
    bool commit() override { return inner_.commit(); }
    void end(int result) override { inner_.end(result); }
    bool listed = false;

  private:
    AnalysisSink& inner_;
};

}  // namespace

int StoreReceiver::receive(const Account& account, const ReceiveOrder* order, CheckerItem* checker,
                           ReceiveProgress& progress, const std::function<void()>& changed,
                           bool& listed) {
    rules::RegistryTabs directory(tabs_);
    rules::RuleBook book;
    const rules::SortSettings settings = rules::readSortSettings(env_.ini);
    // Without its receive rules the mail would be filed where the user does not expect it.
    if (book.load(env_, rules::RuleKind::Receive, directory, settings.staleMonths) != Err::None)
        return kReceiveFailed;
    const int64_t appliedBefore = book.appliedTotal(rules::RuleKind::Receive);

    mime::AnalyzeContext analysis(env_, tabs_);
    analysis.accounts = accounts_.head().next;
    analysis.receiveRules = rules::receiveRuleHook(book, env_);
    compose::ComposeContext composing(env_, tabs_, accounts_.head().next, &account);
    compose::RuleResponder responder(composing);
    analysis.responder = &responder;
    if (requestTemporaryTab) analysis.requestTemporaryTab = requestTemporaryTab;
    AnalysisSink store(analysis);
    ListingSink sink(store);
    SizeRuleAdvice sizeRules(book, &env_);

    ReceiveContext context(env_, sink, sizeRules);
    context.options = readSessionOptions(env_.ini);
    context.abortRequested = abortRequested;
    context.progress = &progress;
    context.statusChanged = changed;
    context.progressChanged = changed;
    if (log_.isOpen()) context.receivedLog = &log_;
    const int result = ReceiveAccount(context, account, order, checker);
    listed = sink.listed;
    if (book.appliedTotal(rules::RuleKind::Receive) != appliedBefore)
        book.save(env_, rules::RuleKind::Receive, directory);
    return result;
}

}  // namespace kolvy::pop
