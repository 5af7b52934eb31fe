// The tests' mail checker: records how the program called it, and in its stand-alone mode hands
// the program a list of messages and actions through KVA_Recieve, as a checker does once its user
// has chosen. Files are read and written in the current folder (the program folder).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/records.h"

namespace {

using Recieve = int(KOLVY_STDCALL*)(CheckerItem*, int32_t);

CheckerItem gItems[32];

// "checker_items.txt": the account number on the first line, then "<uidl> <action>" lines.
int readItems(int32_t& account) {
    FILE* f = std::fopen("checker_items.txt", "rb");
    if (!f) return 0;
    int n = 0;
    if (std::fscanf(f, "%d", &account) != 1) account = 0;
    char uidl[80];
    int action = 0;
    while (n < 32 && std::fscanf(f, "%79s %d", uidl, &action) == 2) {
        gItems[n] = CheckerItem{};
        std::memcpy(gItems[n].uidl, uidl, std::strlen(uidl) + 1);
        gItems[n].action = action;
        if (n > 0) gItems[n - 1].next = &gItems[n];
        ++n;
    }
    std::fclose(f);
    return n;
}

}  // namespace

extern "C" int KOLVY_STDCALL MakeCheckerWindow(uintptr_t main, int32_t mode, int32_t* abort,
                                               int32_t* box) {
    if (FILE* f = std::fopen("checker_window.txt", "ab")) {
        std::fprintf(f, "%d %d %d %d\n", mode, main != 0, abort ? *abort : -1, box ? *box : -1);
        std::fclose(f);
    }
    if (mode != 2) return 0;
    int32_t account = 0;
    const int n = readItems(account);
    auto recieve = reinterpret_cast<Recieve>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "KVA_Recieve")));
    const int rc = recieve ? recieve(n ? gItems : nullptr, account) : -1;
    if (FILE* f = std::fopen("checker_results.txt", "wb")) {
        std::fprintf(f, "%d\n", rc);
        for (int i = 0; i < n; ++i)
            std::fprintf(f, "%s %d\n", gItems[i].uidl, gItems[i].result);
        std::fclose(f);
    }
    return 0;
}

extern "C" int KOLVY_STDCALL MailCheck(int32_t zero, int32_t account) {
    if (FILE* f = std::fopen("checker_mailcheck.txt", "ab")) {
        std::fprintf(f, "%d %d\n", zero, account);
        std::fclose(f);
    }
    return 0;
}
