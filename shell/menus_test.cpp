// The menus as the resource script defines them: every command with its text, the tray menu,
// and what a run greys.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "shell/run_menus.h"

namespace kolvy::shell {
namespace {

// The script is UTF-8 whatever the program's own strings are.
std::string u8(const char8_t* s) {
    return reinterpret_cast<const char*>(s);
}

struct Entry {
    std::string text;
    int id = 0;                // 0 for a submenu
    std::vector<Entry> popup;  // a submenu's entries
};

// Reads the MENU resource `name`: its popups and their entries (separators left out).
std::vector<Entry> readMenu(const std::string& name) {
    std::ifstream in(KOLVY_WINDOW_RC);
    std::string line;
    std::vector<Entry> top;
    std::vector<std::vector<Entry>*> open;  // the lists BEGIN … END fill, innermost last
    bool inside = false;
    auto quoted = [](const std::string& l) {
        const size_t a = l.find('"'), b = l.rfind('"');
        return a == b ? std::string() : l.substr(a + 1, b - a - 1);
    };
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        const std::string l = start == std::string::npos ? "" : line.substr(start);
        if (!inside) {
            inside = l == name + " MENU";
            continue;
        }
        if (l == "BEGIN") {
            open.push_back(open.empty() ? &top : &open.back()->back().popup);
        } else if (l == "END") {
            open.pop_back();
            if (open.empty()) break;
        } else if (l.rfind("POPUP ", 0) == 0) {
            open.back()->push_back({quoted(l), 0, {}});
        } else if (l.rfind("MENUITEM \"", 0) == 0) {
            open.back()->push_back({quoted(l), std::stoi(l.substr(l.rfind(',') + 1)), {}});
        }
    }
    return top;
}

void collect(const std::vector<Entry>& entries, std::map<int, std::string>& out) {
    for (const Entry& e : entries) {
        if (e.id) out[e.id] = e.text;
        collect(e.popup, out);
    }
}

int firstCommand(const Entry& e) {
    if (e.id) return e.id;
    for (const Entry& c : e.popup) {
        if (const int id = firstCommand(c)) return id;
    }
    return 0;
}

TEST(Menus, EveryCommandStandsInTheMainMenuWithItsText) {
    // clang-format off
    const std::map<int, std::u8string> expected = {
        {40001, u8"アカウント設定(&A)"}, {40002, u8"注文設定(&O)"}, {40003, u8"受信(&J)"},
        {40004, u8"送信(&S)"}, {40005, u8"送受信(&Z)"}, {40006, u8"転送メール作成(&T)"},
        {40007, u8"新規メール作成(&N)"}, {40008, u8"返信メール作成(&R)"},
        {40009, u8"メール検索(&K)"}, {40010, u8"振り分け(&F)"},
        {40011, u8"ゴミ箱タブを空にする(&G)"}, {40013, u8"印刷(&P)"}, {40014, u8"インポート(&I)"},
        {40015, u8"エクスポート(&E)"}, {40016, u8"X-Mailer:ごと(&M)"},
        {40017, u8"メールチェッカ（単独操作）(&M)"}, {40018, u8"送受信の中断(&C)"},
        {40019, u8"タスクトレイに入れる(&Y)"}, {40020, u8"本体の終了(&X)"},
        {40021, u8"タブ設定(&N)"}, {40022, u8"登録外のタブを開く(&O)"},
        {40023, u8"スレッド表示(&L)"}, {40024, u8"未読だけ(&R)"}, {40025, u8"添付有りだけ(&T)"},
        {40026, u8"マーク付きだけ(&C)"}, {40027, u8"受信日時順(&J)"}, {40028, u8"Date:順(&D)"},
        {40030, u8"全般の設定(&O)"}, {40031, u8"メッセージルール設定(&M)"},
        {40032, u8"雛型設定(&H)"}, {40033, u8"ショートカット設定(&S)"}, {40034, u8"ヘルプ(&H)"},
        {40035, u8"バージョン情報(&V)"}, {40036, u8"アドレス帳(&A)"}, {40037, u8"添付(&B)"},
        {40040, u8"目次ファイルの作り直し(&R)"}, {40041, u8"番号の振り直し(&N)"},
        {40056, u8"タブへ移動(&M)"}, {40057, u8"タブへコピー(&P)"}, {40058, u8"削除(&E)"},
        {40059, u8"完全に削除(&C)"}, {40060, u8"未読にする(&U)"}, {40061, u8"既読にする(&X)"},
        {40062, u8"全部既読にする(&A)"}, {40063, u8"マークを付ける/消す(&M)"},
        {40078, u8"黒に戻す(&K)"}, {40079, u8"ツールバー設定(&T)"}, {40084, u8"表示を戻す(&X)"},
        {40085, u8"分割メールの結合(&C)"}, {40086, u8"ビューアまたはエディタを開く(&V)"},
        {40088, u8"書きかけにする(&B)"}, {40089, u8"送信待ちにする(&W)"},
        {40097, u8"差出人ごと(&S)"},
    };
    // clang-format on
    std::map<int, std::string> menu;
    collect(readMenu("IDR_MAINMENU"), menu);
    ASSERT_FALSE(menu.empty()) << KOLVY_WINDOW_RC;
    for (const auto& [id, text] : expected) {
        EXPECT_EQ(menu[id], u8(text.c_str())) << id;
    }
    EXPECT_EQ(menu.size(), expected.size() + 28);  // and the colours, nothing else
}

TEST(Menus, BothColourMenusNameTheFourteenColours) {
    // clang-format off
    const char8_t* colours[] = {u8"赤", u8"黄緑", u8"青", u8"黄", u8"みずいろ", u8"ピンク", u8"淡いグレー",
                                u8"濃いグレー", u8"茶", u8"緑", u8"紺", u8"オリーブ", u8"セルリアンブルー", u8"紫"};
    // clang-format on
    std::map<int, std::string> menu;
    collect(readMenu("IDR_MAINMENU"), menu);
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(menu[40042 + i], u8(colours[i])) << 40042 + i;  // 色付きだけ
        EXPECT_EQ(menu[40064 + i], u8(colours[i])) << 40064 + i;  // 色を着ける
    }
}

TEST(Menus, TheTrayMenuHoldsItsTenCommands) {
    std::map<int, std::string> tray;
    collect(readMenu("IDR_TRAYMENU"), tray);
    std::set<int> ids;
    for (const auto& [id, text] : tray)
        ids.insert(id);
    EXPECT_EQ(
        ids, (std::set<int>{40003, 40004, 40005, 40007, 40009, 40017, 40036, 40081, 40082, 40086}));
    EXPECT_EQ(tray[40082], u8(u8"本体の終了(&X)"));
    EXPECT_EQ(tray[40081], u8(u8"タスクトレイから出す(&O)"));
}

// Entries of the menu bar's menus (items and submenus) that a run greys.
std::vector<std::string> greyed(RunKind run) {
    std::vector<std::string> out;
    for (const Entry& menu : readMenu("IDR_MAINMENU")) {
        for (const Entry& e : menu.popup) {
            if (greyedDuringRun(firstCommand(e), run)) out.push_back(e.text);
        }
    }
    return out;
}

TEST(Menus, ARunGreysItsEntriesAndLeavesTheAbort) {
    const std::vector<std::string> receive = greyed(RunKind::Receive);
    const std::vector<std::string> send = greyed(RunKind::Send);
    EXPECT_EQ(receive.size(), 38u);
    EXPECT_EQ(send.size(), 35u);
    EXPECT_TRUE(greyed(RunKind::None).empty());
    for (const auto* list : {&receive, &send}) {
        for (const char8_t* kept : {u8"送受信の中断(&C)", u8"タスクトレイに入れる(&Y)",
                                    u8"ツールバー設定(&T)", u8"バージョン情報(&V)"}) {
            EXPECT_EQ(std::count(list->begin(), list->end(), u8(kept)), 0) << u8(kept);
        }
        for (const char8_t* grey : {u8"受信(&J)", u8"その他の操作", u8"色を着ける", u8"色付きだけ",
                                    u8"本体の終了(&X)", u8"全般の設定(&O)"}) {
            EXPECT_EQ(std::count(list->begin(), list->end(), u8(grey)), 1) << u8(grey);
        }
    }
    // A send leaves search, an outside folder tab and the key table usable.
    for (const char8_t* spared :
         {u8"メール検索(&K)", u8"登録外のタブを開く(&O)", u8"ショートカット設定(&S)"}) {
        EXPECT_EQ(std::count(receive.begin(), receive.end(), u8(spared)), 1);
        EXPECT_EQ(std::count(send.begin(), send.end(), u8(spared)), 0);
    }
}

}  // namespace
}  // namespace kolvy::shell
