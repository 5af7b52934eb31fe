// The compose and list commands of the real Kolvy.exe under Wine: commands are sent to its main
// window as the menu sends them, rows are selected in its list, its dialogs are answered, and
// what happened is read back from the program folder.
#include <windows.h>
// The common controls need windows.h first.
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "rules/rule_book.h"
#include "rules/rule_file.h"
#include "rules/sort.h"
#include "store/list_ops.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_program.h"
#include "tools/kolvytool/tool.h"

namespace {

using namespace kolvy;
using namespace kolvy::test;

constexpr DWORD kWait = 30000;

std::string eml(const std::string& subject, int n) {
    return "From: Bob <bob@example.com>\r\nTo: Me <me@example.jp>\r\nSubject: " + subject +
           "\r\nMessage-ID: <m" + std::to_string(n) +
           "@example.com>\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\n\r\nbody " +
           std::to_string(n) + "\r\n";
}

class ListCommandsUnderWine : public WineProgramTest {
  protected:
    void SetUp() override {
        WineProgramTest::SetUp();
        writeIni(std::string("[TagList]\r\nTagAcount=main\r\n"
                             "[main]\r\nTagNo=0\r\nMailAddress=me@example.jp\r\nFrom=Me\r\n"
                             "[Option]\r\nEditor=") +
                 KOLVY_TEST_EDITOR + "\r\n");
        SetEnvironmentVariableA("KOLVY_TEST_EDITOR_LOG", t.path("editor.log").c_str());
    }
    void tool(std::vector<std::string_view> args) {
        std::string err;
        ASSERT_EQ(tool::runTool(
                      args, [](std::string_view) {}, [&](std::string_view s) { err += s; }),
                  0)
            << err;
    }
    // Messages into the receive tab through the tool, before the program holds the folder.
    void import(const std::vector<std::string>& subjects) {
        std::vector<std::string> files;
        for (size_t i = 0; i < subjects.size(); ++i) {
            files.push_back(t.path("in" + std::to_string(i) + ".eml"));
            t.write("in" + std::to_string(i) + ".eml", eml(subjects[i], static_cast<int>(i)));
        }
        std::vector<std::string_view> args{"import", t.folder.path()};
        args.insert(args.end(), files.begin(), files.end());
        tool(args);
    }
    // The tab the program shows first.
    void currentTab(int id) {
        for (int i = 0; i < 3; ++i)
            set(std::to_string(i), "TabCursor", i == id ? "1" : "0");
    }
    void start(const std::string& editorActions = "keep") {
        SetEnvironmentVariableA("KOLVY_TEST_EDITOR_ACTIONS", editorActions.c_str());
        k.emplace(t.folder.path());  // the program of an earlier step has ended by then
        ASSERT_NE(k->main(), nullptr);
    }
    void command(int id) { k->command(id); }
    // The command on these rows, selected first.
    void onRows(std::initializer_list<int> rows, int id) {
        select(rows);
        command(id);
    }
    HWND dialog(std::string_view title, DWORD timeout = kWait) { return k->box(timeout, title); }
    HWND list() { return childOfClass(k->main(), "SysListView32"); }
    int rows() { return static_cast<int>(SendMessageA(list(), LVM_GETITEMCOUNT, 0, 0)); }
    bool rowsAre(int n) {
        return waitFor([&] { return rows() == n; });
    }
    // Selects these rows (the first one focused) as the user would, through the list's own
    // message; the item record lives in the program's memory.
    void select(std::initializer_list<int> wanted) {
        HWND lv = list();
        ASSERT_NE(lv, nullptr);
        void* remote =
            VirtualAllocEx(k->handle(), nullptr, sizeof(LVITEMA), MEM_COMMIT, PAGE_READWRITE);
        ASSERT_NE(remote, nullptr);
        auto setState = [&](int row, UINT state) {
            LVITEMA item{};
            item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            item.state = state;
            WriteProcessMemory(k->handle(), remote, &item, sizeof item, nullptr);
            SendMessageA(lv, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                         reinterpret_cast<LPARAM>(remote));
        };
        setState(-1, 0);
        bool first = true;
        for (int row : wanted) {
            setState(row, first ? LVIS_SELECTED | LVIS_FOCUSED : LVIS_SELECTED);
            first = false;
        }
        VirtualFreeEx(k->handle(), remote, 0, MEM_RELEASE);
    }
    // The file numbers of a tab folder's messages, in order.
    std::vector<int> numbers(const std::string& tab) {
        std::vector<int> out;
        auto l = t.fs->list(t.path(std::string(store::kDataFolder) + "\\" + tab));
        for (const auto& e : l ? *l : std::vector<platform::DirEntry>{})
            if (!e.isDir && e.name.size() == 8 && e.name.ends_with(".txt"))
                out.push_back(std::stoi(e.name.substr(0, 4)));
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string message(const std::string& tab, int n) {
        return t.read(std::string(store::kDataFolder) + "\\" + tab + "\\" +
                      store::messageFileName(n));
    }
    // A status-line character of a stored message (5 direction, 7 state, 9 mark, 11 colour).
    char status(const std::string& tab, int n, size_t at) {
        const std::string m = message(tab, n);
        return m.size() > at ? m[at] : '?';
    }
    // The only message of the send tab once it is stored with this state.
    int storedDraft(char state) {
        if (!waitFor([&] { return numbers("送信").size() == 1; })) return -1;
        const int n = numbers("送信")[0];
        return waitFor([&] { return status("送信", n, 7) == state; }) ? n : -1;
    }
    // Answers the dialog with OK; false when it does not come.
    bool accept(std::string_view title) {
        HWND d = dialog(title);
        if (d) press(d, IDOK);
        return d != nullptr;
    }
    // Gives the command (none for 0), answers the message box that follows and returns its text.
    std::string answer(int id = 0) {
        if (id) command(id);
        HWND box = dialog("Kolvyメール");
        if (!box) return "<no box>";
        const std::string text = boxText(box);
        press(box, IDOK);
        waitFor([&] { return !IsWindow(box); });
        return text;
    }

    // A waiting draft queued by the tool; the program started on the send tab, its editor
    // appending to what it opens.
    void startWithADraft(const std::string& subject) {
        t.write("draft.txt", "From: Me <me@example.jp>\r\nTo: bob@example.com\r\nSubject: " +
                                 subject + "\r\n\r\n本文\r\n");
        tool({"draft", t.folder.path(), t.path("draft.txt")});
        currentTab(1);
        start("append=追記");
        ASSERT_TRUE(rowsAre(1));
    }
    // Opens the one received message with the open command; its file name.
    std::string openTheOnlyMessage() {
        import({"読んでください"});
        start();
        EXPECT_TRUE(rowsAre(1));
        onRows({0}, 40086);
        return store::messageFileName(numbers("受信").at(0));
    }

    std::optional<Kolvy> k;
};

// The value of a header line of a message text.
std::string header(const std::string& text, const std::string& name) {
    const std::string key = "\n" + name + ": ";
    const size_t at = text.find(key);
    if (at == std::string::npos) return "<none>";
    const size_t start = at + key.size();
    return text.substr(start, text.find('\r', start) - start);
}

TEST_F(ListCommandsUnderWine, NewMessageBecomesAWaitingDraftInTheSendTab) {
    start("set=To=bob@example.com|set=Subject=打ち合わせ|append=よろしくお願いします。");
    command(40007);
    HWND choice = dialog("メール作成後の処理の選択");
    ASSERT_NE(choice, nullptr);
    // A changed new draft is offered as waiting; sending at once needs the send run.
    EXPECT_EQ(SendDlgItemMessageA(choice, 461, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(choice, 460)));
    Sleep(300);
    saveScreenshot(choice, "compose-save-choice");
    press(choice, IDOK);
    const int n = storedDraft('0');
    ASSERT_GE(n, 0);
    const std::string text = message("送信", n);
    EXPECT_EQ(status("送信", n, 5), '1');
    EXPECT_EQ(header(text, "To"), "bob@example.com");
    EXPECT_EQ(header(text, "Subject"), "打ち合わせ");
    EXPECT_NE(text.find("よろしくお願いします。"), std::string::npos);
    closeCleanly(*k);
    EXPECT_EQ(setting("1", "WaitMailCount"), "1");
    auto tmp = t.fs->list(t.path("_Tmp"));
    EXPECT_TRUE(!tmp || tmp->empty());
}

TEST_F(ListCommandsUnderWine, ReplyAnswersTheSelectedMessage) {
    import({"見積もりのお願い"});
    start("append=承知しました。");
    ASSERT_TRUE(rowsAre(1));
    const int original = numbers("受信")[0];
    onRows({0}, 40008);
    ASSERT_TRUE(accept("メール作成後の処理の選択"));
    const int n = storedDraft('0');
    ASSERT_GE(n, 0);
    const std::string reply = message("送信", n);
    EXPECT_EQ(header(reply, "In-Reply-To"), "<m0@example.com>");
    EXPECT_NE(header(reply, "To").find("bob@example.com"), std::string::npos);
    EXPECT_NE(header(reply, "Subject").find("見積もりのお願い"), std::string::npos);
    EXPECT_NE(reply.find("承知しました。"), std::string::npos);
    // The answered message is marked replied: 6 + its state (unread 0).
    ASSERT_TRUE(waitFor([&] { return status("受信", original, 7) == '6'; }));
    closeCleanly(*k);
}

// Each list command on the selected row, read back from the message files and tab folders.
TEST_F(ListCommandsUnderWine, ListCommandsChangeTheStore) {
    import({"一通目", "二通目", "三通目", "四通目"});
    start();
    ASSERT_TRUE(rowsAre(4));
    const std::vector<int> in = numbers("受信");
    ASSERT_EQ(in.size(), 4u);
    struct Step {
        int command;
        size_t at;  // status-line position
        char want;
    };
    const Step steps[] = {
        {40061, 7, '3'}, {40060, 7, '0'}, {40066, 11, '3'}, {40077, 11, 'E'},
        {40063, 9, '1'}, {40063, 9, '0'}, {40078, 11, '0'},
    };
    for (const Step& s : steps) {
        select({1});
        command(s.command);
        EXPECT_TRUE(waitFor([&] { return status("受信", in[1], s.at) == s.want; }, 10000))
            << s.command << " left " << status("受信", in[1], s.at);
    }
    EXPECT_EQ(status("受信", in[0], 7), '0');  // the rows not selected keep their state

    // Delete: into the trash.
    onRows({0}, 40058);
    ASSERT_TRUE(waitFor([&] { return numbers("ごみ箱").size() == 1; }));
    EXPECT_TRUE(waitFor([&] { return numbers("受信").size() == 3 && rows() == 3; }));
    // The row after the deleted one takes its place in the selection.
    EXPECT_TRUE(waitFor([&] {
        return SendMessageA(list(), LVM_GETSELECTEDCOUNT, 0, 0) == 1 &&
               SendMessageA(list(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED) == 0;
    }));

    // Complete delete: after the question, gone from every tab.
    onRows({0}, 40059);
    HWND ask = dialog("Kolvyメール");
    ASSERT_NE(ask, nullptr);
    saveScreenshot(ask, "list-complete-delete-question");
    press(ask, IDOK);
    ASSERT_TRUE(waitFor([&] { return numbers("受信").size() == 2 && rows() == 2; }));
    EXPECT_EQ(numbers("ごみ箱").size(), 1u);

    // Move: the tab choice offers the other tabs; the trash takes received mail.
    onRows({0, 1}, 40056);
    HWND choose = dialog("タブの選択");
    ASSERT_NE(choose, nullptr);
    // The move holds the processing flag from its start: another command is refused meanwhile.
    EXPECT_EQ(answer(40061), "処理中です。   ");
    HWND box = GetDlgItem(choose, 450);
    ASSERT_EQ(SendMessageA(box, LB_GETCOUNT, 0, 0), 2);
    SendMessageA(box, LB_SETCURSEL, 1, 0);
    Sleep(300);
    saveScreenshot(choose, "list-tab-choice");
    press(choose, IDOK);
    ASSERT_TRUE(waitFor([&] { return numbers("ごみ箱").size() == 3; }));
    EXPECT_TRUE(waitFor([&] { return numbers("受信").empty() && rows() == 0; }));
    EXPECT_EQ(setting("0", "AllMailCount"), "0");
    closeCleanly(*k);
    EXPECT_EQ(setting("2", "AllMailCount"), "3");
}

// Sorting the current tab runs its command rules: a message whose subject a rule names moves.
TEST_F(ListCommandsUnderWine, SortMovesWhatARuleNames) {
    import({"請求書 12月分", "こんにちは"});
    {
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(t.env));
        rules::RegistryTabs dir(tabs);
        rules::RuleBook book;
        ASSERT_EQ(book.load(t.env, rules::RuleKind::Command, dir, 3), Err::None);
        auto* r = new Rule;
        rules::clearRule(*r);
        r->item1 = 3;  // Subject:
        r->mode1 = 1;
        sjis::copyField(r->keyword1, "請求書");
        r->targetTab = tabs.basicTab(store::kTrashTab);
        book.addAtFileEnd(rules::RuleKind::Command, r);
        ASSERT_EQ(book.save(t.env, rules::RuleKind::Command, dir), Err::None);
    }
    start();
    ASSERT_TRUE(rowsAre(2));
    const std::string before = t.read("Filter_Command.txt");
    command(40010);
    ASSERT_TRUE(waitFor([&] { return numbers("ごみ箱").size() == 1; }));
    EXPECT_NE(message("ごみ箱", numbers("ごみ箱")[0]).find("請求書"), std::string::npos);
    EXPECT_TRUE(rowsAre(1));
    closeCleanly(*k);
    EXPECT_EQ(numbers("受信").size(), 1u);
    // The rule's count and date were written.
    EXPECT_NE(t.read("Filter_Command.txt"), before);
}

// Forwarding as an attachment: the forward dialog, a refused header with the check message (its
// "OK" opens the editor again), and the stored draft carries the message as an .eml file.
TEST_F(ListCommandsUnderWine, ForwardAsAttachmentThroughTheCheckMessage) {
    import({"議事録"});
    start("drop=To;set=To=carol@example.com");
    ASSERT_TRUE(rowsAre(1));
    onRows({0}, 40006);
    HWND kind = dialog("転送メール作成");
    ASSERT_NE(kind, nullptr);
    EXPECT_EQ(SendDlgItemMessageA(kind, 452, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendDlgItemMessageA(kind, 452, BM_SETCHECK, BST_UNCHECKED, 0);
    SendDlgItemMessageA(kind, 453, BM_SETCHECK, BST_CHECKED, 0);
    Sleep(300);
    saveScreenshot(kind, "compose-forward-kind");
    press(kind, IDOK);
    HWND check = dialog("Kolvyメール");
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(textOf(GetDlgItem(check, 470)).rfind("To: が無いか", 0), 0u)
        << textOf(GetDlgItem(check, 470));
    EXPECT_EQ(textOf(GetDlgItem(check, 471)), "このまま破棄する(&D)");
    Sleep(300);
    saveScreenshot(check, "compose-check-message");
    press(check, IDOK);
    ASSERT_TRUE(accept("メール作成後の処理の選択"));
    const int n = storedDraft('1');
    ASSERT_GE(n, 0);
    EXPECT_EQ(header(message("送信", n), "To"), "carol@example.com");
    const std::string eml =
        "MailData\\送信\\添付\\" + store::messageFileName(n).substr(0, 4) + "\\議事録.eml";
    EXPECT_TRUE(
        waitFor([&] { return t.read(eml).find("Subject: 議事録") != std::string::npos; }, 10000))
        << eml;
    // The editor ran twice: once refused, once accepted.
    const std::string log = t.read("editor.log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
    closeCleanly(*k);
}

// Drafts of the send tab: made unfinished, made waiting again, and opened in the editor.
TEST_F(ListCommandsUnderWine, DraftCommandsAndTheEditor) {
    ASSERT_NO_FATAL_FAILURE(startWithADraft("下書き"));
    const int n = numbers("送信")[0];
    EXPECT_EQ(status("送信", n, 7), '0');
    onRows({0}, 40088);
    EXPECT_TRUE(waitFor([&] { return status("送信", n, 7) == '2'; }, 10000));
    onRows({0}, 40089);
    EXPECT_TRUE(waitFor([&] { return status("送信", n, 7) == '0'; }, 10000));
    // Read and colours apply to received mail only; the draft keeps its state.
    onRows({0}, 40061);
    Sleep(1000);
    EXPECT_EQ(status("送信", n, 7), '0');

    onRows({0}, 40086);
    HWND choice = dialog("メール作成後の処理の選択");
    ASSERT_NE(choice, nullptr);
    // A stored draft cannot be thrown away from here; it was waiting.
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(choice, 463)));
    EXPECT_EQ(SendDlgItemMessageA(choice, 461, BM_GETCHECK, 0, 0), BST_CHECKED);
    SendDlgItemMessageA(choice, 461, BM_SETCHECK, BST_UNCHECKED, 0);
    SendDlgItemMessageA(choice, 462, BM_SETCHECK, BST_CHECKED, 0);
    press(choice, IDOK);
    EXPECT_TRUE(waitFor([&] { return status("送信", n, 7) == '2'; }, 10000));
    EXPECT_NE(message("送信", n).find("追記"), std::string::npos);
    EXPECT_NE(t.read("editor.log").find(store::messageFileName(n)), std::string::npos);
    closeCleanly(*k);
    EXPECT_EQ(setting("1", "EditMailCount"), "1");
    EXPECT_EQ(setting("1", "WaitMailCount"), "0");
}

// A draft open in the editor is left out of a delete, and a composer storing its draft and a move
// in another tab take turns.
TEST_F(ListCommandsUnderWine, WhatTheEditorHoldsStaysAndStoringTakesTurns) {
    import({"受信一", "受信二"});
    ASSERT_NO_FATAL_FAILURE(startWithADraft("編集中"));
    const int n = numbers("送信")[0];
    onRows({0}, 40086);
    HWND choice = dialog("メール作成後の処理の選択");
    ASSERT_NE(choice, nullptr);
    // The editor has closed; the draft is still being finished. Deleting it now does nothing.
    onRows({0}, 40058);
    Sleep(1500);
    EXPECT_EQ(numbers("送信"), std::vector<int>{n});
    EXPECT_TRUE(numbers("ごみ箱").empty());
    press(choice, IDOK);
    ASSERT_TRUE(waitFor([&] { return message("送信", n).find("追記") != std::string::npos; }));
    closeCleanly(*k);

    // A new message waits in its save choice while a move of received mail is asked for: the
    // move waits for the draft to be stored, then runs.
    currentTab(0);
    start("set=To=bob@example.com|append=二通目");
    ASSERT_TRUE(rowsAre(2));
    command(40007);
    choice = dialog("メール作成後の処理の選択");
    ASSERT_NE(choice, nullptr);
    onRows({0, 1}, 40056);
    HWND choose = dialog("タブの選択");
    ASSERT_NE(choose, nullptr);
    SendDlgItemMessageA(choose, 450, LB_SETCURSEL, 1, 0);  // the trash
    press(choose, IDOK);
    Sleep(1500);
    EXPECT_EQ(numbers("受信").size(), 2u);  // still waiting for its turn
    press(choice, IDOK);
    ASSERT_TRUE(waitFor([&] { return numbers("送信").size() == 2; }));
    ASSERT_TRUE(waitFor([&] { return numbers("ごみ箱").size() == 2 && numbers("受信").empty(); }));
    closeCleanly(*k);
    EXPECT_EQ(setting("1", "WaitMailCount"), "2");
}

// Emptying the trash: refused for another tab, both questions, then every message gone.
TEST_F(ListCommandsUnderWine, EmptyTrashAfterBothQuestions) {
    import({"古い", "もっと古い"});
    {
        store::TabRegistry tabs;
        ASSERT_TRUE(tabs.load(t.env));
        Tab* in = tabs.basicTab(store::kReceiveTab);
        ASSERT_EQ(store::readWholeIndex(t.env, *in, {}), Err::None);
        std::vector<MailItem*> all;
        for (MailItem* m : listRange(in->items))
            all.push_back(m);
        ASSERT_TRUE(store::runListOp(t.env, *in, all, store::ListOp::Delete,
                                     tabs.basicTab(store::kTrashTab), {})
                        .ok());
    }
    ASSERT_EQ(numbers("ごみ箱").size(), 2u);
    start();
    EXPECT_EQ(answer(40011), "ゴミ箱用タブが開かれていません。    ");
    closeCleanly(*k);

    currentTab(2);
    start();
    ASSERT_TRUE(rowsAre(2));
    EXPECT_NE(answer(40011).find("『 ごみ箱 』"), std::string::npos);
    EXPECT_EQ(answer(), "本当に 『全て』 のメールを 『完全に』 削除していいですか？    ");
    ASSERT_TRUE(waitFor([&] { return numbers("ごみ箱").empty() && rows() == 0; }));
    closeCleanly(*k);
}

// The index made again from the files after one went missing behind its back, then the numbers
// closed up; each after its question.
TEST_F(ListCommandsUnderWine, RebuildAndRenumberTheCurrentTab) {
    import({"一", "二", "三"});
    ASSERT_EQ((numbers("受信")), (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(t.fs->remove(t.path("MailData\\受信\\0001.txt")), Err::None);
    start();
    ASSERT_TRUE(rowsAre(3));
    EXPECT_TRUE(answer(40040).starts_with("現在選択されているタブの「 目次ファイル 」"));
    ASSERT_TRUE(rowsAre(2));
    EXPECT_EQ(setting("0", "AllMailCount"), "2");
    EXPECT_TRUE(answer(40041).starts_with("現在選択されているタブの「 ファイル番号 」"));
    ASSERT_TRUE(waitFor([&] { return numbers("受信") == std::vector<int>{0, 1}; }));
    EXPECT_TRUE(rowsAre(2));
    EXPECT_NE(message("受信", 1).find("Subject: 三"), std::string::npos);
    Sleep(500);
    saveScreenshot(k->main(), "list-after-renumber");
    closeCleanly(*k);
    EXPECT_EQ(setting("0", "NextFileNo"), "2");
}

std::string piece(const std::string& id, int number, int total, const std::string& body) {
    std::string s =
        "From: Bob <bob@example.com>\r\nTo: me@example.jp\r\nSubject: 分割\r\n"
        "Message-ID: <p" +
        id + std::to_string(number) + "@example.com>\r\nContent-Type: message/partial; id=\"" + id +
        "\"; number=" + std::to_string(number) + "; total=" + std::to_string(total) + "\r\n\r\n";
    if (number == 1) s += "Subject: 大きな添付\r\nContent-Type: text/plain\r\n\r\n";
    return s + body;
}

// Joining split messages: a complete one is stored whole and its pieces selected; another whose
// piece is missing is reported. Only in the basic receive tab.
TEST_F(ListCommandsUnderWine, JoinSplitMessages) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"p1.eml", piece("A", 1, 2, "first half\r\n")},
        {"p2.eml", piece("B", 1, 2, "lonely\r\n")},
        {"p3.eml", piece("A", 2, 2, "second half\r\n")},
    };
    std::vector<std::string> paths;
    for (const auto& [name, text] : files) {
        t.write(name, text);
        paths.push_back(t.path(name));
    }
    tool({"import", t.folder.path(), paths[0], paths[1], paths[2]});
    start();
    ASSERT_TRUE(rowsAre(3));
    EXPECT_EQ(answer(40085), "欠けているため結合できない分割メールがあります。    ");
    ASSERT_TRUE(waitFor([&] { return numbers("受信").size() == 4 && rows() == 4; }));
    const std::string joined = message("受信", numbers("受信")[3]);
    for (const char* part : {"first half", "second half", "大きな添付"})
        EXPECT_NE(joined.find(part), std::string::npos) << part;
    // The two pieces of the joined message are selected for the user to delete.
    HWND lv = list();
    EXPECT_EQ(SendMessageA(lv, LVM_GETSELECTEDCOUNT, 0, 0), 2);
    EXPECT_EQ(SendMessageA(lv, LVM_GETITEMSTATE, 0, LVIS_SELECTED), LVIS_SELECTED);
    EXPECT_EQ(SendMessageA(lv, LVM_GETITEMSTATE, 2, LVIS_SELECTED), LVIS_SELECTED);
    closeCleanly(*k);

    currentTab(2);
    start();
    EXPECT_TRUE(answer(40085).starts_with("分割メールの結合は、基本受信タブでしか"));
    closeCleanly(*k);
}

// A text-file association of this test's own: the stand-in editor, which logs what it was given.
// Removed again afterwards.
class TestTextAssociation {
  public:
    TestTextAssociation() {
        HKEY existing = nullptr;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kExt, 0, KEY_READ, &existing) == ERROR_SUCCESS) {
            RegCloseKey(existing);
            return;  // somebody's own association: left alone
        }
        const std::string command = std::string("\"") + KOLVY_TEST_EDITOR + "\" \"%1\"";
        made_ = set(kExt, kProgId) && set(kCommand, command.c_str());
    }
    ~TestTextAssociation() {
        if (!made_) return;
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kExt);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kProgKey);
    }
    bool made() const { return made_; }

  private:
    static constexpr char kExt[] = ".txt";
    static constexpr char kProgId[] = "KolvyTest.txtfile";
    static constexpr char kProgKey[] = "KolvyTest.txtfile";
    static constexpr char kCommand[] = "KolvyTest.txtfile\\shell\\open\\command";
    static bool set(const char* key, const char* value) {
        HKEY k = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, key, 0, nullptr, 0, KEY_WRITE, nullptr, &k,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const LONG r = RegSetValueExA(k, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                      static_cast<DWORD>(strlen(value) + 1));
        RegCloseKey(k);
        return r == ERROR_SUCCESS;
    }
    bool made_ = false;
};

// With no viewer set, the open command hands the message file to the program the system opens
// text files with.
TEST_F(ListCommandsUnderWine, OpenWithoutViewerUsesTheTextFileAssociation) {
    TestTextAssociation association;
    if (!association.made()) GTEST_SKIP() << "the user has a text-file association of his own";
    const std::string name = openTheOnlyMessage();
    ASSERT_TRUE(waitFor([&] { return t.read("editor.log").find(name) != std::string::npos; }))
        << t.read("editor.log");
    EXPECT_EQ(dialog("Kolvyメール", 500), nullptr);
    closeCleanly(*k);
}

// A system without any text-file program: the default editor shows the message.
TEST_F(ListCommandsUnderWine, OpenWithoutAnyAssociationShowsTheDefaultEditor) {
    HKEY existing = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, KEY_READ, &existing) == ERROR_SUCCESS) {
        RegCloseKey(existing);
        GTEST_SKIP() << "text files have a program here";
    }
    const std::string name = openTheOnlyMessage();
    HWND editor = waitWindow(0, "Notepad", kWait, name.substr(0, 4));
    ASSERT_NE(editor, nullptr) << "no editor opened " << name;
    Sleep(500);
    saveScreenshot(nullptr, "list-open-default-editor");
    DWORD pid = 0;
    GetWindowThreadProcessId(editor, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    PostMessageA(editor, WM_CLOSE, 0, 0);
    // The editor this test opened ends with it, whatever it does with the close.
    if (process) {
        if (WaitForSingleObject(process, 10000) == WAIT_TIMEOUT) TerminateProcess(process, 1);
        CloseHandle(process);
    }
    closeCleanly(*k);
}

// A viewer gets the message file and whether it is outgoing mail.
TEST_F(ListCommandsUnderWine, OpenWithAViewerPassesTheFileAndItsDirection) {
    set("Option", "Viewer", KOLVY_TEST_EDITOR);
    const std::string name = openTheOnlyMessage();
    ASSERT_TRUE(waitFor([&] {
        return t.read("editor.log").find(name + ",0") != std::string::npos;
    })) << t.read("editor.log");
    closeCleanly(*k);
}

}  // namespace
