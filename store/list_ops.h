// List editing without windows: moving, copying and deleting messages between tabs, and the
// attribute changes of single messages. The list commands, the message rules and the exported
// functions call these; dialogs, progress display and busy cursor are the caller's.
//
// A pass over a selection keeps every message whole whatever fails part-way: a message is copied
// (file, then attachment folder) and its record appended before anything of it leaves the source,
// and the source loses the rows that arrived only once, through one compaction of its index. A
// failure stops the pass; rows done before it stay done, the row that failed stays where it was
// and nothing of it is left in the target.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "store/index.h"

namespace kolvy::store {

inline constexpr char kListEditDuringRun[] = "受信中はリスト編集できません。    ";
inline constexpr char kTrashNotDeletable[] =
    "ゴミ箱のアイテムは、削除コマンドでは削除できません。    ";
inline constexpr char kFromTrashNotice[] =
    "選択されたメールのうち、選んだタブと属性の一致している    \n"
    "メールのみが移動、コピーされます。    ";
inline constexpr char kCompleteDeleteAsk[] =
    "選択されたメールを本当に、「完全に削除」してよろしいですか？   ";
inline constexpr char kTargetFull[] = "移動先のタブがいっぱいです。   ";
inline constexpr char kTargetFilledUp[] =
    "移動先のタブがいっぱいで、移動できないデータがありました。   ";
inline constexpr char kOrphanAsk[] =
    "関連付けされていない添付フォルダがあります。削除しますか？    \n%s";
inline constexpr char kEmptyTrashDuringRun[] = "受信中はリストを編集できません。    ";
inline constexpr char kNotTrashTab[] = "ゴミ箱用タブが開かれていません。    ";
inline constexpr char kNothingToDelete[] = "削除するアイテムが一つもありません。    ";
inline constexpr char kEmptyTrashAsk[] =
    "『 %s 』 タブ内の全てのメールを完全に削除します    \n本当にいいですか？";
inline constexpr char kEmptyTrashAskAgain[] =
    "本当に 『全て』 のメールを 『完全に』 削除していいですか？    ";
// A message left its tab but its file could not be deleted there.
inline constexpr char kNotRemoved[] = "メールファイルを削除できませんでした。    ";
inline constexpr char kDraftCheckFailed[] = "番号%s\n「%s」%s    ";
inline constexpr char kSentToWaitingAsk[] =
    "送信済みのメールを送信待ちにすると、同じメールを重複して送信してしまう可能性があります。"
    "よろしいですか？   ";

// ----------------------------------------------------------------------------- passes
enum class ListOp { Move, Copy, Delete, CompleteDelete };
// The operation numbers of the list commands: 0, 7, 9 move; 1, 6 copy; 2 delete into the trash;
// 3, 4, 5, 8 complete delete (only 3 asks first).
std::optional<ListOp> listOpOf(int number);
inline bool listOpConfirms(int number) {
    return number == 3;
}

// One message of a pass: to `target` (moved, or copied when `copy`), or completely deleted when
// `target` is null.
struct PassRow {
    MailItem* item = nullptr;
    Tab* target = nullptr;
    bool copy = false;
};

struct PassOutcome {
    int moved = 0;
    int copied = 0;
    int deleted = 0;
    int wrongKind = 0;         // rows the target's kind does not take (received mail to a send tab)
    int leftByFullTarget = 0;  // rows that stayed because their target was or became full
    Err error = Err::None;     // what stopped the pass (reported already)
    // Source files (by number) whose messages left the index but which could not be deleted:
    // the message is safe where it went, the file is a leftover that no record points to.
    std::vector<int> unremoved;
    bool ok() const { return error == Err::None; }
};

struct ListOpOptions {
    IndexOptions index;
    // A receive run is going on: every list operation is refused.
    bool receiveRunning = false;
};

// One pass over rows of `source` (items of its loaded index, in any order; each counts once):
// for each target, in the order targets first appear, its rows in list order are copied under
// the target's next numbers with their attachment folders, their records appended in one write,
// the target's NextFileNo and counters written once; then the source index is compacted once
// without the rows that moved or were deleted, their files deleted and the source counters
// written. A target that is the source itself is ignored. Received mail never goes to a send
// tab nor outgoing mail to a receive tab; the trash takes both. A failure stops the pass (the
// routines have reported it); should the source then not compact, the targets are put back as
// they were, so that no message is left in two tabs.
PassOutcome runPass(Env& env, Tab& source, std::span<const PassRow> rows,
                    const ListOpOptions& options);

// The list command: its refusals and questions, then one pass. `target` is the chosen tab for
// move and copy and the basic trash tab for delete (unused for complete delete). A full target
// refuses before anything happens; one that fills up during the pass leaves the rest and says so
// at the end.
PassOutcome runListOp(Env& env, Tab& source, std::span<MailItem* const> selection, ListOp op,
                      Tab* target, const ListOpOptions& options, bool confirm = false);

// Empties a trash tab: both questions, the whole index read, every row completely deleted.
PassOutcome emptyTrash(Env& env, Tab& trash, const ListOpOptions& options);

// ----------------------------------------------------------------------------- attributes
enum AttributeOp : int {
    kOpUnread = 0,
    kOpRead = 1,
    kOpAllRead = 2,
    kOpMark = 3,
    kOpFirstColour = 4,  // colour 1 ("1")
    kOpLastColour = 17,  // colour 14 ("E")
    kOpNoColour = 18,
    kOpWaiting = 100,
    kOpDraft = 101,
};

// What the composer's header check says about a draft that is to become waiting.
struct DraftFault {
    std::string header;  // the header's name
    std::string reason;
};
// Gets the first bytes of the message file; nullopt when the draft may be sent.
using DraftCheck = std::function<std::optional<DraftFault>(std::string_view head)>;
// Bytes of a draft's file its header check reads.
inline constexpr size_t kDraftCheckBytes = 255;

struct AttributeOptions {
    bool receiveRunning = false;
    DraftCheck draftCheck;  // none: every draft passes
};

struct AttributeOutcome {
    int changed = 0;
    Err error = Err::None;
};

// The new state and mark/colour byte an operation gives a message; nullopt when it does not
// apply (outgoing mail and read, a colour the message already has, ...). Waiting and draft are
// only worked out here; their checks are runAttributeOp's.
struct ItemBytes {
    uint8_t state = 0;
    uint8_t markColour = 0;
};
std::optional<ItemBytes> attributeResult(int op, uint8_t state, uint8_t markColour);

// Rewrites a message's state and mark/colour byte: the status-line characters first, then the
// index bytes; whatever fails is put back, so file and index never disagree. The tab's counters
// follow in memory (the caller writes them once); a message that becomes read is no longer new.
// `fileFailed` tells a message file that could not be written (not reported: callers word it
// themselves) from an index failure (reported).
Err setItemBytes(Env& env, Tab& tab, MailItem& item, ItemBytes bytes, bool* fileFailed = nullptr);

// An attribute command over a selection (op 2 selects the unread received rows of the whole tab
// itself). Rows it does not apply to are left alone; the counters are written once at the end.
AttributeOutcome runAttributeOp(Env& env, Tab& tab, std::span<MailItem* const> selection, int op,
                                const AttributeOptions& options);

}  // namespace kolvy::store
