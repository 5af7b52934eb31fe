// The replies and forwards that rules ask for, made by the composer as waiting drafts in the
// rule's tab, for analysis of received mail and for the rule executor over stored mail alike.
#pragma once

#include "compose/composer.h"
#include "rules/executor.h"
#include "rules/rule_book.h"

namespace kolvy::compose {

// Dialogs of a composer that runs without a user: nothing is asked, nothing is chosen.
class NoDialogs final : public ComposeDialogs {
  public:
    std::optional<ForwardChoice> forwardKind(const std::vector<Template>&) override {
        return std::nullopt;
    }
    bool discardOnCheck(std::string_view) override { return false; }
    std::optional<SaveChoice> saveChoice(const SaveChoiceRequest&) override { return std::nullopt; }
    bool confirmNotSaving() override { return false; }
    Tab* chooseTab(const std::vector<Tab*>&) override { return nullptr; }
};

class RuleResponder final : public rules::AutoResponder {
  public:
    explicit RuleResponder(ComposeContext& context) : context_(context) {}
    bool reply(const rules::AutoRequest& request) override;
    bool forward(const rules::AutoRequest& request) override;

    int made() const { return made_; }

  private:
    bool run(const ComposeRequest& request);
    ComposeContext& context_;
    NoDialogs dialogs_;
    int made_ = 0;
};

// The rules of one kind of `book` as a composer hook (make rules on drafts, reply and forward
// rules on the answered message).
RuleHook ruleHook(Env& env, rules::RuleBook& book, rules::RuleKind kind);

// Loads the make, reply and forward rules into `book` and hooks them into the composer; `book`
// outlives `c`.
void loadComposeRules(ComposeContext& c, rules::RuleBook& book, rules::TabDirectory& tabs);

}  // namespace kolvy::compose
