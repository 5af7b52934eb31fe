#include "shell/program.h"

#include <cstdio>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "report/logs.h"
#include "report/report.h"
#include "store/paths.h"

namespace kolvy::shell {
namespace {

constexpr char kOption[] = "Option";
constexpr char kMailUrl[] = "/mailurl";
constexpr size_t kMailUrlSkip = 16;  // "/mailurl:mailto:" ahead of the address
constexpr char kMailTo[] = "mailto:";
// The search for the last message end starts this far before the end of the receive log.
constexpr size_t kLogTailGap = 10;

bool readFlag(platform::Profile& ini, std::string_view key, bool def) {
    return platform::readInt(ini, kOption, key, def ? 1 : 0) != 0;
}

int readOptionInt(platform::Profile& ini, std::string_view key, int def) {
    const int64_t v = platform::readInt(ini, kOption, key, def);
    return v < INT32_MIN || v > INT32_MAX ? def : static_cast<int>(v);
}

// Folders of the program folder that are never tab folders of an older layout.
bool staysInProgramFolder(std::string_view name) {
    for (const char* keep : {".", "..", "...", "mokuji.bin", "添付", "_Log", "CheckerData",
                             "MailData", "_Tmp", "_UIDL", "メールデータ", "_メールチェッカ"}) {
        if (sjis::equalsNoCase(name, keep)) return true;
    }
    return false;
}

}  // namespace

CommandLine parseCommandLine(std::string_view line) {
    CommandLine c;
    std::string_view address = line;
    if (line.starts_with(kMailUrl)) {
        address = line.size() > kMailUrlSkip ? line.substr(kMailUrlSkip) : std::string_view();
        c.toAddress = true;
    } else if (line.starts_with(kMailTo)) {
        address = line.substr(sizeof kMailTo - 1);
        c.toAddress = true;
    }
    c.address = std::string(sjis::truncate(address, kAddressMax));
    return c;
}

bool prepareDataFolder(Env& env) {
    platform::FileSystem& fs = env.fs;
    fs.rename(env.path("Filter_ReceiveX.txt"), env.path("Filter_Receive.txt"));
    // The older layouts first: their data folder may simply need its new name.
    fs.rename(env.path("_メールチェッカ"), env.path("CheckerData"));
    fs.rename(env.path("メールデータ"), env.path(store::kDataFolder));

    const std::string data = store::dataFolder(env);
    if (fs.isDir(data)) return true;
    if (fs.makeDir(data) != Err::None) {
        report::report(env, kMailDataCreateFailed);
        return false;
    }
    auto entries = fs.list(env.programFolder);
    if (!entries) return true;
    for (const auto& e : *entries) {
        if (!e.plainDir || staysInProgramFolder(e.name)) continue;
        if (fs.rename(env.path(e.name), sjis::joinPath(data, e.name)) != Err::None) {
            report::report(env, kFolderMoveFailed);
            return false;
        }
    }
    return true;
}

std::string folderInUseText(std::string_view programFolder) {
    std::string text = "このフォルダは、ほかのKolvyかkolvytoolが使用中です。    \n";
    text += programFolder;
    text +=
        "    \n同時に書き込むとメールが二重になったり目次ファイルが壊れたりするので、"
        "終わるのを待ってからもう一度実行してください。    ";
    return text;
}

std::unique_ptr<platform::FileLock> lockProgramFolder(Env& env, unsigned waitMs) {
    auto lock = platform::lockFile(env.path(kWriterLockFile), waitMs);
    if (!lock) {
        if (lock.error() == Err::Access) {
            report::report(env, folderInUseText(env.programFolder));
        } else {
            report::report(env, std::string("フォルダにロックファイル（") + kWriterLockFile +
                                    "）を作成できませんでした。    \n" + env.programFolder +
                                    "    ");
        }
        return nullptr;
    }
    return std::move(*lock);
}

std::string receiveLogTail(std::string_view log) {
    const size_t from = log.size() > kLogTailGap ? log.size() - kLogTailGap : 0;
    const size_t at = log.rfind("\n.\r\n", from);
    if (at == std::string_view::npos) return std::string(log);
    size_t p = at + 1;
    while (p < log.size() && (log[p] == '.' || log[p] == '\r' || log[p] == '\n'))
        ++p;
    return std::string(log.substr(p));
}

void detectCrash(Env& env) {
    const int64_t level = platform::readInt(env.ini, kOption, "ErrorLogOut", 0);
    if (level < 1) return;
    report::report(env, kCrashNotice);
    const std::string path = env.path("ErrorLog.txt");
    if (level >= 2) {
        char text[64];
        std::snprintf(text, sizeof text, "終了時エラー　レベル＝%lld",
                      static_cast<long long>(level));
        platform::writeWholeFile(env.fs, path, text);
        return;
    }
    auto log =
        platform::readWholeFile(env.fs, report::runLogPath(env, report::RunLogKind::Receive));
    if (!log || log->empty()) return;
    const std::string tail = receiveLogTail(*log);
    if (!tail.empty()) platform::writeWholeFile(env.fs, path, tail);
}

void setShutdownStage(Env& env, int stage) {
    platform::writeInt(env.ini, kOption, "ErrorLogOut", stage);
}

WindowPlacement readPlacement(platform::Profile& ini) {
    WindowPlacement p;
    p.width = readOptionInt(ini, "Hr", 645);
    p.height = readOptionInt(ini, "Vr", 438);
    p.showStatus = readOptionInt(ini, "ShowStatus", 0);
    p.positionFix = readOptionInt(ini, "PositionFix", 0) == 1;
    if (p.positionFix) {
        p.x = readOptionInt(ini, "Posx", 0);
        p.y = readOptionInt(ini, "Posy", 0);
    }
    return p;
}

void saveSize(platform::Profile& ini, SizeState state, int width, int height) {
    switch (state) {
        case SizeState::Minimised:
            ini.write(kOption, "ShowStatus", "2");
            break;
        case SizeState::Maximised:
            ini.write(kOption, "ShowStatus", "1");
            break;
        case SizeState::Restored:
            ini.write(kOption, "ShowStatus", "0");
            platform::writeInt(ini, kOption, "Hr", width);
            platform::writeInt(ini, kOption, "Vr", height);
            break;
    }
}

Switches readSwitches(platform::Profile& ini) {
    Switches s;
    s.startTaskTray = readFlag(ini, "StartTaskTray", false);
    s.infoSendMail = readFlag(ini, "InfoSendMail", false);
    s.infoSendMail2 = readFlag(ini, "InfoSendMail2", false);
    s.gomiAddSendTab = readFlag(ini, "GomiAddSendTab", false);
    return s;
}

TabStatusText tabStatusText(const Tab& tab) {
    TabStatusText out;
    static constexpr const char* kKinds[] = {"受信用タブ", "送信用タブ", "ごみ箱用タブ"};
    out.kind = kKinds[tab.kind >= 0 && tab.kind < store::kKindCount ? tab.kind : 0];
    if (tab.basic) out.kind += "（基本）";
    auto add = [&](const char* label, int value) {
        out.counters += label;
        out.counters += " = ";
        out.counters += std::to_string(value);
        out.counters += "   ";
    };
    add("メール総数", tab.allMailCount);
    if (tab.kind != store::kSendTab) {
        add("未読メール数", tab.noReadMailCount);
        add("新着メール数", tab.newMailCount);
    }
    if (tab.kind != store::kReceiveTab) {
        add("送信待ちメール数", tab.waitMailCount);
        add("書きかけメール数", tab.editMailCount);
    }
    return out;
}

// ----------------------------------------------------------------------------- program

Program::Program(Env& e) : env(e) {}

bool Program::load() {
    platform::Profile& ini = env.ini;
    env.logOut = readFlag(ini, "LogOut", false);
    const int64_t logSize = platform::readInt(ini, kOption, "LogSize", 50000000);
    if (logSize > 0) env.logSize = static_cast<uint64_t>(logSize);
    const int64_t readByte = platform::readInt(ini, kOption, "ReadByte", 10000);
    index.readByte = readByte > 0 ? static_cast<uint64_t>(readByte) : 0;
    placement = readPlacement(ini);
    switches = readSwitches(ini);

    look = store::loadTabLook(ini);
    store::loadCustomColours(ini);
    if (!tabs.load(env)) return false;
    if (Tab* current = tabs.current()) store::readIndex(env, *current, index);
    return true;
}

bool Program::countersLookWrong(const Tab& tab) const {
    if (tab.allMailCount < 0 || tab.noReadMailCount < 0 || tab.waitMailCount < 0 ||
        tab.editMailCount < 0) {
        return true;
    }
    const bool hasRecords = !listEmpty(tab.items);
    return hasRecords && (tab.nextFileNo == 0 || tab.allMailCount == 0);
}

void Program::rebuild(Tab& tab, store::RebuildMode mode) {
    if (!index.rebuilder || !index.rebuilder->rebuild(env, tab, mode)) return;
    store::freeItems(tab);
    tab.loadState = store::kNotRead;
    store::readIndex(env, tab, index);
}

void Program::makeCurrent(Tab& tab) {
    tabs.setCurrent(&tab);
    if (currentChanged) currentChanged(tab);
}

void Program::selectTab(Tab& tab) {
    tabs.setCurrent(&tab);
    if (tab.loadState == store::kNotRead) {
        store::readIndex(env, tab, index);
        // Only when a rebuild can follow: the message announces it.
        if (index.rebuilder && !listEmpty(tab.items) && tab.nextFileNo == 0) {
            report::notice(env, store::kCountersCleared);
            rebuild(tab, store::RebuildMode::Silent);
        }
    }
    if (index.rebuilder && countersLookWrong(tab)) rebuild(tab, store::RebuildMode::Counters);
}

Tab* Program::tabWithWaitingMail() const {
    for (Tab* t = tabs.first(); t; t = t->next) {
        const bool sendSide =
            t->kind == store::kSendTab || (switches.gomiAddSendTab && t->kind == store::kTrashTab);
        if (sendSide && t->waitMailCount > 0) return t;
    }
    return nullptr;
}

void Program::afterShow() {
    detectCrash(env);
    if (Tab* current = tabs.current()) {
        if (index.rebuilder && countersLookWrong(*current)) {
            rebuild(*current, store::RebuildMode::Counters);
        }
    }
    if (switches.infoSendMail2) {
        if (Tab* waiting = tabWithWaitingMail()) {
            if (waiting->closed) tabs.setClosed(env, *waiting, false);
            selectTab(*waiting);
            makeCurrent(*waiting);
            report::notice(env, kUnsentAtStart);
        }
    }
}

Program::CloseDecision Program::closeRequest() {
    if (run.running()) {
        report::notice(env, kCloseDuringRun);
        return CloseDecision::Stay;
    }
    if (run.processing.load()) {
        report::notice(env, kCloseWhileProcessing);
        return CloseDecision::Stay;
    }
    if (switches.infoSendMail) {
        if (Tab* waiting = tabWithWaitingMail()) {
            if (waiting->closed) tabs.setClosed(env, *waiting, false);
            selectTab(*waiting);
            makeCurrent(*waiting);
            if (report::ask(env, kUnsentAtClose, platform::Icon::Information) !=
                platform::Answer::Ok) {
                return CloseDecision::Stay;
            }
        }
    }
    return CloseDecision::Close;
}

void Program::shutdown(ShutdownWindow& window) {
    window.removeTrayIcon();
    if (startupFailed.load()) {
        window.quit();
        return;
    }
    setShutdownStage(env, 8);
    // (the rule files are written back here once they are loaded)

    setShutdownStage(env, 7);
    Tab* current = tabs.current();
    if (current) {
        if (current->external) {
            store::writeSummary(env, *current);
        } else {
            window.takeListPosition(*current);
            store::writeListPosition(env, *current);
        }
    }

    setShutdownStage(env, 6);
    if (!current || current->closed || current->external) current = tabs.firstOpen();
    if (current) env.ini.write(std::to_string(current->id), "TabCursor", "1");

    setShutdownStage(env, 5);
    int left = 0, top = 0, screenWidth = 0, screenHeight = 0;
    if (placement.positionFix && window.windowRect(left, top, screenWidth, screenHeight)) {
        left = left < 0 ? 0 : left;
        top = top < 0 ? 0 : top;
        if (left <= screenWidth && top <= screenHeight) {
            platform::writeInt(env.ini, kOption, "Posx", left);
            platform::writeInt(env.ini, kOption, "Posy", top);
        }
    }

    setShutdownStage(env, 4);
    const std::string tmp = env.path(store::kTmpFolder);
    if (auto entries = env.fs.list(tmp)) {
        for (const auto& e : *entries) {
            if (!e.isDir) env.fs.remove(sjis::joinPath(tmp, e.name));
        }
    }

    setShutdownStage(env, 3);
    window.stopTimersAndLibraries();
    setShutdownStage(env, 2);
    window.stopServerAndHooks();
    setShutdownStage(env, 0);
    window.quit();
}

}  // namespace kolvy::shell
