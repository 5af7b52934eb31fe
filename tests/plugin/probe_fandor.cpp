// A stand-in search plug-in for the plug-in tests. Loaded by Kolvy.exe as "Fandor.dll", it binds
// the host's exports by name as the search plug-in does (and refuses to load without them), then
// walks the tab list and every tab's entries by pointer at the published offsets of a 32-bit
// plug-in and writes what it saw to "plugin-probe.txt" in the program folder, one line each.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/records.h"

namespace {

// Where a plug-in finds the fields. On 32 bits these are the published numbers, written out
// rather than taken from the host's headers, so that a layout change in the host shows here.
#if KOLVY_ABI32
constexpr size_t kTabKind = 12, kTabName = 32, kTabNext = 108, kTabItems = 140,
                 kTabLoadState = 1536, kTabAllMailCount = 1540;
constexpr size_t kItemNumber = 4, kItemState = 12, kItemStoredTime = 36, kItemOffset = 60,
                 kItemSubject = 468, kItemNext = 1380;
#else
constexpr size_t kTabKind = offsetof(Tab, kind), kTabName = offsetof(Tab, name),
                 kTabNext = offsetof(Tab, next), kTabItems = offsetof(Tab, items),
                 kTabLoadState = offsetof(Tab, loadState),
                 kTabAllMailCount = offsetof(Tab, allMailCount);
constexpr size_t kItemNumber = offsetof(MailItem, number), kItemState = offsetof(MailItem, state),
                 kItemStoredTime = offsetof(MailItem, storedTime),
                 kItemOffset = offsetof(MailItem, offset),
                 kItemSubject = offsetof(MailItem, subject), kItemNext = offsetof(MailItem, next);
#endif

using ReadAllFn = int(WINAPI*)(void*);
using TabStatusFn = void(WINAPI*)();
using PathFn = void(WINAPI*)(void*, char*);
ReadAllFn g_readAll = nullptr;
TabStatusFn g_tabStatus = nullptr;
PathFn g_path = nullptr;

template <class Fn>
Fn bind(HMODULE host, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(host, name)));
}

template <class T>
T field(const void* record, size_t offset) {
    T v;
    std::memcpy(&v, static_cast<const char*>(record) + offset, sizeof v);
    return v;
}
std::string text(const void* record, size_t offset) {
    return static_cast<const char*>(record) + offset;
}

std::string programFolder() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string s = exe;
    return s.substr(0, s.find_last_of('\\'));
}

// "tab|name|kind|loadState before|AllMokujiRead result|loadState after|allMailCount|path|entries"
// then "item|number|state|storedTime|offset|subject" for each entry, in list order.
std::string walk(void* head) {
    std::string out = "pointer|" + std::to_string(sizeof(void*)) + "\n";
    for (void* tab = field<void*>(head, kTabNext); tab; tab = field<void*>(tab, kTabNext)) {
        const int32_t before = field<int32_t>(tab, kTabLoadState);
        const int added = g_readAll(tab);
        char path[MAX_PATH + 16];
        std::memset(path, 'x', sizeof path);
        g_path(tab, path);
        path[MAX_PATH - 1] = path[MAX_PATH - 1] ? '?' : '\0';  // the host wrote past 260 bytes
        std::string items;
        int count = 0;
        const void* sentinel = static_cast<char*>(tab) + kTabItems;
        for (void* m = field<void*>(sentinel, kItemNext); m; m = field<void*>(m, kItemNext)) {
            ++count;
            items += "item|" + text(m, kItemNumber) + "|" +
                     std::to_string(field<uint8_t>(m, kItemState)) + "|" +
                     std::to_string(field<uint32_t>(m, kItemStoredTime)) + "|" +
                     std::to_string(field<uint32_t>(m, kItemOffset)) + "|" + text(m, kItemSubject) +
                     "\n";
        }
        out += "tab|" + text(tab, kTabName) + "|" + std::to_string(field<int32_t>(tab, kTabKind)) +
               "|" + std::to_string(before) + "|" + std::to_string(added) + "|" +
               std::to_string(field<int32_t>(tab, kTabLoadState)) + "|" +
               std::to_string(field<int32_t>(tab, kTabAllMailCount)) + "|" + path + "|" +
               std::to_string(count) + "\n" + items;
    }
    g_tabStatus();
    return out;
}

}  // namespace

extern "C" {

int WINAPI FandorFunc(HWND owner, void* tabHead) {
    (void)owner;
    const std::string out = walk(tabHead);
    const std::string file = programFolder() + "\\plugin-probe.txt";
    const std::string tmp = file + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
        std::fwrite(out.data(), 1, out.size(), f);
        std::fclose(f);
        MoveFileExA(tmp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    HMODULE host = GetModuleHandleA("Kolvy.exe");
    if (!host) return FALSE;
    g_readAll = bind<ReadAllFn>(host, "AllMokujiRead");
    g_tabStatus = bind<TabStatusFn>(host, "TabStatus");
    g_path = bind<PathFn>(host, "GetCurrentPath");
    return g_readAll && g_tabStatus && g_path;
}

}  // extern "C"
