// "send": the send run, unattended, over all send tabs or one; "draft": a ready draft file
// queued as a waiting message of the basic send tab, as the composer stores one.
#include <string>
#include <vector>

#include "mime/stored_reader.h"
#include "platform/fileutil.h"
#include "rules/sort.h"
#include "smtp/queue.h"
#include "smtp/send_run.h"
#include "store/message_file.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {
namespace {

// The send tabs of the run: the one named, or every send tab (and the trash tabs when
// GomiAddSendTab is on).
bool sendTabs(Tool& tool, const Arguments& a, std::vector<Tab*>& out) {
    const bool trashToo = platform::readInt(tool.env.ini, "Option", "GomiAddSendTab", 0) == 1;
    auto sends = [&](const Tab& t) { return t.kind == 1 || (trashToo && t.kind == 2); };
    if (a.positional.size() == 2) {
        Tab* tab = tool.tabs.findByName(fromTerminal(a.positional[1]));
        if (!tab || !sends(*tab)) {
            tool.err("kolvytool: no send tab named " + std::string(a.positional[1]) + "\n");
            return false;
        }
        out.push_back(tab);
        return true;
    }
    for (Tab* t = tool.tabs.first(); t; t = t->next) {
        if (sends(*t)) out.push_back(t);
    }
    return true;
}

}  // namespace

int sendCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    if (a.positional.empty() || a.positional.size() > 2 || !a.options.empty()) {
        tool.err("usage: kolvytool send <program-folder> [<tab-name>]\n");
        return 2;
    }
    Env& env = tool.env;
    std::vector<Tab*> tabs;
    if (!sendTabs(tool, a, tabs)) return 2;
    rules::RegistryTabs directory(tool.tabs);
    rules::RuleBook book;
    const rules::SortSettings settings = rules::readSortSettings(env.ini);
    if (book.load(env, rules::RuleKind::Send, directory, settings.staleMonths) != Err::None) {
        tool.err("kolvytool: the send rules could not be read\n");
        return 1;
    }
    const int64_t appliedBefore = book.appliedTotal(rules::RuleKind::Send);
    mime::StoredReader reader;
    smtp::SendObserver quiet;
    smtp::SendRun run(env, tool.accounts.head().next, quiet);
    run.options = smtp::readSendRunOptions(env.ini);
    run.sendRules = &book;
    run.reader = &reader;
    run.ruleOptions.ownAddresses = rules::ownAddresses(tool.accounts.head().next);
    const smtp::SendOutcome o = smtp::runSend(run, tabs);
    if (book.appliedTotal(rules::RuleKind::Send) != appliedBefore)
        book.save(env, rules::RuleKind::Send, directory);
    tool.out("sent " + std::to_string(o.sent) + "\n");
    if (o.waiting > 0 || o.stopped) {
        tool.err("kolvytool: " + std::to_string(o.waiting) +
                 " message(s) still waiting; the communication log says why\n");
        return 1;
    }
    return 0;
}

int draftCommand(Tool& tool, std::span<const std::string_view> args) {
    const Arguments a = splitArguments(args);
    const bool attach = a.has("--attach");
    if (a.positional.size() < 2 || (a.positional.size() > 2) != attach ||
        a.options.size() != (attach ? 1u : 0u)) {
        tool.err("usage: kolvytool draft <program-folder> <file> [--attach <file>...]\n");
        return 2;
    }
    Env& env = tool.env;
    Tab* tab = tool.tabs.basicTab(1);
    auto raw = platform::readWholeFile(env.fs, fromTerminal(a.positional[1]));
    if (!tab || !raw) {
        tool.err(tab ? "kolvytool: the draft file could not be read\n"
                     : "kolvytool: there is no basic send tab\n");
        return 1;
    }
    std::vector<std::string> files;
    for (size_t i = 2; i < a.positional.size(); ++i)
        files.push_back(fromTerminal(a.positional[i]));
    auto number = smtp::queueDraft(env, *tab, tool.accounts.head().next, fromTerminal(*raw), files);
    if (!number) {
        tool.err(number.error() == Err::Invalid
                     ? toTerminal(smtp::kTextFromNotAnAccount) + "\n"
                     : std::string("kolvytool: the draft could not be stored\n"));
        return 1;
    }
    tool.out("stored " + store::numberDigits(*number) + "\n");
    return 0;
}

}  // namespace kolvy::tool
