#include "config/orders.h"

#include <algorithm>
#include <new>
#include <vector>

#include "config/accounts.h"
#include "core/list.h"
#include "core/sjis.h"
#include "report/report.h"

namespace kolvy::config {

namespace {

// TagOrder and ChildMenu hold at most fifty three-digit ids: read them whole whatever their
// length, so a hand-edited list is never cut.
constexpr size_t kIdListMax = 64 * 1024;

std::vector<std::string_view> splitIds(std::string_view text) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::optional<int32_t> parseId(std::string_view token) {
    auto v = platform::parseNumber(token);
    if (!v || *v < kFirstOrderId || *v > kLastOrderId) return std::nullopt;
    return static_cast<int32_t>(*v);
}

int32_t readFlag(platform::Profile& ini, std::string_view section, std::string_view key) {
    return platform::readInt(ini, section, key, 0) != 0 ? 1 : 0;
}

// List positions outside their list are read as the nearest position.
int32_t readRange(platform::Profile& ini, std::string_view section, std::string_view key,
                  int32_t max) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(platform::readInt(ini, section, key, 0), 0, max));
}

int32_t readAccountNumber(platform::Profile& ini, std::string_view section) {
    const int64_t v = platform::readInt(ini, section, "TagNo", kOrderWithoutAccount);
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

void readReceiveKeys(platform::Profile& ini, std::string_view s, ReceiveOrder& o,
                     bool utilityLibrary) {
    o.accountNumber = readAccountNumber(ini, s);
    o.telConnect = readFlag(ini, s, "TelConnect");
    o.telCut = readFlag(ini, s, "TelCut");
    o.mailChecker = readFlag(ini, s, "MailChecker");
    o.leaveOnServer = readFlag(ini, s, "Nokosu");
    if (utilityLibrary) {
        o.headerLinesOnly = readFlag(ini, s, "OrderDownLoadLine");
        o.headerLines = readRange(ini, s, "OrderDownLoadLineGyousu", kMaxHeaderLines);
    }
}

void readName(platform::Profile& ini, std::string_view s, ReceiveOrder& o) {
    sjis::copyField(o.name, platform::readString(ini, s, "OrderName", {}, kOrderNameMax));
}

std::string idList(const ReceiveOrder& head) {
    std::string list;
    for (const ReceiveOrder* o = head.next; o; o = o->next) {
        if (!list.empty()) list += ';';
        list += std::to_string(o->id);
    }
    return list;
}

// The in-memory copy of ChildMenu: as many whole ids as the field holds.
void fillChildList(ReceiveOrder& folder) {
    std::string text;
    if (folder.members) {
        for (const ReceiveOrder* m = folder.members->next; m; m = m->next) {
            std::string next = text.empty() ? std::string() : text + ";";
            next += std::to_string(m->id);
            if (next.size() >= sizeof folder.childList) break;
            text = std::move(next);
        }
    }
    sjis::copyField(folder.childList, text);
}

class KeyWriter {
  public:
    KeyWriter(Env& env, std::string section) : ini_(env.ini), section_(std::move(section)) {}
    void flag(std::string_view key, int32_t v) { number(key, v); }
    void number(std::string_view key, int32_t v) {
        keep(platform::writeInt(ini_, section_, key, v));
    }
    void text(std::string_view key, std::string_view v) { keep(ini_.write(section_, key, v)); }
    void clear() { keep(ini_.removeSection(section_)); }
    Err result() const { return first_; }

  private:
    void keep(Err e) {
        if (first_ == Err::None) first_ = e;
    }
    platform::Profile& ini_;
    std::string section_;
    Err first_ = Err::None;
};

}  // namespace

ReceiveOrder blankOrder() {
    ReceiveOrder o{};
    o.accountNumber = kOrderWithoutAccount;
    return o;
}

std::string orderSection(int32_t id) {
    return std::to_string(id);
}

OrderList::~OrderList() {
    ReceiveOrder* o = head_.next;
    while (o) {
        ReceiveOrder* next = o->next;
        destroy(o);
        o = next;
    }
    head_.next = head_.prev = nullptr;
}

void OrderList::destroy(ReceiveOrder* order) {
    if (order->members) {
        listFreeAll(*order->members);
        delete order->members;
    }
    delete order;
}

size_t OrderList::topLevelCount() const {
    return listSize(head_);
}

size_t OrderList::totalCount() const {
    size_t n = 0;
    for (const ReceiveOrder* o = head_.next; o; o = o->next) {
        ++n;
        if (o->members) n += listSize(*o->members);
    }
    return n;
}

ReceiveOrder* OrderList::byId(int32_t id) {
    ReceiveOrder* found = nullptr;
    forEach([&](ReceiveOrder* o) {
        if (!found && o->id == id) found = o;
    });
    return found;
}

ReceiveOrder* OrderList::byMenuPosition(int position) {
    int pos = kFirstOrderMenuPosition;
    for (ReceiveOrder* o : listRange(head_)) {
        if (pos++ == position) return o;
    }
    return nullptr;
}

ReceiveOrder* OrderList::selected() {
    for (ReceiveOrder* o : listRange(head_)) {
        if (o->selected) return o;
    }
    return nullptr;
}

std::optional<int32_t> OrderList::freeId() const {
    bool used[kMaxOrders] = {};
    forEach([&](const ReceiveOrder* o) {
        if (o->id >= kFirstOrderId && o->id <= kLastOrderId) used[o->id - kFirstOrderId] = true;
    });
    for (int32_t i = 0; i < kMaxOrders; ++i) {
        if (!used[i]) return kFirstOrderId + i;
    }
    return std::nullopt;
}

bool OrderList::refersToAccount(int32_t accountNumber) const {
    bool found = false;
    forEach([&](const ReceiveOrder* o) {
        if (!o->isFolder && o->accountNumber == accountNumber) found = true;
    });
    return found;
}

ReceiveOrder* OrderList::appendNew() {
    const auto id = freeId();
    if (!id) return nullptr;
    auto* o = new (std::nothrow) ReceiveOrder(blankOrder());
    if (!o) return nullptr;
    o->id = *id;
    listAppend(head_, o);
    return o;
}

bool OrderList::makeFolder(ReceiveOrder* order) {
    if (!order->members) {
        order->members = new (std::nothrow) ReceiveOrder(blankOrder());
        if (!order->members) return false;
        order->members->id = 0;
    }
    order->isFolder = 1;
    order->accountNumber = kOrderWithoutAccount;
    return true;
}

void OrderList::unlink(ReceiveOrder* order) {
    ReceiveOrder& list = order->parent ? *order->parent->members : head_;
    listUnlink(list, order);
    if (order->parent) fillChildList(*order->parent);
    order->parent = nullptr;
}

void OrderList::appendTo(ReceiveOrder* folder, ReceiveOrder* order) {
    if (folder) {
        listAppend(*folder->members, order);
        order->parent = folder;
        fillChildList(*folder);
    } else {
        listAppend(head_, order);
        order->parent = nullptr;
    }
}

Err OrderList::loadMembers(Env& env, ReceiveOrder* folder, bool utilityLibrary) {
    const std::string section = orderSection(folder->id);
    const std::string list = platform::readString(env.ini, section, "ChildMenu", {}, kIdListMax);
    for (std::string_view token : splitIds(list)) {
        const auto id = parseId(token);
        if (!id || byId(*id)) continue;
        const std::string s = orderSection(*id);
        if (platform::readInt(env.ini, s, "SelectForA", 0) != 0) {
            report::report(env, kIniError);
            return Err::Damaged;
        }
        auto* m = new (std::nothrow) ReceiveOrder(blankOrder());
        if (!m) return Err::NoMemory;
        m->id = *id;
        readReceiveKeys(env.ini, s, *m, utilityLibrary);
        m->timer = readFlag(env.ini, s, "Timer");
        readName(env.ini, s, *m);
        if (m->mailChecker && m->leaveOnServer) {
            // A mail check leaves nothing to keep on the server: the two never go together.
            m->leaveOnServer = 0;
            env.ini.write(s, "Nokosu", "0");
        }
        appendTo(folder, m);
    }
    fillChildList(*folder);
    return Err::None;
}

Err OrderList::load(Env& env, bool utilityLibrary) {
    const std::string list =
        platform::readString(env.ini, kTagListSection, kTagOrderKey, {}, kIdListMax);
    for (std::string_view token : splitIds(list)) {
        const auto id = parseId(token);
        if (!id || byId(*id)) continue;
        auto* o = new (std::nothrow) ReceiveOrder(blankOrder());
        if (!o) return Err::NoMemory;
        o->id = *id;
        const std::string s = orderSection(*id);
        listAppend(head_, o);
        if (platform::readInt(env.ini, s, "SelectForA", 0) != 0) {
            if (!makeFolder(o)) return Err::NoMemory;
            if (Err e = loadMembers(env, o, utilityLibrary); e != Err::None) return e;
        } else {
            readReceiveKeys(env.ini, s, *o, utilityLibrary);
        }
        o->receiveAtStart = readFlag(env.ini, s, "Kidou");
        o->timer = readFlag(env.ini, s, "Timer");
        o->intervalHours = readRange(env.ini, s, "Jikoku", kMaxIntervalHours);
        o->intervalFiveMinutes = readRange(env.ini, s, "Funn", kMaxIntervalFiveMinutes);
        o->baseHour = readRange(env.ini, s, "StartJikoku", kMaxBaseHour);
        o->baseMinute = readRange(env.ini, s, "StartFunn", kMaxBaseMinute);
        o->selected = readFlag(env.ini, s, "SelectPain");
        readName(env.ini, s, *o);
    }
    return Err::None;
}

Err OrderList::saveLists(Env& env) const {
    Err first = env.ini.write(kTagListSection, kTagOrderKey, idList(head_));
    for (ReceiveOrder* o = head_.next; o; o = o->next) {
        if (!o->isFolder || !o->members) continue;
        fillChildList(*o);
        const std::string s = orderSection(o->id);
        const Err e = listEmpty(*o->members) ? env.ini.removeKey(s, "ChildMenu")
                                             : env.ini.write(s, "ChildMenu", idList(*o->members));
        if (first == Err::None) first = e;
    }
    return first;
}

Err OrderList::selectForPane(Env& env, ReceiveOrder* order) {
    if (!order || order->parent) return Err::Invalid;
    Err first = Err::None;
    for (ReceiveOrder* o : listRange(head_)) {
        if (o != order && o->selected) {
            o->selected = 0;
            const Err e = env.ini.write(orderSection(o->id), "SelectPain", "0");
            if (first == Err::None) first = e;
        }
    }
    order->selected = 1;
    const Err e = env.ini.write(orderSection(order->id), "SelectPain", "1");
    return first == Err::None ? e : first;
}

namespace {

// The keys a single order's section starts with, in the order they stand in the ini.
void writeOrderStart(KeyWriter& w, const ReceiveOrder& o) {
    w.clear();
    w.number("TagNo", o.accountNumber);
    w.flag("SelectForA", 0);
    w.flag("TelConnect", o.telConnect);
    w.flag("TelCut", o.telCut);
    w.flag("Timer", o.timer);
}

}  // namespace

Err writeAutomaticOrder(Env& env, const ReceiveOrder& o) {
    KeyWriter w(env, orderSection(o.id));
    writeOrderStart(w, o);
    w.flag("SelectPain", o.selected);
    w.flag("MailChecker", o.mailChecker);
    w.text("OrderName", sjis::fieldView(o.name));
    return w.result();
}

Err writeCopiedOrder(Env& env, const ReceiveOrder& o) {
    KeyWriter w(env, orderSection(o.id));
    writeOrderStart(w, o);
    w.flag("MailChecker", o.mailChecker);
    w.flag("Nokosu", o.leaveOnServer);
    w.text("OrderName", sjis::fieldView(o.name));
    return w.result();
}

Err writeNewFolder(Env& env, const ReceiveOrder& o) {
    KeyWriter w(env, orderSection(o.id));
    w.clear();
    w.flag("SelectForA", 1);
    w.flag("Timer", 0);
    w.text("OrderName", sjis::fieldView(o.name));
    return w.result();
}

int32_t accountNumberOf(const ReceiveOrder& order) {
    if (!order.isFolder) return order.accountNumber;
    if (order.members && order.members->next) return order.members->next->accountNumber;
    return kOrderWithoutAccount;
}

}  // namespace kolvy::config
