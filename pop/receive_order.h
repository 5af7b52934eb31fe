// Receiving one receive order without the main window: a plain order once, a folder's members in
// turn, as the receive run does for an unattended run. The console tool uses it.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "config/accounts.h"
#include "config/orders.h"
#include "platform/env.h"
#include "pop/session.h"

namespace kolvy::pop {

// Texts of an unattended order run: the communication log's lines and the tool's refusals.
inline constexpr char kReceiveStartLine[] = "\r\n\r\n%d/%d/%d %d:%d:%d 受信開始";
inline constexpr char kReceiveOrderLine[] = "%sを受信";
inline constexpr char kNeedsScreenText[] =
    "%sはダイアルアップかメールチェッカを使うため、画面なしでは受信できません。";
inline constexpr char kNoAccountText[] = "%sのアカウントがありません。";

struct OrderRun {
    int result = kReceiveDone;  // the last member's result (a failure or an abort ends the run)
    int members = 0;            // dialogues started
};

// A top-level order or folder member whose name is exactly `name` (Shift_JIS); null when none.
const ReceiveOrder* orderByName(const config::OrderList& orders, std::string_view name);

// Receives the order with the receive context's sink, rules and options. Members that need the
// screen (dial-up, the mail checker) or name no account are reported in the communication log
// and count as failures, since an unattended run must not pretend it received their mail.
OrderRun receiveOrder(ReceiveContext& context, config::AccountList& accounts,
                      const ReceiveOrder& order);

}  // namespace kolvy::pop
