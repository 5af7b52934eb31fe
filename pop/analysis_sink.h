// Where the session's messages go in the program: message analysis files each one into the store,
// and the receive rules that can be judged by a message's listed size alone decide before it is
// fetched.
#pragma once

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
// is a size can say what to do then; the top one of those that holds decides. The others, and
// the actions that need the text, are judged by analysis once the message is in.
class SizeRuleAdvice final : public SizeRules {
  public:
    explicit SizeRuleAdvice(rules::RuleBook& book) : book_(book) {}
    FetchAdvice advise(const ServerEntry& entry) override;

  private:
    rules::RuleBook& book_;
};

// Whether a rule's only condition is the message size.
bool judgedBySizeAlone(const Rule& rule);

}  // namespace kolvy::pop
