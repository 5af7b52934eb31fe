#include "tests/support/test_env.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "core/calendar.h"
#include "core/sjis.h"
#include "core/timetext.h"
#include "platform/fileutil.h"

namespace kolvy::test {

platform::Answer ScriptedReporter::show(std::string_view text, std::string_view caption,
                                        platform::Icon icon, platform::Buttons buttons) {
    shown_.push_back({std::string(text), std::string(caption), icon, buttons});
    if (buttons == platform::Buttons::Ok) return platform::Answer::Ok;
    if (answers_.empty()) return platform::Answer::Cancel;
    const platform::Answer a = answers_.front();
    answers_.pop_front();
    return a;
}

bool FakeClock::toLocal(int64_t seconds, platform::LocalTime& out) {
    out = civilTime(seconds, offset_);
    return true;
}

void FakeClock::setLocal(int year, int month, int day, int hour, int minute, int second) {
    const int64_t days = daysFromCivil(year, month, day);  // the inverse of civilTime
    now_ = days * 86400 + hour * 3600 + minute * 60 + second - offset_;
}

namespace {
std::atomic<int> g_counter{0};
}

TempFolder::TempFolder() {
    auto fs = platform::makeFileSystem();
    const std::string base = sjis::joinPath(platform::tempFolder(), "kolvy-tests");
    platform::makeDirs(*fs, base);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "t%lld-%d",
                      static_cast<long long>(platform::systemClock().now()), g_counter++);
        const std::string p = sjis::joinPath(base, name);
        if (fs->makeDir(p) == Err::None) {
            path_ = p;
            return;
        }
    }
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    auto fs = platform::makeFileSystem();
    platform::removeTree(*fs, path_);
}

std::string TempFolder::operator/(std::string_view rel) const {
    return sjis::joinPath(path_, rel);
}

TestEnv::TestEnv()
    : fs(platform::makeFileSystem()),
      ini(platform::makeProfile(sjis::joinPath(folder.path(), "Kolvy.ini"), *fs)),
      env{*fs, *ini, reporter, clock, folder.path()} {}

std::string TestEnv::read(std::string_view rel) const {
    auto data = platform::readWholeFile(*fs, path(rel));
    return data ? *data : std::string("<missing>");
}

void TestEnv::write(std::string_view rel, std::string_view data) const {
    const std::string p = path(rel);
    platform::makeDirs(*fs, std::string(sjis::parentPath(p)));
    platform::writeWholeFile(*fs, p, data);
}

std::string testDataPath(std::string_view rel) {
    return sjis::joinPath(KOLVY_TEST_DATA_DIR, rel);
}

std::string readTestData(std::string_view rel) {
    auto fs = platform::makeFileSystem();
    auto data = platform::readWholeFile(*fs, testDataPath(rel));
    return data ? *data : std::string();
}

std::string readFile(std::string_view path) {
    auto fs = platform::makeFileSystem();
    auto data = platform::readWholeFile(*fs, path);
    return data ? *data : std::string();
}

void setEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

std::map<std::string, std::string> keyValueLines(std::string_view text) {
    std::map<std::string, std::string> m;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        const size_t eq = line.find('=');
        if (eq != std::string_view::npos)
            m[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    return m;
}

}  // namespace kolvy::test
