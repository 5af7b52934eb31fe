#include "rules/rule_book.h"

#include <algorithm>
#include <new>

#include "core/list.h"
#include "platform/fileutil.h"

namespace kolvy::rules {

namespace {

// Rule files are a few kilobytes; anything this big is not one.
constexpr uint64_t kMaxRuleFileBytes = 64u << 20;

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size() - 1;
        lines.push_back(text.substr(start, nl + 1 - start));  // with its LF
        start = nl + 1;
    }
    return lines;
}

std::string_view withoutLf(std::string_view line) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    return line;
}

bool onlyLineBreaks(const std::vector<std::string_view>& lines, size_t from) {
    for (size_t i = from; i < lines.size(); ++i) {
        for (const char c : lines[i]) {
            if (c != '\r' && c != '\n') return false;
        }
    }
    return true;
}

}  // namespace

RuleDate staleLimitToday(Env& env, int staleMonths) {
    return staleLimit(ruleDateOf(env.clock.localNow()), staleMonths);
}

RuleBook::~RuleBook() {
    for (Rule& h : heads_)
        listFreeAll(h);
}

RuleState RuleBook::state(const Rule* rule) const {
    const auto it = kept_.find(rule);
    return it == kept_.end() ? RuleState::Ok : it->second.state;
}

bool RuleBook::hasKeptRules(RuleKind kind) const {
    for (const Rule* r = heads_[index(kind)].next; r; r = r->next) {
        if (kept_.count(r)) return true;
    }
    return false;
}

std::vector<Rule*> RuleBook::inFileOrder(RuleKind kind) {
    std::vector<Rule*> out;
    Rule& h = head(kind);
    for (Rule* r = listLast(h); r && r != &h; r = r->prev)
        out.push_back(r);
    return out;
}

int64_t RuleBook::appliedTotal(RuleKind kind) {
    int64_t n = 0;
    for (const Rule* r : inFileOrder(kind))
        n += r->appliedCount;
    return n;
}

void RuleBook::addAtFileEnd(RuleKind kind, Rule* rule) {
    listPrepend(head(kind), rule);
}

void RuleBook::remove(RuleKind kind, Rule* rule) {
    kept_.erase(rule);
    listUnlink(head(kind), rule);
    delete rule;
}

Err RuleBook::load(Env& env, RuleKind kind, TabDirectory& tabs, int staleMonths) {
    const int k = index(kind);
    if (loaded_[k]) return Err::None;
    const std::string path = env.path(ruleFileName(kind));
    auto text = platform::readWholeFile(env.fs, path, kMaxRuleFileBytes);
    if (!text && text.error() != Err::NotFound) {
        failed_[k] = true;
        return text.error();
    }
    // A retry after a failure starts from an empty list.
    for (Rule* r = heads_[k].next; r; r = r->next)
        kept_.erase(r);
    listFreeAll(heads_[k]);
    failed_[k] = false;
    if (!text) {
        loaded_[k] = true;
        return Err::None;
    }
    const RuleDate today = ruleDateOf(env.clock.localNow());
    const RuleDate limit = staleLimit(today, staleMonths);
    const std::vector<std::string_view> lines = splitLines(*text);
    for (size_t i = 0; i < lines.size(); i += 3) {
        if (onlyLineBreaks(lines, i)) break;  // blank lines at the end
        auto* rule = new (std::nothrow) Rule;
        if (!rule) {
            failed_[k] = true;
            return Err::NoMemory;
        }
        std::string_view l[3];
        std::string verbatim;
        size_t whole = 0;  // lines that end in LF
        for (size_t j = 0; j < 3 && i + j < lines.size(); ++j) {
            l[j] = withoutLf(lines[i + j]);
            verbatim += lines[i + j];
            if (lines[i + j].back() == '\n') ++whole;
        }
        ParsedRule p = parseRule(kind, l[0], l[1], l[2], today, limit, *rule);
        // A rule cut short (the end of a damaged file) may have lost conditions with the rest
        // of its lines.
        if (whole < 3) p.state = RuleState::Unreadable;
        if (p.state == RuleState::Ok && !usesTemplate(kind) && p.tabs.target >= 0) {
            rule->targetTab = tabs.tabById(p.tabs.target);
            if (!rule->targetTab) p.state = RuleState::TabMissing;
        }
        if (p.state == RuleState::Ok && p.tabs.reply >= 0) {
            rule->replyTab = tabs.tabById(p.tabs.reply);
            if (!rule->replyTab) p.state = RuleState::TabMissing;
        }
        if (p.state == RuleState::Ok && p.tabs.forward >= 0) {
            rule->forwardTab = tabs.tabById(p.tabs.forward);
            if (!rule->forwardTab) p.state = RuleState::TabMissing;
        }
        if (p.state != RuleState::Ok) {
            // Kept as read; its fields stay cleared so that nothing acts on half of it.
            clearRule(*rule);
            kept_[rule] = Kept{p.state, std::move(verbatim)};
        }
        listPrepend(heads_[k], rule);
    }
    loaded_[k] = true;
    return Err::None;
}

Err RuleBook::loadAll(Env& env, TabDirectory& tabs, int staleMonths) {
    Err first = Err::None;
    for (RuleKind kind : kAllRuleKinds) {
        const Err e = load(env, kind, tabs, staleMonths);
        if (first == Err::None) first = e;
    }
    return first;
}

Err RuleBook::save(Env& env, RuleKind kind, TabDirectory& tabs) {
    const int k = index(kind);
    // A list that was never read, or whose file could not be read, does not hold the file's
    // rules: writing it would lose them.
    if (!loaded_[k] || failed_[k]) return Err::None;
    const std::string path = env.path(ruleFileName(kind));
    if (listEmpty(heads_[k])) {
        if (!env.fs.exists(path)) return Err::None;
        return env.fs.remove(path);
    }
    std::string text;
    const std::vector<Rule*> rules = inFileOrder(kind);
    for (Rule* r : rules) {
        if (const auto it = kept_.find(r); it != kept_.end()) {
            text += it->second.lines;
            // A rule cut short stays as it was at the end of the file; with rules after it, it
            // is given its missing line ends so that they stay in step.
            if (r != rules.back()) {
                size_t ends = std::count(it->second.lines.begin(), it->second.lines.end(), '\n');
                if (text.back() != '\n') {
                    text += '\n';
                    ++ends;
                }
                for (; ends < 3; ++ends)
                    text += '\n';
            }
            continue;
        }
        cleanRuleTexts(*r);
        RuleTabIds ids;
        if (r->targetTab && !usesTemplate(kind)) {
            const auto id = tabs.idOf(r->targetTab);
            if (!id) return Err::Invalid;
            ids.target = *id;
        }
        if (r->replyTemplate[0] != '\0') {
            const auto id = r->replyTab ? tabs.idOf(r->replyTab) : std::nullopt;
            if (!id) return Err::Invalid;
            ids.reply = *id;
        }
        if (r->forwardKind != 0) {
            const auto id = r->forwardTab ? tabs.idOf(r->forwardTab) : std::nullopt;
            if (!id) return Err::Invalid;
            ids.forward = *id;
        }
        auto lines = formatRule(kind, *r, ids);
        if (!lines) return lines.error();
        text += *lines;
    }
    return platform::replaceFileContents(env.fs, path, path + ".new", text);
}

Err RuleBook::saveAll(Env& env, TabDirectory& tabs) {
    Err first = Err::None;
    for (RuleKind kind : kAllRuleKinds) {
        const Err e = save(env, kind, tabs);
        if (first == Err::None) first = e;
    }
    return first;
}

}  // namespace kolvy::rules
