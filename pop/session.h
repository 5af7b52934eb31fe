// The POP3 session of one account: connect and log in, list the messages with their sizes and
// unique ids, decide per message (UIDL store, mail checker, size rules) whether to fetch it whole,
// fetch its header and first lines, leave it or delete it, hand each fetched message to the
// message sink, delete what may be deleted, remember what stays on the server, and quit.
//
// What the session promises, whatever the server or the network does:
//   - a message is deleted from the server only after it was stored here, or when a rule says
//     "delete unread" or the mail checker says delete; never after only its header was fetched;
//   - every message stored here whose deletion the server has not confirmed (by answering QUIT)
//     is remembered in the UIDL store, so no later run fetches it again;
//   - after an abort or a failure QUIT is sent whenever the connection can still carry it, so
//     the server keeps the deletions of mail already stored;
//   - each stored message's id goes to the account's UIDL journal at once, so a kill re-fetches
//     at most the message under way;
//   - before QUIT the sink commits (message files, indexes, counters) and the UIDL file is
//     written; a commit also follows every batch the sink calls due.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/records.h"
#include "platform/env.h"
#include "pop/connection.h"
#include "report/logs.h"

namespace kolvy::pop {

// Results of ReceiveAccount.
inline constexpr int kReceiveDone = 0;
inline constexpr int kReceiveFailed = 1;  // reported where it happened
inline constexpr int kReceiveAborted = 2;
inline constexpr int kReceiveNoMail = 3;
inline constexpr int kReceiveListFailed = 4;  // LIST or UIDL could not be sent or answered

// Options of section "Option" the session reads.
struct SessionOptions {
    bool noCheckUidl = false;    // NoCheckUIDL: no UIDL command, no id is ever known
    bool logOutReceive = true;   // LogOutReceive: raw messages go to the received-mail log
    bool checkJapanese = true;   // CheckJapanese: 0 = a double byte in the raw text counts
    unsigned timeoutMs = 60000;  // TimeOut
};
SessionOptions readSessionOptions(platform::Profile& ini);

// The connection settings of an account's POP3 side.
ConnectionSettings pop3Settings(const Account& account, unsigned timeoutMs);

// What the size rules say about a message before it is fetched.
struct FetchAdvice {
    enum Kind {
        Fetch,           // fetch it whole
        HeaderAndLines,  // fetch the header and `lines` lines (TOP)
        NoDownload,      // leave it on the server, unfetched
        DeleteUnread,    // delete it from the server without fetching it
        // A size rule would act before the fetch, but a rule above it may hold: read the header
        // (TOP n 0) and ask again with it.
        ReadHeaderFirst,
    } kind = Fetch;
    int lines = 0;
    bool keepOnServer = false;  // the rule also says to leave the message on the server
};

class SizeRules {
  public:
    virtual ~SizeRules() = default;
    virtual FetchAdvice advise(const ServerEntry& entry) = 0;
    // After ReadHeaderFirst: the advice with the message's header (the TOP n 0 text, starting
    // with LF and ending with the ".\r\n" line). Never ReadHeaderFirst again.
    virtual FetchAdvice adviseWithHeader(const ServerEntry& /*entry*/, std::string_view /*head*/) {
        return {};
    }
};

// Size rules that never have anything to say.
class NoSizeRules final : public SizeRules {
  public:
    FetchAdvice advise(const ServerEntry&) override { return {}; }
};

// What became of a fetched message.
struct StoreOutcome {
    enum Kind {
        Stored,      // stored (or copied) in a tab
        Discarded,   // a receive rule threw it away: like Stored for the server
        FailedStop,  // not stored, and the run must stop (memory, file, index, full tab)
    } kind = Stored;
    // A receive rule asks to leave the message on the server. A rule that says "do not
    // download" must set this too: the message then stays where it is.
    bool keepOnServer = false;
    // Where the message file went (from the program folder; empty when nothing was stored),
    // its size and content hash: the UIDL journal names it so it can be found whole later.
    std::string storedPath;
    uint64_t storedSize = 0;
    uint64_t contentHash = 0;
};

// Where fetched messages go (message analysis, in the program).
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Once the listing is read, before the first message: note where the new mail starts.
    virtual void begin() {}
    // One message: `text` starts with LF (the end of the server's status line), is
    // dot-unstuffed and ends with the ".\r\n" line; a body line may itself read "." after the
    // unstuffing, so its end is its length. `asciiOnly` is the value the no-double-byte flag
    // takes before analysis. The sink may change the text in place.
    virtual StoreOutcome store(std::string& text, const ServerEntry& entry, bool asciiOnly) = 0;
    // Whether enough is stored since the last commit that a commit should come now.
    virtual bool commitDue() const { return false; }
    // Makes everything stored so far durable (message files, then indexes, then counters).
    // False when that failed: the session then must not let the server delete anything.
    virtual bool commit() { return true; }
    // After the connection is closed, whenever begin() was called (also after a failure or an
    // abort in the loop): show the new messages, join split pieces that arrived. `result` is
    // what ReceiveAccount returns.
    virtual void end(int /*result*/) {}
};

// The steps of a dialogue as the run's status table numbers them.
enum class ReceiveState : int {
    Connecting = 2,
    AccountSent = 3,
    PasswordAccepted = 4,
    Receiving = 5,
    Done = 6,
    ServerConnecting = 12,  // the line engine's own step (kConnectingStatus)
    AbortingAfterThis = 16,
    Deleting = 20,
};

// Progress of the run, read by the status line; `state` holds a ReceiveState's number.
struct ReceiveProgress {
    std::atomic<int> state{0};
    std::atomic<int> total{0};
    std::atomic<int> current{0};
    std::atomic<int> received{0};
    std::atomic<uint64_t> bytesExpected{0};
    std::atomic<uint64_t> bytesRemaining{0};
    std::atomic<int> percent{0};
    std::atomic<bool> analysing{false};
    void reset();
};

struct ReceiveContext {
    ReceiveContext(Env& e, MessageSink& s, SizeRules& r) : env(e), sink(s), sizeRules(r) {}
    Env& env;
    MessageSink& sink;
    SizeRules& sizeRules;
    SessionOptions options;
    // The run's abort command: the process's flag, which the mail checker writes as a plain int.
    const std::atomic<int32_t>* abortRequested = nullptr;
    ReceiveProgress* progress = nullptr;
    std::function<void()> statusChanged;    // state or numbers changed: redraw the status
    std::function<void()> progressChanged;  // the percentage moved on
    report::RunLog* receivedLog = nullptr;  // the run's received-mail log, when open
    // Where commands and replies are written (default: the communication log when unattended
    // or LogOut is on).
    std::function<void(std::string_view)> conversationLog;
};

// Runs the whole dialogue for one account. `order` is null when the mail checker calls through
// KVA_Recieve, and `checkerList` is given only then. Returns one of the kReceive… results.
int ReceiveAccount(ReceiveContext& context, const Account& account, const ReceiveOrder* order,
                   CheckerItem* checkerList);

// Messages whose listed size is above this are left on the server and reported: a 32-bit
// process cannot hold such a message twice over (the received text and its analysis).
inline constexpr uint64_t kMaxMessageSize = 200'000'000;

// The fixed texts of the session.
inline constexpr char kTextAuthFailedBox[] =
    "認証エラーです。\nユーザIDかパスワードを確認してください。   ";
inline constexpr char kTextSizeMismatch[] =
    "サーバから取得したメールサイズと実際のメールサイズが異なっています。";
inline constexpr char kTextReceiveSocketError[] =
    "メール受信中にソケットエラーか、あるいはタイムアウトが発生しました。";
inline constexpr char kTextReceiveEnded[] =
    "メール受信中にサーバからの返信が返ってきませんでした。";
inline constexpr char kTextFetchRefused[] = "サーバがメールの取得を拒否しました。";
inline constexpr char kTextDeleteRefused[] = "サーバがメールの削除を拒否しました。";
inline constexpr char kTextQuitRefused[] =
    "サーバがメールの削除を確定できませんでした。削除したメールはサーバに残っている可能性があります"
    "。";
inline constexpr char kTextGreetingRefused[] = "サーバが接続を拒否しました。";
inline constexpr char kTextTooLarge[] =
    "大きすぎて受信できないメールがあります。このメールはサーバに残します。";
inline constexpr char kTextAborted[] = "中断が実行されました。";

}  // namespace kolvy::pop
