// The new-mail notice on the main thread: the dialog with its animation box, the sound, and the
// blinking marks of the tab headers and the tray icon. The decisions are pop/notify's; here they
// are carried out. Both animations run on timers of the main thread, so nothing they draw can be
// freed under them: the dialog kills its timer before it frees the bitmap.
#include <windows.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/fileutil.h"
#include "platform/win32/win32.h"
#include "pop/notify.h"
#include "report/report.h"
#include "shell/command_ids.h"
#include "shell/mainwindow_win32.h"
#include "shell/notify_resource.h"
#include "shell/shell_context_win32.h"

namespace kolvy::shell::win32 {
namespace {

using pop::NoticeOptions;

constexpr UINT kMsgCloseNotice = 0x8003;
constexpr UINT kMsgOpenNotice = 0x8004;
constexpr UINT kMsgAfterNewMail = 0x8007;
// Sent by KVA_OpenDialog from another thread: the dialog belongs to the main thread.
constexpr UINT kMsgRunNotice = 0x8310;
constexpr UINT_PTR kBlinkTimer = 300;
constexpr UINT_PTR kAnimeTimer = 301;  // of the dialog
constexpr UINT kBlinkMs = 500;
constexpr char kAnimeClass[] = "BmpAnimeClass";
constexpr char kUtilityLibrary[] = "Zorvan.dll";
constexpr int kListLine = 13;
constexpr int kMargin = 10;

using SinchakuListFn = int(WINAPI*)(HWND, Tab*, int, int);

// Main thread only.
struct Notifier {
    HWND main = nullptr;
    HINSTANCE instance = nullptr;
    Program* program = nullptr;
    DWORD thread = 0;
    HWND dialog = nullptr;  // the notice now open
    pop::Blinker blinker;
};
Notifier& notifier() {
    static Notifier n;
    return n;
}

// The bitmap of one open dialog and how far its animation is; freed when the dialog goes.
struct Animation {
    std::string file;
    pop::AnimationBitmap geometry;
    std::vector<unsigned char> info;  // BITMAPINFOHEADER of one frame and the colour table
    HPALETTE palette = nullptr;
    int frame = 0;
    bool running = false;
    unsigned delayMs = 200;
    ~Animation() {
        if (palette) DeleteObject(palette);
    }
};

struct NoticeDialog {
    NoticeOptions options;
    pop::NewMailCounts counts;
    std::unique_ptr<Animation> animation;
    HWND box = nullptr;
    HWND previous = nullptr;  // the window in front before the notice
    bool choices = false;     // the three buttons shown in the tray
    SinchakuListFn list = nullptr;
    int listLines = 0;
    int boxSize = 76;
};

HMODULE utilityLibrary() {
    return GetModuleHandleA(kUtilityLibrary);
}

std::string inProgramFolder(const std::string& name) {
    return notifier().program->env.programFolder + "\\" + name;
}

// ----------------------------------------------------------------------------- the bitmap
HPALETTE makePalette(const Animation& a) {
    const uint32_t n = a.geometry.colours;
    std::vector<unsigned char> buf(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
    auto* lp = reinterpret_cast<LOGPALETTE*>(buf.data());
    lp->palVersion = 0x300;
    lp->palNumEntries = static_cast<WORD>(n);
    const auto* table =
        reinterpret_cast<const unsigned char*>(a.file.data() + a.geometry.colourTable);
    for (uint32_t i = 0; i < n; ++i) {
        lp->palPalEntry[i] = PALETTEENTRY{table[i * 4 + 2], table[i * 4 + 1], table[i * 4], 0};
    }
    return CreatePalette(lp);
}

// The header one frame is drawn with: the file's, cut to a square, and its colour table.
void buildFrameInfo(Animation& a) {
    const pop::AnimationBitmap& g = a.geometry;
    a.info.assign(sizeof(BITMAPINFOHEADER) + g.colours * 4, 0);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(a.info.data());
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = g.width;
    h->biHeight = g.width;
    h->biPlanes = 1;
    h->biBitCount = g.bitCount;
    h->biCompression = BI_RGB;
    h->biClrUsed = g.colours;
    if (g.colours)
        memcpy(a.info.data() + sizeof(BITMAPINFOHEADER), a.file.data() + g.colourTable,
               g.colours * 4);
}

std::unique_ptr<Animation> loadAnimation(const NoticeOptions& o) {
    Program& p = *notifier().program;
    auto bytes = platform::readWholeFile(p.env.fs, inProgramFolder(o.animeFile));
    std::optional<pop::AnimationBitmap> geometry;
    if (bytes) geometry = pop::readAnimationBitmap(*bytes);
    if (!geometry) {
        report::report(p.env, pop::kBitmapUnreadable);
        return nullptr;
    }
    auto a = std::make_unique<Animation>();
    a->file = std::move(*bytes);
    a->geometry = *geometry;
    a->delayMs = pop::frameDelayMs(o.animeFile);
    buildFrameInfo(*a);
    if (a->geometry.colours) {
        a->palette = makePalette(*a);
        if (!a->palette) {
            report::report(p.env, pop::kPaletteFailed);
            return nullptr;
        }
    }
    return a;
}

// ----------------------------------------------------------------------------- the box
void paintBox(HWND box, HDC dc, const Animation* a) {
    RECT r;
    GetClientRect(box, &r);
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    if (!a) return;
    const int w = a->geometry.width;
    const std::string rows = pop::frameRows(a->file, a->geometry, a->frame);
    if (rows.empty()) return;
    HPALETTE old = nullptr;
    if (a->palette) {
        old = SelectPalette(dc, a->palette, FALSE);
        RealizePalette(dc);
    }
    SetDIBitsToDevice(dc, (r.right - w) / 2, (r.bottom - w) / 2, static_cast<DWORD>(w),
                      static_cast<DWORD>(w), 0, 0, 0, static_cast<UINT>(w), rows.data(),
                      reinterpret_cast<const BITMAPINFO*>(a->info.data()), DIB_RGB_COLORS);
    if (old) SelectPalette(dc, old, FALSE);
}

LRESULT CALLBACK boxProc(HWND box, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != WM_PAINT) return DefWindowProcA(box, msg, wp, lp);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(box, &ps);
    const auto* d =
        reinterpret_cast<const NoticeDialog*>(GetWindowLongPtrA(GetParent(box), DWLP_USER));
    paintBox(box, dc, d ? d->animation.get() : nullptr);
    EndPaint(box, &ps);
    return 0;
}

// ----------------------------------------------------------------------------- the animation
void stopAnimation(HWND dlg, NoticeDialog& d) {
    KillTimer(dlg, kAnimeTimer);
    if (d.animation) {
        d.animation->running = false;
        // A later repaint shows the first frame again.
        d.animation->frame = 0;
    }
}

void nextFrame(HWND dlg, NoticeDialog& d) {
    Animation* a = d.animation.get();
    if (!a || !a->running) return;
    if (a->frame + 1 >= a->geometry.frames) {
        KillTimer(dlg, kAnimeTimer);
        a->running = false;
        return;
    }
    ++a->frame;
    InvalidateRect(d.box, nullptr, FALSE);
    SetTimer(dlg, kAnimeTimer, a->delayMs, nullptr);
}

void startAnimation(HWND dlg, NoticeDialog& d) {
    if (!d.animation || !d.options.animate || d.animation->geometry.frames < 2) return;
    d.animation->running = true;
    SetTimer(dlg, kAnimeTimer, pop::kFirstFrameDelayMs, nullptr);
}

// ----------------------------------------------------------------------------- layout
HWND button(HWND dlg, int id) {
    return GetDlgItem(dlg, id);
}

void moveBy(HWND dlg, HWND child, int dx, int dy) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    SetWindowPos(child, nullptr, r.left + dx, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// Grows the dialog by dx, dy and keeps the buttons at its lower right corner.
void growBy(HWND dlg, int dx, int dy) {
    RECT w;
    GetWindowRect(dlg, &w);
    SetWindowPos(dlg, nullptr, 0, 0, w.right - w.left + dx, w.bottom - w.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER);
    for (int id : {IDOK, IDC_NOTICE_CLOSE, IDC_NOTICE_TOGGLE, IDC_NOTICE_SHOWMAIN,
                   IDC_NOTICE_VIEWER, IDC_NOTICE_NOCHOICE}) {
        if (HWND b = button(dlg, id)) moveBy(dlg, b, dx, dy);
    }
}

HWND child(HWND dlg, const char* cls, const char* text, DWORD style, RECT r, int id) {
    HWND h = CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, r.left, r.top,
                             r.right - r.left, r.bottom - r.top, dlg,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    SendMessageA(h, WM_SETFONT, SendMessageA(dlg, WM_GETFONT, 0, 0), FALSE);
    return h;
}

int textWidth(HWND dlg, const std::string& text) {
    HDC dc = GetDC(dlg);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(dlg, WM_GETFONT, 0, 0)));
    SIZE size{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(dlg, dc);
    return size.cx;
}

// The count text beside the animation box; the dialog grows for the large box and for a count
// of many digits.
void layoutTextAndBox(HWND dlg, NoticeDialog& d) {
    const std::string text = pop::noticeText(pop::noticeCount(d.options, d.counts));
    d.boxSize = pop::animationBox(d.options);
    const int textLeft = kMargin + d.boxSize + kMargin;
    const int width = textWidth(dlg, text) + 4;
    RECT client;
    GetClientRect(dlg, &client);
    const int wider = textLeft + width + kMargin - client.right;
    const int taller = kMargin + d.boxSize + 34 - client.bottom;
    if (wider > 0 || taller > 0) growBy(dlg, wider > 0 ? wider : 0, taller > 0 ? taller : 0);
    GetClientRect(dlg, &client);
    const int textTop = kMargin + d.boxSize / 2 - 8;
    child(dlg, "STATIC", text.c_str(), SS_LEFT | SS_NOPREFIX,
          RECT{textLeft, textTop, client.right - kMargin, textTop + 16}, IDC_NOTICE_TEXT);
    d.box = child(dlg, kAnimeClass, "", 0,
                  RECT{kMargin, kMargin, kMargin + d.boxSize, kMargin + d.boxSize}, IDC_NOTICE_BOX);
}

// The list of the utility library, when it is there: measured now, drawn by the dialog's paint.
bool addList(HWND dlg, NoticeDialog& d) {
    HMODULE lib = utilityLibrary();
    if (d.options.dialog != 1 || !lib) return true;
    d.list = reinterpret_cast<SinchakuListFn>(
        reinterpret_cast<void*>(GetProcAddress(lib, "ZV_SinchakuList")));
    if (!d.list) {
        report::report(notifier().program->env,
                       "ZorvanDLLからZV_SinchakuList関数が呼び出せません。   ");
        return false;
    }
    const int fontSize = static_cast<int>(
        platform::readInt(notifier().program->env.ini, "Option", "ListFontSize", 12));
    d.listLines = d.list(dlg, notifier().program->tabs.listHead(), 0, fontSize);
    if (d.listLines < 0) d.listLines = 0;
    RECT c;
    GetClientRect(dlg, &c);
    child(dlg, "BUTTON", d.options.showList ? "▲" : "▼", BS_PUSHBUTTON,
          RECT{kMargin, c.bottom - 24, kMargin + 20, c.bottom - 6}, IDC_NOTICE_TOGGLE);
    if (d.options.showList) growBy(dlg, 0, d.listLines * kListLine);
    return true;
}

void addChoices(HWND dlg, NoticeDialog& d) {
    if (!runState().inTray || d.options.dialog != 1 || !utilityLibrary()) return;
    d.choices = true;
    growBy(dlg, 0, 24);
    RECT c;
    GetClientRect(dlg, &c);
    const int top = c.bottom - 24 - 26;
    const char* labels[] = {"本体表示", "ビューア表示", "キャンセル"};
    const int ids[] = {IDC_NOTICE_SHOWMAIN, IDC_NOTICE_VIEWER, IDC_NOTICE_NOCHOICE};
    for (int i = 0; i < 3; ++i) {
        child(dlg, "BUTTON", labels[i], BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP : 0) | WS_TABSTOP,
              RECT{kMargin + i * 80, top, kMargin + i * 80 + 76, top + 18}, ids[i]);
    }
    HWND chosen = button(dlg, ids[d.options.traySelectPos]);
    SendMessageA(chosen, BM_SETCHECK, BST_CHECKED, 0);
    SetFocus(chosen);
}

void place(HWND dlg) {
    RECT m, w;
    GetWindowRect(notifier().main, &m);
    GetWindowRect(dlg, &w);
    const pop::Point p = pop::placeNotice(
        {(m.left + m.right) / 2, (m.top + m.bottom) / 2}, w.right - w.left, w.bottom - w.top,
        GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    SetWindowPos(dlg, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// ----------------------------------------------------------------------------- the dialog
// Written by the receive run's thread, read by the dialog.
std::mutex& ordersLock() {
    static std::mutex m;
    return m;
}
std::vector<std::string>& lastRunOrders() {
    static std::vector<std::string> names;
    return names;
}
std::string noticeTitle() {
    std::lock_guard<std::mutex> hold(ordersLock());
    return pop::noticeTitle(lastRunOrders());
}

BOOL initNotice(HWND dlg, NoticeDialog* d) {
    SetWindowLongPtrA(dlg, DWLP_USER, reinterpret_cast<LONG_PTR>(d));
    Notifier& n = notifier();
    n.dialog = dlg;
    d->previous = GetForegroundWindow();
    if (pop::dialogPlaysSound(d->options))
        platform::win32::playSoundFile(inProgramFolder(d->options.soundFile));
    d->animation = loadAnimation(d->options);
    layoutTextAndBox(dlg, *d);
    if (!addList(dlg, *d)) {
        EndDialog(dlg, IDCANCEL);
        return TRUE;
    }
    addChoices(dlg, *d);
    SetWindowTextA(dlg, noticeTitle().c_str());
    place(dlg);
    if (d->previous && d->previous != dlg && d->previous != n.main)
        SetForegroundWindow(d->previous);
    startAnimation(dlg, *d);
    return d->choices ? FALSE : TRUE;  // FALSE: the focus stays on the preselected choice
}

void giveForegroundBack(const NoticeDialog& d) {
    if (d.previous && IsWindow(d.previous)) SetForegroundWindow(d.previous);
}

void confirm(HWND dlg, NoticeDialog& d) {
    stopAnimation(dlg, d);
    Notifier& n = notifier();
    int choice = 0;
    if (d.choices) {
        for (int i = 0; i < 3; ++i) {
            const int id = IDC_NOTICE_SHOWMAIN + i;
            if (SendMessageA(button(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED) choice = i;
        }
        pop::saveTraySelectPos(n.program->env.ini, choice);
    }
    if (choice == 0) {
        if (runState().inTray) PostMessageA(n.main, WM_COMMAND, cmd::kFromTray, 0);
        PostMessageA(n.main, kMsgAfterNewMail, 0, 0);
    } else if (choice == 1) {
        PostMessageA(n.main, WM_COMMAND, cmd::kOpenViewer, 0);
    } else {
        giveForegroundBack(d);
    }
    EndDialog(dlg, IDOK);
}

void toggleList(HWND dlg, NoticeDialog& d) {
    d.options.showList = !d.options.showList;
    pop::saveShowList(notifier().program->env.ini, d.options.showList);
    SetWindowTextA(button(dlg, IDC_NOTICE_TOGGLE), d.options.showList ? "▲" : "▼");
    const int lines = d.listLines * kListLine;
    growBy(dlg, 0, d.options.showList ? lines : -lines);
    InvalidateRect(dlg, nullptr, TRUE);
}

void paintList(HWND dlg, const NoticeDialog& d) {
    if (!d.list || !d.options.showList) return;
    const int fontSize = static_cast<int>(
        platform::readInt(notifier().program->env.ini, "Option", "ListFontSize", 12));
    d.list(dlg, notifier().program->tabs.listHead(), 1, fontSize);
}

INT_PTR CALLBACK noticeProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* d = reinterpret_cast<NoticeDialog*>(GetWindowLongPtrA(dlg, DWLP_USER));
    switch (msg) {
        case WM_INITDIALOG:
            return initNotice(dlg, reinterpret_cast<NoticeDialog*>(lp));
        case WM_TIMER:
            if (d && wp == kAnimeTimer) nextFrame(dlg, *d);
            return TRUE;
        case WM_PAINT:
            if (d && d->list) {
                DefWindowProcA(dlg, msg, wp, lp);
                paintList(dlg, *d);
                return TRUE;
            }
            return FALSE;
        case WM_COMMAND:
            if (!d) return FALSE;
            if (LOWORD(wp) == IDOK) {
                confirm(dlg, *d);
            } else if (LOWORD(wp) == IDC_NOTICE_CLOSE || LOWORD(wp) == IDCANCEL) {
                stopAnimation(dlg, *d);
                giveForegroundBack(*d);
                EndDialog(dlg, IDCANCEL);
            } else if (LOWORD(wp) == IDC_NOTICE_TOGGLE) {
                toggleList(dlg, *d);
            }
            return TRUE;
        case WM_DESTROY:
            // The timer goes before the bitmap it draws from.
            KillTimer(dlg, kAnimeTimer);
            if (d) d->animation.reset();
            if (notifier().dialog == dlg) notifier().dialog = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

// ----------------------------------------------------------------------------- blinking marks
void blink() {
    Notifier& n = notifier();
    const pop::Blinker::Step s =
        n.blinker.tick(n.program->tabs.first(), runState().inTray, runState().running());
    if (s.stopped) KillTimer(n.main, kBlinkTimer);
    if (s.redraw) redrawTabs(n.main);
    if (s.tray != pop::Blinker::Tray::Leave)
        setTrayIcon(n.main,
                    s.tray == pop::Blinker::Tray::NewMail ? TrayIcon::NewMail : TrayIcon::Normal);
}

void startBlinking(bool catFoot) {
    Notifier& n = notifier();
    if (!n.blinker.start(n.program->tabs.first(), catFoot)) return;
    if (!SetTimer(n.main, kBlinkTimer, kBlinkMs, nullptr)) {
        n.blinker.stop();
        return;
    }
    blink();
}

INT_PTR runNotice() {
    Notifier& n = notifier();
    if (n.dialog) return -1;  // one notice at a time
    NoticeDialog d;
    d.options = pop::readNoticeOptions(n.program->env.ini);
    d.counts = pop::countNewMail(n.program->tabs.first());
    // Owned by the window in front when it is one of ours; a foreign owner would tie its input
    // to this program's.
    HWND owner = GetForegroundWindow();
    DWORD pid = 0;
    if (owner) GetWindowThreadProcessId(owner, &pid);
    if (!owner || pid != GetCurrentProcessId()) owner = n.main;
    return DialogBoxParamA(n.instance, MAKEINTRESOURCEA(IDD_NOTICE), owner, noticeProc,
                           reinterpret_cast<LPARAM>(&d));
}

// After a receive run that reached the server's listing: tell the user as the options say.
void NotifyNewMail(WPARAM lastResult) {
    Notifier& n = notifier();
    const NoticeOptions o = pop::readNoticeOptions(n.program->env.ini);
    const pop::NewMailCounts counts = pop::countNewMail(n.program->tabs.first());
    const pop::NoticeDecision d =
        pop::decideNotice(o, counts, lastResult == 1, n.dialog != nullptr);
    startBlinking(o.catFoot);
    if (d.sound) platform::win32::playSoundFile(inProgramFolder(o.soundFile));
    // Opening viewers on new mail needs the viewer bridge, which is not part of this program yet.
    if (d.dialog) runNotice();
}

}  // namespace

void registerNotifyCommands(ShellContext& c) {
    Notifier& n = notifier();
    n.main = c.main;
    n.instance = c.instance;
    n.program = &c.program;
    n.thread = GetCurrentThreadId();
    WNDCLASSA wc{};
    wc.lpfnWndProc = boxProc;
    wc.hInstance = c.instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kAnimeClass;
    RegisterClassA(&wc);
    c.messages.onMessage(kMsgOpenNotice, [](WPARAM wp, LPARAM) { NotifyNewMail(wp); });
    c.messages.onMessage(kMsgCloseNotice, [](WPARAM, LPARAM) {
        if (HWND dlg = notifier().dialog) PostMessageA(dlg, WM_COMMAND, IDC_NOTICE_CLOSE, 0);
    });
    c.messages.onMessage(kMsgAfterNewMail, [](WPARAM, LPARAM) {
        HWND main = notifier().main;
        if (IsIconic(main)) ShowWindow(main, SW_RESTORE);
        bringToFront(main);
    });
    c.messages.onMessage(kMsgRunNotice,
                         [](WPARAM, LPARAM lp) { *reinterpret_cast<INT_PTR*>(lp) = runNotice(); });
    c.messages.onTimer(kBlinkTimer, blink);
}

void setNoticeOrders(std::vector<std::string> names) {
    std::lock_guard<std::mutex> hold(ordersLock());
    lastRunOrders() = std::move(names);
}

bool tabBlinkOn(const Tab& tab) {
    return notifier().blinker.on(tab);
}

}  // namespace kolvy::shell::win32

// The notice on request of a plug-in or sibling tool (exported by name).
extern "C" int KOLVY_STDCALL KVA_OpenDialog();
extern "C" int KOLVY_STDCALL KVA_OpenDialog() {
    using namespace kolvy::shell::win32;
    Notifier& n = notifier();
    if (!n.main) return -1;
    INT_PTR result = -1;
    if (GetCurrentThreadId() == n.thread) {
        result = runNotice();
    } else {
        SendMessageA(n.main, kMsgRunNotice, 0, reinterpret_cast<LPARAM>(&result));
    }
    return static_cast<int>(result);
}
