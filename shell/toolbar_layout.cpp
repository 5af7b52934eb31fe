#include "shell/toolbar_layout.h"

#include <array>
#include <charconv>

#include "shell/command_ids.h"

namespace kolvy::shell {
namespace {

constexpr ToolButton kButtons[kToolButtons] = {
    {cmd::kReceive, "受信"},
    {cmd::kSend, "送信"},
    {cmd::kSendReceive, "送受信"},
    {cmd::kComposeNew, "新規メール作成"},
    {cmd::kComposeReply, "返信メール作成"},
    {cmd::kComposeForward, "転送メール作成"},
    {cmd::kAttach, "添付"},
    {cmd::kSort, "振り分け"},
    {cmd::kSearch, "メール検索"},
    {cmd::kPeriodicSwitch, "定期受信親スイッチ"},
    {cmd::kAddressBook, "アドレス帳"},
    {cmd::kShortcutList, "ショートカット表示"},
    {cmd::kDelete, "メール削除"},
    {cmd::kAbort, "送受信の中断"},
    {cmd::kCloseOtherTabs, "タブ（基本以外）を閉じる"},
    {cmd::kMailChecker, "メールチェッカー単独操作"},
    {cmd::kToTray, "タスクトレイに入れる"},
    {cmd::kPrint, "印刷"},
    {cmd::kEmptyTrash, "ごみ箱タブを空にする"},
};

// -1 when the entry is no number.
int number(std::string_view e) {
    int n = -1;
    const auto [end, ec] = std::from_chars(e.data(), e.data() + e.size(), n);
    return e.empty() || ec != std::errc{} || end != e.data() + e.size() ? -1 : n;
}

}  // namespace

const ToolButton& toolButton(int n) {
    return kButtons[n < 1 || n > kToolButtons ? 0 : n - 1];
}

ToolBarLayout parseToolBar(std::string_view stored) {
    ToolBarLayout layout;
    std::array<bool, kToolButtons + 1> seen{};
    bool afterEnd = false;
    while (!stored.empty()) {
        const size_t semi = stored.find(';');
        const int n = number(stored.substr(0, semi));
        stored = semi == std::string_view::npos ? std::string_view{} : stored.substr(semi + 1);
        if (n == kToolBarEnd && !afterEnd) {
            afterEnd = true;
            continue;
        }
        if (n < 0 || n > kToolButtons) continue;
        if (n != kToolSeparator) {
            if (seen[static_cast<size_t>(n)]) continue;
            seen[static_cast<size_t>(n)] = true;
        }
        (afterEnd ? layout.hidden : layout.shown).push_back(n);
    }
    if (!afterEnd) return defaultToolBar();
    for (int n = 1; n <= kToolButtons; ++n) {
        if (!seen[static_cast<size_t>(n)]) layout.hidden.push_back(n);
    }
    return layout;
}

ToolBarLayout defaultToolBar() {
    return parseToolBar(kDefaultToolBar);
}

std::string formatToolBar(const ToolBarLayout& layout) {
    std::string out;
    for (const int n : layout.shown)
        out += std::to_string(n) + ';';
    out += std::to_string(kToolBarEnd);
    for (const int n : layout.hidden)
        out += ';' + std::to_string(n);
    return out;
}

}  // namespace kolvy::shell
