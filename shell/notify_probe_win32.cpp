// A stand-in plug-in for the notice tests. Loaded by the search command as "Fandor.dll", it acts
// on the word in "notify-probe.txt" of the program folder:
//   mark  - does to the in-memory entries of the receive tabs what storing received mail does:
//           each entry gets the arrival mark and counts as unread new mail (a receive run would);
//   open  - calls the host's KVA_OpenDialog by name and writes its result;
//   zorvan - loads the stand-in utility library "Zorvan.dll" of the program folder.
// It answers in "notify-probe-done.txt".
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/records.h"

namespace {

std::string programFolder() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string s = exe;
    return s.substr(0, s.find_last_of('\\'));
}

std::string readWord(const std::string& file) {
    char buf[32] = {};
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
        const size_t n = std::fread(buf, 1, sizeof buf - 1, f);
        buf[n] = '\0';
        std::fclose(f);
    }
    return buf;
}

void answer(const std::string& text) {
    const std::string file = programFolder() + "\\notify-probe-done.txt";
    const std::string tmp = file + ".tmp";
    if (FILE* f = std::fopen(tmp.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        MoveFileExA(tmp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
}

int markArrivals(Tab* head) {
    int marked = 0;
    for (Tab* t = head->next; t; t = t->next) {
        if (t->kind != 0) continue;
        for (MailItem* m = t->items.next; m; m = m->next) {
            m->newMark = 2;
            ++t->newMailCount;
            ++marked;
        }
    }
    return marked;
}

}  // namespace

extern "C" {

int WINAPI FandorFunc(HWND owner, Tab* head) {
    (void)owner;
    const std::string word = readWord(programFolder() + "\\notify-probe.txt");
    if (word == "mark") {
        answer("marked " + std::to_string(markArrivals(head)));
    } else if (word == "open") {
        using OpenFn = int(WINAPI*)();
        auto open = reinterpret_cast<OpenFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "KVA_OpenDialog")));
        answer(open ? "result " + std::to_string(open()) : std::string("no export"));
    } else if (word == "zorvan") {
        const bool loaded = LoadLibraryA((programFolder() + "\\Zorvan.dll").c_str()) != nullptr;
        answer(loaded ? "loaded" : "not loaded");
    }
    return 0;
}

}  // extern "C"
