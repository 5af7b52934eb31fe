// The seven rule lists and their files.
//
// Each kind has a head record (a Rule used only as anchor) and a loaded flag. Rules read from a
// file are put in front of the ones read before, so walking from head.next visits the file's
// rules from last to first, the order evaluation visits them in; the file's first rule is
// head.prev. A rule the reader cannot take whole, one without any condition and one naming a tab
// that does not exist stay in their list, in place, and are written back byte for byte as they
// were read; they never match (mayMatch).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "rules/rule_file.h"

namespace kolvy::rules {

// How rules reach the tabs they name. The tab list gives the real one; rule files store ids.
class TabDirectory {
  public:
    virtual ~TabDirectory() = default;
    virtual Tab* tabById(int32_t id) = 0;
    // The id of a tab still in the list; nullopt for one that is gone.
    virtual std::optional<int32_t> idOf(const Tab* tab) = 0;
    virtual std::string nameOf(const Tab* tab) = 0;
};

class RuleBook {
  public:
    RuleBook() = default;
    ~RuleBook();
    RuleBook(const RuleBook&) = delete;
    RuleBook& operator=(const RuleBook&) = delete;

    // The seven heads in kind order (handed to the sibling library's loader as they are).
    Rule* heads() { return heads_; }
    Rule& head(RuleKind kind) { return heads_[index(kind)]; }
    const Rule& head(RuleKind kind) const { return heads_[index(kind)]; }
    bool loaded(RuleKind kind) const { return loaded_[index(kind)]; }
    bool loadFailed(RuleKind kind) const { return failed_[index(kind)]; }

    // Reads a kind's file once. A missing file is an empty list. A file that cannot be read, or
    // a heap that runs out, marks the kind failed (Err): it is then never written or deleted,
    // so the rules on disk survive. `staleMonths` is the DeleteRule option.
    Err load(Env& env, RuleKind kind, TabDirectory& tabs, int staleMonths);
    Err loadAll(Env& env, TabDirectory& tabs, int staleMonths);

    // Writes a loaded kind's file from its list (deletes it when the list is empty). The texts
    // of every rule are cleaned first; a rule whose fields would not read back refuses the
    // save (Err::Invalid) and leaves the file as it was. The file is replaced in one step.
    Err save(Env& env, RuleKind kind, TabDirectory& tabs);
    // Every kind that was loaded; the first failure is returned, the other kinds still saved.
    Err saveAll(Env& env, TabDirectory& tabs);

    RuleState state(const Rule* rule) const;
    bool mayMatch(const Rule* rule) const { return state(rule) == RuleState::Ok; }
    // True when the kind holds rules kept as read (the editor warns before changing them).
    bool hasKeptRules(RuleKind kind) const;

    // File order: the file's first rule first.
    std::vector<Rule*> inFileOrder(RuleKind kind);
    // The kind's applied counts added up: a run that changed it saves the kind's file.
    int64_t appliedTotal(RuleKind kind);
    // Adds a rule (allocated with new) to the list as the file's last rule; nothing is written
    // until the book is saved.
    void addAtFileEnd(RuleKind kind, Rule* rule);
    // Unlinks and frees a rule.
    void remove(RuleKind kind, Rule* rule);
    // The editor rewrote a kept rule's fields: it is written from them from now on.
    void forgetKept(const Rule* rule) { kept_.erase(rule); }

  private:
    struct Kept {
        RuleState state = RuleState::Unreadable;
        std::string lines;  // the rule's lines as read, LF included
    };
    static int index(RuleKind k) { return static_cast<int>(k); }
    Rule heads_[kRuleKinds] = {};
    bool loaded_[kRuleKinds] = {};
    bool failed_[kRuleKinds] = {};
    std::unordered_map<const Rule*, Kept> kept_;
};

// The first date of a stale application, from today and the DeleteRule option.
RuleDate staleLimitToday(Env& env, int staleMonths);

}  // namespace kolvy::rules
