// The life of the program apart from its windows: command line, data folders, the loaders that run
// while the main window is created, the crash detector, the close checks and the staged shutdown.
// The Win32 main window (main_win32.cpp, mainwindow_win32.cpp) calls these and only draws.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/run_state.h"
#include "platform/env.h"
#include "store/index.h"
#include "store/tabs.h"

namespace kolvy::shell {

// ----------------------------------------------------------------------------- command line
inline constexpr size_t kAddressMax = 1023;
struct CommandLine {
    std::string address;     // at most kAddressMax bytes
    bool toAddress = false;  // started to write a message to `address` (mailto forms only)
};
// "/mailurl" takes the text from its 17th character on, "mailto:" the text after it; anything
// else is the address as it stands, without the flag.
CommandLine parseCommandLine(std::string_view line);

// ----------------------------------------------------------------------------- data folders
inline constexpr char kMailDataCreateFailed[] =
    "\"MailData\"フォルダを作成しようとしましたが失敗しました。    \n"
    "お手数ですが、ホームページの掲示板にご連絡いただけるとありがたいです。    ";
inline constexpr char kFolderMoveFailed[] = "ディレクトリが移動できませんでした。    ";

// Renames the folders of the older layouts ("_メールチェッカ", "メールデータ"), then makes
// MailData when it is missing and moves the tab folders that lay directly in the program folder
// into it. False when start-up must stop (the message has been shown).
bool prepareDataFolder(Env& env);

// ----------------------------------------------------------------------------- one writer
// A program folder has one writer at a time: the program and every kolvytool command that
// writes hold an exclusive lock on this file of the folder for as long as they run. Two writers
// at once would store mail twice and could damage an index.
inline constexpr char kWriterLockFile[] = "Kolvy.lock";
// How long a second writer waits for the first to finish before it gives up.
inline constexpr unsigned kWriterLockWaitMs = 5000;
// The refusal, naming the folder.
std::string folderInUseText(std::string_view programFolder);
// Takes the lock of env's program folder, waiting up to `waitMs`; null when another writer keeps
// it or the lock file cannot be made (reported, naming the folder).
std::unique_ptr<platform::FileLock> lockProgramFolder(Env& env,
                                                      unsigned waitMs = kWriterLockWaitMs);

// ----------------------------------------------------------------------------- crash detector
inline constexpr char kCrashNotice[] =
    "前回起動中に、エラーで終了したようです。お手数ですが、\n"
    "ホームページの掲示板にご連絡いただけるとありがたいです。   \n"
    "メニューの「ヘルプ」－「バージョン情報」ダイアログのアドレス部分    \n"
    "をクリックしていただくとホームページが開けます。 ";

// What a receive log holds after its last line of a single "." (the end of the last message
// received completely): searched backwards from 10 bytes before the end; the whole log when
// there is no such line.
std::string receiveLogTail(std::string_view log);
// Option/ErrorLogOut of 1 or more: the notice, and ErrorLog.txt with the shutdown level (2 and
// above) or the end of this month's receive log (1). The marker itself stays.
void detectCrash(Env& env);
// The shutdown's progress marker.
void setShutdownStage(Env& env, int stage);

// ----------------------------------------------------------------------------- window settings
struct WindowPlacement {
    int width = 645, height = 438;
    int showStatus = 0;  // 0 normal, 1 maximised, 2 minimised
    bool positionFix = false;
    int x = 0, y = 0;
};
WindowPlacement readPlacement(platform::Profile& ini);
enum class SizeState { Restored, Minimised, Maximised };
// ShowStatus, and Hr/Vr for the restored window.
void saveSize(platform::Profile& ini, SizeState state, int width, int height);

// Start-up and close switches of the global options, each read with its default.
struct Switches {
    bool startTaskTray = false;
    bool infoSendMail = false;   // at exit, tell about waiting mail
    bool infoSendMail2 = false;  // at start-up, tell about waiting mail
    bool gomiAddSendTab = false;
};
Switches readSwitches(platform::Profile& ini);

// The status area for a tab: its kind, and its counters.
struct TabStatusText {
    std::string kind, counters;
};
TabStatusText tabStatusText(const Tab& tab);

inline constexpr char kCloseDuringRun[] =
    "送受信中にはプログラムを終了できません。終了させたい時は\n"
    "送受信が終わるまで待つか、操作メニューから中断を選んでください。  ";
inline constexpr char kCloseWhileProcessing[] = "処理中はプログラムを終了できません。  ";
inline constexpr char kUnsentAtClose[] = "未送信のメールがありますが、このまま終了しますか？   ";
inline constexpr char kUnsentAtStart[] = "未送信のメールがあります。   ";

// What the shutdown needs from the window layer.
class ShutdownWindow {
  public:
    virtual ~ShutdownWindow() = default;
    virtual void removeTrayIcon() {}
    // Puts the current list's position into the tab's ViewIndex and FocusedPos fields.
    virtual void takeListPosition(Tab& tab) = 0;
    // The window's outer rectangle and the screen size; false when there is none.
    virtual bool windowRect(int& left, int& top, int& screenWidth, int& screenHeight) = 0;
    virtual void stopTimersAndLibraries() {}
    virtual void stopServerAndHooks() {}
    virtual void quit() = 0;
};

class Program {
  public:
    explicit Program(Env& env);

    Env& env;
    store::TabRegistry tabs;
    store::TabLook look;
    store::IndexOptions index;
    WindowPlacement placement;
    Switches switches;
    // The busy flags other parts set; the close check and the commands read them.
    RunState& run = runState();
    std::atomic<bool> startupFailed{false};
    // Called when the program makes another tab current (the window shows it).
    std::function<void(Tab&)> currentChanged;

    // The loaders of this program, in their order: the tab look, the tab registry, the current
    // tab's index. False fails start-up (the loader has said why).
    bool load();
    // Makes a tab current: its index is read when it has not been, and its counters checked.
    void selectTab(Tab& tab);
    // The start-up consistency check of a tab: negative counters, or records with no next
    // number or no count, send it to the index rebuild.
    bool countersLookWrong(const Tab& tab) const;
    // The first tab, in tab order, of the send kind (or trash with GomiAddSendTab) with waiting
    // mail; null when there is none.
    Tab* tabWithWaitingMail() const;
    // After the window is shown: the crash detector, the consistency check of the current tab,
    // and the notice of waiting mail.
    void afterShow();

    enum class CloseDecision { Stay, Close };
    CloseDecision closeRequest();
    // The shutdown in its stages, ErrorLogOut 8 down to 0.
    void shutdown(ShutdownWindow& window);

  private:
    void rebuild(Tab& tab, store::RebuildMode mode);
    void makeCurrent(Tab& tab);
};

}  // namespace kolvy::shell
