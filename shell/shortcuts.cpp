#include "shell/shortcuts.h"

#include <charconv>

#include "shell/command_ids.h"

namespace kolvy::shell {
namespace {

constexpr int kLastKey = 254;

using K = ShortcutKind;
constexpr ShortcutAction kActions[kShortcutCount] = {
    {"ショートカット表示", K::Command, cmd::kShortcutList},
    {"ヘルプ", K::Command, cmd::kHelp},
    {"受信", K::Command, cmd::kReceive},
    {"送信", K::Command, cmd::kSend},
    {"送受信", K::Command, cmd::kSendReceive},
    {"新規メール作成", K::Command, cmd::kComposeNew},
    {"返信メール作成", K::Command, cmd::kComposeReply},
    {"転送メール作成", K::Command, cmd::kComposeForward},
    {"添付", K::Command, cmd::kAttach},
    {"振り分け", K::Command, cmd::kSort},
    {"メール検索", K::Command, cmd::kSearch},
    {"ごみ箱タブを空にする", K::Command, cmd::kEmptyTrash},
    {"メールチェッカ単独操作", K::Command, cmd::kMailChecker},
    {"タスクトレイに入れる", K::Command, cmd::kToTray},
    {"アドレス帳", K::Command, cmd::kAddressBook},
    {"タブを閉じる", K::Command, cmd::kCloseOtherTabs},
    {"タブへ移動", K::Command, cmd::kMoveToTab},
    {"タブへコピー", K::Command, cmd::kCopyToTab},
    {"削除", K::Command, cmd::kDelete},
    {"完全に削除", K::Command, cmd::kDeleteCompletely},
    {"未読にする", K::Command, cmd::kMarkUnread},
    {"既読にする", K::Command, cmd::kMarkRead},
    {"全部既読にする", K::Command, cmd::kMarkAllRead},
    {"マークを付ける／消す", K::Command, cmd::kToggleMark},
    {"スレッド表示", K::Command, cmd::kThreadView},
    {"次のタブ", K::NextTab, 0},
    {"前のタブ", K::PreviousTab, 0},
    {"アカウント窓切替↓", K::PaneDown, 0},
    {"アカウント窓切替↑", K::PaneUp, 0},
    {"メッセージルール登録", K::Command, cmd::kRuleRegister},
    {"簡単スパム登録", K::Command, cmd::kSpamRegister},
    {"プログラム１", K::Program, 1},
    {"プログラム２", K::Program, 2},
    {"プログラム３", K::Program, 3},
    {"表示を戻す", K::Command, cmd::kViewPlain},
    {"上に移動", K::MoveUp, 0},
    {"下に移動", K::MoveDown, 0},
};

// One entry: "S"/"C" and a virtual key of 46..254; 0 when it is none.
int parseEntry(std::string_view e) {
    int extra = 0;
    if (!e.empty() && (e[0] == 'S' || e[0] == 'C')) {
        extra = e[0] == 'S' ? kShiftCode : kCtrlCode;
        e.remove_prefix(1);
    }
    int vk = 0;
    const auto [end, ec] = std::from_chars(e.data(), e.data() + e.size(), vk);
    if (e.empty() || ec != std::errc{} || end != e.data() + e.size()) return 0;
    if (vk < kFirstShortcutKey || vk > kLastKey) return 0;
    return vk + extra;
}

std::string baseName(int vk) {
    if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return std::string(1, char(vk));
    if (vk >= 112 && vk <= 135) return "F" + std::to_string(vk - 111);
    if (vk >= 96 && vk <= 105) return "Num " + std::to_string(vk - 96);
    switch (vk) {
        case 46:
            return "Delete";
        case 47:
            return "Help";
        case 93:
            return "Apps";
        case 106:
            return "Num *";
        case 107:
            return "Num +";
        case 109:
            return "Num -";
        case 110:
            return "Num .";
        case 111:
            return "Num /";
        case 186:
            return ":";
        case 187:
            return ";";
        case 188:
            return ",";
        case 189:
            return "-";
        case 190:
            return ".";
        case 191:
            return "/";
        case 192:
            return "@";
        case 219:
            return "[";
        case 220:
            return "\\";
        case 221:
            return "]";
        case 222:
            return "^";
        case 226:
            return "_";
        default:
            return "Key" + std::to_string(vk);
    }
}

}  // namespace

int shortcutCode(int virtualKey, bool shift, bool ctrl) {
    return virtualKey + (shift ? kShiftCode : 0) + (ctrl ? kCtrlCode : 0);
}

ShortcutKeys defaultShortcuts() {
    static const ShortcutKeys keys = [] {
        ShortcutKeys k{};
        std::string_view s = kDefaultShortcuts;
        for (int& key : k) {
            const size_t semi = s.find(';');
            key = parseEntry(s.substr(0, semi));
            s = semi == std::string_view::npos ? std::string_view{} : s.substr(semi + 1);
        }
        return k;
    }();
    return keys;
}

ShortcutKeys parseShortcuts(std::string_view stored) {
    ShortcutKeys keys = defaultShortcuts();
    for (size_t i = 0; i < keys.size() && !stored.empty(); ++i) {
        const size_t semi = stored.find(';');
        if (const int key = parseEntry(stored.substr(0, semi))) keys[i] = key;
        stored = semi == std::string_view::npos ? std::string_view{} : stored.substr(semi + 1);
    }
    return keys;
}

std::string formatShortcuts(const ShortcutKeys& keys) {
    std::string out;
    for (const int code : keys) {
        if (!out.empty()) out += ';';
        if (code >= kCtrlCode) out += 'C';
        if (code >= kShiftCode && code < kCtrlCode) out += 'S';
        out += std::to_string(code % kShiftCode);
    }
    return out;
}

std::string shortcutName(int code) {
    std::string name;
    if (code >= kCtrlCode) name += "Ctrl+";
    if (code % kCtrlCode >= kShiftCode) name += "Shift+";
    return name + baseName(code % kShiftCode);
}

int shortcutAction(const ShortcutKeys& keys, int code) {
    if (code % kShiftCode < kFirstShortcutKey) return -1;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == code) return static_cast<int>(i);
    }
    return -1;
}

int repeatedShortcut(const ShortcutKeys& keys) {
    for (size_t i = 1; i < keys.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (keys[i] == keys[j]) return keys[i];
        }
    }
    return 0;
}

const ShortcutAction& shortcutAction(int action) {
    return kActions[action < 0 || action >= kShortcutCount ? 0 : action];
}

}  // namespace kolvy::shell

namespace kolvy::shell {
int hotKeyModifiers(int controlFlags) {
    return ((controlFlags & 1) ? 4 : 0) | (controlFlags & 2) | ((controlFlags & 4) ? 1 : 0);
}
}  // namespace kolvy::shell
