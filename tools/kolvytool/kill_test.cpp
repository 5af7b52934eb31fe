// Crash tests: the real kolvytool is started as a child process and killed with SIGKILL at its
// Nth file-system call (the tool's kill switch, KOLVY_KILL_AT) and at random wall-clock moments,
// while it imports an mbox, receives from the scripted mailbox server and from dovecot, and
// sorts. After each kill: `check --repair`, then the same command once more, then the store is
// compared with the source: every message is stored, at most one is stored twice (a kill costs at
// most the message under way), `check` finds every tab sound and no temporary file is left.
// KOLVY_KILL_SCALE (default 1) multiplies the number of messages and wall-clock kills.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/fileutil.h"
#include "pop/testsupport/mailbox_server.h"
#include "pop/testsupport/real_servers.h"
#include "store/commit.h"
#include "tests/support/test_env.h"
#include "tools/kolvytool/tool_test_util.h"

extern char** environ;

namespace kolvy::tool {
namespace {

int64_t nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int scale() {
    const char* s = std::getenv("KOLVY_KILL_SCALE");
    const int v = s ? std::atoi(s) : 1;
    return v > 0 ? v : 1;
}

// Kill points tried by the whole binary, printed at the end for the report.
int gKillPoints = 0;

using test::runTool;

struct ChildEnd {
    bool killed = false;  // ended by SIGKILL
    int code = -1;        // exit code otherwise
};

// Runs the real tool; `killAt` > 0 arms its kill switch, `wallMs` >= 0 kills it after that time.
ChildEnd runChild(const std::vector<std::string>& args, long killAt, int wallMs = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::string_view(*e).substr(0, 13) != "KOLVY_KILL_AT") env.emplace_back(*e);
    }
    if (killAt > 0) env.push_back("KOLVY_KILL_AT=" + std::to_string(killAt));
    env.push_back("ASAN_OPTIONS=detect_leaks=0");
    std::vector<char*> argv{const_cast<char*>(KOLVY_TOOL_EXE)}, envp;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ChildEnd end;
    if (posix_spawn(&pid, KOLVY_TOOL_EXE, &actions, nullptr, argv.data(), envp.data()) != 0) {
        ADD_FAILURE() << "cannot start " << KOLVY_TOOL_EXE;
        return end;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    const int64_t deadline = nowMs() + wallMs;
    for (;;) {
        const pid_t r = waitpid(pid, &status, wallMs >= 0 ? WNOHANG : 0);
        if (r == pid || (r < 0 && errno != EINTR)) break;
        if (r == 0 && nowMs() >= deadline) {
            ::kill(pid, SIGKILL);
            wallMs = -1;  // now wait for it to go
        } else if (r == 0) {
            ::usleep(1000);
        }
    }
    end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    end.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return end;
}

std::string mail(int n) {
    return "From: Sender <s@example.jp>\r\nTo: me@example.jp\r\nSubject: kill " +
           std::to_string(n) + "\r\nMessage-ID: <k" + std::to_string(n) +
           "@kill.test>\r\nDate: Mon, 07 Dec 2026 10:00:00 +0900\r\n\r\nbody " + std::to_string(n) +
           "\r\n" + std::string(static_cast<size_t>(n % 7) * 90, 'x') + "\r\nend of " +
           std::to_string(n) + "\r\n";
}

// What the store holds: Message-ID number -> copies. A file whose body is not the whole body of
// its message is a failure of its own.
std::map<int, int> storedCopies(test::TestEnv& e) {
    std::map<int, int> copies;
    platform::FileSystem& fs = *e.fs;
    auto tabs = fs.list(e.path("MailData"));
    if (!tabs) return copies;
    for (const auto& t : *tabs) {
        if (!t.isDir) continue;
        const std::string folder = e.path("MailData\\" + t.name);
        auto files = fs.list(folder);
        if (!files) continue;
        for (const auto& f : *files) {
            if (f.isDir || f.name.size() != 8 || f.name.substr(4) != ".txt") continue;
            auto text = platform::readWholeFile(fs, folder + "\\" + f.name);
            if (!text) continue;
            const size_t at = text->find("Message-ID: <k");
            if (at == std::string::npos) continue;
            const int n = std::atoi(text->c_str() + at + 14);
            const std::string tail = "end of " + std::to_string(n) + "\r\n";
            EXPECT_NE(text->find("\r\n\r\nbody " + std::to_string(n) + "\r\n"), std::string::npos)
                << t.name << "\\" << f.name;
            EXPECT_NE(text->find(tail), std::string::npos) << "cut: " << t.name << "\\" << f.name;
            ++copies[n];
        }
    }
    return copies;
}

// Every message stored, and at most `mayDouble` of them twice.
void expectStored(test::TestEnv& e, int count, int mayDouble) {
    const std::map<int, int> copies = storedCopies(e);
    int doubled = 0;
    for (int n = 1; n <= count; ++n) {
        const int k = copies.count(n) ? copies.at(n) : 0;
        EXPECT_GE(k, 1) << "message " << n << " lost";
        doubled += std::max(0, k - 1);
    }
    EXPECT_LE(doubled, mayDouble) << "stored twice";
}

bool temporariesLeft(test::TestEnv& e) {
    auto tabs = e.fs->list(e.path("MailData"));
    if (!tabs) return false;
    for (const auto& t : *tabs) {
        if (t.isDir && !store::temporaryMessageFiles(e.env, e.path("MailData\\" + t.name)).empty())
            return true;
    }
    return false;
}

// After a kill: repair, run again, then everything once (at most one twice), sound, no
// temporaries.
void settleAndCompare(test::TestEnv& e, const std::vector<std::string>& again, int count,
                      const std::string& what) {
    SCOPED_TRACE(what);
    const std::string home = toTerminal(e.env.programFolder);
    runTool({"check", home, "--repair"});
    EXPECT_FALSE(temporariesLeft(e));
    // An import killed after it stored everything (its journal is gone once it has) is not
    // run again: the user was told it was done.
    const bool importDone = again[0] == "import" &&
                            !e.fs->exists(e.path("_Log\\kolvytool-import.jnl")) &&
                            !storedCopies(e).empty();
    if (!importDone) {
        const test::ToolRun second = runTool(again);
        EXPECT_EQ(second.code, 0) << second.out << second.err;
    }
    const test::ToolRun check = runTool({"check", home});
    EXPECT_EQ(check.code, 0) << check.out;
    EXPECT_FALSE(temporariesLeft(e));
    expectStored(e, count, 1);  // a kill costs at most the message under way
    ++gKillPoints;
}

// One kill: `args` (the program folder put after the command) on a fresh folder made by `setup`,
// killed at call `n` (> 0) or after `wallMs`, then `check`. False when it ran to its end at
// call `n`, or failed.
template <class Setup, class Check>
bool killOnce(const std::vector<std::string>& args, long n, int wallMs, Setup& setup,
              Check& check) {
    test::TestEnv e;
    setup(e);
    if (::testing::Test::HasFatalFailure()) return false;
    std::vector<std::string> a = args;
    a.insert(a.begin() + 1, test::home(e.env));
    const ChildEnd end = runChild(a, n, wallMs);
    const std::string what = n > 0 ? "kill at call " + std::to_string(n)
                                   : "killed after " + std::to_string(wallMs) + " ms";
    if (!end.killed) {
        EXPECT_EQ(end.code, 0) << what;
        if (n > 0) return false;  // every call has been tried
    }
    check(e, a, what);
    return !::testing::Test::HasFailure();
}

// The kill points of a command: every `stride`th call from `first` until it runs to its end.
template <class Setup, class Check>
int killEveryCall(const std::vector<std::string>& args, long first, long stride, Setup setup,
                  Check check) {
    int points = 0;
    for (long n = first; killOnce(args, n, -1, setup, check); n += stride)
        ++points;
    return points;
}

// Wall clock: how long a whole run takes, then `times` kills anywhere within it.
template <class Setup, class Check>
void killAtRandomMoments(const std::vector<std::string>& args, unsigned seed, int times,
                         Setup setup, Check check) {
    const int64_t start = nowMs();
    ASSERT_TRUE(killOnce(args, 0, -1, setup, check));
    const auto ms = static_cast<unsigned>(nowMs() - start);
    std::mt19937 random(seed);
    for (int k = 0; k < times; ++k) {
        if (!killOnce(args, 0, static_cast<int>(random() % (ms + 1)), setup, check)) return;
    }
}

class Kill : public ::testing::Test {
  protected:
    static void TearDownTestSuite() {
        std::printf("kill points tried: %d\n", gKillPoints);
        std::fflush(stdout);
    }
};

// An mbox of messages 1 to `count` in `folder`, " move" added to the odd subjects when asked;
// returns its path as an argument.
std::string writeMbox(const test::TempFolder& folder, int count, bool markOdd = false) {
    std::string mbox;
    for (int n = 1; n <= count; ++n) {
        std::string m = mail(n);
        if (markOdd && n % 2) m.insert(m.find("\r\n", m.find("Subject:")), " move");
        mbox += "From s@example.jp Mon Dec  7 10:00:00 2026\r\n" + m + "\r\n";
    }
    const std::string file = folder / "box.mbox";
    EXPECT_EQ(platform::writeWholeFile(*platform::makeFileSystem(), file, mbox), Err::None);
    return toTerminal(file);
}

TEST_F(Kill, ImportAtEveryFileSystemCallAndAtRandomMoments) {
    const int count = 8 * scale();
    test::TempFolder source;
    const std::string fileArg = writeMbox(source, count);
    auto compare = [&](test::TestEnv& e, const std::vector<std::string>& a,
                       const std::string& what) { settleAndCompare(e, a, count, what); };
    const auto nothing = [](test::TestEnv&) {};
    EXPECT_GT(killEveryCall({"import", fileArg}, 1, 1, nothing, compare), count * 5);
    killAtRandomMoments({"import", fileArg}, 13, 10 * scale(), nothing, compare);
}

// Kill points are every `stride`th call; a larger KOLVY_KILL_SCALE makes the stride smaller.
long strideFor(long base) {
    return std::max(1L, base / scale());
}

// Receives from a fresh scripted mailbox, killed at every fourth call, then at random moments.
void receiveFromScriptedServer(bool leave, long first) {
    const int count = 8 * scale();
    std::optional<test::MailboxServer> box;
    const auto setup = [&](test::TestEnv& e) {
        box.emplace();
        box->setCredentials("taro", "secret");
        for (int i = 1; i <= count; ++i)
            box->add(test::MailboxServer::message(mail(i), "U" + std::to_string(i)));
        test::writePopOrder(e.env.ini, box->port(), "taro", "secret", leave, 30000);
    };
    const auto check = [&](test::TestEnv& e, const std::vector<std::string>& a,
                           const std::string& what) {
        settleAndCompare(e, a, count, what);
        // Delete mode: the second run emptied the box.
        if (!leave) {
            EXPECT_TRUE(box->messages().empty()) << what;
        }
    };
    const std::vector<std::string> args{"receive", toTerminal("受信注文")};
    EXPECT_GT(killEveryCall(args, first, strideFor(4), setup, check), count);
    if (!::testing::Test::HasFailure())
        killAtRandomMoments(args, leave ? 31 : 17, 4 * scale(), setup, check);
}

TEST_F(Kill, ReceiveDeletingFromTheScriptedServer) {
    receiveFromScriptedServer(false, 1);
}

TEST_F(Kill, ReceiveLeavingMailOnTheScriptedServer) {
    receiveFromScriptedServer(true, 3);
}

TEST_F(Kill, ReceiveFromDovecotAtEveryEleventhCall) {
    auto s = test::popServers();
    if (!s) GTEST_SKIP() << "the pop-servers fixture has not run";
    const int count = 4 * scale();
    const int points = killEveryCall(
        {"receive", toTerminal("受信注文")}, 2, strideFor(11),
        [&](test::TestEnv& e) {
            s->emptyDovecot();
            for (int i = 1; i <= count; ++i)
                ASSERT_TRUE(s->deliverToDovecot(std::to_string(i) + ".kill", mail(i)));
            test::writePopOrder(e.env.ini, s->dovecotPop3, s->user, s->password, false, 30000);
        },
        [&](test::TestEnv& e, const std::vector<std::string>& a, const std::string& what) {
            settleAndCompare(e, a, count, "dovecot, " + what);
        });
    s->emptyDovecot();
    EXPECT_GT(points, count);
}

// A program folder with `count` messages in the receive tab, a tab "仕分け" and a command rule
// that moves the odd ones there.
void sortSetup(test::TestEnv& e, const std::string& mbox) {
    ASSERT_EQ(runTool({"import", toTerminal(e.env.programFolder), mbox}).code, 0);
    test::addRule(
        e.env, rules::RuleKind::Command,
        [](Rule& r, store::TabRegistry& tabs) {
            test::matchSubject(r, "move");
            r.targetTab = tabs.findByName("仕分け");
        },
        "仕分け");
}

TEST_F(Kill, SortAtEveryFileSystemCallLeavesEachMessageOnce) {
    const int count = 6 * scale();
    test::TempFolder source;
    const std::string mbox = writeMbox(source, count, true);
    const int points = killEveryCall(
        {"sort"}, 1, strideFor(2), [&](test::TestEnv& e) { sortSetup(e, mbox); },
        [&](test::TestEnv& e, const std::vector<std::string>& a, const std::string& what) {
            SCOPED_TRACE(what);
            ++gKillPoints;
            runTool({"check", a[1], "--repair"});
            test::expectSound(e.env);
            EXPECT_FALSE(temporariesLeft(e));
            expectStored(e, count, 0);
            // The sort run again finishes the work: still each once.
            EXPECT_EQ(runTool(a).code, 0);
            SCOPED_TRACE("sorted again");
            expectStored(e, count, 0);
        });
    EXPECT_GT(points, count);
}

}  // namespace
}  // namespace kolvy::tool
