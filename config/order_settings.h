// The rules that keep receive-order settings consistent, and the edits the order settings
// dialog makes (the dialog itself only shows these results).
#pragma once

#include <cstdint>
#include <string_view>

#include "config/accounts.h"
#include "config/orders.h"

namespace kolvy::config {

// Which controls of the order settings accept input for an order.
struct OrderEnabling {
    bool telConnect = false;
    bool telCut = false;
    bool timer = false;
    bool mailChecker = false;
    bool leaveOnServer = false;
    bool receiveAtStart = false;
    bool schedule = false;     // the four schedule lists
    bool headerLines = false;  // "ヘッダ+" box and its list; shown only with the utility library
    bool operator==(const OrderEnabling&) const = default;
};
OrderEnabling orderEnabling(const ReceiveOrder& order, bool utilityLibrary);

enum class OrderFlag {
    TelConnect,      // TelConnect
    TelCut,          // TelCut
    Timer,           // Timer
    MailChecker,     // MailChecker
    LeaveOnServer,   // Nokosu
    ReceiveAtStart,  // Kidou
    HeaderLinesOnly  // OrderDownLoadLine
};

// Sets or clears one flag of an order as its check box does, and writes its key ("1"/"0").
// Setting a flag whose control is disabled is refused; dialling needs the account's dial-up
// entry; dialling cannot be cleared while hang-up and periodic receive are both set; start-up
// receive moves from another order only after the user agrees. Returns true when the flag took
// the new value.
bool setOrderFlag(Env& env, AccountList& accounts, OrderList& orders, ReceiveOrder& order,
                  OrderFlag flag, bool on, bool utilityLibrary);

enum class OrderValue {
    IntervalHours,        // Jikoku 0..11
    IntervalFiveMinutes,  // Funn 0..11 (5-minute steps)
    BaseHour,             // StartJikoku 0..23
    BaseMinute,           // StartFunn 0..59
    HeaderLines           // OrderDownLoadLineGyousu 0..49
};
// Writes one list value; Err::Invalid out of range, or for a schedule value of a folder member.
Err setOrderValue(Env& env, ReceiveOrder& order, OrderValue which, int32_t value);

// Dialog buttons. Each returns the order made or Err; refusals are reported to the user.
ReceiveOrder* createOrderFolder(Env& env, OrderList& orders, std::string_view name);
ReceiveOrder* copyOrder(Env& env, OrderList& orders, const ReceiveOrder& source,
                        std::string_view name);
Err renameOrder(Env& env, ReceiveOrder& order, std::string_view name);
// Moves a plain order into a folder (to its end), or out of its folder when folder is null.
Err moveOrderToFolder(Env& env, OrderList& orders, ReceiveOrder& order, ReceiveOrder* folder);
// Swaps the order with its neighbour in its own list; false at the end of the list.
bool moveOrderUp(Env& env, OrderList& orders, ReceiveOrder& order);
bool moveOrderDown(Env& env, OrderList& orders, ReceiveOrder& order);
// Asks, then deletes the order (a folder with its members) and its sections. True when deleted.
bool deleteOrder(Env& env, OrderList& orders, ReceiveOrder* order);
// Closing the dialog: BootWaitTime becomes the chosen wait when a top-level order receives at
// start-up, else 0 (written only when it changes); the lists are saved.
Err closeOrderSettings(Env& env, OrderList& orders, int32_t bootWaitSeconds);

inline constexpr char kNoDialUpEntryText[] = "基本設定の「接続先:」が設定されていません。   ";
inline constexpr char kTimerWithHangUpText[] = "定期受信と自動切断は同時に設定できません。   ";
inline constexpr char kOneStartupReceiveText[] =
    "「起動直後受信」は１つしか設定できません。すでにされている設定はクリアされます。    \n"
    "よろしいですか？";
inline constexpr char kNoNameText[] = "名前が記入されていません。   ";
inline constexpr char kSameAccountInFolderText[] =
    "既に同じ基本設定を持つ注文が    \nフォルダの中にあります。   ";
inline constexpr char kMailCheckInTimerFolderText[] =
    "定期受が信設定されているフォルダの中では    \nメールチェックは設定できません。   ";
inline constexpr char kTimerInFolderText[] = "フォルダの中では定期受信は設定できません。   ";
// Follows the order name.
inline constexpr char kDeleteOrderSuffix[] = "を削除していいですか？    ";
inline constexpr char kDeleteFolderContentsText[] =
    "フォルダの中身も削除されます。よろしいですか？    ";

}  // namespace kolvy::config
