// The sort command: the command rules over one receive tab, from the main window's worker and
// from the console companion.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "rules/executor.h"
#include "rules/rule_book.h"
#include "store/tabs.h"

namespace kolvy::rules {

inline constexpr char kSortDuringRun[] = "受信中は振り分けコマンドを実行できません。    ";

// The rule book's view of the real tab list: rule files name tabs by their ids. External folder
// tabs are not registered and have no id a file could keep.
class RegistryTabs final : public TabDirectory {
  public:
    explicit RegistryTabs(store::TabRegistry& registry) : registry_(registry) {}
    Tab* tabById(int32_t id) override;
    std::optional<int32_t> idOf(const Tab* tab) override;
    std::string nameOf(const Tab* tab) override;

  private:
    store::TabRegistry& registry_;
};

// The options the sort reads ([Option]).
struct SortSettings {
    bool allData = true;        // AllDataFuriwake
    int staleMonths = 3;        // DeleteRule
    uint64_t readByte = 10000;  // ReadByte
};
SortSettings readSortSettings(platform::Profile& ini);

// What the sort worker does once started: refused during a receive run and for a tab that is
// not a receive tab (Err::Cancelled); the command rules are loaded (once) and applied to the
// tab. The caller brackets it with its busy cursor and refreshes the tab afterwards.
ApplyOutcome sortTab(Env& env, RuleBook& book, TabDirectory& tabs, Tab& tab,
                     StoredMessageReader& reader, const SortSettings& settings,
                     ApplyOptions options, bool receiveRunning);

// "sort <program-folder> [<tab-name>]": the command rules on a tab (the basic receive tab when
// none is named) exactly as the sort command runs them, the rule counts saved afterwards.
// Returns 0 when done, 1 on a failure, 2 for wrong arguments; `output` gets the lines to print.
// The console runs unattended: failures go to the communication log.
int sortCommand(Env& env, std::span<const std::string_view> args, StoredMessageReader& reader,
                std::string& output);

}  // namespace kolvy::rules
