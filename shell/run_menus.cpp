#include "shell/run_menus.h"

#include "shell/command_ids.h"

namespace kolvy::shell {
namespace {

// The list-editing and view menus and "その他の操作", entry by entry.
bool inGreyedMenus(int id) {
    using namespace cmd;
    return (id >= kPrint && id <= kViewByMailer) || id == kRebuildIndex || id == kRenumber ||
           id == kJoinSplit || (id >= kMoveToTab && id <= kColourNone) || id == kMakeDraft ||
           id == kMakeWaiting || id == kViewPlain || (id >= kThreadView && id <= kViewByDate) ||
           (id >= kViewColourFirst && id <= kViewColourLast) || id == kViewBySender;
}

}  // namespace

bool greyedDuringRun(int id, RunKind run) {
    using namespace cmd;
    if (run == RunKind::None) return false;
    // Searching, an outside folder and the key table touch nothing a send run reads.
    if (run == RunKind::Send && (id == kSearch || id == kOpenFolderTab || id == kShortcutSettings))
        return false;
    static constexpr int kSingles[] = {kTabSettings, kOpenFolderTab, kReceive, kSend,
                                       kSendReceive, kAttach,        kSort,    kSearch,
                                       kEmptyTrash,  kMailChecker,   kExit,    kAccounts,
                                       kOrders,      kOptions,       kRules,   kShortcutSettings};
    for (const int s : kSingles) {
        if (s == id) return true;
    }
    return inGreyedMenus(id);
}

}  // namespace kolvy::shell
