// Message analysis on arbitrary bytes: the pure walk checked for its invariants, then the whole
// filing into a real program folder in a temporary place (one per process, emptied as it fills).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "core/sjis.h"
#include "mime/analyze.h"
#include "platform/fileutil.h"
#include "platform/silent_reporter.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"

namespace {

using namespace kolvy;

void check(bool ok, int line) {
    if (!ok) {
        std::fprintf(stderr, "analyze_fuzz: check at line %d failed\n", line);
        std::abort();
    }
}
#define CHECK(x) check((x), __LINE__)

// Messages stored before the tab folder is emptied again.
constexpr int kFilesPerFolder = 500;
constexpr unsigned kFilingEvery = 64;

struct Home {
    Home() : fs(platform::makeFileSystem()) {
        name = "kolvy-fuzz-analyze-" + std::to_string(::getpid());
        folder = sjis::joinPath(platform::tempFolder(), name);
        platform::makeDirs(*fs, sjis::joinPath(folder, "MailData"));
        ini = platform::makeProfile(sjis::joinPath(folder, "Kolvy.ini"));
        env.reset(new Env{*fs, *ini, reporter, platform::systemClock(), folder});
        env->unattended = true;
        tabs.load(*env);
        context = std::make_unique<mime::AnalyzeContext>(*env, tabs);
        context->requestTemporaryTab = [] {};
    }
    ~Home() {
        context.reset();
        tabs.clear();
        env.reset();
        ini.reset();
        // The folder by its native name: at exit the platform's own path conversion may be gone.
        const char* t = std::getenv("TMPDIR");
        std::error_code ec;
        std::filesystem::remove_all(std::string(t && *t ? t : "/tmp") + "/" + name, ec);
    }
    void empty(Tab& tab) {
        const std::string tf = store::tabFolder(*env, tab);
        for (int n = 0; n < tab.nextFileNo && n < store::kFileNumberLimit; ++n)
            fs->remove(sjis::joinPath(tf, store::messageFileName(n)));
        fs->remove(store::indexPath(*env, tab));
        store::createIndexFile(*env, tf);
        tab.nextFileNo = 0;
    }
    std::unique_ptr<platform::FileSystem> fs;
    std::unique_ptr<platform::Profile> ini;
    platform::SilentReporter reporter;
    std::string name, folder;
    std::unique_ptr<Env> env;
    store::TabRegistry tabs;
    std::unique_ptr<mime::AnalyzeContext> context;
};

Home& home() {
    static Home h;
    return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(1, '\n');
    text.append(reinterpret_cast<const char*>(data), size);

    const mime::Analysis a = mime::analyzeText(text, "2612071030");
    const std::string file = a.fileText();
    CHECK(file.size() >= store::kStatusLineSize && file[0] == '\f');
    CHECK(file.find('\0') == std::string::npos);
    CHECK(a.bodyStart <= a.output.size());
    for (const mime::TextSegment& s : a.segments)
        CHECK(s.start <= s.end && s.end <= a.output.size());
    // Every part line's offset lies in the file, right after a line break.
    size_t pos = a.bodyStart;
    for (int k = 0; k < a.partLineCount; ++k) {
        const size_t end = file.find("\r\n", pos);
        CHECK(end != std::string::npos);
        const size_t semi = file.rfind("; ", end);
        CHECK(semi != std::string::npos && semi >= pos);
        const unsigned long offset = std::strtoul(file.c_str() + semi + 2, nullptr, 10);
        CHECK(offset >= 2 && offset <= file.size());
        CHECK(file[offset - 1] == '\n');
        pos = end + 2;
    }

    // Filing flushes every file it writes: only every kFilingEvery-th input goes the whole way,
    // so that the walk itself gets most of the time.
    static unsigned runs = 0;
    if (runs++ % kFilingEvery != 0) return 0;
    Home& h = home();
    Tab* tab = h.tabs.basicTab(store::kReceiveTab);
    if (!tab) return 0;
    if (tab->nextFileNo >= kFilesPerFolder) h.empty(*tab);
    ServerEntry entry{};
    entry.size = static_cast<uint32_t>(size);
    const mime::AnalyzeOutcome o = mime::mailAnalyze(*h.context, text, entry);
    if (o.kind == mime::AnalyzeOutcome::Stored && o.tab) {
        auto stored = platform::readWholeFile(*h.fs, store::messagePath(*h.env, *o.tab, o.fileNo));
        CHECK(stored && stored->size() == file.size());
    }
    return 0;
}
