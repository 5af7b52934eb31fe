#include "pop/analysis_sink.h"

#include "mime/decode.h"
#include "mime/partial_join.h"
#include "rules/evaluate.h"
#include "rules/rule_tables.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::pop {

AnalysisSink::AnalysisSink(mime::AnalyzeContext& context) : context_(context) {
    context_.index.batch = &batch_;
}

AnalysisSink::~AnalysisSink() {
    commit();
    context_.index.batch = nullptr;
}

bool AnalysisSink::commit() {
    return batch_.commit(context_.env) == Err::None;
}

StoreOutcome AnalysisSink::store(std::string& text, const ServerEntry& entry, bool asciiOnly) {
    // The decoders clear the flag when they meet a double-byte character; the rules read it.
    mime::AsciiOnly = asciiOnly;
    const mime::AnalyzeOutcome o = mime::mailAnalyze(context_, text, entry);
    StoreOutcome out;
    out.keepOnServer = o.keepOnServer;
    switch (o.kind) {
        case mime::AnalyzeOutcome::Stored:
            ++stored_;
            out.kind = StoreOutcome::Stored;
            if (o.tab) {
                out.storedPath = store::relativeToProgram(
                    context_.env, store::messagePath(context_.env, *o.tab, o.fileNo));
                out.storedSize = o.fileSize;
                out.contentHash = o.contentHash;
            }
            break;
        case mime::AnalyzeOutcome::Discarded:
            ++discarded_;
            out.kind = StoreOutcome::Discarded;
            break;
        case mime::AnalyzeOutcome::FailedStop:
            out.kind = StoreOutcome::FailedStop;
            break;
    }
    if (o.partial && o.kind == mime::AnalyzeOutcome::Stored) piecesArrived_ = true;
    return out;
}

void AnalysisSink::begin() {
    const Tab* tab = context_.tabs.basicTab(store::kReceiveTab);
    firstNumber_ = tab ? tab->nextFileNo : 0;
    piecesArrived_ = false;
}

void AnalysisSink::end(int /*result*/) {
    // Pieces stored before a failure are joined too: they are in the store either way. Missing
    // pieces are reported only by the join command; the next run's pieces may complete them.
    if (piecesArrived_) joined_ += mime::joinPartialMessages(context_, firstNumber_).joined;
    piecesArrived_ = false;
    commit();
}

bool judgedBySizeAlone(const Rule& r) {
    return r.sizeKB > 0 && r.item1 == 0 && r.item2 == 0 && r.markCond == 0 && r.colourCond == 0 &&
           r.bodyChars == 0 && r.noJapanese == 0 && r.unreadCond == 0 && r.readCond == 0 &&
           r.olderThan == 0;
}

namespace {

// Whether a rule that needs more than the size could still hold for a message of this size.
bool mayHoldAtSize(const Rule& r, uint32_t size) {
    if (!rules::hasCondition(r)) return false;
    constexpr int32_t kOr = 2;  // either text condition decides alone: the size is not asked
    if (r.item1 != 0 && r.combination == kOr) return true;
    if (r.sizeKB != 0) return r.sizeKB > 0 && size != 0 && size >= int64_t{r.sizeKB} * 1000;
    return true;
}

// Whether judging a rule needs the decoded text, not the header alone.
bool needsText(const Rule& r) {
    return r.item1 == rules::kItemBody || (r.combination != 0 && r.item2 == rules::kItemBody) ||
           r.bodyChars != 0 || r.noJapanese != 0;
}

}  // namespace

Rule* SizeRuleAdvice::sizeRule(uint32_t size, std::vector<Rule*>& above) {
    if (!book_.loaded(rules::RuleKind::Receive)) return nullptr;
    rules::RuleSubject subject;
    subject.messageSize = size;
    for (Rule* r : book_.inFileOrder(rules::RuleKind::Receive)) {
        if (!book_.mayMatch(r)) continue;
        if (judgedBySizeAlone(*r)) {
            if (rules::ruleMatches(subject, *r)) return r;
        } else if (mayHoldAtSize(*r, size)) {
            above.push_back(r);
        }
    }
    return nullptr;
}

FetchAdvice SizeRuleAdvice::act(Rule& r) {
    FetchAdvice advice;
    RuleResult result{};
    result.deleteUnread = r.deleteUnread;
    result.noDownload = r.noDownload;
    result.leaveOnServer = r.leaveOnServer;
    result.headLines = r.headLines;
    result.headLineCount = r.headLineCount;
    switch (rules::serverAction(result)) {
        case rules::ServerAction::DeleteUnfetched:
            advice.kind = FetchAdvice::DeleteUnread;
            break;
        case rules::ServerAction::SkipAndLeave:
            advice.kind = FetchAdvice::NoDownload;
            advice.keepOnServer = true;
            break;
        case rules::ServerAction::FetchHeadAndLeave:
            advice.kind = FetchAdvice::HeaderAndLines;
            advice.lines = r.headLineCount;
            advice.keepOnServer = true;
            break;
        case rules::ServerAction::FetchAndLeave:
            advice.keepOnServer = true;
            break;
        case rules::ServerAction::Fetch:
            break;
    }
    // Analysis counts the rules of the messages it sees; these it never sees.
    if (advice.kind == FetchAdvice::DeleteUnread || advice.kind == FetchAdvice::NoDownload) {
        if (env_) {
            rules::countApplied(r, rules::evaluationContext(*env_, &book_));
        } else if (r.appliedCount < INT32_MAX) {
            ++r.appliedCount;
        }
    }
    return advice;
}

FetchAdvice SizeRuleAdvice::advise(const ServerEntry& entry) {
    std::vector<Rule*> above;
    Rule* r = sizeRule(entry.size, above);
    if (!r) return {};
    if (above.empty()) return act(*r);
    // A rule above may decide; it acts on the fetched message through analysis, so only the
    // actions taken before the fetch need its verdict now.
    if (r->deleteUnread == 1 || r->noDownload == 1 || r->headLines == 1) {
        FetchAdvice ask;
        ask.kind = FetchAdvice::ReadHeaderFirst;
        return ask;
    }
    return {};
}

FetchAdvice SizeRuleAdvice::adviseWithHeader(const ServerEntry& entry, std::string_view head) {
    std::vector<Rule*> above;
    Rule* r = sizeRule(entry.size, above);
    if (!r) return {};
    const mime::Analysis a = mime::analyzeText(head, "0000000000");
    rules::RuleSubject subject;
    subject.header = &a.header;
    subject.messageSize = entry.size;
    for (const Rule* higher : above) {
        // The text would be needed to know, or the header says it holds: it decides after the
        // fetch.
        if (needsText(*higher) || rules::ruleMatches(subject, *higher)) return {};
    }
    return act(*r);
}

}  // namespace kolvy::pop
