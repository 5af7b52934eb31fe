#include "pop/session.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <unordered_map>
#include <vector>

#include "core/list.h"
#include "core/sjis.h"
#include "pop/fetch_decision.h"
#include "pop/listing.h"
#include "pop/login.h"
#include "pop/uidl_journal.h"
#include "pop/uidl_store.h"
#include "report/report.h"
#include "store/message_file.h"

namespace kolvy::pop {
namespace {

constexpr char kOption[] = "Option";
// The received text may reach twice the listed size plus this before the server counts as
// sending more than it announced...
constexpr uint64_t kFetchSlack = 10;
// ... but never less than this: a server that lists a small message a little too small (or as
// 0) must not make it unreceivable for good.
constexpr uint64_t kMinFetchRoom = 64 * 1024;
// Bytes of a reply beyond its text: the status line (cut by the decoder) and the stuffing dots,
// at most one per line of three bytes or more.
constexpr uint64_t kStatusAllowance = MultiLineDecoder::kMaxStatusLine + 2;

std::string firstLine(std::string_view reply) {
    const size_t end = reply.find_first_of("\r\n");
    return std::string(reply.substr(0, std::min(end, MultiLineDecoder::kMaxStatusLine)));
}

bool hasDoubleByte(std::string_view text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (sjis::isLead(static_cast<unsigned char>(text[i])) &&
            sjis::isTrail(static_cast<unsigned char>(text[i + 1]))) {
            return true;
        }
    }
    return false;
}

uint32_t saturate32(uint64_t v) {
    return v > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(v);
}

// What this run did to one listed message.
struct EntryState {
    uint64_t listedSize = 0;
    bool stored = false;      // handed to the sink, which stored or discarded it
    bool keep = false;        // stays on the server on purpose (remembered as such)
    bool deleteSent = false;  // DELE was sent
    bool deleted = false;     // ... and answered "+"
};

class Session {
  public:
    Session(ReceiveContext& c, const Account& a, const ReceiveOrder* o, CheckerItem* items)
        : c_(c),
          env_(c.env),
          account_(a),
          order_(o),
          checker_(items),
          conn_(c.env),
          journal_(c.env, a) {}
    ~Session() { listFreeAll(servers_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    int run();

  private:
    enum class Step { Next, Failed };

    bool abortRequested() const { return c_.abortRequested && c_.abortRequested->load(); }
    report::Abort aborting() const {
        return abortRequested() ? report::Abort::Yes : report::Abort::No;
    }
    void setState(ReceiveState state);
    void notify(const std::function<void()>& fn) {
        if (fn) fn();
    }
    // A failure inside the dialogue: logged when unattended, LogOut or aborting; shown unless
    // unattended or aborting.
    void report(std::string_view logText, std::string_view boxText);
    void reportOnce(std::string_view logText, std::string_view boxText);
    int closeWith(int result);
    bool quit(bool& refused);

    int login();
    int readListing();
    int listingProblem(const char* command, ListingStatus status, std::string_view reply);
    void indexChecker();

    Step messageLoop(bool& aborted);
    Step handle(size_t index);
    EntryFacts facts(size_t index, CheckerItem*& item);
    void reportTooLarge(const ServerEntry& e, uint64_t listedSize);
    Step fetchAndStore(size_t index, const FetchPlan& plan, bool& fetched, StoreOutcome& out);
    Step fetch(size_t index, const std::string& commandLine, std::string& text);
    bool sendRetrieve(const std::string& commandLine);
    ReceiveFailure receiveMessage(uint64_t listed, MultiLineDecoder& decoder, std::string& text);
    std::string socketFailure(std::string_view problem, const std::string& commandLine) const;
    void showProgress(uint64_t got, uint64_t listed, int& lastPercent);
    Step sendDele(size_t index);
    Step sizeAdvice(size_t index, FetchAdvice& advice);
    void settleIds(bool quitConfirmed);
    void journal(const ServerEntry& e, const EntryState& st, const StoreOutcome& out);
    bool commitStored(bool aborting);

    ReceiveContext& c_;
    Env& env_;
    const Account& account_;
    const ReceiveOrder* order_;
    CheckerItem* checker_;
    Connection conn_;
    UidlLists uidl_;
    UidlJournal journal_;
    ServerEntry servers_{};
    std::vector<ServerEntry*> entries_;
    std::vector<EntryState> states_;
    std::unordered_map<std::string, CheckerItem*> checkerById_;
    bool refusedSome_ = false;  // a command was refused inside the loop; the run goes on
    bool reportedOnce_ = false;
    bool tooLargeReported_ = false;
    bool commitFailed_ = false;
    int received_ = 0;
};

void Session::setState(ReceiveState state) {
    if (c_.progress) c_.progress->state = static_cast<int>(state);
    notify(c_.statusChanged);
}

void Session::report(std::string_view logText, std::string_view boxText) {
    report::report(env_, boxText, logText, platform::Icon::Exclamation, aborting());
}

void Session::reportOnce(std::string_view logText, std::string_view boxText) {
    if (reportedOnce_) {
        report::logFailure(env_, logText, aborting());
        return;
    }
    reportedOnce_ = true;
    report(logText, boxText);
}

bool Session::quit(bool& refused) {
    refused = false;
    std::string reply;
    if (SendCommand(conn_, reply, "QUIT", std::nullopt) != 0) return false;
    refused = !popAccepted(reply);
    return !refused;
}

int Session::closeWith(int result) {
    bool refused = false;
    if (!conn_.broken()) quit(refused);
    conn_.close();
    return result;
}

int Session::login() {
    setState(ReceiveState::AccountSent);
    if (LogIn(conn_, account_) != 0) return kReceiveFailed;
    setState(ReceiveState::PasswordAccepted);
    return kReceiveDone;
}

int Session::listingProblem(const char* command, ListingStatus status, std::string_view reply) {
    std::string text;
    if (status == ListingStatus::Refused) {
        text = std::string("サーバが") + command + "コマンドを拒否しました。";
    } else {
        text = std::string(command) + "コマンドの返信を読み取れませんでした。";
    }
    report(text + "\r\n" + firstLine(reply), text + "    ");
    return kReceiveFailed;
}

int Session::readListing() {
    std::string reply;
    CommandOptions listing;
    listing.capacity = kListReplyCapacity;
    if (SendCommand(conn_, reply, "LIST", std::nullopt, listing) != 0) return kReceiveListFailed;
    std::vector<ListedSize> sizes;
    const ListingStatus listed = parseList(reply, sizes);
    if (listed == ListingStatus::Empty) return kReceiveNoMail;
    if (listed != ListingStatus::Ok) return listingProblem("LIST", listed, reply);

    std::unordered_map<int32_t, size_t> byNumber;
    entries_.reserve(sizes.size());
    states_.resize(sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        ServerEntry* e = new (std::nothrow) ServerEntry();
        if (!e) {
            report(store::kAllocateFailed, store::kAllocateFailed);
            return kReceiveFailed;
        }
        e->number = sizes[i].number;
        e->size = saturate32(sizes[i].size);
        listAppend(servers_, e);
        entries_.push_back(e);
        states_[i].listedSize = sizes[i].size;
        byNumber.emplace(sizes[i].number, i);
    }

    if (!c_.options.noCheckUidl) {
        if (SendCommand(conn_, reply, "UIDL", std::nullopt, listing) != 0) {
            return kReceiveListFailed;
        }
        std::vector<ListedId> ids;
        const ListingStatus status = parseUidl(reply, ids);
        if (status != ListingStatus::Ok && status != ListingStatus::Empty) {
            return listingProblem("UIDL", status, reply);
        }
        // An id the server gives twice names no message for sure: neither is ever taken for
        // the other, so both go without id.
        std::vector<std::string> kept(entries_.size());
        std::unordered_map<std::string, int> uses;
        for (const ListedId& l : ids) {
            auto at = byNumber.find(l.number);
            if (at == byNumber.end() || l.id.empty()) continue;
            kept[at->second] = normaliseUidl(l.id);
            ++uses[kept[at->second]];
        }
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (!kept[i].empty() && uses[kept[i]] == 1) sjis::copyField(entries_[i]->uidl, kept[i]);
        }
    }
    reply.clear();
    reply.shrink_to_fit();

    // Every stored id the server still lists stays known, whatever happens to the loop.
    if (!c_.options.noCheckUidl) uidl_.setServerListed();
    for (ServerEntry* e : entries_)
        IsKnownUidl(*e, uidl_);
    if (c_.progress) c_.progress->total = static_cast<int>(entries_.size());
    indexChecker();
    return kReceiveDone;
}

void Session::indexChecker() {
    if (!checker_) return;
    std::unordered_map<std::string_view, bool> listed;
    for (ServerEntry* e : entries_) {
        if (e->uidl[0]) listed.emplace(sjis::fieldView(e->uidl), true);
    }
    for (CheckerItem* item = checker_; item; item = item->next) {
        const std::string id = normaliseUidl(sjis::fieldView(item->uidl));
        if (id.empty() || !listed.count(id)) {
            item->result = 1;  // no longer on the server
            continue;
        }
        checkerById_.emplace(id, item);
    }
}

// The log text of a failure on the wire: what failed, the command and the socket's error code.
std::string Session::socketFailure(std::string_view problem, const std::string& line) const {
    char code[48];
    std::snprintf(code, sizeof code, "エラーコード: %d\n", conn_.lastSocketError());
    return std::string(problem) + "\r\n" + line + code;
}

// Sends the RETR or TOP line; a failure is reported.
bool Session::sendRetrieve(const std::string& line) {
    std::string why;
    if (!conn_.writeLine(line, why)) {
        if (why.empty()) {
            report(socketFailure(kTextReceiveSocketError, line),
                   std::string(kTextReceiveSocketError) + "    ");
        } else {
            report(why, why);
        }
        return false;
    }
    conn_.conversation(line);
    return true;
}

// Receives the reply to a RETR or TOP of a message listed at `listed` bytes into `text`, with
// the progress shown and the wire text logged as it comes.
ReceiveFailure Session::receiveMessage(uint64_t listed, MultiLineDecoder& decoder,
                                       std::string& text) {
    const uint64_t bound =
        std::max(std::min(listed, kMaxMessageSize) * 2 + kFetchSlack, kMinFetchRoom);
    const uint64_t rawBound = bound * 2 + kStatusAllowance;
    if (ReceiveProgress* p = c_.progress) {
        p->bytesExpected = listed;
        p->bytesRemaining = listed;
        p->percent = 0;
    }
    const bool logRaw = c_.options.logOutReceive && c_.receivedLog && c_.receivedLog->isOpen();
    bool abortShown = false;
    int lastPercent = 0;
    auto chunk = [&](const ReceivedChunk& k) {
        if (logRaw && !decoder.negative()) {
            // What the server sent after its status line, stuffing dots included: the crash
            // check of the next start looks for the last "." line in this log.
            std::string_view raw = k.bytes;
            if (k.statusLine) {
                const size_t lf = raw.find('\n');
                raw = lf == std::string_view::npos ? std::string_view() : raw.substr(lf);
            }
            if (!raw.empty()) c_.receivedLog->write(raw);
        }
        showProgress(k.received, listed, lastPercent);
        if (!abortShown && abortRequested()) {
            // The message under way is still received to its end.
            abortShown = true;
            setState(ReceiveState::AbortingAfterThis);
        }
        return k.received < rawBound;
    };
    return ReceiveMultiLine(conn_, decoder, text, static_cast<size_t>(bound), chunk);
}

Session::Step Session::fetch(size_t index, const std::string& line, std::string& text) {
    if (!sendRetrieve(line)) return Step::Failed;
    MultiLineDecoder decoder;
    std::string_view problem;
    switch (receiveMessage(states_[index].listedSize, decoder, text)) {
        case ReceiveFailure::None:
            break;
        case ReceiveFailure::TooLong:
            problem = kTextSizeMismatch;
            break;
        case ReceiveFailure::EndOfStream:
            problem = kTextReceiveEnded;
            break;
        case ReceiveFailure::Socket:
            problem = kTextReceiveSocketError;
            break;
    }
    if (!problem.empty()) {
        const std::string log = problem == kTextReceiveSocketError
                                    ? socketFailure(problem, line)
                                    : std::string(problem) + "\r\n" + line;
        report(log, std::string(problem) + "    ");
        return Step::Failed;
    }
    if (decoder.negative()) {
        // The server refused this message; the connection is in step, so the others go on.
        refusedSome_ = true;
        reportOnce(std::string(kTextFetchRefused) + "\r\n" + line + decoder.statusLine(),
                   std::string(kTextFetchRefused) + "    ");
        text.clear();
    }
    return Step::Next;
}

void Session::showProgress(uint64_t got, uint64_t listed, int& lastPercent) {
    ReceiveProgress* p = c_.progress;
    if (!p) return;
    const int percent =
        listed == 0 ? 100 : static_cast<int>(std::min<uint64_t>(100, got * 100 / listed));
    p->bytesRemaining = got >= listed ? 0 : listed - got;
    if (percent != lastPercent) {
        lastPercent = percent;
        p->percent = percent;
        notify(c_.progressChanged);
    }
}

Session::Step Session::sendDele(size_t index) {
    ServerEntry& e = *entries_[index];
    EntryState& st = states_[index];
    std::string reply;
    if (SendCommand(conn_, reply, "DELE", std::to_string(e.number)) != 0) return Step::Failed;
    st.deleteSent = true;
    if (!popAccepted(reply)) {
        // Still on the server: remembered at the end, so it is not fetched again.
        refusedSome_ = true;
        reportOnce(std::string(kTextDeleteRefused) + "\r\nDELE " + std::to_string(e.number) +
                       "\r\n" + firstLine(reply),
                   std::string(kTextDeleteRefused) + "    ");
        return Step::Next;
    }
    st.deleted = true;
    return Step::Next;
}

// What the size rules say before the fetch; when a rule above them may decide instead, they are
// asked again with the header.
Session::Step Session::sizeAdvice(size_t index, FetchAdvice& advice) {
    const ServerEntry& e = *entries_[index];
    advice = c_.sizeRules.advise(e);
    if (advice.kind != FetchAdvice::ReadHeaderFirst) return Step::Next;
    std::string head;
    if (fetch(index, "TOP " + std::to_string(e.number) + " 0\r\n", head) == Step::Failed)
        return Step::Failed;
    // No header to judge by (the server refused TOP): fetch it, and analysis decides.
    advice = head.empty() ? FetchAdvice{} : c_.sizeRules.adviseWithHeader(e, head);
    if (advice.kind == FetchAdvice::ReadHeaderFirst) advice = {};
    return Step::Next;
}

EntryFacts Session::facts(size_t index, CheckerItem*& item) {
    const ServerEntry& e = *entries_[index];
    const std::string_view id = sjis::fieldView(e.uidl);
    item = nullptr;
    if (checker_ && !id.empty()) {
        auto found = checkerById_.find(std::string(id));
        if (found != checkerById_.end()) item = found->second;
    }
    EntryFacts f;
    f.checker = checker_ != nullptr;
    f.action = item ? static_cast<CheckerAction>(item->action) : CheckerAction::None;
    f.known = IsKnownUidl(e, uidl_) == 1;
    f.knownKind = uidl_.storedKind(id);
    f.hasOrder = order_ != nullptr;
    f.leaveOnServer = order_ && order_->leaveOnServer;
    f.headerLinesOnly = order_ && order_->headerLinesOnly;
    f.headerLines = order_ ? order_->headerLines : 0;
    f.listedSize = states_[index].listedSize;
    return f;
}

void Session::reportTooLarge(const ServerEntry& e, uint64_t listedSize) {
    refusedSome_ = true;
    const std::string log = std::string(kTextTooLarge) + "\r\n" + std::to_string(e.number) + " " +
                            std::to_string(listedSize);
    if (tooLargeReported_) {
        report::logFailure(env_, log, aborting());
    } else {
        tooLargeReported_ = true;
        report(log, std::string(kTextTooLarge) + "    ");
    }
}

// Fetches the message as planned and hands it to the sink; `fetched` when the sink took it.
Session::Step Session::fetchAndStore(size_t index, const FetchPlan& plan, bool& fetched,
                                     StoreOutcome& out) {
    ServerEntry& e = *entries_[index];
    EntryState& st = states_[index];
    fetched = false;
    if (c_.progress) {
        c_.progress->current = static_cast<int>(index + 1);
        c_.progress->total = static_cast<int>(entries_.size());
    }
    setState(ReceiveState::Receiving);
    const std::string number = std::to_string(e.number);
    const std::string line = plan.topLines >= 0
                                 ? "TOP " + number + " " + std::to_string(plan.topLines) + "\r\n"
                                 : "RETR " + number + "\r\n";
    std::string text;
    try {
        text.reserve(static_cast<size_t>(std::min(st.listedSize, kMaxMessageSize)) + 64);
    } catch (const std::bad_alloc&) {
        report(store::kAllocateFailed, store::kAllocateFailed);
        return Step::Failed;
    }
    if (fetch(index, line, text) == Step::Failed) return Step::Failed;
    if (text.empty()) return Step::Next;  // refused by the server
    const bool asciiOnly = c_.options.checkJapanese || !hasDoubleByte(text);
    if (c_.progress) c_.progress->analysing = true;
    out = c_.sink.store(text, e, asciiOnly);
    if (c_.progress) c_.progress->analysing = false;
    if (out.kind == StoreOutcome::FailedStop) return Step::Failed;
    fetched = true;
    st.stored = true;
    ++received_;
    if (c_.progress) c_.progress->received = received_;
    return Step::Next;
}

Session::Step Session::handle(size_t index) {
    ServerEntry& e = *entries_[index];
    EntryState& st = states_[index];
    CheckerItem* item = nullptr;
    const EntryFacts f = facts(index, item);
    FetchPlan plan = planFetch(f);
    FetchAdvice advice;
    if (plan.askSizeRules && sizeAdvice(index, advice) == Step::Failed) return Step::Failed;
    applyAdvice(f, advice, plan);
    if (plan.tooLarge) reportTooLarge(e, st.listedSize);

    bool fetched = false;
    StoreOutcome out;
    if (plan.wanted && fetchAndStore(index, plan, fetched, out) == Step::Failed)
        return Step::Failed;

    const Settlement s = settle(f, advice, plan, fetched, out.keepOnServer);
    st.keep = s.keep;
    if (s.remember && AddUidl(e, uidl_, *s.remember) != 0) {
        report(store::kAllocateFailed, store::kAllocateFailed);
        return Step::Failed;
    }
    if (item && s.checkerResult != kCheckerNoResult) item->result = s.checkerResult;
    if (fetched) journal(e, st, out);
    if (f.action == CheckerAction::DeleteOnly) {
        if (c_.progress) c_.progress->current = static_cast<int>(index + 1);
        setState(ReceiveState::Deleting);
    }
    if (s.dele) {
        if (sendDele(index) == Step::Failed) return Step::Failed;
        if (item && st.deleted) item->result = kCheckerDone;
    }
    return Step::Next;
}

Session::Step Session::messageLoop(bool& aborted) {
    aborted = false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (abortRequested()) {
            aborted = true;
            return Step::Next;
        }
        if (handle(i) == Step::Failed) return Step::Failed;
        if (c_.sink.commitDue() && !commitStored(false)) return Step::Failed;
    }
    return Step::Next;
}

void Session::journal(const ServerEntry& e, const EntryState& st, const StoreOutcome& out) {
    const std::string_view id = sjis::fieldView(e.uidl);
    if (id.empty()) return;
    JournalEntry j;
    // A kept id keeps its reason: what a rule kept must never look deletable after a kill.
    j.kind = st.keep ? uidl_.addedKind(id) : UidlKind::DeletePending;
    j.id = std::string(id);
    j.path = out.storedPath;
    j.size = out.storedSize;
    j.hash = out.contentHash;
    journal_.append(j);  // a failure only costs the kill-safety of this one id
}

bool Session::commitStored(bool aborting) {
    // Message files and indexes first: the UIDL file never names mail that is not on the disk.
    // After one failed commit no later one can vouch for the mail of the failed batch.
    if (commitFailed_ || !c_.sink.commit()) {
        commitFailed_ = true;
        return false;
    }
    settleIds(false);
    if (WriteUidlFile(env_, account_, uidl_, aborting) == Err::None) journal_.clear();
    return true;
}

void Session::settleIds(bool quitConfirmed) {
    for (size_t i = 0; i < entries_.size(); ++i) {
        const ServerEntry& e = *entries_[i];
        const EntryState& st = states_[i];
        const std::string_view id = sjis::fieldView(e.uidl);
        if (id.empty()) continue;
        if (st.deleted && quitConfirmed) {
            uidl_.forget(id);  // gone from the server for good
            continue;
        }
        // Stored here and still on the server: never to be fetched again.
        if (st.stored && !st.keep) AddUidl(e, uidl_, UidlKind::DeletePending);
    }
}

int Session::run() {
    if (c_.progress) c_.progress->reset();
    if (ReadUidlFile(env_, account_, uidl_) != 0) return kReceiveFailed;
    // Ids of mail stored by a session that was killed before it wrote the UIDL file.
    journal_.fold(uidl_);
    setState(ReceiveState::Connecting);
    conn_.setStatusHook([this](int state) { setState(static_cast<ReceiveState>(state)); });
    if (c_.conversationLog) conn_.setConversationLog(c_.conversationLog);

    if (OpenServer(conn_, pop3Settings(account_, c_.options.timeoutMs), Protocol::Pop3) != 0) {
        return kReceiveFailed;
    }
    if (!popAccepted(conn_.greeting())) {
        report(std::string(kTextGreetingRefused) + "\r\n" + firstLine(conn_.greeting()),
               std::string(kTextGreetingRefused) + "    ");
        return closeWith(kReceiveFailed);
    }
    if (abortRequested()) return closeWith(kReceiveAborted);
    if (account_.apop != 1 && login() != kReceiveDone) return kReceiveFailed;
    if (abortRequested()) return closeWith(kReceiveAborted);
    const int listed = readListing();
    if (listed != kReceiveDone) return closeWith(listed);
    if (abortRequested()) return closeWith(kReceiveAborted);

    c_.sink.begin();
    bool aborted = false;
    bool failed = messageLoop(aborted) == Step::Failed;

    // What was stored goes to the disk before the server may delete it: a failed commit closes
    // without QUIT, so the server keeps every message.
    const bool committed = commitStored(aborted || abortRequested());
    failed = failed || !committed;
    bool quitConfirmed = false, quitRefused = false;
    if (committed && !conn_.broken()) quitConfirmed = quit(quitRefused);
    bool deletionsSent = false;
    for (const EntryState& st : states_)
        deletionsSent = deletionsSent || st.deleteSent;
    if (quitRefused && deletionsSent) {
        report(std::string(kTextQuitRefused), std::string(kTextQuitRefused) + "    ");
    }
    conn_.close();
    settleIds(quitConfirmed);
    if (quitConfirmed && uidl_.forgotAny()) {
        WriteUidlFile(env_, account_, uidl_, aborted || abortRequested());
    }
    if (aborted) report::logFailure(env_, kTextAborted);
    if (c_.progress) c_.progress->received = received_;
    setState(ReceiveState::Done);

    int result = kReceiveDone;
    if (failed || refusedSome_ || (quitRefused && deletionsSent)) {
        result = kReceiveFailed;
    } else if (aborted) {
        result = kReceiveAborted;
    }
    c_.sink.end(result);
    return result;
}

}  // namespace

SessionOptions readSessionOptions(platform::Profile& ini) {
    SessionOptions o;
    o.noCheckUidl = platform::readInt(ini, kOption, "NoCheckUIDL", 0) == 1;
    o.logOutReceive = platform::readInt(ini, kOption, "LogOutReceive", 1) == 1;
    o.checkJapanese = platform::readInt(ini, kOption, "CheckJapanese", 1) != 0;
    const int64_t timeout = platform::readInt(ini, kOption, "TimeOut", 60000);
    o.timeoutMs = timeout > 0 && timeout < 0x7fffffff ? static_cast<unsigned>(timeout) : 60000;
    return o;
}

ConnectionSettings pop3Settings(const Account& a, unsigned timeoutMs) {
    ConnectionSettings s;
    s.host = sjis::fieldView(a.pop3Server);
    s.port = a.popPort > 0 && a.popPort <= 0xffff ? static_cast<uint16_t>(a.popPort) : 0;
    s.sslMode = sslModeOf(a.recvSsl);
    s.sslProtocol = a.recvSslProtocol;
    s.certSsl = a.certSsl;
    s.timeoutMs = timeoutMs;
    s.user = sjis::fieldView(a.userId);
    s.password = sjis::fieldView(a.password);
    s.apop = a.apop == 1;
    return s;
}

void ReceiveProgress::reset() {
    state = 0;
    total = 0;
    current = 0;
    received = 0;
    bytesExpected = 0;
    bytesRemaining = 0;
    percent = 0;
    analysing = false;
}

int ReceiveAccount(ReceiveContext& context, const Account& account, const ReceiveOrder* order,
                   CheckerItem* checkerList) {
    try {
        Session session(context, account, order, checkerList);
        return session.run();
    } catch (const std::bad_alloc&) {
        // Anything not yet stored stays on the server; the connection closes without QUIT.
        report::report(context.env, store::kAllocateFailed);
        return kReceiveFailed;
    }
}

}  // namespace kolvy::pop
