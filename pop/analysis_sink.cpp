#include "pop/analysis_sink.h"

#include "mime/decode.h"
#include "mime/partial_join.h"
#include "rules/evaluate.h"
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

FetchAdvice SizeRuleAdvice::advise(const ServerEntry& entry) {
    FetchAdvice advice;
    if (!book_.loaded(rules::RuleKind::Receive)) return advice;
    rules::RuleSubject subject;
    subject.messageSize = entry.size;
    for (const Rule* r : book_.inFileOrder(rules::RuleKind::Receive)) {
        if (!judgedBySizeAlone(*r) || !book_.mayMatch(r) || !rules::ruleMatches(subject, *r)) {
            continue;
        }
        RuleResult result{};
        result.deleteUnread = r->deleteUnread;
        result.noDownload = r->noDownload;
        result.leaveOnServer = r->leaveOnServer;
        result.headLines = r->headLines;
        result.headLineCount = r->headLineCount;
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
                advice.lines = r->headLineCount;
                advice.keepOnServer = true;
                break;
            case rules::ServerAction::FetchAndLeave:
                advice.keepOnServer = true;
                break;
            case rules::ServerAction::Fetch:
                break;
        }
        break;
    }
    return advice;
}

}  // namespace kolvy::pop
