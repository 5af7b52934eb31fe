#include "pop/checker_bridge.h"

#include "report/report.h"

namespace kolvy::pop {

std::string checkerLibraryName(platform::Profile& ini) {
    auto name = ini.read("Option", "MailChecker");
    return name && !name->empty() ? *name : std::string(kCheckerDefault);
}

// The checker may look at the box flag while the box shows.
int CheckerBridge::fail(const char* text) {
    state_.boxShowing = 1;
    report::report(env_, text, platform::Icon::Exclamation);
    state_.boxShowing = 0;
    return 1;
}

int CheckerBridge::open(uintptr_t mainWindow, int32_t mode) {
    if (!loaded_ && !loader_.load(checkerLibraryName(env_.ini))) return fail(kTextCheckerLoad);
    loaded_ = true;
    auto make = reinterpret_cast<MakeCheckerWindowFn>(loader_.entry("MakeCheckerWindow"));
    if (!make) return fail(kTextCheckerNoWindow);
    auto check = reinterpret_cast<MailCheckFn>(loader_.entry("MailCheck"));
    if (!check) return fail(kTextCheckerNoCheck);
    mailCheck_ = check;
    checkerOpen_ = true;
    // The flags are plain 32-bit integers for the checker (asserted where they are declared).
    const int rc = make(mainWindow, mode, reinterpret_cast<int32_t*>(&state_.abortRequested),
                        reinterpret_cast<int32_t*>(&state_.boxShowing));
    checkerOpen_ = false;
    if (rc != 0) return fail(kTextCheckerFailed);
    return 0;
}

}  // namespace kolvy::pop
