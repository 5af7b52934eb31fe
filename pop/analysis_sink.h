// Where the session's messages go in the program: message analysis files each one into the store,
// and the receive rules that can be judged by a message's listed size alone decide before it is
// fetched.
#pragma once

#include <string_view>
#include <vector>

#include "mime/analyze.h"
#include "pop/session.h"
#include "rules/rule_book.h"
#include "store/commit.h"

namespace kolvy::pop {

// The sink stores through a write batch of its own (the context's index options point to it while
// the sink lives): nothing is flushed per message, the session commits.
class AnalysisSink final : public MessageSink {
  public:
    explicit AnalysisSink(mime::AnalyzeContext& context);
    ~AnalysisSink() override;
    AnalysisSink(const AnalysisSink&) = delete;
    AnalysisSink& operator=(const AnalysisSink&) = delete;
    StoreOutcome store(std::string& text, const ServerEntry& entry, bool asciiOnly) override;
    void begin() override;
    bool commitDue() const override { return batch_.due(); }
    bool commit() override;
    // Joins the split messages whose pieces arrived in the run, and commits what the join wrote.
    void end(int result) override;

    int stored() const { return stored_; }
    int discarded() const { return discarded_; }
    int joined() const { return joined_; }

  private:
    mime::AnalyzeContext& context_;
    store::WriteBatch batch_;
    int stored_ = 0, discarded_ = 0, joined_ = 0;
    int firstNumber_ = 0;  // the number the run's first message took in the basic receive tab
    bool piecesArrived_ = false;
};

// Before a message is fetched only its size is known, so only receive rules whose one condition
// is a size can say what to do then, and only when no rule above them could hold instead: the
// rule nearest the top decides, as it does after the fetch. When a rule above could hold, the
// header is read first (TOP n 0) and the rules above are judged by it; rules that need the text
// make the message be fetched, and analysis decides. A size rule that keeps a message from
// being fetched is counted and dated here, since analysis never sees that message.
class SizeRuleAdvice final : public SizeRules {
  public:
    // `env` dates the rules counted here; null counts them without a date.
    explicit SizeRuleAdvice(rules::RuleBook& book, Env* env = nullptr) : book_(book), env_(env) {}
    FetchAdvice advise(const ServerEntry& entry) override;
    FetchAdvice adviseWithHeader(const ServerEntry& entry, std::string_view head) override;

  private:
    // The top size-only rule that holds for the size; null when none does.
    Rule* sizeRule(uint32_t size, std::vector<Rule*>& above);
    FetchAdvice act(Rule& rule);
    rules::RuleBook& book_;
    Env* env_;
};

// Whether a rule's only condition is the message size.
bool judgedBySizeAlone(const Rule& rule);

}  // namespace kolvy::pop
