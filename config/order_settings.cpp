#include "config/order_settings.h"

#include <algorithm>
#include <new>
#include <string>

#include "core/list.h"
#include "core/sjis.h"
#include "report/report.h"

namespace kolvy::config {

namespace {

const char* flagKey(OrderFlag f) {
    switch (f) {
        case OrderFlag::TelConnect:
            return "TelConnect";
        case OrderFlag::TelCut:
            return "TelCut";
        case OrderFlag::Timer:
            return "Timer";
        case OrderFlag::MailChecker:
            return "MailChecker";
        case OrderFlag::LeaveOnServer:
            return "Nokosu";
        case OrderFlag::ReceiveAtStart:
            return "Kidou";
        case OrderFlag::HeaderLinesOnly:
            return "OrderDownLoadLine";
    }
    return "";
}

int32_t& flagField(ReceiveOrder& o, OrderFlag f) {
    switch (f) {
        case OrderFlag::TelConnect:
            return o.telConnect;
        case OrderFlag::TelCut:
            return o.telCut;
        case OrderFlag::Timer:
            return o.timer;
        case OrderFlag::MailChecker:
            return o.mailChecker;
        case OrderFlag::LeaveOnServer:
            return o.leaveOnServer;
        case OrderFlag::ReceiveAtStart:
            return o.receiveAtStart;
        case OrderFlag::HeaderLinesOnly:
            break;
    }
    return o.headerLinesOnly;
}

bool enabled(const OrderEnabling& e, OrderFlag f) {
    switch (f) {
        case OrderFlag::TelConnect:
            return e.telConnect;
        case OrderFlag::TelCut:
            return e.telCut;
        case OrderFlag::Timer:
            return e.timer;
        case OrderFlag::MailChecker:
            return e.mailChecker;
        case OrderFlag::LeaveOnServer:
            return e.leaveOnServer;
        case OrderFlag::ReceiveAtStart:
            return e.receiveAtStart;
        case OrderFlag::HeaderLinesOnly:
            return e.headerLines;
    }
    return false;
}

Err writeFlag(Env& env, const ReceiveOrder& o, std::string_view key, int32_t v) {
    return env.ini.write(orderSection(o.id), key, v ? "1" : "0");
}

void setName(ReceiveOrder& o, std::string_view name) {
    // The field holds 47 bytes: a longer name is cut on a character boundary.
    sjis::copyField(o.name, name);
}

ReceiveOrder& listOf(OrderList& orders, ReceiveOrder& order) {
    return order.parent ? *order.parent->members : orders.head();
}

}  // namespace

OrderEnabling orderEnabling(const ReceiveOrder& o, bool utilityLibrary) {
    OrderEnabling e;
    if (o.isFolder) {
        bool memberChecks = false;
        if (o.members) {
            for (const ReceiveOrder* m = o.members->next; m; m = m->next)
                memberChecks = memberChecks || m->mailChecker;
        }
        e.receiveAtStart = true;
        e.timer = !memberChecks;
        e.schedule = o.timer != 0;
        return e;
    }
    e.telConnect = true;
    e.telCut = !(o.timer && !o.telConnect);
    e.timer = !((o.telCut && !o.telConnect) || o.mailChecker);
    e.mailChecker = !(o.leaveOnServer || o.timer);
    e.leaveOnServer = !o.mailChecker;
    e.receiveAtStart = true;
    e.schedule = o.timer != 0;
    e.headerLines = utilityLibrary && o.leaveOnServer;
    if (o.parent) {
        e.timer = false;
        e.receiveAtStart = false;
        e.schedule = false;
        if (o.parent->timer) e.mailChecker = false;
    }
    return e;
}

bool setOrderFlag(Env& env, AccountList& accounts, OrderList& orders, ReceiveOrder& order,
                  OrderFlag flag, bool on, bool utilityLibrary) {
    int32_t& field = flagField(order, flag);
    // A box that is greyed out cannot be ticked; clearing is always allowed so that a state read
    // from a hand-edited ini can be put right.
    if (on && !enabled(orderEnabling(order, utilityLibrary), flag)) return false;
    if (flag == OrderFlag::TelConnect) {
        if (on) {
            const Account* a = accounts.byNumber(order.accountNumber);
            if (!a || a->rasEntry[0] == '\0') {
                report::notice(env, kNoDialUpEntryText);
                return false;
            }
        } else if (order.telCut && order.timer) {
            report::notice(env, kTimerWithHangUpText);
            return false;
        }
    }
    if (flag == OrderFlag::ReceiveAtStart && on) {
        ReceiveOrder* other = nullptr;
        for (ReceiveOrder* o : listRange(orders.head())) {
            if (o != &order && o->receiveAtStart) other = o;
        }
        if (other) {
            if (report::ask(env, kOneStartupReceiveText) != platform::Answer::Ok) return false;
            for (ReceiveOrder* o : listRange(orders.head())) {
                if (o != &order && o->receiveAtStart) {
                    o->receiveAtStart = 0;
                    writeFlag(env, *o, "Kidou", 0);
                }
            }
        }
    }
    field = on ? 1 : 0;
    writeFlag(env, order, flagKey(flag), field);
    return true;
}

Err setOrderValue(Env& env, ReceiveOrder& order, OrderValue which, int32_t value) {
    struct Slot {
        const char* key;
        int32_t max;
        int32_t* field;
    };
    Slot slot{};
    switch (which) {
        case OrderValue::IntervalHours:
            slot = {"Jikoku", kMaxIntervalHours, &order.intervalHours};
            break;
        case OrderValue::IntervalFiveMinutes:
            slot = {"Funn", kMaxIntervalFiveMinutes, &order.intervalFiveMinutes};
            break;
        case OrderValue::BaseHour:
            slot = {"StartJikoku", kMaxBaseHour, &order.baseHour};
            break;
        case OrderValue::BaseMinute:
            slot = {"StartFunn", kMaxBaseMinute, &order.baseMinute};
            break;
        case OrderValue::HeaderLines:
            slot = {"OrderDownLoadLineGyousu", kMaxHeaderLines, &order.headerLines};
            break;
    }
    if (!slot.field || value < 0 || value > slot.max) return Err::Invalid;
    // Members have no schedule of their own: their folder's is used.
    if (which != OrderValue::HeaderLines && order.parent) return Err::Invalid;
    if (which == OrderValue::HeaderLines && order.isFolder) return Err::Invalid;
    *slot.field = value;
    return platform::writeInt(env.ini, orderSection(order.id), slot.key, value);
}

ReceiveOrder* createOrderFolder(Env& env, OrderList& orders, std::string_view name) {
    if (name.empty()) {
        report::notice(env, kNoNameText);
        return nullptr;
    }
    ReceiveOrder* f = orders.appendNew();
    if (!f) {
        if (!orders.freeId()) report::report(env, kOrderLimitText);
        return nullptr;
    }
    if (!orders.makeFolder(f)) {
        orders.unlink(f);
        OrderList::destroy(f);
        return nullptr;
    }
    setName(*f, name);
    writeNewFolder(env, *f);
    orders.saveLists(env);
    return f;
}

ReceiveOrder* copyOrder(Env& env, OrderList& orders, const ReceiveOrder& source,
                        std::string_view name) {
    if (source.isFolder) return nullptr;
    if (name.empty()) {
        report::notice(env, kNoNameText);
        return nullptr;
    }
    ReceiveOrder* o = orders.appendNew();
    if (!o) {
        if (!orders.freeId()) report::report(env, kOrderLimitText);
        return nullptr;
    }
    o->accountNumber = source.accountNumber;
    setName(*o, name);
    writeCopiedOrder(env, *o);
    orders.saveLists(env);
    return o;
}

Err renameOrder(Env& env, ReceiveOrder& order, std::string_view name) {
    if (name.empty()) {
        report::notice(env, kNoNameText);
        return Err::Invalid;
    }
    setName(order, name);
    return env.ini.write(orderSection(order.id), "OrderName", sjis::fieldView(order.name));
}

Err moveOrderToFolder(Env& env, OrderList& orders, ReceiveOrder& order, ReceiveOrder* folder) {
    if (order.isFolder || order.parent == folder) return Err::Invalid;
    if (folder) {
        if (!folder->isFolder || !folder->members || folder->parent) return Err::Invalid;
        for (const ReceiveOrder* m = folder->members->next; m; m = m->next) {
            if (m->accountNumber == order.accountNumber) {
                report::notice(env, kSameAccountInFolderText);
                return Err::Exists;
            }
        }
        if (folder->timer && order.mailChecker) {
            report::notice(env, kMailCheckInTimerFolderText);
            return Err::Invalid;
        }
        if (order.timer) {
            report::notice(env, kTimerInFolderText);
            return Err::Invalid;
        }
    }
    const bool wasSelected = order.selected != 0;
    orders.unlink(&order);
    orders.appendTo(folder, &order);
    if (folder) {
        // Members have no start-up receive, schedule or pane selection of their own.
        const std::string s = orderSection(order.id);
        for (const char* key :
             {"Kidou", "Jikoku", "Funn", "StartJikoku", "StartFunn", "SelectPain"})
            env.ini.removeKey(s, key);
        order.receiveAtStart = order.selected = 0;
        order.intervalHours = order.intervalFiveMinutes = order.baseHour = order.baseMinute = 0;
        if (wasSelected) orders.selectForPane(env, folder);
    }
    return orders.saveLists(env);
}

bool moveOrderUp(Env& env, OrderList& orders, ReceiveOrder& order) {
    ReceiveOrder& list = listOf(orders, order);
    ReceiveOrder* before = order.prev;
    if (!before || before == &list) return false;
    ReceiveOrder* parent = order.parent;
    listUnlink(list, &order);
    listInsertAfter(list, before->prev, &order);
    order.parent = parent;
    orders.saveLists(env);
    return true;
}

bool moveOrderDown(Env& env, OrderList& orders, ReceiveOrder& order) {
    ReceiveOrder& list = listOf(orders, order);
    ReceiveOrder* after = order.next;
    if (!after) return false;
    ReceiveOrder* parent = order.parent;
    listUnlink(list, &order);
    listInsertAfter(list, after, &order);
    order.parent = parent;
    orders.saveLists(env);
    return true;
}

bool deleteOrder(Env& env, OrderList& orders, ReceiveOrder* order) {
    if (!order) return false;
    const std::string question = std::string(sjis::fieldView(order->name)) + kDeleteOrderSuffix;
    if (report::ask(env, question) != platform::Answer::Ok) return false;
    const bool hasMembers = order->members && !listEmpty(*order->members);
    if (hasMembers && report::ask(env, kDeleteFolderContentsText) != platform::Answer::Ok) {
        return false;
    }
    if (order->members) {
        for (const ReceiveOrder* m = order->members->next; m; m = m->next)
            env.ini.removeSection(orderSection(m->id));
    }
    env.ini.removeSection(orderSection(order->id));
    orders.unlink(order);
    OrderList::destroy(order);
    orders.saveLists(env);
    return true;
}

Err closeOrderSettings(Env& env, OrderList& orders, int32_t bootWaitSeconds) {
    bool startup = false;
    for (const ReceiveOrder* o : listRange(orders.head()))
        startup = startup || o->receiveAtStart;
    const int64_t wait = startup ? std::clamp(bootWaitSeconds, 0, kMaxBootWaitSeconds) : 0;
    if (platform::readInt(env.ini, "Option", "BootWaitTime", 0) != wait) {
        platform::writeInt(env.ini, "Option", "BootWaitTime", wait);
    }
    return orders.saveLists(env);
}

}  // namespace kolvy::config
