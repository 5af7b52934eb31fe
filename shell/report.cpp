#include "shell/report.h"

#include "core/sjis.h"
#include "shell/logs.h"

namespace kolvy::shell {

std::string oneLine(std::string_view text) {
    std::string out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(start, nl - start);
        while (!line.empty() &&
               (line.back() == ' ' || line.back() == '\r' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        out.append(line);
        start = nl + 1;
    }
    return out;
}

void report(Env& env, std::string_view text, platform::Icon icon) {
    const bool unattended = env.unattended.load();
    if (unattended || env.logOut.load()) appendCommLog(env, oneLine(text));
    if (!unattended) env.reporter.show(text, kAppTitle, icon, platform::Buttons::Ok);
}

void report(Env& env, std::string_view text, std::string_view logLine, platform::Icon icon) {
    const bool unattended = env.unattended.load();
    if (unattended || env.logOut.load()) appendCommLog(env, logLine);
    if (!unattended) env.reporter.show(text, kAppTitle, icon, platform::Buttons::Ok);
}

platform::Answer ask(Env& env, std::string_view text, platform::Icon icon) {
    if (env.unattended.load()) {
        appendCommLog(env, oneLine(text));
        return platform::Answer::Cancel;
    }
    if (env.logOut.load()) appendCommLog(env, oneLine(text));
    return env.reporter.show(text, kAppTitle, icon, platform::Buttons::OkCancel);
}

}  // namespace kolvy::shell
