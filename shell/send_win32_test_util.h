// What the Windows tests of the send commands share: the real Kolvy.exe in a temporary program
// folder whose account sends to the aiosmtpd of the smtp-servers fixture, drafts queued by
// kolvytool, the program's boxes found and answered, and the store read back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/list.h"
#include "platform/fileutil.h"
#include "store/index.h"
#include "store/tabs.h"
#include "tests/support/screenshot.h"
#include "tests/support/wine_program.h"

namespace kolvy::test::send {

constexpr int kSendCommand = 40004;
constexpr int kChoiceSelected = 401, kChoiceTab = 402, kChoiceAll = 403;
constexpr uint8_t kWaiting = 16, kSent = 20, kSentAttached = 21;
using Subjects = std::vector<std::string>;
using States = std::map<int, int>;  // file number: state; -1: the waiting count
constexpr char kNothingToSend[] = "１通も送信するメールがありません。    ";

class SendUnderWine : public WineProgramTest {
  protected:
    void SetUp() override {
        WineProgramTest::SetUp();
        auto text = platform::readWholeFile(*t.fs, KOLVY_SMTP_SERVERS_DIR "/servers.txt");
        if (!text) GTEST_SKIP() << "the smtp-servers fixture has not run";
        servers = keyValueLines(*text);
        mailDir = "Z:" + servers["aiosmtpd_mail"];
        writeIni(
            "[TagList]\r\nTagAcount=自宅\r\n[自宅]\r\nTagNo=0\r\nSMTPServer=127.0.0.1\r\n"
            "SMTPPort=" +
            servers["aiosmtpd"] +
            "\r\nMailAddress=me@example.jp\r\nSendSSL=0\r\nSMTPAuth=0\r\n"
            "[Option]\r\nTimeOut=20000\r\nInfoSendMail=0\r\n");
        delivered = deliveredFiles();
    }
    void option(const char* key, const char* value) { set("Option", key, value); }
    // A waiting draft queued by kolvytool, with the subject given.
    void queue(const std::string& subject, bool attachment = false,
               const std::string& to = "you@example.jp") {
        const std::string draft = t.path("draft-" + subject + ".txt");
        t.write("draft-" + subject + ".txt", "From: me@example.jp\r\nTo: " + to + "\r\nSubject: " +
                                                 subject + "\r\n\r\nbody of " + subject + "\r\n");
        std::string args = " draft \"" + t.folder.path() + "\" \"" + draft + "\"";
        if (attachment) {
            t.write("note.bin", std::string("\x01\x02\x03", 3));
            args += " --attach \"" + t.path("note.bin") + "\"";
        }
        TestProcess tool(KOLVYTOOL_EXE_PATH, args, t.folder.path());
        ASSERT_TRUE(tool.started());
        ASSERT_EQ(tool.waitExit(), 0u) << subject;
    }
    // Starts the program and waits for its main window.
    bool start() {
        k.emplace(t.folder.path());
        const bool shown = k->main() != nullptr;
        Sleep(500);
        return shown;
    }
    std::set<std::string> deliveredFiles() {
        std::set<std::string> names;
        if (auto l = t.fs->list(mailDir)) {
            for (const platform::DirEntry& e : *l)
                if (e.name.ends_with(".eml")) names.insert(e.name);
        }
        return names;
    }
    // The texts of the messages the server received since SetUp.
    std::vector<std::string> deliveredTexts() {
        std::vector<std::string> out;
        for (const std::string& n : deliveredFiles()) {
            auto text = platform::readWholeFile(*t.fs, mailDir + "/" + n);
            if (!delivered.count(n) && text) out.push_back(*text);
        }
        return out;
    }
    // Their subjects, sorted.
    std::vector<std::string> deliveredSubjects() {
        std::vector<std::string> out;
        for (const std::string& text : deliveredTexts()) {
            const size_t at = text.find("\r\nSubject: ");
            if (at != std::string::npos)
                out.push_back(text.substr(at + 11, text.find("\r\n", at + 2) - at - 11));
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string message(int number) {
        char name[32];
        std::snprintf(name, sizeof name, "MailData\\送信\\%04d.txt", number);
        return t.read(name);
    }
    // Waits until the stored message says it was sent.
    bool waitSent(int number, DWORD timeout = 30000) {
        if (!waitFor(
                [&] { return message(number).find("\r\nX-Message-ID: ") != std::string::npos; },
                timeout))
            return false;
        Sleep(1500);  // the run gives the flag back after its end
        return true;
    }
    // The states of the send tab's index records by file number, and at -1 its waiting count
    // (read after the program ended).
    std::map<int, int> indexStates() {
        store::TabRegistry tabs;
        std::map<int, int> out;
        if (!tabs.load(t.env)) return out;
        Tab* outbox = tabs.basicTab(store::kSendTab);
        if (!outbox || store::readWholeIndex(t.env, *outbox, {}) != Err::None) return out;
        for (const MailItem* m : listRange(outbox->items))
            out[store::itemNumber(*m)] = m->state;
        out[-1] = outbox->waitMailCount;
        store::freeItems(*outbox);
        return out;
    }
    // Gives the send command once the run before it has given the run flag back (until then the
    // program answers that a run is active), and returns the box or dialog that follows.
    HWND command(DWORD timeout = 10000) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            k->command(kSendCommand);
            HWND b = k->box(timeout);
            if (!b || boxText(b) != "受信中です。    ") return b;
            press(b, IDOK);
            waitFor([&] { return !IsWindow(b); }, 5000);
            Sleep(500);
        }
        return nullptr;
    }

    std::map<std::string, std::string> servers;
    std::string mailDir;
    std::set<std::string> delivered;
    std::optional<Kolvy> k;
};

}  // namespace kolvy::test::send
