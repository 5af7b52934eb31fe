#include "shell/list_commands.h"

#include <charconv>
#include <unordered_set>

#include "compose/check.h"
#include "core/list.h"
#include "shell/command_ids.h"
#include "store/index.h"
#include "store/paths.h"

namespace kolvy::shell {
namespace {

constexpr uint8_t kOutgoing = 16;
constexpr uint8_t kSent = 20;

// The status line ends at the first LF; the header follows.
std::string_view afterStatusLine(std::string_view head) {
    if (head.empty() || head[0] != '\x0C') return head;
    const size_t lf = head.find('\n');
    return lf == std::string_view::npos ? std::string_view() : head.substr(lf + 1);
}

}  // namespace

std::optional<ListCommand> listCommandOf(int id) {
    using K = ListCommand::Kind;
    switch (id) {
        case cmd::kMoveToTab:
            return ListCommand{K::Pass, 0};
        case cmd::kCopyToTab:
            return ListCommand{K::Pass, 1};
        case cmd::kDelete:
            return ListCommand{K::Pass, 2};
        case cmd::kDeleteCompletely:
            return ListCommand{K::Pass, 3};
        case cmd::kEmptyTrash:
            return ListCommand{K::EmptyTrash, 5};
        case cmd::kMakeDraft:
            return ListCommand{K::Attribute, store::kOpDraft};
        case cmd::kMakeWaiting:
            return ListCommand{K::Attribute, store::kOpWaiting};
        case cmd::kColourNone:
            return ListCommand{K::Attribute, store::kOpNoColour};
        default:
            break;
    }
    if (id >= cmd::kMarkUnread && id <= cmd::kToggleMark)
        return ListCommand{K::Attribute, id - cmd::kMarkUnread};
    if (id >= cmd::kColourFirst && id <= cmd::kColourLast)
        return ListCommand{K::Attribute, store::kOpFirstColour + (id - cmd::kColourFirst)};
    return std::nullopt;
}

std::optional<int> rowNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    int n = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 0 || n > 9999)
        return std::nullopt;
    return n;
}

std::vector<MailItem*> itemsWithNumbers(Tab& tab, std::span<const int> numbers) {
    std::unordered_set<int> wanted(numbers.begin(), numbers.end());
    std::vector<MailItem*> out;
    for (MailItem* m : listRange(tab.items)) {
        if (wanted.erase(store::itemNumber(*m)) > 0) out.push_back(m);
    }
    return out;
}

std::vector<Tab*> tabChoices(store::TabRegistry& tabs, const Tab& source) {
    std::vector<Tab*> out;
    for (Tab* t = tabs.first(); t; t = t->next) {
        if (t != &source) out.push_back(t);
    }
    return out;
}

std::string tabChoiceText(const Tab& tab) {
    static constexpr const char* kKinds[] = {"（受信）", "（送信）", "（ゴミ箱）"};
    std::string s = store::tabName(tab);
    if (tab.kind >= 0 && tab.kind <= 2) s += kKinds[tab.kind];
    return s;
}

std::optional<store::DraftFault> waitingDraftFault(std::string_view head) {
    const std::string_view header = afterStatusLine(head);
    // A stored draft carries the headers the composer set (Date:, In-Reply-To:): it is checked
    // as a draft edited again.
    const compose::HeaderCheck check =
        compose::checkHeader(header, compose::CheckMode::EditedDraft);
    if (!check.ok()) {
        // The missing-header texts start with the header's name.
        for (std::string_view name : {"From:", "To:", "Subject:"}) {
            const std::string lead = std::string(name) + " ";
            if (check.message.starts_with(lead))
                return store::DraftFault{std::string(name), check.message.substr(lead.size())};
        }
        return store::DraftFault{"ヘッダ", check.message};
    }
    if (check.noAddress != compose::NoAddress::None) {
        return store::DraftFault{std::string(compose::noAddressName(check.noAddress)),
                                 "ヘッダが空欄か、無効のため送信待ちにできません"};
    }
    return std::nullopt;
}

OpenWith openWith(const Tab& tab, const MailItem& item, std::string_view viewer) {
    if (tab.kind != store::kTrashTab && item.state >= kOutgoing && item.state < kSent)
        return OpenWith::Editor;
    return viewer.empty() ? OpenWith::Associated : OpenWith::Viewer;
}

std::string viewerCommandLine(std::string_view viewer, std::string_view path,
                              const MailItem& item) {
    std::string s(viewer);
    s += ' ';
    s += path;
    s += item.state >= kOutgoing ? ",1" : ",0";
    return s;
}

}  // namespace kolvy::shell
