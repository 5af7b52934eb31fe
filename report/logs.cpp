#include "report/logs.h"

#include "core/sjis.h"
#include "core/timetext.h"
#include "platform/fileutil.h"
#include "report/report.h"

namespace kolvy::report {
namespace {

constexpr char kLogFolder[] = "_Log";

std::string runLogName(RunLogKind kind) {
    return kind == RunLogKind::Receive ? "受信ログ" : "送信ログ";
}

}  // namespace

void appendCommLog(Env& env, std::string_view text) {
    std::string line(text);
    if (!line.empty() && line.back() == '\x01') {
        line.pop_back();
    } else if (line.empty() || line.back() != '\n') {
        line += "\r\n";
    }
    const std::string folder = env.path(kLogFolder);
    platform::makeDirs(env.fs, folder);
    const std::string path =
        sjis::joinPath(folder, "通信ログ" + yearMonth(env.clock.localNow()) + ".txt");
    // Nothing to fall back on when the log itself fails: the caller's work goes on.
    platform::appendToFile(env.fs, path, line);
}

void appendErrorLog2(Env& env, std::string_view text) {
    std::string line = tenDigitTime(env.clock.localNow());
    line += ": ";
    line += text;
    line += '\n';
    platform::appendToFile(env.fs, env.path("ErrorLog2.txt"), line);
}

std::string runLogPath(Env& env, RunLogKind kind) {
    const std::string name = runLogName(kind);
    return sjis::joinPath(sjis::joinPath(env.path(kLogFolder), name),
                          name + yearMonth(env.clock.localNow()) + ".txt");
}

RunLog RunLog::open(Env& env, RunLogKind kind) {
    RunLog log;
    const std::string path = runLogPath(env, kind);
    platform::makeDirs(env.fs, std::string(sjis::parentPath(path)));

    auto size = env.fs.fileSize(path);
    if (size && *size >= env.logSize.load()) {
        // Keep the full log under the first free "_N" name and start afresh.
        const std::string stem = path.substr(0, path.size() - 4);  // without ".txt"
        for (int n = 1; n < 10000; ++n) {
            const std::string target = stem + "_" + std::to_string(n) + ".txt";
            if (env.fs.exists(target)) continue;
            env.fs.rename(path, target);
            break;
        }
    }
    auto file = env.fs.open(path, platform::OpenMode::Append);
    if (!file) {
        report(env, kRunLogOpenFailed);
        return log;
    }
    log.file_ = file.take();
    return log;
}

void RunLog::write(std::string_view text) {
    if (!file_) return;
    if (file_->write(text) != Err::None) file_.reset();
}

void RunLog::close() {
    if (!file_) return;
    file_->flush();
    file_.reset();
}

}  // namespace kolvy::report
