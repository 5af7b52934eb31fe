#include "rules/sort.h"

#include "config/accounts.h"
#include "core/sjis.h"
#include "report/report.h"
#include "store/paths.h"

namespace kolvy::rules {
namespace {

constexpr char kOption[] = "Option";
constexpr char kIniName[] = "Kolvy.ini";

std::string summaryLine(std::string_view tabName, const ApplyOutcome& o) {
    std::string line = "sort ";
    line += tabName;
    line += ": " + std::to_string(o.messages) + " messages, " + std::to_string(o.matched) +
            " matched, " + std::to_string(o.pass.moved) + " moved, " +
            std::to_string(o.pass.copied) + " copied, " + std::to_string(o.attributes) + " changed";
    const int left = o.pass.leftByFullTarget;
    if (left > 0) line += ", " + std::to_string(left) + " left (tab full)";
    line += "\n";
    return line;
}

}  // namespace

Tab* RegistryTabs::tabById(int32_t id) {
    Tab* t = registry_.findById(id);
    return t && !t->external ? t : nullptr;
}

std::optional<int32_t> RegistryTabs::idOf(const Tab* tab) {
    for (Tab* t = registry_.first(); t; t = t->next) {
        if (t == tab && !t->external) return t->id;
    }
    return std::nullopt;
}

std::string RegistryTabs::nameOf(const Tab* tab) {
    return tab ? store::tabName(*tab) : std::string();
}

SortSettings readSortSettings(platform::Profile& ini) {
    SortSettings s;
    s.allData = platform::readInt(ini, kOption, "AllDataFuriwake", 1) == 1;
    s.staleMonths = static_cast<int>(platform::readInt(ini, kOption, "DeleteRule", 3));
    const int64_t readByte = platform::readInt(ini, kOption, "ReadByte", 10000);
    s.readByte = readByte > 0 ? static_cast<uint64_t>(readByte) : 0;
    return s;
}

ApplyOutcome sortTab(Env& env, RuleBook& book, TabDirectory& tabs, Tab& tab,
                     StoredMessageReader& reader, const SortSettings& settings,
                     ApplyOptions options, bool receiveRunning) {
    ApplyOutcome out;
    if (receiveRunning) {
        report::notice(env, kSortDuringRun);
        out.error = Err::Cancelled;
        return out;
    }
    if (tab.kind != store::kReceiveTab) {
        out.error = Err::Cancelled;
        return out;
    }
    if (!book.loaded(RuleKind::Command)) {
        if (Err e = book.load(env, RuleKind::Command, tabs, settings.staleMonths); e != Err::None) {
            out.error = e;
            return out;
        }
    }
    options.readWholeIndex = settings.allData;
    options.listOps.index.readByte = settings.readByte;
    return applyRulesToTab(env, book, tab, ApplyMode::Command, reader, options);
}

int sortCommand(Env& env, std::span<const std::string_view> args, StoredMessageReader& reader,
                std::string& output) {
    if (args.empty() || args.size() > 2 || args[0].empty()) {
        output += "usage: sort <program-folder> [<tab-name>]\n";
        return 2;
    }
    std::string folder(args[0]);
    while (sjis::endsWithSeparator(folder))
        folder.pop_back();
    auto ini = platform::makeProfile(sjis::joinPath(folder, kIniName));
    Env here{env.fs, *ini, env.reporter, env.clock, folder};
    here.unattended = true;
    here.logOut = env.logOut.load();
    here.logSize = env.logSize.load();

    store::TabRegistry registry;
    if (!registry.load(here)) {
        output += "the tab list could not be loaded\n";
        return 1;
    }
    Tab* tab =
        args.size() == 2 ? registry.findByName(args[1]) : registry.basicTab(store::kReceiveTab);
    if (!tab) {
        output += "no such tab: ";
        output += args.size() == 2 ? args[1] : std::string_view("(basic receive tab)");
        output += "\n";
        return 2;
    }
    if (tab->kind != store::kReceiveTab) {
        output += "not a receive tab: " + store::tabName(*tab) + "\n";
        return 2;
    }
    config::AccountList accounts;
    accounts.load(here);
    ApplyOptions options;
    options.ownAddresses = ownAddresses(accounts.head().next);

    RegistryTabs tabs(registry);
    RuleBook book;
    const SortSettings settings = readSortSettings(here.ini);
    const ApplyOutcome o = sortTab(here, book, tabs, *tab, reader, settings, options, false);
    if (o.matched > 0) book.save(here, RuleKind::Command, tabs);
    output += summaryLine(store::tabName(*tab), o);
    return o.ok() ? 0 : 1;
}

}  // namespace kolvy::rules
