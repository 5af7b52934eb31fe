// The send command of the real Kolvy.exe under Wine, against the real aiosmtpd of the
// smtp-servers fixture: drafts queued by kolvytool, "送信" through the main window's command,
// the choice dialog, the final confirmation and the attachment question answered as a user would;
// what the server received and what the program folder records afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/accounts.h"
#include "core/list.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "store/index.h"
#include "store/tabs.h"
#include "tests/support/screenshot.h"
#include "tests/support/test_env.h"

namespace {

using namespace kolvy;

constexpr DWORD kStartTimeout = 30000;
constexpr int kSendCommand = 40004;
constexpr int kChoiceSelected = 401, kChoiceTab = 402, kChoiceAll = 403;
constexpr uint8_t kWaiting = 16, kSent = 20, kSentAttached = 21;

struct FindArgs {
    DWORD pid;
    const char* cls;
    HWND found;
};

BOOL CALLBACK findWindowOf(HWND h, LPARAM lp) {
    auto* a = reinterpret_cast<FindArgs*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char cls[64] = {};
    GetClassNameA(h, cls, sizeof cls);
    if (pid == a->pid && lstrcmpA(cls, a->cls) == 0 && IsWindowVisible(h)) {
        a->found = h;
        return FALSE;
    }
    return TRUE;
}

HWND waitWindow(DWORD pid, const char* cls, DWORD timeout) {
    const DWORD start = GetTickCount();
    for (;;) {
        FindArgs a{pid, cls, nullptr};
        EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&a));
        if (a.found) return a.found;
        if (GetTickCount() - start > timeout) return nullptr;
        Sleep(100);
    }
}

std::string textOf(HWND h) {
    char buf[2048] = {};
    GetWindowTextA(h, buf, sizeof buf);
    return buf;
}

// A process of the test, ended by its own handle.
class Process {
  public:
    Process(const std::string& exe, const std::string& args, const std::string& folder) {
        std::string cmd = "\"" + exe + "\"" + args;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        started_ = CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                  folder.c_str(), &si, &pi_) != 0;
    }
    ~Process() {
        if (!started_) return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    bool started() const { return started_; }
    DWORD pid() const { return pi_.dwProcessId; }
    DWORD waitExit(DWORD timeout = 20000) {
        WaitForSingleObject(pi_.hProcess, timeout);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }

  private:
    PROCESS_INFORMATION pi_{};
    bool started_ = false;
};

std::optional<std::map<std::string, std::string>> smtpServers(platform::FileSystem& fs) {
    auto text = platform::readWholeFile(fs, std::string(KOLVY_SMTP_SERVERS_DIR) + "/servers.txt");
    if (!text) return std::nullopt;
    std::map<std::string, std::string> m;
    size_t at = 0;
    while (at < text->size()) {
        size_t end = text->find('\n', at);
        if (end == std::string::npos) end = text->size();
        const std::string line = text->substr(at, end - at);
        const size_t eq = line.find('=');
        if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
        at = end + 1;
    }
    if (m.count("aiosmtpd_mail")) m["aiosmtpd_mail"] = "Z:" + m["aiosmtpd_mail"];
    return m;
}

class SendUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        servers = smtpServers(*fs);
        if (!servers) GTEST_SKIP() << "the smtp-servers fixture has not run";
        ASSERT_TRUE(CopyFileA(KOLVY_EXE_PATH, (folder / "Kolvy.exe").c_str(), FALSE));
        const std::string ini =
            "[TagList]\r\nTagAcount=自宅\r\n"
            "[自宅]\r\nTagNo=0\r\nSMTPServer=127.0.0.1\r\nSMTPPort=" +
            servers->at("aiosmtpd") +
            "\r\nMailAddress=me@example.jp\r\nSendSSL=0\r\nSMTPAuth=0\r\n"
            "[Option]\r\nTimeOut=20000\r\nInfoSendMail=0\r\n";
        ASSERT_EQ(platform::writeWholeFile(*fs, folder / "Kolvy.ini", ini), Err::None);
        delivered = deliveredFiles();
    }
    void option(const char* key, const char* value) {
        ASSERT_EQ(platform::makeProfile(folder / "Kolvy.ini")->write("Option", key, value),
                  Err::None);
    }
    // A waiting draft queued by kolvytool, with the subject given.
    void queue(const std::string& subject, bool attachment = false) {
        const std::string draft = folder / ("draft-" + subject + ".txt");
        platform::writeWholeFile(*fs, draft,
                                 "From: me@example.jp\r\nTo: you@example.jp\r\nSubject: " +
                                     subject + "\r\n\r\nbody of " + subject + "\r\n");
        std::string args = " draft \"" + folder.path() + "\" \"" + draft + "\"";
        if (attachment) {
            platform::writeWholeFile(*fs, folder / "note.bin", std::string("\x01\x02\x03", 3));
            args += " --attach \"" + (folder / "note.bin") + "\"";
        }
        Process tool(KOLVYTOOL_EXE_PATH, args, folder.path());
        ASSERT_TRUE(tool.started());
        ASSERT_EQ(tool.waitExit(), 0u) << subject;
    }
    std::set<std::string> deliveredFiles() {
        std::set<std::string> names;
        if (auto l = fs->list(servers->at("aiosmtpd_mail"))) {
            for (const platform::DirEntry& e : *l) {
                if (e.name.size() > 4 && e.name.substr(e.name.size() - 4) == ".eml")
                    names.insert(e.name);
            }
        }
        return names;
    }
    // Subject lines of the messages the server received since SetUp.
    std::vector<std::string> deliveredSubjects() {
        std::vector<std::string> out;
        for (const std::string& n : deliveredFiles()) {
            if (delivered.count(n)) continue;
            auto text = platform::readWholeFile(*fs, servers->at("aiosmtpd_mail") + "/" + n);
            if (!text) continue;
            const size_t at = text->find("\r\nSubject: ");
            if (at == std::string::npos) continue;
            const size_t end = text->find("\r\n", at + 2);
            out.push_back(text->substr(at + 11, end - at - 11));
        }
        return out;
    }
    std::string message(int number) {
        char name[32];
        std::snprintf(name, sizeof name, "MailData\\送信\\%04d.txt", number);
        auto d = platform::readWholeFile(*fs, folder / name);
        return d ? *d : std::string();
    }
    // Waits until the stored message says it was sent.
    bool waitSent(int number, DWORD timeout = 30000) {
        const DWORD start = GetTickCount();
        while (message(number).find("\r\nX-Message-ID: ") == std::string::npos) {
            if (GetTickCount() - start > timeout) return false;
            Sleep(100);
        }
        Sleep(1500);  // the run gives the flag back after its end
        return true;
    }
    // The states of the send tab's index records, by file number (read after the program ended).
    std::map<int, int> indexStates() {
        auto ini = platform::makeProfile(folder / "Kolvy.ini");
        test::ScriptedReporter reporter;
        Env env{*fs, *ini, reporter, platform::systemClock(), folder.path()};
        store::TabRegistry tabs;
        std::map<int, int> out;
        if (!tabs.load(env)) return out;
        Tab* outbox = tabs.basicTab(store::kSendTab);
        if (!outbox || store::readWholeIndex(env, *outbox, {}) != Err::None) return out;
        for (const MailItem* m : listRange(outbox->items))
            out[store::itemNumber(*m)] = m->state;
        out[-1] = outbox->waitMailCount;
        store::freeItems(*outbox);
        return out;
    }
    HWND start(Process& k) {
        if (!k.started()) return nullptr;
        HWND main = waitWindow(k.pid(), "MainWindow", kStartTimeout);
        Sleep(500);
        return main;
    }
    void close(Process& k, HWND main) {
        PostMessageA(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(k.waitExit(), 0u);
    }
    // The box or dialog the program shows next; null when none comes.
    HWND box(Process& k, DWORD timeout = 10000) { return waitWindow(k.pid(), "#32770", timeout); }
    static std::string boxText(HWND b) { return textOf(GetDlgItem(b, 0xFFFF)); }
    std::string read(const std::string& rel) {
        auto d = platform::readWholeFile(*fs, folder / rel);
        return d ? *d : std::string("<missing>");
    }
    // Gives the send command once the run before it has given the run flag back (until then the
    // program answers that a run is active), and returns the box or dialog that follows.
    HWND command(Process& k, HWND main, DWORD timeout = 10000) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            PostMessageA(main, WM_COMMAND, kSendCommand, 0);
            HWND b = box(k, timeout);
            if (!b || boxText(b) != "受信中です。    ") return b;
            press(b, IDOK);
            for (int i = 0; i < 50 && IsWindow(b); ++i)
                Sleep(100);
            Sleep(500);
        }
        return nullptr;
    }
    static void press(HWND b, int id) {
        PostMessageA(b, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }

    test::TempFolder folder;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
    std::optional<std::map<std::string, std::string>> servers;
    std::set<std::string> delivered;
};

TEST_F(SendUnderWine, SelectedModeSendsTheFocusedDraftAfterTheFinalConfirmation) {
    option("SendAction", "1");
    queue("w4-selected-0");
    queue("w4-selected-1");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    // The receive tab is current: the basic send tab is shown, its first row focused.
    PostMessageA(main, WM_COMMAND, kSendCommand, 0);
    HWND confirm = box(k);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(textOf(confirm), "送信の最終確認");
    EXPECT_EQ(boxText(confirm), "1通 の送信待ちメールを送信します。      ");
    test::saveScreenshot(nullptr, "send-final-confirmation");
    press(confirm, IDOK);
    ASSERT_TRUE(waitSent(0));
    EXPECT_EQ(deliveredSubjects(), std::vector<std::string>{"w4-selected-0"});
    EXPECT_EQ(message(1).find("X-Message-ID"), std::string::npos);
    test::saveScreenshot(main, "send-main-window-after-selected-send");
    close(k, main);
    const std::map<int, int> states = indexStates();
    EXPECT_EQ(states, (std::map<int, int>{{-1, 1}, {0, kSent}, {1, kWaiting}}));
}

TEST_F(SendUnderWine, TargetTabModeSendsEveryWaitingDraftUnaskedThenHasNothingLeft) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    queue("w4-tab-0");
    queue("w4-tab-1");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendCommand, 0);
    ASSERT_TRUE(waitSent(0));
    ASSERT_TRUE(waitSent(1));
    std::vector<std::string> subjects = deliveredSubjects();
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, (std::vector<std::string>{"w4-tab-0", "w4-tab-1"}));
    // The stored copy keeps the id the wire carried.
    const std::string stored = message(0);
    const size_t at = stored.find("\r\nX-Message-ID: ");
    ASSERT_NE(at, std::string::npos);
    const std::string id = stored.substr(at + 16, stored.find("\r\n", at + 2) - at - 16);
    bool found = false;
    for (const std::string& n : deliveredFiles()) {
        auto text = platform::readWholeFile(*fs, servers->at("aiosmtpd_mail") + "/" + n);
        found = found || (text && text->find("Subject: w4-tab-0") != std::string::npos &&
                          text->find("Message-ID: " + id) != std::string::npos);
    }
    EXPECT_TRUE(found) << id;
    // Nothing is waiting any more.
    HWND none = command(k, main);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(boxText(none), "１通も送信するメールがありません。    ");
    press(none, IDOK);
    close(k, main);
    EXPECT_EQ(indexStates(), (std::map<int, int>{{-1, 0}, {0, kSent}, {1, kSent}}));
}

TEST_F(SendUnderWine, AllTabsModeAsksTheFinalConfirmationForEverything) {
    option("SendAction", "3");
    queue("w4-all-0");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendCommand, 0);
    HWND confirm = box(k);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(textOf(confirm), "送信の最終確認");
    EXPECT_EQ(boxText(confirm), "Kolvyメールの総ての送信待ちメールを送信します。    ");
    press(confirm, IDCANCEL);
    Sleep(1000);
    EXPECT_TRUE(deliveredSubjects().empty());  // Cancel ends the command
    confirm = command(k, main);
    ASSERT_NE(confirm, nullptr);
    press(confirm, IDOK);
    ASSERT_TRUE(waitSent(0));
    EXPECT_EQ(deliveredSubjects(), std::vector<std::string>{"w4-all-0"});
    close(k, main);
    EXPECT_EQ(indexStates(), (std::map<int, int>{{-1, 0}, {0, kSent}}));
}

TEST_F(SendUnderWine, TheChoiceDialogOffersWhatCanBeSentAndNeverAddsAConfirmation) {
    option("SendAction", "0");
    option("SendConfirmDlg", "1");
    queue("w4-choice-0");
    queue("w4-choice-1");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendCommand, 0);
    HWND dlg = box(k);
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(textOf(dlg), "送信処理の選択");
    HWND selected = GetDlgItem(dlg, kChoiceSelected), tab = GetDlgItem(dlg, kChoiceTab),
         all = GetDlgItem(dlg, kChoiceAll);
    EXPECT_EQ(textOf(selected), "選択されている 「送信待ち」 メールを送信する");
    EXPECT_EQ(textOf(tab), "『送信』 タブ内の全ての 「送信待ち」 メールを送信する");
    EXPECT_EQ(textOf(all), "全送信用タブ内の全ての 「送信待ち」 メールを送信する");
    // The focused first row is a waiting draft: the first choice is offered and preselected;
    // with one send tab the third is not.
    EXPECT_TRUE(IsWindowEnabled(selected));
    EXPECT_EQ(SendMessageA(selected, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_FALSE(IsWindowEnabled(all));
    test::saveScreenshot(dlg, "send-choice-dialog");
    press(dlg, IDCANCEL);
    Sleep(1000);
    EXPECT_EQ(box(k, 0), nullptr);
    EXPECT_TRUE(deliveredSubjects().empty());

    dlg = command(k, main);
    ASSERT_NE(dlg, nullptr);
    SendMessageA(GetDlgItem(dlg, kChoiceTab), BM_CLICK, 0, 0);
    press(dlg, IDOK);
    ASSERT_TRUE(waitSent(0));
    ASSERT_TRUE(waitSent(1));
    EXPECT_EQ(box(k, 0), nullptr);  // no final confirmation came
    EXPECT_EQ(deliveredSubjects().size(), 2u);
    close(k, main);
    EXPECT_EQ(indexStates(), (std::map<int, int>{{-1, 0}, {0, kSent}, {1, kSent}}));
}

TEST_F(SendUnderWine, ACancelledAttachmentQuestionStopsTheRunAndEarlierMailStaysSent) {
    option("SendAction", "2");
    option("SendConfirmDlg", "0");
    option("TenpuConfirmDlg", "1");
    queue("w4-attach-0");
    queue("w4-attach-1", true);
    queue("w4-attach-2");
    Process k(folder / "Kolvy.exe", "", folder.path());
    HWND main = start(k);
    ASSERT_NE(main, nullptr);
    PostMessageA(main, WM_COMMAND, kSendCommand, 0);
    HWND question = box(k, 30000);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(textOf(question), "Kolvyメール");
    EXPECT_EQ(boxText(question),
              "添付ファイルのあるメールを送信しようとしています。よろしいですか？   ");
    test::saveScreenshot(nullptr, "send-attachment-question");
    press(question, IDCANCEL);
    ASSERT_TRUE(waitSent(0));
    Sleep(1000);
    EXPECT_EQ(deliveredSubjects(), std::vector<std::string>{"w4-attach-0"});
    EXPECT_EQ(message(2).find("X-Message-ID"), std::string::npos);

    question = command(k, main, 30000);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(boxText(question),
              "添付ファイルのあるメールを送信しようとしています。よろしいですか？   ");
    press(question, IDOK);
    const bool sent1 = waitSent(1);
    if (!sent1) {
        if (auto l = fs->list(folder / "_Log"))
            for (const auto& e : *l)
                ADD_FAILURE() << e.name << ": " << read("_Log\\" + e.name);
        if (HWND b = box(k, 0)) ADD_FAILURE() << "box: " << boxText(b);
    }
    ASSERT_TRUE(sent1);
    ASSERT_TRUE(waitSent(2));
    std::vector<std::string> subjects = deliveredSubjects();
    std::sort(subjects.begin(), subjects.end());
    EXPECT_EQ(subjects, (std::vector<std::string>{"w4-attach-0", "w4-attach-1", "w4-attach-2"}));
    close(k, main);
    EXPECT_EQ(indexStates(),
              (std::map<int, int>{{-1, 0}, {0, kSent}, {1, kSentAttached}, {2, kSent}}));
}

}  // namespace
