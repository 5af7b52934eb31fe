#include "smtp/send_run.h"

#include <cstdio>
#include <optional>

#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "report/logs.h"
#include "report/report.h"
#include "rules/evaluate.h"
#include "smtp/split.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"

namespace kolvy::smtp {
namespace {

constexpr char kOption[] = "Option";

bool isWaiting(uint8_t state) {
    return state == kWaiting || state == kWaitingAttached;
}
bool saysSent(uint8_t state) {
    return state == kSent || state == kSentAttached;
}
uint8_t sentStateOf(uint8_t state) {
    return store::stateHasAttachments(state) ? kSentAttached : kSent;
}

// Names for the account column of the items the run reads.
class Names final : public store::AccountNames {
  public:
    explicit Names(const Account* first) : first_(first) {}
    std::optional<std::string> name(int number) override {
        for (const Account* a = first_; a; a = a->next) {
            if (a->number == number) return std::string(sjis::fieldView(a->name));
        }
        return std::nullopt;
    }

  private:
    const Account* first_;
};

// The sender of each item, from its record in the tab's index file (the items may have been
// read before the accounts were known, so their account column is not relied on).
class RecordSenders {
  public:
    RecordSenders(Env& env, const Tab& tab, const Account* first) : first_(first) {
        auto data = platform::readWholeFile(env.fs, store::indexPath(env, tab));
        if (data) index_ = std::move(*data);
    }
    std::string operator()(const MailItem& item) const {
        store::RecordView r;
        if (!store::parseRecord(index_, item.offset, r) || r.fileNo != store::itemNumber(item)) {
            return {};
        }
        return senderAddress(r.account, r.texts[4], first_);
    }

  private:
    const Account* first_;
    std::string index_;
};

class Runner {
  public:
    Runner(SendRun& r, std::span<Tab* const> tabs) : r_(r), env_(r.env), tabs_(tabs) {}
    SendOutcome run();

  private:
    enum class Step { Next, Stop };
    bool stopRequested() { return r_.observer.stopRequested(); }
    Step accountPass(Session& session, Tab& tab, const Account& account);
    Step sendItem(Session& session, Tab& tab, const Account& account, MailItem& item);
    Step repairStale(Tab& tab, MailItem& item, uint8_t fileState);
    Step recordSent(Tab& tab, MailItem& item, const std::string& path, std::string_view draft,
                    const ComposedMessage& m, int64_t sendTime);
    bool compose(Tab& tab, MailItem& item, const Account& account, std::string_view draft,
                 int64_t sendTime, ComposedMessage& out);
    std::vector<std::string> pieces(const MailItem& item, const Account& account,
                                    std::string_view draft, const ComposedMessage& m);
    void afterSendRules(Tab& tab);
    void openLogs();

    SendRun& r_;
    Env& env_;
    std::span<Tab* const> tabs_;
    SendOutcome out_;
    report::RunLog sendLog_;
    int counter_ = 0;  // the send counter: 1..9, 0, 1... per account pass over a tab
    int total_ = 0, current_ = 0;
};

void Runner::openLogs() {
    if (env_.logOut) {
        const platform::LocalTime t = env_.clock.localNow();
        char line[64];
        std::snprintf(line, sizeof line, "\r\n\r\n%d/%d/%d %d:%d:%d 送信開始", t.year, t.month,
                      t.day, t.hour, t.minute, t.second);
        report::appendCommLog(env_, line);
    }
    if (r_.options.logOutSend) sendLog_ = report::RunLog::open(env_, report::RunLogKind::Send);
}

SendOutcome Runner::run() {
    Names names(r_.accounts);
    store::IndexOptions index;
    index.accounts = &names;
    for (Account* a = r_.accounts; a; a = a->next)
        a->sendPending = 0;
    for (Tab* tab : tabs_) {
        if (store::readWholeIndex(env_, *tab, index) != Err::None) {
            out_.stopped = true;
            return out_;
        }
        total_ +=
            assignAccounts(*tab, r_.accounts, RecordSenders(env_, *tab, r_.accounts), r_.chosen);
    }
    openLogs();
    for (Account* a = r_.accounts; a && !out_.stopped; a = a->next) {
        if (stopRequested()) {
            out_.stopped = true;
            break;
        }
        if (a->sendPending != 1) continue;
        r_.observer.account(*a);
        Session session(env_, *a, r_.observer, r_.options.timeoutMs);
        if (session.open() != 0) {
            out_.stopped = true;
            break;
        }
        for (Tab* tab : tabs_) {
            if (accountPass(session, *tab, *a) == Step::Stop) {
                out_.stopped = true;
                break;
            }
            afterSendRules(*tab);
        }
        session.quit();
        a->sendPending = 0;
    }
    sendLog_.close();
    r_.observer.status(kStatusSentAll);
    for (Tab* tab : tabs_) {
        for (MailItem* item : listRange(tab->items)) {
            if (isWaiting(item->state)) ++out_.waiting;
        }
    }
    return out_;
}

Runner::Step Runner::accountPass(Session& session, Tab& tab, const Account& account) {
    counter_ = 0;
    for (MailItem* item : listRange(tab.items)) {
        if (stopRequested()) return Step::Stop;
        if (item->sendAccount != account.number) continue;
        counter_ = (counter_ + 1) % 10;
        if (sendItem(session, tab, account, *item) == Step::Stop) return Step::Stop;
    }
    return Step::Next;
}

void Runner::afterSendRules(Tab& tab) {
    if (!r_.sendRules || !r_.reader) return;
    rules::applyRulesToTab(env_, *r_.sendRules, tab, rules::ApplyMode::Send, *r_.reader,
                           r_.ruleOptions);
}

Runner::Step Runner::sendItem(Session& session, Tab& tab, const Account& account, MailItem& item) {
    const int number = store::itemNumber(item);
    const std::string path = store::messagePath(env_, tab, number);
    auto file = platform::readWholeFile(env_.fs, path);
    const std::optional<store::StatusLine> status =
        file ? store::parseStatusLine(*file) : std::nullopt;
    if (!file || !status) {
        report::report(env_, store::kMailFileUnopenable);
        return Step::Stop;
    }
    // The file says sent but the index does not: a run was killed between the two writes.
    if (saysSent(status->state)) return repairStale(tab, item, status->state);
    if (env_.logOut) report::appendCommLog(env_, "番号" + store::numberDigits(number) + "を送信");
    if (item.state == kWaitingAttached && r_.options.confirmAttachments && !env_.unattended &&
        env_.reporter.show(kTextConfirmAttachments, report::kAppTitle, platform::Icon::Question,
                           platform::Buttons::OkCancel) != platform::Answer::Ok) {
        return Step::Stop;
    }
    ++current_;
    r_.observer.status(kStatusSending);
    r_.observer.progress(current_, total_, 0);
    const int64_t sendTime = env_.clock.now();
    ComposedMessage m;
    if (!compose(tab, item, account, *file, sendTime, m)) return Step::Stop;
    // Marked sent only after every piece went out.
    for (const std::string& piece : pieces(item, account, *file, m)) {
        if (session.send(piece, m.recipients, current_, total_) != 0) return Step::Stop;
    }
    if (sendLog_.isOpen()) sendLog_.write(m.wire);
    return recordSent(tab, item, path, *file, m, sendTime);
}

bool Runner::compose(Tab& tab, MailItem& item, const Account& account, std::string_view draft,
                     int64_t sendTime, ComposedMessage& out) {
    const std::string folder =
        store::stateHasAttachments(item.state)
            ? store::attachmentFolder(store::tabFolder(env_, tab), store::itemNumber(item))
            : std::string();
    ComposeInput in;
    in.draft = draft;
    in.mailAddress = sjis::fieldView(account.mailAddress);
    in.sendCounter = counter_;
    in.sendTime = sendTime;
    in.attachmentFolder = folder;
    ComposeResult c = composeMessage(env_.fs, in);
    switch (c.failure) {
        case ComposeFailure::None:
            out = std::move(c.message);
            return true;
        case ComposeFailure::AttachmentUnreadable:
            report::report(env_, kTextAttachmentUnopenable);
            return false;
        case ComposeFailure::TooLarge:
            report::report(env_, store::kAllocateFailed);
            return false;
        default:
            report::report(env_, store::kMailFileUnopenable);
            return false;
    }
}

// The texts that go out for a message: the whole wire text, or the pieces a send rule asks for
// (message/partial by size; a message without attachments may be cut by its body length).
std::vector<std::string> Runner::pieces(const MailItem& item, const Account& account,
                                        std::string_view draft, const ComposedMessage& m) {
    std::vector<std::string> whole{m.wire};
    if (!r_.sendRules) return whole;
    HeaderInfo info{};
    mime::readStoredHeader(draft.substr(std::min(draft.size(), store::kStatusLineSize - 1)), info);
    const rules::TextPiece body{m.sjisBody.data(), m.sjisBody.data() + m.sjisBody.size()};
    rules::RuleSubject subject;
    subject.header = &info;
    subject.body = std::span(&body, 1);
    subject.bodyLength = static_cast<uint32_t>(m.sjisBody.size());
    subject.messageSize = static_cast<uint32_t>(m.wire.size());
    subject.convertedLength = static_cast<uint32_t>(m.bodyEnd - m.bodyStart);
    subject.hasMark = (item.markColour & 0x10) != 0;
    subject.colour = item.markColour & 0x0f;
    RuleResult result{};
    rules::evaluateRules(subject, r_.sendRules->head(rules::RuleKind::Send), result,
                         rules::evaluationContext(env_, r_.sendRules));
    if (!result.split) return whole;
    if (result.pieceBytes > 0) {
        return splitPartial(m, static_cast<size_t>(result.pieceBytes), env_.clock.now(),
                            sjis::fieldView(account.mailAddress));
    }
    if (result.splitBodyBytes > 0 && m.attachments.empty()) {
        const auto bytes = static_cast<size_t>(result.splitBodyBytes);
        return result.splitCountsControl ? splitBodyJis(m, bytes) : splitBodySjis(m, bytes);
    }
    return whole;
}

Runner::Step Runner::recordSent(Tab& tab, MailItem& item, const std::string& path,
                                std::string_view draft, const ComposedMessage& m,
                                int64_t sendTime) {
    const uint8_t before = item.state;
    const uint8_t after = sentStateOf(before);
    platform::LocalTime local;
    env_.clock.toLocal(sendTime, local);
    const std::string copy = storedCopy(draft, m, after, store::stampDigits(local));
    if (platform::replaceFileContents(env_.fs, path, path + ".tmp", copy) != Err::None) {
        // No room for the copy: the state digit alone changes in place, so that the delivered
        // message is never sent again.
        report::report(env_, store::kMailFileUnopenable);
        if (store::updateStatusChar(env_, path, store::StatusChar::State,
                                    store::stateDigit(after)) != Err::None) {
            return Step::Stop;
        }
    }
    const uint32_t stored = static_cast<uint32_t>(sendTime);
    if (store::updateRecordSent(env_, tab, item, after, stored) != Err::None) {
        report::report(env_, kTextIndexUnopenable);
        return Step::Stop;
    }
    store::TimeTexts times(env_.clock);
    times.format(stored, item.storedText);
    store::countOut(tab, before);
    store::countIn(tab, after);
    store::writeCounters(env_, tab);
    ++out_.sent;
    return Step::Next;
}

Runner::Step Runner::repairStale(Tab& tab, MailItem& item, uint8_t fileState) {
    const uint8_t before = item.state;
    if (store::updateRecordSent(env_, tab, item, fileState, item.storedTime) != Err::None) {
        report::report(env_, kTextIndexUnopenable);
        return Step::Stop;
    }
    store::countOut(tab, before);
    store::countIn(tab, fileState);
    store::writeCounters(env_, tab);
    item.sendAccount = kNotSending;  // not sent in this run: no after-send rules
    return Step::Next;
}

}  // namespace

SendRunOptions readSendRunOptions(platform::Profile& ini) {
    SendRunOptions o;
    const int64_t timeout = platform::readInt(ini, kOption, "TimeOut", 60000);
    o.timeoutMs = timeout > 0 && timeout < 0x7fffffff ? static_cast<unsigned>(timeout) : 60000;
    o.logOutSend = platform::readInt(ini, kOption, "LogOutSend", 0) == 1;
    o.confirmAttachments = platform::readInt(ini, kOption, "TenpuConfirmDlg", 0) == 1;
    return o;
}

std::string senderAddress(int recordAccount, std::string_view fallback, const Account* first) {
    if (recordAccount != mail::kUnmatchedAccount) {
        for (const Account* a = first; a; a = a->next) {
            if (a->number == recordAccount) return std::string(sjis::fieldView(a->mailAddress));
        }
        return {};  // an account that no longer exists: nobody sends for it
    }
    return std::string(fallback);
}

int assignAccounts(Tab& tab, Account* first,
                   const std::function<std::string(const MailItem&)>& senderOf,
                   const ItemFilter& chosen) {
    int assigned = 0;
    for (MailItem* item : listRange(tab.items)) {
        item->sendAccount = kNotSending;
        if (!isWaiting(item->state) || (chosen && !chosen(*item))) continue;
        const std::string from = senderOf(*item);
        for (Account* a = first; a && !from.empty(); a = a->next) {
            if (sjis::fieldView(a->mailAddress) == from) {
                item->sendAccount = a->number;
                a->sendPending = 1;
                ++assigned;
                break;
            }
        }
    }
    return assigned;
}

std::string storedCopy(std::string_view draft, const ComposedMessage& m, uint8_t sentState,
                       std::string_view stamp) {
    std::optional<store::StatusLine> status = store::parseStatusLine(draft);
    store::StatusLine s = status ? *status : store::StatusLine{};
    s.state = sentState;
    s.stamp = std::string(stamp);
    std::string_view text = draft.substr(std::min(draft.size(), store::kStatusLineSize));

    std::string added = "X-";
    std::string_view id = m.messageIdLine;
    if (id.substr(0, 7) == "Resent-") id.remove_prefix(7);
    added += id;
    if (!m.attachments.empty()) {
        added += "X-PartInfo: text/plain\r\n";
        for (const OutgoingAttachment& a : m.attachments) {
            added += "X-PartInfo: " + a.storedType + "; name=" + a.name + "\r\n";
        }
    }
    // At the end of the header: after the line end that the empty line follows.
    size_t end = text.find("\r\n\r\n");
    std::string out = store::formatStatusLine(s);
    if (end == std::string_view::npos) {
        out += text;
        if (!text.empty() &&
            text.substr(text.size() - std::min<size_t>(2, text.size())) != "\r\n") {
            out += "\r\n";
        }
        out += added;
        return out;
    }
    end += 2;
    out += text.substr(0, end);
    out += added;
    out += text.substr(end);
    return out;
}

SendOutcome runSend(SendRun& run, std::span<Tab* const> tabs) {
    Runner runner(run, tabs);
    return runner.run();
}

}  // namespace kolvy::smtp
