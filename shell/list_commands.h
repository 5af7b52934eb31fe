// What the main window's list and compose commands decide, apart from the window: which store
// operation a command runs, which rows of a list it takes, whether a draft may wait for sending
// again, and how a selected message is opened.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "store/list_ops.h"
#include "store/tabs.h"

namespace kolvy::shell {

inline constexpr char kRebuildDuringRun[] = "受信中は「目次の作り直し」は出来ません。    ";
inline constexpr char kRenumberDuringRun[] = "受信中は「番号振り直し」は出来ません。    ";
inline constexpr char kViewerFailed[] = "ビューアが起動できません。    ";

// The store operation behind a list command.
struct ListCommand {
    enum Kind { Pass, Attribute, EmptyTrash } kind = Pass;
    int op = 0;  // the list operation number (Pass) or attribute operation (Attribute)
    bool chooseTab() const { return kind == Pass && (op == 0 || op == 1); }
};
// nullopt for an identifier that is no list command.
std::optional<ListCommand> listCommandOf(int id);

// The file number a list row shows in its number column ("0012", " 0012"); nullopt when the text
// holds none.
std::optional<int> rowNumber(std::string_view text);

// The items of `tab` with these file numbers, in the tab's order; numbers without an item are
// left out, each item comes once.
std::vector<MailItem*> itemsWithNumbers(Tab& tab, std::span<const int> numbers);

// The tabs a selection can be moved or copied to: every registered tab but the source, in tab
// order.
std::vector<Tab*> tabChoices(store::TabRegistry& tabs, const Tab& source);
// How a tab is offered in the choice: its name and its kind.
std::string tabChoiceText(const Tab& tab);

// The header check a stored draft passes before it waits for sending again: the first bytes of
// its file (status line first). nullopt when it may be sent; else the header and why not.
std::optional<store::DraftFault> waitingDraftFault(std::string_view head);

// How the open command treats a message: the viewer program, the file opened with the program
// the system associates with text files (no viewer set), or the editor for a draft not sent yet.
enum class OpenWith { Viewer, Associated, Editor };
OpenWith openWith(const Tab& tab, const MailItem& item, std::string_view viewer);
// The viewer's command line: the program, the message file and 1 for outgoing mail, 0 for
// received mail.
std::string viewerCommandLine(std::string_view viewer, std::string_view path, const MailItem& item);

// What a start with a mail address asks for: "bob@example.com?subject=..&cc=..&body=..".
struct MailtoRequest {
    std::string to, cc, subject, body;
};
MailtoRequest parseMailto(std::string_view text);
// The prepared text the composer starts from (its "_Tmp\Tmp.txt"): the recipient, the sender,
// the subject, copies when there are any, and the body.
std::string preparedDraft(const MailtoRequest& m, std::string_view fromName,
                          std::string_view fromAddress);

}  // namespace kolvy::shell
