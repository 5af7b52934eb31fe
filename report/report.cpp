#include "report/report.h"

#include "core/sjis.h"
#include "report/logs.h"

namespace kolvy::report {

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
    report(env, text, oneLine(text), icon);
}

void report(Env& env, std::string_view text, std::string_view logLine, platform::Icon icon,
            Abort abort) {
    logFailure(env, logLine, abort);
    if (!env.unattended.load() && abort == Abort::No) {
        env.reporter.show(text, kAppTitle, icon, platform::Buttons::Ok);
    }
}

void logFailure(Env& env, std::string_view logLine, Abort abort) {
    if (logsFailures(env) || abort == Abort::Yes) appendCommLog(env, logLine);
}

platform::RetryNote retryNote(Env& env, std::string path) {
    return [&env, path = std::move(path)](int failedTry, Err why) {
        logFailure(env, path + "：" + std::to_string(failedTry) + "回目が失敗しました（" +
                            std::string(errName(why)) + "）。再試行します。");
    };
}

platform::Answer ask(Env& env, std::string_view text, platform::Icon icon) {
    if (env.unattended.load()) {
        appendCommLog(env, oneLine(text));
        return platform::Answer::Cancel;
    }
    logFailure(env, oneLine(text));
    return env.reporter.show(text, kAppTitle, icon, platform::Buttons::OkCancel);
}

}  // namespace kolvy::report
