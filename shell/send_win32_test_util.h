// What the Windows tests of the send commands share: the real Kolvy.exe in a temporary program
// folder whose account sends to the aiosmtpd of the smtp-servers fixture, drafts queued by
// kolvytool, the program's boxes found and answered, and the store read back afterwards.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
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

namespace kolvy::test::send {

constexpr DWORD kStartTimeout = 30000;
constexpr int kSendCommand = 40004;
constexpr int kChoiceSelected = 401, kChoiceTab = 402, kChoiceAll = 403;
constexpr uint8_t kWaiting = 16, kSent = 20, kSentAttached = 21;

struct FindArgs {
    DWORD pid;
    const char* cls;
    HWND found;
};

inline BOOL CALLBACK findWindowOf(HWND h, LPARAM lp) {
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

inline HWND waitWindow(DWORD pid, const char* cls, DWORD timeout) {
    const DWORD start = GetTickCount();
    for (;;) {
        FindArgs a{pid, cls, nullptr};
        EnumWindows(findWindowOf, reinterpret_cast<LPARAM>(&a));
        if (a.found) return a.found;
        if (GetTickCount() - start > timeout) return nullptr;
        Sleep(100);
    }
}

inline std::string textOf(HWND h) {
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

inline std::optional<std::map<std::string, std::string>> smtpServers(platform::FileSystem& fs) {
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
    void queue(const std::string& subject, bool attachment = false,
               const std::string& to = "you@example.jp") {
        const std::string draft = folder / ("draft-" + subject + ".txt");
        platform::writeWholeFile(*fs, draft,
                                 "From: me@example.jp\r\nTo: " + to + "\r\nSubject: " + subject +
                                     "\r\n\r\nbody of " + subject + "\r\n");
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

}  // namespace kolvy::test::send
