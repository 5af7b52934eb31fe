// Creating, changing and deleting accounts: the checks of the account settings, the automatic
// order every account gets, and the delete cascade over the orders. The settings dialog fills an
// Account as its form and shows what these return.
#pragma once

#include <string>

#include "config/accounts.h"
#include "config/orders.h"

namespace kolvy::config {

enum class AccountField {
    None,
    Name,
    Pop3Server,
    SmtpServer,
    UserId,
    Password,
    FromName,
    MailAddress
};

struct AccountCheck {
    bool ok = true;
    AccountField focus = AccountField::None;  // the field the dialog puts the focus on
    std::string text;                         // what the user is told
};

// Required fields (name, user ID, password, name for mail, mail address), in that order.
AccountCheck checkRequiredFields(const Account& form);
// Characters, reserved names and uniqueness of the account name. `editing` is the account
// being changed (its own name is not a clash), null when creating.
AccountCheck checkAccountName(const Account& form, const AccountList& accounts,
                              const Account* editing);
// No "@" in the name for mail; a plain address with one "@".
AccountCheck checkAddresses(const Account& form);
// True when any field the settings can edit differs.
bool accountDiffers(const Account& stored, const Account& form);

// The form of "新規作成": ports 110 and 25, every other setting 0, certificate setting 1.
Account newAccountForm();

enum class AccountOutcome {
    Created,
    Changed,
    Unchanged,  // a change that changes nothing: nothing saved
    Refused,    // a check failed; the user was told
    Cancelled,  // the user declined the change: the dialog puts the stored texts back
};
struct RegisterResult {
    AccountOutcome outcome = AccountOutcome::Refused;
    AccountField focus = AccountField::None;
    Account* account = nullptr;  // the created or changed account
    bool paneRedraw = false;     // an automatic order became the selected one
};

// "登録・変更(&A)": runs the checks in order, then creates the account (with its automatic order)
// or changes `editing` (renaming its section and UIDL file), and saves.
RegisterResult registerAccount(Env& env, AccountList& accounts, OrderList& orders,
                               const Account& form, Account* editing);

struct DeleteResult {
    bool deleted = false;
    bool paneRedraw = false;  // there was exactly one top-level order before
};
// "削除(&E)": asks, then deletes the account, its section, its UIDL file and every order (folder
// members too) that receives with it.
DeleteResult deleteAccount(Env& env, AccountList& accounts, OrderList& orders, Account* account);

// Appends the automatic order of an account (named after it, selected when it is the first
// order of all); null with the limit reported when no order id is free.
ReceiveOrder* addAutomaticOrder(Env& env, OrderList& orders, const Account& account,
                                bool* becameSelected = nullptr);

inline constexpr char kNotFilledSuffix[] = " が記入されていません。   ";
inline constexpr char kBadNameCharText[] = "アカウント名に使えない文字が含まれています。   ";
inline constexpr char kSameNameText[] = "既に同じ登録名があります。   ";
// Names the ini or the file system would take for something else.
inline constexpr char kReservedNameText[] = "この名前はアカウント名には使えません。   ";
inline constexpr char kConfirmChangeText[] = "登録内容を変更していいですか？    ";
inline constexpr char kAccountLimitText[] = "アカウントの登録数の上限は20です。   ";
inline constexpr char kAtInFromNameText[] = "「名前（メール用）:」に'@'は使えません。";
inline constexpr char kBadAddressText[] = "「メールアドレス:」の記述が間違っています。";
inline constexpr char kRegisteredText[] =
    "　　　　　　　　　　　　　　　　<< 登録しました >>\n\n"
    "次の登録のために記入覧を一旦クリアします。登録内容を確認・変更する場合は　　　\n"
    "「アカウント名」覧の横のボタンをクリックして、リストから選択してください。   ";
inline constexpr char kDeleteAccountSuffix[] = " を削除していいですか？   ";

}  // namespace kolvy::config
