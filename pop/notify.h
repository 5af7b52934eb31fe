// The new-mail notice: what is counted, what the user is told (sound, dialog, blinking tab
// marks), the dialog's texts and place, and the animation bitmap read from the program folder.
// Everything here is decided from the tabs and the options; the window code only carries it out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "platform/platform.h"

namespace kolvy::pop {

// ----------------------------------------------------------------------------- options
struct NoticeOptions {
    int dialog = 1;                 // SinchakuDlg: 0 none, 1 small animation box, 2 large box
    bool onlyWhenArrived = false;   // SinchakuDlg0
    bool countAllNew = false;       // SinchakuDlg1: count all unread new mail, not only arrivals
    bool sound = true;              // SinchakuSound
    bool soundOnlyWhenNew = false;  // SinchakuSound0
    bool animate = true;            // SinchakuAnime
    std::string soundFile = "sinchaku.wav";  // SinchakuSoundFile, in the program folder
    std::string animeFile = "sinchaku.bmp";  // SinchakuAnimeFile, in the program folder
    bool showList = true;                    // SinchakuInfo0
    int traySelectPos = 0;                   // TrayDlgSelectPos: 0, 1 or 2
    bool catFoot = true;                     // TabOption/CatFoot: blinking tab marks
};
NoticeOptions readNoticeOptions(platform::Profile& ini);
// The dialog writes back what the user chose.
void saveShowList(platform::Profile& ini, bool shown);
void saveTraySelectPos(platform::Profile& ini, int pos);

// ----------------------------------------------------------------------------- counting
// A tab takes part when it is no send tab, is shown, and has unread new mail.
bool countedTab(const Tab& tab);
struct NewMailCounts {
    int newCount = 0;        // entries marked new (arrival mark 1 or 2)
    int arrivedCount = 0;    // entries that arrived in the last run (mark 2)
    bool notifyTab = false;  // a counted tab asks for the dialog (NewMailInfoDlg)
};
// Over the tab list from `first` on (the registry's first tab, or null).
NewMailCounts countNewMail(const Tab* first);

// ----------------------------------------------------------------------------- deciding
struct NoticeDecision {
    bool sound = false;        // play the sound without a dialog
    bool dialog = false;       // open the dialog (it plays its own sound)
    bool openViewers = false;  // open the viewer on tabs that ask for it
};
// After a receive run whose last result was `runFailed`; `dialogOpen` when a notice still shows.
NoticeDecision decideNotice(const NoticeOptions& o, const NewMailCounts& c, bool runFailed,
                            bool dialogOpen);
// The dialog plays its sound on opening when sound is on.
inline bool dialogPlaysSound(const NoticeOptions& o) {
    return o.sound;
}
// Tabs whose viewer opens after new mail: counted tabs with the per-tab viewer flag.
bool opensViewer(const Tab& tab);

// ----------------------------------------------------------------------------- texts
inline constexpr char kNoticeTitle[] = "新着通知";
inline constexpr char kNoNewMail[] = "新着メールはありません";
inline constexpr char kBitmapUnreadable[] = "ビットマップファイルが開けませんでした。   ";
inline constexpr char kPaletteFailed[] = "パレットの作成に失敗しました。   ";
inline constexpr size_t kTitleOrders = 4;

int noticeCount(const NoticeOptions& o, const NewMailCounts& c);
// "%d通の新着メールがあります", or the text for none.
std::string noticeText(int count);
// The title and, for each of the first four orders of the last run, a blank and its name.
std::string noticeTitle(const std::vector<std::string>& orderNames);

// ----------------------------------------------------------------------------- blinking marks
// A tab header shows the blinking mark while the tab (no send tab) holds unread new mail.
bool tabBlinks(const Tab& tab);
bool anyTabBlinks(const Tab* first);

// The phase of the marks, advanced by a 500 ms timer while some tab has unread new mail.
class Blinker {
  public:
    enum class Tray { Leave, Normal, NewMail };
    struct Step {
        bool redraw = false;  // the tab headers change
        Tray tray = Tray::Leave;
        bool stopped = false;  // the timer is to go
    };
    // True when it starts now (the caller sets the timer): not running yet, the marks enabled
    // and some tab with unread new mail.
    bool start(const Tab* first, bool catFoot);
    // One timer tick; in the tray and outside a run the tray icon blinks with the marks.
    Step tick(const Tab* first, bool inTray, bool runActive);
    // Stopped from outside (the program ends).
    void stop() { running_ = phase_ = false; }
    bool running() const { return running_; }
    // Whether the tab's header shows its mark now.
    bool on(const Tab& tab) const { return running_ && phase_ && tabBlinks(tab); }

  private:
    bool running_ = false;
    bool phase_ = false;
};

// ----------------------------------------------------------------------------- the dialog
inline int animationBox(const NoticeOptions& o) {
    return o.dialog == 2 ? 124 : 76;
}
struct Point {
    int x = 0, y = 0;
};
// Top-left corner of a dialog of `width` x `height` for a main window centred at `centre` on a
// screen of `screenW` x `screenH`.
Point placeNotice(Point centre, int width, int height, int screenW, int screenH);
// Milliseconds between frames: name_N.bmp animates at N x 100 ms, anything else at 200 ms.
unsigned frameDelayMs(std::string_view animeFile);
inline constexpr unsigned kFirstFrameDelayMs = 500;

// ----------------------------------------------------------------------------- the bitmap
// Frames lie one above another in one bitmap, each as wide as the bitmap and square.
struct AnimationBitmap {
    int32_t width = 0;       // also each frame's height
    int32_t rows = 0;        // of the whole bitmap
    bool topDown = false;    // rows stored top first
    uint16_t bitCount = 0;   // 4, 8, 16 or 24
    uint32_t colours = 0;    // entries of the colour table (4 and 8 bits)
    size_t colourTable = 0;  // offset of the colour table in the file
    size_t pixels = 0;       // offset of the pixel rows in the file
    size_t stride = 0;       // bytes of one row, padded to 4
    int frames = 0;
};
// Checks the headers against the file's bytes; nullopt for anything the drawing could not read
// safely (short, hostile or unsupported files): the caller shows kBitmapUnreadable.
std::optional<AnimationBitmap> readAnimationBitmap(std::string_view file);
// The rows of frame `index` (0 = the top one) as a bottom-up bitmap of width x width.
std::string frameRows(std::string_view file, const AnimationBitmap& b, int index);

}  // namespace kolvy::pop
