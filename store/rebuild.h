// Index rebuild and renumbering. The message files are the truth and the index a cache of them:
// a missing or damaged index, wrong counters or the user's command make a new index from the
// files' status lines and stored headers. Renumbering closes the gaps in a tab's file numbers and
// rebuilds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/records.h"
#include "platform/env.h"
#include "store/index.h"

namespace kolvy::store {

inline constexpr char kRebuildTabMessage[] = "『 %s 』タブの%s";
inline constexpr char kRebuildDamaged[] =
    "目次ファイル（mokuji.bin）が壊れている様なので作り直します。    \n"
    "（ ファイル数が多い場合時間がかかることがあります ）   ";
inline constexpr char kRebuildAsk[] =
    "現在選択されているタブの「 目次ファイル 」（ mokuji.bin ）を作り直します。    \n"
    "（ ファイル数が多い場合時間がかかることがあります ）   ";
inline constexpr char kRebuildCounters[] =
    "このタブの「メール数情報」に間違いがあるようなので取得しなおします。    \n"
    "（ ファイル数が多い場合時間がかかることがあります ）   ";
inline constexpr char kEmptyFileDeleted[] = "%s ファイルの内容が失われている為、一旦削除します。";
inline constexpr char kRenumberAsk[] =
    "現在選択されているタブの「 ファイル番号 」を振り直します。    \n"
    "（ ファイル数が多い場合時間がかかることがあります ）   ";

// Bytes of a message file read first for its status line and headers; a header block that does
// not end within them is read on, up to kHeaderReadMax (long Received: chains push the part lines
// far down).
inline constexpr size_t kHeaderReadFirst = 4096;
inline constexpr size_t kHeaderReadMax = 1 << 20;

// The record a message file gives (file number, state, mark, times, size, attachments, account,
// texts); nullopt when the bytes are no message file (no form feed first, no "=" at byte 15).
// `fileSize` is the file's size, `attachmentFiles` the files of its 添付\NNNN folder.
std::optional<IndexRecord> recordFromFile(std::string_view fileStart, int number, uint64_t fileSize,
                                          size_t attachmentFiles, const Account* accounts);

// The record the message file `number` of a tab folder gives, read as the rebuild reads it (its
// head up to the end of the header block, its attachment folder); nullopt when there is no such
// file or it is no message file.
std::optional<IndexRecord> recordOfOpenFile(Env& env, platform::File& file, uint64_t fileSize,
                                            std::string_view folder, int number,
                                            const Account* accounts);
std::optional<IndexRecord> recordOfMessageFile(Env& env, std::string_view folder, int number,
                                               const Account* accounts);

struct RebuildResult {
    bool written = false;
    int taken = 0;
};

// Rebuilds the index of `tab` from its message files (mode: which message or question comes
// first). The new index replaces the old in one step; next file number, counters and, for a tab
// that is not basic, its kind follow what was found. `registry` is only consulted for nothing but
// the tab itself; `accounts` is the first account of the list.
RebuildResult rebuildIndex(Env& env, Tab& tab, RebuildMode mode, const Account* accounts);

// The rebuild that the index reader calls for a damaged index.
class FileRebuilder final : public IndexRebuilder {
  public:
    explicit FileRebuilder(const Account* accounts = nullptr) : accounts_(accounts) {}
    bool rebuild(Env& env, Tab& tab, RebuildMode mode) override {
        return rebuildIndex(env, tab, mode, accounts_).written;
    }

  private:
    const Account* accounts_;
};

// Renumbers the tab's messages 0, 1, 2, ... in index order (each attachment folder follows only
// when its message was renamed), then rebuilds with mode Renumbered and reads the index again.
// `ask`: put the question first.
Err renumberTab(Env& env, Tab& tab, const IndexOptions& options, const Account* accounts,
                bool ask = true);

}  // namespace kolvy::store
