// What tests need around the code under test: a real program folder in a temporary place, a
// reporter whose answers are scripted and whose boxes can be read back, and a clock that stands
// where the test puts it.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/platform.h"

namespace kolvy::test {

class ScriptedReporter final : public platform::Reporter {
  public:
    struct Shown {
        std::string text, caption;
        platform::Icon icon;
        platform::Buttons buttons;
    };
    platform::Answer show(std::string_view text, std::string_view caption, platform::Icon icon,
                          platform::Buttons buttons) override;
    // Answers for the next OK/Cancel boxes, in order; without one a question gets Cancel.
    void answer(platform::Answer a) { answers_.push_back(a); }
    const std::vector<Shown>& shown() const { return shown_; }
    std::string lastText() const { return shown_.empty() ? std::string() : shown_.back().text; }
    void clear() { shown_.clear(); }

  private:
    std::vector<Shown> shown_;
    std::deque<platform::Answer> answers_;
};

// Local time is UTC shifted by a fixed offset (Japan, +9 hours, unless a test says otherwise).
class FakeClock final : public platform::Clock {
  public:
    explicit FakeClock(int64_t now = 1733400000, int64_t offset = 9 * 3600)
        : now_(now), offset_(offset) {}
    int64_t now() override { return now_; }
    bool toLocal(int64_t seconds, platform::LocalTime& out) override;
    void set(int64_t now) { now_ = now; }
    // Puts the clock at a local date and time.
    void setLocal(int year, int month, int day, int hour = 12, int minute = 0, int second = 0);
    void advance(int64_t seconds) { now_ += seconds; }

  private:
    int64_t now_, offset_;
};

// A fresh folder under the platform's temp folder, removed with everything in it at the end.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(std::string_view rel) const;

  private:
    std::string path_;
};

// An Env on a temporary program folder with the real file system and profile backends.
struct TestEnv {
    TestEnv();
    TempFolder folder;
    std::unique_ptr<platform::FileSystem> fs;
    std::unique_ptr<platform::Profile> ini;
    ScriptedReporter reporter;
    FakeClock clock;
    Env env;
    std::string path(std::string_view rel) const { return env.path(rel); }
    // The file's bytes, or "<missing>" when it cannot be read.
    std::string read(std::string_view rel) const;
    void write(std::string_view rel, std::string_view data) const;
};

// Files of the source tree's tests/data folder.
std::string testDataPath(std::string_view rel);
std::string readTestData(std::string_view rel);
// Any file's bytes by its path (a corpus beside the tests), or "" when it cannot be read.
std::string readFile(std::string_view path);

// Sets an environment variable of this process (children started later inherit it).
void setEnv(const char* name, const std::string& value);

// "key=value" lines (the servers files the server fixtures write); lines without '=' are skipped.
std::map<std::string, std::string> keyValueLines(std::string_view text);

}  // namespace kolvy::test
