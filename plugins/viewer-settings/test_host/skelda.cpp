// Skelda.exe: a stand-in for the mail viewer that loads Brellin.dll, built for the tests only.
// Like a viewer it owns the settings record, the shortcut, header and view-script lists (read
// from "Ombrel.ini" and "_ViewScript\ViewScript.txt" beside it), calls the library's exports and
// exports the call-back the library looks up by name.
//   Skelda.exe settings <mode>   runs Brellin(owner, ..., mode) and exits
//   Skelda.exe script <address>  opens ViewScript(owner, address, ...) and runs until its own
//                                window is closed; WM_COPYDATA to that window (class
//                                "SkeldaViewer") calls SelectViewScript with the sent address.
// On exit it writes what it holds to "host-state.txt"; every call-back is a line of "reread.txt".
#include <windows.h>

#include <cstring>
#include <string>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "platform/platform.h"
#include "plugins/viewer-settings/script_logic.h"
#include "plugins/viewer-settings/settings_logic.h"

using namespace kolvy;
using namespace kolvy::viewer;

namespace {

using BrellinFn = int(WINAPI*)(HWND, ViewerSettings*, ShortcutNode*, CustomHeaderNode*, int);
using ViewScriptFn = HWND(WINAPI*)(HWND, const char*, ViewScriptNode*);
using SelectFn = void(WINAPI*)(const char*);

struct Viewer {
    std::string folder;
    std::unique_ptr<platform::FileSystem> fs = platform::makeFileSystem();
    ViewerSettings settings{};
    ShortcutNode shortcuts{};
    CustomHeaderNode headers{};
    ViewScriptNode scripts{};
    SelectFn select = nullptr;
};
Viewer* g_viewer = nullptr;

void load(Viewer& v) {
    auto ini = platform::makeProfile(v.folder + "\\Ombrel.ini");
    auto num = [&](const char* key, int def) {
        return static_cast<int>(platform::readInt(*ini, kOmbrelSection, key, def));
    };
    v.settings.fontSize = num("FontSize", 12);
    sjis::copyBounded(v.settings.fontFace, kViewerFaceMax + 1,
                      platform::readString(*ini, kOmbrelSection, "FontType", "ＭＳ ゴシック"));
    v.settings.spaceBar = num("SpaceBar", 0);
    v.settings.lineDown = num("LineDown", 1);
    v.settings.statusChangeTiming1 = num("StatusChangeTiming1", 1);
    v.settings.statusChangeTiming2 = num("StatusChangeTiming2", 0);
    v.settings.statusChangeTime = num("StatusChangeTime", 3);
    v.settings.statusChangeTiming3 = num("StatusChangeTiming3", 0);
    int32_t* general[] = {&v.settings.htmlDisplay, &v.settings.positionFix,
                          &v.settings.noDoubleWindow, &v.settings.fixHeaderView,
                          &v.settings.autoReturn};
    for (int i = 0; i < kGeneralCount; ++i)
        *general[i] = num(kGeneralKeys[i], 0);
    for (int i = 0; i < kTitleFieldCount; ++i)
        v.settings.title[i] = num(kTitleKeys[i], 1);
    std::vector<int> keys = parseShortcuts(platform::readString(*ini, kOmbrelSection, "ShortCut"));
    for (int i = 0; i < kShortcutCount; ++i) {
        auto* n = viewerNew<ShortcutNode>();
        n->key = i < static_cast<int>(keys.size()) && keys[i] ? keys[i] : kStandardKeys[i];
        listAppend(v.shortcuts, n);
    }
    rebuildHeaders(v.headers, splitHeaders(platform::readString(
                                  *ini, kOmbrelSection, "CustomHeaderStr", "From:;To:;Subject:")));
    if (auto text = platform::readWholeFile(*v.fs, v.folder + "\\_ViewScript\\ViewScript.txt"))
        parseScripts(*text, v.scripts);
}

std::string dump(Viewer& v, int result) {
    const ViewerSettings& s = v.settings;
    std::string out = "result=" + std::to_string(result) + "\r\n";
    out += "font=" + std::to_string(s.fontSize) + " " + std::string(sjis::fieldView(s.fontFace));
    out += "\r\nscroll=" + std::to_string(s.spaceBar) + " " + std::to_string(s.lineDown);
    out += "\r\nread=" + std::to_string(s.statusChangeTiming1) +
           std::to_string(s.statusChangeTiming2) + std::to_string(s.statusChangeTiming3) + " " +
           std::to_string(s.statusChangeTime);
    out += "\r\ngeneral=" + std::to_string(s.htmlDisplay) + std::to_string(s.positionFix) +
           std::to_string(s.noDoubleWindow) + std::to_string(s.fixHeaderView) +
           std::to_string(s.autoReturn);
    out += "\r\ntitle=";
    for (int t : s.title)
        out += std::to_string(t);
    std::vector<int> keys, pending;
    for (ShortcutNode* n : listRange(v.shortcuts)) {
        keys.push_back(n->key);
        pending.push_back(n->pending);
    }
    out += "\r\nkeys=" + formatShortcuts(keys) + "\r\npending=" + formatShortcuts(pending);
    std::vector<std::string> names;
    for (CustomHeaderNode* n : listRange(v.headers))
        names.push_back(n->name);
    out += "\r\nheaders=" + joinHeaders(names) + "\r\n";
    return out + formatScripts(v.scripts);
}

}  // namespace

extern "C" void WINAPI KVA_ReReadOmbrel(ViewScriptNode* node) {
    if (!g_viewer) return;
    const std::string line =
        "reread " + std::string(node ? sjis::fieldView(node->address) : "") + "\r\n";
    platform::appendToFile(*g_viewer->fs, g_viewer->folder + "\\reread.txt", line);
}

namespace {

LRESULT CALLBACK viewerProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_COPYDATA && g_viewer && g_viewer->select) {
        const auto* cd = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        const std::string address(static_cast<const char*>(cd->lpData), cd->cbData);
        g_viewer->select(address.c_str());
        return TRUE;
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(h, msg, wp, lp);
}

HWND createViewerWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = viewerProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "SkeldaViewer";
    RegisterClassA(&wc);
    HWND h = CreateWindowExA(0, "SkeldaViewer", "Skelda", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                             nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(h, SW_SHOW);
    return h;
}

int runScriptEditor(Viewer& v, HMODULE lib, HWND owner, const char* address) {
    auto open =
        reinterpret_cast<ViewScriptFn>(reinterpret_cast<void*>(GetProcAddress(lib, "ViewScript")));
    v.select = reinterpret_cast<SelectFn>(
        reinterpret_cast<void*>(GetProcAddress(lib, "SelectViewScript")));
    if (!open || !v.select || !open(owner, address, &v.scripts)) return -1;
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Viewer v;
    g_viewer = &v;
    v.folder = std::string(sjis::parentPath(platform::executablePath()));
    load(v);
    HMODULE lib = LoadLibraryA("Brellin.dll");
    if (!lib) return 3;
    HWND owner = createViewerWindow();
    const int argc = __argc;
    const std::string what = argc > 1 ? __argv[1] : "";
    const std::string arg = argc > 2 ? __argv[2] : "";
    int result = -1;
    if (what == "settings") {
        auto brellin =
            reinterpret_cast<BrellinFn>(reinterpret_cast<void*>(GetProcAddress(lib, "Brellin")));
        if (brellin)
            result = brellin(owner, &v.settings, &v.shortcuts, &v.headers, std::atoi(arg.c_str()));
    } else if (what == "script") {
        result = runScriptEditor(v, lib, owner, arg.c_str());
    }
    platform::writeWholeFile(*v.fs, v.folder + "\\host-state.txt", dump(v, result));
    return 0;
}
