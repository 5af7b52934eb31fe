// Receive orders: the top-level list, order folders and their members, as kept in "Kolvy.ini".
//
// Ini layout: [TagList] TagOrder = top-level order ids joined by ";"; one section per order named
// by its decimal id ("[100]"). A folder's ChildMenu lists its member ids (no key when it has
// none). Which keys a section holds depends on the kind of order: see writeOrderSection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/records.h"
#include "core/result.h"
#include "platform/env.h"

namespace kolvy::config {

// Order ids are also menu command identifiers: 100..149, fifty in all, folders and members
// counted alike.
inline constexpr int32_t kFirstOrderId = 100;
inline constexpr int32_t kLastOrderId = 149;
inline constexpr int32_t kMaxOrders = kLastOrderId - kFirstOrderId + 1;
// Top-level orders start at this position of the account menu (after two entries and a
// separator).
inline constexpr int kFirstOrderMenuPosition = 3;
inline constexpr size_t kOrderNameMax = sizeof(ReceiveOrder::name) - 1;

// Ranges of the order settings (list positions of the order dialog).
inline constexpr int32_t kMaxIntervalHours = 11;
inline constexpr int32_t kMaxIntervalFiveMinutes = 11;
inline constexpr int32_t kMaxBaseHour = 23;
inline constexpr int32_t kMaxBaseMinute = 59;
inline constexpr int32_t kMaxHeaderLines = 49;
inline constexpr int32_t kMaxBootWaitSeconds = 299;

inline constexpr char kTagOrderKey[] = "TagOrder";
inline constexpr char kIniError[] = "初期化ファイルのエラーです。   ";
inline constexpr char kOrderLimitText[] = "アカウントメニュー項目は50以上作成できません。   ";

ReceiveOrder blankOrder();
std::string orderSection(int32_t id);

class OrderList {
  public:
    OrderList() = default;
    ~OrderList();
    OrderList(const OrderList&) = delete;
    OrderList& operator=(const OrderList&) = delete;

    // Reads TagOrder and every order and folder member it names. Ids that are not numbers of
    // 100..149, or that were already read, are skipped (nothing is lost: the section they name
    // is already loaded or is no order). A folder listed as a member fails the load with the
    // ini error reported (Err::Damaged); Err::NoMemory when the heap runs out. The two download
    // keys are read only when the sibling utility library is there.
    Err load(Env& env, bool utilityLibrary);

    ReceiveOrder& head() { return head_; }
    const ReceiveOrder& head() const { return head_; }
    size_t topLevelCount() const;
    // Folders and members included.
    size_t totalCount() const;

    // By menu command identifier: top-level orders and folder members.
    ReceiveOrder* byId(int32_t id);
    // Top-level order at an account menu position (3 = the first).
    ReceiveOrder* byMenuPosition(int position);
    // The order shown in the account pane.
    ReceiveOrder* selected();
    std::optional<int32_t> freeId() const;
    // True when a top-level order or a folder member receives with the account.
    bool refersToAccount(int32_t accountNumber) const;

    // Allocates a blank top-level order with a new id and appends it; null when no id is free
    // or memory ran out (nothing changed then).
    ReceiveOrder* appendNew();
    // Gives an order a member list (making it a folder).
    bool makeFolder(ReceiveOrder* order);
    // Unlinks an order from its list (folder members stay with their folder).
    void unlink(ReceiveOrder* order);
    // Appends an unlinked order to a folder (null = the top level).
    void appendTo(ReceiveOrder* folder, ReceiveOrder* order);
    // Frees an unlinked order and, for a folder, its members.
    static void destroy(ReceiveOrder* order);

    // Rewrites TagOrder and every folder's ChildMenu (deleted when the folder is empty).
    Err saveLists(Env& env) const;
    // Clears SelectPain on the previously selected top-level order and sets it on this one.
    Err selectForPane(Env& env, ReceiveOrder* order);

    // Calls fn for every order: top-level ones in list order, each folder followed by its
    // members.
    template <class Fn>
    void forEach(Fn fn) const {
        for (ReceiveOrder* o = head_.next; o; o = o->next) {
            fn(o);
            if (o->members) {
                for (ReceiveOrder* m = o->members->next; m; m = m->next)
                    fn(m);
            }
        }
    }

  private:
    Err loadMembers(Env& env, ReceiveOrder* folder, bool utilityLibrary);
    ReceiveOrder head_ = blankOrder();
};

// Writes the keys a newly made order of each kind gets (its section is emptied first, so that
// no key of an earlier order with the same id survives).
//   automatic order of an account: TagNo SelectForA TelConnect TelCut Timer SelectPain
//                                   MailChecker OrderName
//   copy of an order:               TagNo SelectForA TelConnect TelCut Timer MailChecker Nokosu
//                                   OrderName
//   folder:                         SelectForA(=1) Timer(=0) OrderName
Err writeAutomaticOrder(Env& env, const ReceiveOrder& order);
Err writeCopiedOrder(Env& env, const ReceiveOrder& order);
Err writeNewFolder(Env& env, const ReceiveOrder& order);

// The account a receive starts with: the order's own, or for a folder its first member's.
int32_t accountNumberOf(const ReceiveOrder& order);

}  // namespace kolvy::config
