// Message analysis: one received message becomes one stored message.
//
// The raw text (after the POP3 dot-unstuffing) is normalised to CR LF, its headers are copied and
// decoded, its body is walked part by part (text parts decoded into Shift_JIS, attachments kept in
// their transfer encoding with only their part headers decoded), one "X-PartInfo:" line per leaf
// part is put at the end of the header block, the receive rules are asked, and the result is
// filed: message file, index record, next file number and counters of the tab.
//
// Two layers: analyzeText() is the pure part (text in, stored text and what the index needs out);
// mailAnalyze() adds the rules, the choice of the tab and the writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "rules/auto_answer.h"
#include "rules/evaluate.h"
#include "store/index.h"
#include "store/tabs.h"

namespace kolvy::mime {

// Multiparts nested deeper than this are copied as they stand: real mail nests a few levels
// (mixed, alternative, related, a forwarded message), and the walk must not recurse without end.
inline constexpr int kMaxNesting = 16;
// The name in a part line is cut here (on a character boundary).
inline constexpr size_t kPartNameMax = 256;
// NUL bytes are stored as this so that the message stays whole.
inline constexpr char kNulReplacement = ' ';
// The thread message asking the main thread for a temporary receive tab.
inline constexpr uint32_t kTemporaryTabMessage = 0x8001;
// How long the main thread gets to make that tab.
inline constexpr unsigned kTemporaryTabWaitMs = 2000;

enum class AnalyzeMode : int {
    Received = 0,      // rules applied, filed into the basic receive tab, unread
    LastTab = 1,       // any other value: filed into the last tab without rules
    OutgoingCopy = 2,  // as LastTab, stored as a sent message with the recipient as other party
};

inline constexpr char kTemporaryTabFailed[] =
    "基本受信タブがいっぱいになったので、「臨時タブ」を    \n"
    "作成しようとしましたが失敗しました。    ";
using rules::kAutoForwardFailed;
using rules::kAutoReplyFailed;

// --------------------------------------------------------------------------- pure analysis
// Puts line ends right: a text whose first line ends in a lone CR (or a lone LF) has every lone
// CR (or LF) turned into CR LF and its leading line breaks dropped; NUL bytes become blanks.
// `text` starts with the leading LF; so does the result.
std::string normaliseLineEnds(std::string_view text);

// One leaf part that has a Content-Type.
struct PartEntry {
    std::string info;       // "X-PartInfo: type; [name=...; ]" without the offset
    size_t offset = 0;      // where the part's headers start in the output
    bool readable = false;  // text/plain or text/html
    bool html = false;
};
// Where one decoded text part lies in the output.
struct TextSegment {
    size_t start = 0, end = 0;
};

struct Analysis {
    // Status line, header copy and walked body, without the part lines.
    std::string output;
    size_t bodyStart = 0;   // where the part lines go: after the last header line's CR LF
    std::string partLines;  // joined, with final offsets; empty without
    int partLineCount = 0;
    std::vector<PartEntry> parts;
    std::vector<TextSegment> segments;
    bool html = false;     // readable part text/html, or a single text/html body
    bool partial = false;  // a message/partial piece
    bool multipartOpen = false;
    bool asciiOnly = true;  // no text part held a Shift_JIS double-byte character
    // The top-level header record; its pointers point into headerCopy.
    std::vector<char> headerCopy;
    HeaderInfo header{};
    // Kind digit before rules: 2 HTML, 1 attachments (more than one part line), 0 plain.
    int kind() const { return html ? 2 : partLineCount > 1 ? 1 : 0; }
    int attachments() const { return partLineCount > 1 ? partLineCount - 1 : 0; }
    // The text as the message file holds it, status line first.
    std::string fileText() const;

    Analysis() = default;
    Analysis(const Analysis&) = delete;
    Analysis& operator=(const Analysis&) = delete;
    Analysis(Analysis&&) = default;
    Analysis& operator=(Analysis&&) = default;
};

// Analyses `text` (starting with the LF before the first header line; its end is its length) as
// received at local time `stamp` (ten digits yymmddhhmm).
Analysis analyzeText(std::string_view text, std::string_view stamp);

// --------------------------------------------------------------------------- filing
struct AnalyzeContext {
    explicit AnalyzeContext(Env& e, store::TabRegistry& t) : env(e), tabs(t) {}
    Env& env;
    store::TabRegistry& tabs;
    store::IndexOptions index;
    const Account* accounts = nullptr;    // the first account of the list
    rules::ReceiveRuleHook receiveRules;  // null: no rules
    // Makes the reply and forward a receive rule asks for; null: they are not made. Analysis
    // asks for no answer to automatic, list or bounce mail or to the user's own.
    rules::AutoResponder* responder = nullptr;
    bool sinchakuIcon = false;  // Option/SinchakuIcon
    // Asks the main thread for a temporary receive tab and gives it time; by default the thread
    // message and a wait of kTemporaryTabWaitMs.
    std::function<void()> requestTemporaryTab;
};

struct AnalyzeOutcome {
    enum Kind {
        Stored,      // stored (also when an automatic reply or forward failed afterwards)
        Discarded,   // a receive rule threw it away
        FailedStop,  // nothing stored; the run must stop (memory, file, index, full tab)
    } kind = Stored;
    bool keepOnServer = false;  // a receive rule asks to leave it on the server
    bool partial = false;       // a message/partial piece arrived: the join should run
    Tab* tab = nullptr;         // where it was stored (the rule's tab on a move)
    int fileNo = -1;
    // The stored file's size and content hash (store::messageContentHash), to find it whole.
    uint64_t fileSize = 0;
    uint64_t contentHash = 0;
};

// Analyses and files one message. `text` starts with the LF that ended the server's status line,
// is dot-unstuffed and ends with the ".\r\n" line; its end is its length.
AnalyzeOutcome mailAnalyze(AnalyzeContext& context, std::string_view text, const ServerEntry& entry,
                           AnalyzeMode mode = AnalyzeMode::Received);

// The account byte of the index record: the first account whose address occurs in the To:
// address, else in Delivered-To:, else (no Delivered-To: at all) in the Received: text; 101 when
// none does or the message has no To: address.
uint8_t matchAccount(const HeaderInfo& header, const Account* accounts);

}  // namespace kolvy::mime
