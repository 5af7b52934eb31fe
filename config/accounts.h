// The account list: loading from and saving to "Kolvy.ini", numbering and lookups.
//
// Ini layout: [TagList] TagAcount = account names joined by ";"; one section per account, named
// by the account, holding the keys written by saveAccount. Passwords are stored scrambled
// (config/password.h). Accounts are handed to receiving, sending, the DDE server and the host
// functions by pointer, in list order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "core/result.h"
#include "platform/env.h"

namespace kolvy::config {

// Account numbers run 0..19: orders refer to accounts by number, and twenty is the limit.
inline constexpr int32_t kMaxAccounts = 20;
// TagNo of an order without account, and the value a missing TagNo reads as.
inline constexpr int32_t kOrderWithoutAccount = 100;
// Text fields of an account hold 63 bytes; the settings dialog accepts 60 characters.
inline constexpr size_t kAccountTextMax = sizeof(Account::name) - 1;
inline constexpr size_t kAccountFormTextMax = 60;

inline constexpr char kTagListSection[] = "TagList";
inline constexpr char kTagAccountKey[] = "TagAcount";
inline constexpr char kIniReadError[] = "初期化ファイルの読み込みエラーです。   ";

// An account with every field cleared (the state of a freshly allocated record).
Account blankAccount();

class AccountList {
  public:
    AccountList() = default;
    ~AccountList();
    AccountList(const AccountList&) = delete;
    AccountList& operator=(const AccountList&) = delete;

    // Reads TagAcount and every account it names. An entry that cannot be used (no or a bad
    // TagNo, a number already taken, a name too long for the record) is reported once and kept
    // by name, so that rewriting TagAcount never drops it; the other entries still load.
    // Returns Err::None, Err::Damaged after such a report, or Err::NoMemory.
    Err load(Env& env);

    Account& head() { return head_; }
    const Account& head() const { return head_; }
    size_t size() const;
    bool empty() const { return head_.next == nullptr; }

    Account* byNumber(int32_t number);
    // The account at a position of the list (0 = first).
    Account* at(size_t index);
    // Exact, case-sensitive name.
    Account* byName(std::string_view name);
    // The lowest unused number, or nullopt when all twenty are taken.
    std::optional<int32_t> freeNumber() const;
    // Names listed in TagAcount that could not be loaded (kept in the list when it is rewritten).
    const std::vector<std::string>& keptNames() const { return kept_; }
    // True when an account or a kept entry uses this name or one the ini or the file system
    // would take for it (letters compared without case).
    bool nameTaken(std::string_view name, const Account* except = nullptr) const;

    // Takes ownership of a record allocated with new and appends it.
    void append(Account* account);
    // Unlinks and frees.
    void remove(Account* account);

    // Rewrites TagAcount from the list (kept entries last).
    Err writeNameList(Env& env) const;
    // Writes every key of the account under its current name (the section is emptied first, so
    // no stale key survives). TagAcount is rewritten first; previousName, when given and
    // different, loses its section (a rename).
    Err saveAccount(Env& env, const Account& account,
                    std::optional<std::string_view> previousName = std::nullopt) const;

  private:
    Account head_ = blankAccount();
    std::vector<std::string> kept_;
};

// Reads one account's keys into `out` (number included); false when TagNo is missing or out of
// range.
bool readAccountSection(platform::Profile& ini, std::string_view name, Account& out);

// Path of the account's UIDL file, relative to the program folder.
std::string uidlFileName(std::string_view accountName);

}  // namespace kolvy::config
