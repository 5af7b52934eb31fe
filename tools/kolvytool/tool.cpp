#include "tools/kolvytool/tool.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <new>
#include <set>

#include "core/sjis.h"
#include "mime/analyze.h"
#include "platform/fileutil.h"
#include "pop/md5.h"
#include "pop/uidl_journal.h"
#include "shell/program.h"
#include "store/attachments.h"
#include "store/commit.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/rebuild.h"
#include "tools/kolvytool/kill_switch.h"

namespace kolvy::tool {

namespace {

// Files larger than this are not imported: a 32-bit process holds the text several times over.
constexpr uint64_t kImportFileMax = 1ull << 30;

constexpr char kUsage[] = "usage: kolvytool <command> <program-folder> [arguments]\n";

// The console says what a box would have said and answers no question with OK.
class ConsoleReporter final : public platform::Reporter {
  public:
    explicit ConsoleReporter(std::function<void(std::string_view)> err) : err_(std::move(err)) {}
    platform::Answer show(std::string_view text, std::string_view, platform::Icon,
                          platform::Buttons) override {
        err_(toTerminal(text) + "\n");
        return platform::Answer::Cancel;
    }

  private:
    std::function<void(std::string_view)> err_;
};

Tab* chooseTab(Tool& tool, const Arguments& a, size_t at) {
    if (a.positional.size() <= at) return tool.tabs.basicTab(store::kReceiveTab);
    Tab* t = tool.tabs.findByName(fromTerminal(a.positional[at]));
    if (!t) tool.err("kolvytool: no tab named " + std::string(a.positional[at]) + "\n");
    return t;
}

std::string_view recordView(const std::string& bytes, const MailItem& item,
                            store::RecordView& out) {
    if (!store::parseRecord(bytes, item.offset, out)) return {};
    return std::string_view(bytes).substr(item.offset, out.length);
}

}  // namespace

bool Arguments::has(std::string_view option) const {
    return std::find(options.begin(), options.end(), option) != options.end();
}

Arguments splitArguments(std::span<const std::string_view> args) {
    Arguments a;
    for (std::string_view s : args) {
        if (s.size() > 2 && s.substr(0, 2) == "--") {
            a.options.push_back(s);
        } else {
            a.positional.push_back(s);
        }
    }
    return a;
}

std::span<const Command> commands() {
    static const Command kCommands[] = {
        {"import", "import <program-folder> <file>...", importCommand},
        {"list", "list <program-folder> [<tab-name>] [--utf8]", listCommand, false},
        {"check", "check <program-folder> [--repair]", checkCommand, false},
        {"extract", "extract <program-folder> <tab-name> <file-number> <dest-folder>",
         extractCommand, false},
        {"sort", "sort <program-folder> [<tab-name>]", sortToolCommand},
        {"receive", "receive <program-folder> <order-name>", receiveCommand},
        {"send", "send <program-folder> [<tab-name>]", sendCommand},
        {"draft", "draft <program-folder> <file> [--attach <file>...]", draftCommand},
        {"compose",
         "compose <program-folder> new|reply|forward [<tab> <file-number>] [--kind 0|1|2] --editor "
         "<program> --save waiting|unfinished|send",
         composeCommand},
    };
    return kCommands;
}

std::string fromTerminal(std::string_view text) {
#if defined(_WIN32)
    return std::string(text);  // the ANSI code page is the program's own
#else
    return platform::utf8ToSjis(text).value_or(std::string(text));
#endif
}

std::string toTerminal(std::string_view sjis) {
#if defined(_WIN32)
    return std::string(sjis);
#else
    return platform::sjisToUtf8(sjis).value_or(std::string(sjis));
#endif
}

std::vector<std::string> splitMbox(std::string_view mbox) {
    std::vector<std::string> out;
    std::string current;
    bool inMessage = false;
    size_t i = 0;
    bool blankBefore = true;
    while (i < mbox.size()) {
        size_t e = mbox.find('\n', i);
        e = e == std::string_view::npos ? mbox.size() : e + 1;
        std::string_view line = mbox.substr(i, e - i);
        i = e;
        if (line.substr(0, 5) == "From " && blankBefore) {
            if (inMessage) out.push_back(std::move(current));
            current.clear();
            inMessage = true;
            blankBefore = false;
            continue;
        }
        // ">From " (any number of ">") lost one ">" when it was written.
        size_t q = 0;
        while (q < line.size() && line[q] == '>')
            ++q;
        if (q > 0 && line.substr(q, 5) == "From ") line.remove_prefix(1);
        blankBefore = line == "\n" || line == "\r\n";
        if (inMessage) current.append(line);
    }
    if (inMessage) out.push_back(std::move(current));
    // The blank line before each separator belongs to the file, not to the message.
    for (std::string& m : out) {
        if (m.size() >= 2 && m.compare(m.size() - 2, 2, "\n\n") == 0) {
            m.pop_back();
        } else if (m.size() >= 4 && m.compare(m.size() - 4, 4, "\r\n\r\n") == 0) {
            m.resize(m.size() - 2);
        }
    }
    return out;
}

namespace {

// Which messages of the files an import named are stored: a second import of the same files after
// a kill takes only the rest. Removed when an import stored everything.
constexpr char kImportJournal[] = "_Log\\kolvytool-import.jnl";

struct ImportText {
    std::string text;  // as analysis takes it: LF first, the "." line last
    size_t size = 0;   // of the message itself
};

std::vector<ImportText> importTexts(std::string data) {
    std::vector<std::string> messages;
    if (data.compare(0, 5, "From ") == 0) {
        messages = splitMbox(data);
    } else {
        messages.push_back(std::move(data));
    }
    std::vector<ImportText> out;
    out.reserve(messages.size());
    for (std::string& m : messages) {
        ImportText t;
        t.size = m.size();
        t.text.reserve(m.size() + 8);
        t.text += '\n';
        t.text += m;
        if (t.text.back() != '\n' && t.text.back() != '\r') t.text += "\r\n";
        t.text += ".\r\n";
        std::string().swap(m);
        out.push_back(std::move(t));
    }
    return out;
}

}  // namespace

int importCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    if (a.positional.size() < 2) {
        tool.err("usage: kolvytool import <program-folder> <file>...\n");
        return 2;
    }
    // Unattended: failures go to the communication log, as in a timer-started receive.
    tool.env.unattended = true;
    mime::AnalyzeContext context(tool.env, tool.tabs);
    context.accounts = tool.accounts.head().next;
    // Nobody makes a temporary tab for the tool: a full basic tab fails the message.
    context.requestTemporaryTab = [] {};
    // One commit per batch and at the end, none per message.
    store::WriteBatch batch;
    context.index.batch = &batch;
    pop::UidlJournal journal(tool.env, kImportJournal);
    std::set<std::string> done;
    for (std::string& id : journal.wholeIds())
        done.insert(std::move(id));
    journal.start();
    int stored = 0, failed = 0, skipped = 0, result = 0;
    bool commitFailed = false;
    for (size_t k = 1; k < a.positional.size(); ++k) {
        const std::string path = fromTerminal(a.positional[k]);
        auto data = platform::readWholeFile(tool.env.fs, path, kImportFileMax);
        if (!data) {
            tool.err("kolvytool: cannot read " + std::string(a.positional[k]) + "\n");
            result = 1;
            continue;
        }
        const std::string source = pop::md5Hex(path) + ".";
        std::vector<ImportText> texts = importTexts(std::move(*data));
        for (size_t i = 0; i < texts.size(); ++i) {
            const std::string id = source + std::to_string(i);
            if (done.count(id)) {
                ++skipped;
                continue;
            }
            ServerEntry entry{};
            entry.number = stored + failed + 1;
            entry.size = static_cast<uint32_t>(std::min<size_t>(texts[i].size, UINT32_MAX));
            const mime::AnalyzeOutcome o = mime::mailAnalyze(context, texts[i].text, entry);
            std::string().swap(texts[i].text);
            if (o.kind == mime::AnalyzeOutcome::FailedStop) {
                ++failed;
                continue;
            }
            ++stored;
            pop::JournalEntry j;
            j.id = id;
            if (o.tab) {
                j.path = store::relativeToProgram(tool.env,
                                                  store::messagePath(tool.env, *o.tab, o.fileNo));
                j.size = o.fileSize;
                j.hash = o.contentHash;
            }
            journal.append(j);
            if (batch.due()) commitFailed = batch.commit(tool.env) != Err::None || commitFailed;
        }
    }
    commitFailed = batch.commit(tool.env) != Err::None || commitFailed;
    if (commitFailed) tool.err("kolvytool: the stored messages could not be flushed to the disk\n");
    if (!commitFailed && failed == 0 && result == 0) journal.clear();
    std::string line = "stored " + std::to_string(stored) + ", failed " + std::to_string(failed);
    if (skipped > 0) line += ", already stored " + std::to_string(skipped);
    tool.out(line + "\n");
    return failed > 0 || commitFailed ? 1 : result;
}

int listCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    const bool utf8 = a.has("--utf8");
    for (std::string_view o : a.options) {
        if (o != "--utf8") {
            tool.err("kolvytool: unknown option " + std::string(o) + "\n");
            return 2;
        }
    }
    if (a.positional.empty() || a.positional.size() > 2) {
        tool.err("usage: kolvytool list <program-folder> [<tab-name>] [--utf8]\n");
        return 2;
    }
    Tab* tab = chooseTab(tool, a, 1);
    if (!tab) return 1;
    store::IndexOptions o;
    o.readByte = 0;
    if (store::readWholeIndex(tool.env, *tab, o) != Err::None) {
        tool.err("kolvytool: the index of " + toTerminal(store::tabName(*tab)) +
                 " cannot be read; run check --repair\n");
        return 1;
    }
    auto bytes = platform::readWholeFile(tool.env.fs, store::indexPath(tool.env, *tab));
    if (!bytes) return 1;
    // --utf8 asks for UTF-8 whatever the terminal's own encoding is.
    auto text = [&](std::string_view s) {
        return utf8 ? platform::sjisToUtf8(s).value_or(std::string(s)) : std::string(s);
    };
    for (const MailItem* item = tab->items.next; item && item != &tab->items; item = item->next) {
        store::RecordView r;
        if (recordView(*bytes, *item, r).empty()) continue;
        std::string line = store::numberDigits(r.fileNo);
        auto field = [&](std::string_view v) {
            line += '\t';
            line += v;
        };
        field(std::to_string(r.state >> 4));
        field(std::to_string(r.state & 0x0F));
        field(std::string(1, store::markDigit(r.markColour)));
        field(std::to_string(r.markColour & 0x0F));
        field(text(sjis::fieldView(item->storedText)));
        field(text(sjis::fieldView(item->dateText)));
        field(std::to_string(r.size));
        field(std::to_string(r.attachments));
        field(std::to_string(r.account));
        field(text(r.texts[0]));
        field(text(r.texts[1]));
        field(text(r.texts[2]));
        field(text(r.texts[3]));
        tool.out(line + "\n");
    }
    store::freeItems(*tab);
    return 0;
}

int extractCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    if (a.positional.size() != 4 || !a.options.empty()) {
        tool.err(
            "usage: kolvytool extract <program-folder> <tab-name> <file-number> "
            "<dest-folder>\n");
        return 2;
    }
    Tab* tab = chooseTab(tool, a, 1);
    if (!tab) return 1;
    const std::string_view digits = a.positional[2];
    if (digits.empty() || digits.size() > 4 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        tool.err("kolvytool: not a file number: " + std::string(digits) + "\n");
        return 2;
    }
    const int number = std::stoi(std::string(digits));
    auto text = platform::readWholeFile(tool.env.fs, store::messagePath(tool.env, *tab, number));
    if (!text) {
        tool.err("kolvytool: cannot read message " + std::string(digits) + "\n");
        return 1;
    }
    // Failures are told on the console, not only in the log.
    tool.env.unattended = false;
    std::vector<std::string> saved;
    const Err e =
        store::extractAttachments(tool.env, *text, fromTerminal(a.positional[3]), {}, &saved);
    for (const std::string& path : saved)
        tool.out(toTerminal(path) + "\n");
    return e == Err::None ? 0 : 1;
}

int runTool(std::span<const std::string_view> argv,
            const std::function<void(std::string_view)>& out,
            const std::function<void(std::string_view)>& err) {
    auto fs = makeToolFileSystem();
    return runToolOn(*fs, argv, out, err);
}

int runToolOn(platform::FileSystem& fs, std::span<const std::string_view> argv,
              const std::function<void(std::string_view)>& out,
              const std::function<void(std::string_view)>& err) {
    if (argv.size() < 2) {
        err(kUsage);
        for (const Command& c : commands())
            err("  kolvytool " + std::string(c.usage) + "\n");
        return 2;
    }
    const Command* command = nullptr;
    for (const Command& c : commands()) {
        if (c.name == argv[0]) command = &c;
    }
    if (!command) {
        err("kolvytool: unknown command " + std::string(argv[0]) + "\n");
        return 2;
    }
    const std::span<const std::string_view> rest = argv.subspan(1);
    const Arguments a = splitArguments(rest);
    if (a.positional.empty()) {
        err("usage: kolvytool " + std::string(command->usage) + "\n");
        return 2;
    }
    std::string folder = fromTerminal(a.positional[0]);
    while (folder.size() > 1 && sjis::endsWithSeparator(folder))
        folder.pop_back();
    if (platform::makeDirs(fs, folder) != Err::None || !fs.isDir(folder)) {
        err("kolvytool: cannot use the program folder " + std::string(a.positional[0]) + "\n");
        return 1;
    }
    auto ini = platform::makeProfile(sjis::joinPath(folder, "Kolvy.ini"));
    ConsoleReporter reporter(err);
    Env env{fs, *ini, reporter, platform::systemClock(), folder};
    // Readers go on beside a writer; a folder set up for the first time is written, so locked.
    // Taken before the run turns unattended, so that a refusal reaches the terminal.
    std::unique_ptr<platform::FileLock> writerLock;
    if (command->writes || a.has("--repair") || !fs.exists(env.path("Kolvy.ini"))) {
        writerLock = shell::lockProgramFolder(env);
        if (!writerLock) return 1;
    }
    env.unattended = true;
    if (!shell::prepareDataFolder(env)) return 1;
    store::TabRegistry tabs;
    if (!tabs.load(env)) return 1;
    config::AccountList accounts;
    accounts.load(env);
    Tool tool{env, tabs, accounts, out, err};
    int code = 1;
    try {
        code = command->run(tool, rest);
    } catch (const std::bad_alloc&) {
        // A 32-bit process runs out of address space long before the machine runs out of memory
        // (a message of several hundred megabytes): say so instead of dying.
        err("kolvytool: not enough memory\n");
    }
    for (Tab* t = tabs.first(); t && t != tabs.listHead(); t = t->next)
        store::freeItems(*t);
    return code;
}

}  // namespace kolvy::tool
