// "compose": the composer without a window. The editor is the program given with --editor, the
// save choice is --save, and the forward kind --kind; every other question has its fixed answer.
#include <charconv>
#include <optional>
#include <string>

#include "compose/composer.h"
#include "compose/responder.h"
#include "mime/stored_reader.h"
#include "rules/sort.h"
#include "smtp/send_run.h"
#include "store/index.h"
#include "store/paths.h"
#include "tools/kolvytool/tool.h"

namespace kolvy::tool {

namespace {

constexpr char kUsage[] =
    "usage: kolvytool compose <program-folder> new|reply|forward [<tab> <file-number>] "
    "[--kind 0|1|2] --editor <program> --save waiting|unfinished|send\n";

class ToolDialogs final : public compose::ComposeDialogs {
  public:
    ToolDialogs(int kind, compose::SaveChoice save) : kind_(kind), save_(save) {}
    std::optional<compose::ForwardChoice> forwardKind(
        const std::vector<compose::Template>&) override {
        return compose::ForwardChoice{kind_, 0};
    }
    // A refused header opens the editor again (a few rounds, then the text is kept).
    bool discardOnCheck(std::string_view) override { return false; }
    std::optional<compose::SaveChoice> saveChoice(const compose::SaveChoiceRequest&) override {
        return save_;
    }
    bool confirmNotSaving() override { return true; }
    Tab* chooseTab(const std::vector<Tab*>&) override { return nullptr; }

  private:
    int kind_;
    compose::SaveChoice save_;
};

struct ComposeArgs {
    std::vector<std::string_view> positional;
    std::string editor;
    int kind = 0;
    std::optional<compose::SaveChoice> save;
};

std::optional<ComposeArgs> parse(std::span<const std::string_view> args) {
    ComposeArgs out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view s = args[i];
        const bool valued = s == "--editor" || s == "--kind" || s == "--save";
        if (!valued) {
            if (s.starts_with("--")) return std::nullopt;
            out.positional.push_back(s);
            continue;
        }
        if (i + 1 >= args.size()) return std::nullopt;
        const std::string_view v = args[++i];
        if (s == "--editor") out.editor = fromTerminal(v);
        if (s == "--kind") {
            if (v.size() != 1 || v[0] < '0' || v[0] > '2') return std::nullopt;
            out.kind = v[0] - '0';
        }
        if (s == "--save") {
            if (v == "waiting")
                out.save = compose::SaveChoice::Waiting;
            else if (v == "unfinished")
                out.save = compose::SaveChoice::Unfinished;
            else if (v == "send")
                out.save = compose::SaveChoice::SendNow;
            else
                return std::nullopt;
        }
    }
    if (out.positional.size() < 2 || !out.save) return std::nullopt;
    return out;
}

MailItem* findItem(Tab& tab, int number) {
    for (MailItem* m = tab.items.next; m && m != &tab.items; m = m->next)
        if (store::itemNumber(*m) == number) return m;
    return nullptr;
}

}  // namespace

int composeCommand(Tool& tool, std::span<const std::string_view> args) {
    auto a = parse(args);
    if (!a) {
        tool.err(kUsage);
        return 2;
    }
    const std::string_view what = a->positional[1];
    compose::ComposeRequest q;
    if (what == "new" && a->positional.size() == 2) {
        q.mode = compose::kComposeNew;
    } else if ((what == "reply" || what == "forward") && a->positional.size() == 4) {
        q.mode = what == "reply" ? compose::kComposeReply : compose::kComposeForward;
        q.forwardKind = a->kind;
        q.sourceTab = tool.tabs.findByName(fromTerminal(a->positional[2]));
        int number = -1;
        const std::string_view n = a->positional[3];
        std::from_chars(n.data(), n.data() + n.size(), number);
        if (!q.sourceTab) {
            tool.err("kolvytool: no tab named " + std::string(a->positional[2]) + "\n");
            return 2;
        }
        store::readWholeIndex(tool.env, *q.sourceTab, {});
        q.item = findItem(*q.sourceTab, number);
        if (!q.item) {
            tool.err("kolvytool: no message " + std::string(n) + " in that tab\n");
            return 2;
        }
    } else {
        tool.err(kUsage);
        return 2;
    }
    tool.env.unattended = true;
    compose::ComposeContext c(tool.env, tool.tabs, tool.accounts.head().next,
                              tool.accounts.head().next);
    c.options.editor = a->editor;
    c.options.maxEditRounds = 3;
    rules::RegistryTabs directory(tool.tabs);
    rules::RuleBook book;
    compose::loadComposeRules(c, book, directory);
    // "今すぐメールを送信": the send run over the draft's tab, as the program starts it.
    mime::StoredReader reader;
    smtp::SendObserver quiet;
    int sent = -1;
    c.sendNow = [&](Tab& tab, MailItem&, const Account&) {
        smtp::SendRun run(tool.env, tool.accounts.head().next, quiet);
        run.options = smtp::readSendRunOptions(tool.env.ini);
        run.reader = &reader;
        Tab* const tabs[] = {&tab};
        sent = smtp::runSend(run, tabs).sent;
    };
    ToolDialogs dialogs(a->kind, *a->save);
    const compose::ComposeOutcome out = compose::compose(c, dialogs, q);
    if (out.stored) {
        tool.out("stored " + toTerminal(store::tabName(*out.tab)) + " " +
                 std::to_string(out.fileNo) + " state " + std::to_string(out.state) + "\n");
        if (sent >= 0) tool.out("sent " + std::to_string(sent) + "\n");
        return out.choice == compose::SaveChoice::SendNow && sent <= 0 ? 1 : 0;
    }
    if (!out.keptPath.empty()) tool.err("kept " + toTerminal(out.keptPath) + "\n");
    if (out.ok) tool.out("nothing stored\n");
    return out.ok ? 0 : 1;
}

}  // namespace kolvy::tool
