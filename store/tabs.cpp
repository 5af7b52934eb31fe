#include "store/tabs.h"

#include <array>
#include <new>

#include "core/list.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::store {
namespace {

constexpr char kTagList[] = "TagList";
constexpr char kTagTab[] = "TagTab";
constexpr uint32_t kNewTabColor = 0xc0c0c0;
constexpr uint32_t kNewTabTextColor = 0xffffff;
constexpr uint32_t kFirstRunCustomColour = 0xc0c0c0;
constexpr size_t kListPositionMax = 7;  // ViewIndex and FocusedPos fields hold 7 bytes
constexpr size_t kFontTypeMax = 47;
// Temporary tab names tried: 臨時タブ1, 臨時タブ2, ...
constexpr int kMaxTemporaryNumber = 10000;

struct DefaultTab {
    const char* name;
    uint32_t color;
    int kind;
    uint32_t textColor;
};
constexpr DefaultTab kDefaultTabs[kKindCount] = {
    {"受信", 0xffaa55, kReceiveTab, 0x8c3f00},
    {"送信", 0x6f6fff, kSendTab, 0x9b},
    {"ごみ箱", 0xa0ff42, kTrashTab, 0x366c00},
};
constexpr const char* kKindNames[kKindCount] = {"受信用 ", "送信用 ", "ごみ箱用 "};

std::string section(int id) {
    return std::to_string(id);
}

std::string withName(std::string_view text, std::string_view name) {
    std::string out(text);
    const size_t at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, name);
    return out;
}

bool isDeviceName(std::string_view name) {
    const size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    for (const char* d : {"CON", "PRN", "AUX", "NUL"}) {
        if (sjis::equalsNoCaseAscii(base, d)) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9' &&
        (sjis::equalsNoCaseAscii(base.substr(0, 3), "COM") ||
         sjis::equalsNoCaseAscii(base.substr(0, 3), "LPT"))) {
        return true;
    }
    return false;
}

// "NNNN.txt": the message files of a tab folder.
bool isMessageFileName(std::string_view name) {
    if (name.size() != 8 || !sjis::equalsNoCaseAscii(name.substr(4), ".txt")) return false;
    for (size_t i = 0; i < 4; ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
    }
    return true;
}

bool isTextFileName(std::string_view name) {
    return name.size() >= 4 && sjis::equalsNoCaseAscii(name.substr(name.size() - 4), ".txt");
}

int32_t clampInt(int64_t v, int64_t lo, int64_t hi) {
    return static_cast<int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

void adjust(Tab& t, uint8_t state, int32_t newMark, int d) {
    t.allMailCount += d;
    if (state < 3) {
        t.noReadMailCount += d;
    } else if (state == 16 || state == 17) {
        t.waitMailCount += d;
    } else if (state == 18 || state == 19) {
        t.editMailCount += d;
    }
    if (newMark > 0) t.newMailCount += d;
}

// The ids of the TagTab list in its order: only a decimal id 0..99 that no earlier entry took
// names a tab.
std::vector<int> tagTabIds(std::string_view list) {
    std::vector<int> ids;
    bool seen[kMaxTabs] = {};
    size_t pos = 0;
    while (pos <= list.size()) {
        size_t end = list.find(';', pos);
        if (end == std::string_view::npos) end = list.size();
        std::string_view entry = list.substr(pos, end - pos);
        pos = end + 1;
        while (!entry.empty() && entry.front() == ' ')
            entry.remove_prefix(1);
        while (!entry.empty() && entry.back() == ' ')
            entry.remove_suffix(1);
        if (entry.empty() || entry.size() > 2) continue;
        int id = 0;
        bool digits = true;
        for (char c : entry) {
            if (c < '0' || c > '9') digits = false;
            id = id * 10 + (c - '0');
        }
        if (!digits || id >= kMaxTabs || seen[id]) continue;
        seen[id] = true;
        ids.push_back(id);
    }
    return ids;
}

int32_t readInt32(platform::Profile& ini, const std::string& s, std::string_view key,
                  int64_t def = 0) {
    return clampInt(platform::readInt(ini, s, key, def), INT32_MIN, INT32_MAX);
}

// The keys of the tab's section; the timer keys only when the utility library is there.
void readTabSettings(platform::Profile& ini, Tab& t, bool utilityLoaded) {
    const std::string s = section(t.id);
    t.color = static_cast<uint32_t>(platform::readInt(ini, s, "Color", 0));
    t.textColor = static_cast<uint32_t>(platform::readInt(ini, s, "TabTxtColor", 0));
    const int64_t kind = platform::readInt(ini, s, "Propaty", 0);
    t.kind = kind >= 0 && kind < kKindCount ? static_cast<int32_t>(kind) : kReceiveTab;
    t.basic = platform::readInt(ini, s, "Default", 0) != 0;
    t.closed = platform::readInt(ini, s, "CloseFlag", 0) != 0;
    t.nextFileNo = clampInt(platform::readInt(ini, s, "NextFileNo", 0), 0, kFileNumberLimit);
    t.allMailCount = readInt32(ini, s, "AllMailCount");
    t.noReadMailCount = readInt32(ini, s, "NoReadMailCount");
    t.waitMailCount = readInt32(ini, s, "WaitMailCount");
    t.editMailCount = readInt32(ini, s, "EditMailCount");
    sjis::copyField(t.viewIndex, platform::readString(ini, s, "ViewIndex", "0", kListPositionMax));
    sjis::copyField(t.focusedPos,
                    platform::readString(ini, s, "FocusedPos", "0", kListPositionMax));
    t.tabCursor = platform::readInt(ini, s, "TabCursor", 0) != 0;
    t.newMailInfoDlg = platform::readInt(ini, s, "NewMailInfoDlg", 1) != 0;
    t.otherGomiIcon = readInt32(ini, s, "OtherGomiIcon");
    if (!utilityLoaded) return;
    t.openViewer = readInt32(ini, s, "OpenViewer");
    t.jikoku = readInt32(ini, s, "Jikoku");
    t.funn = readInt32(ini, s, "Funn");
    t.startJikoku = readInt32(ini, s, "StartJikoku");
    t.startFunn = readInt32(ini, s, "StartFunn");
    t.sousinTimer = readInt32(ini, s, "SousinTimer");
    t.gomiKaraJyusinNichiji = readInt32(ini, s, "GomiKara_JyusinNichiji");
}

using BasicTabs = std::array<bool, kKindCount>;

// One basic tab per kind: the first marked one; a basic tab is never closed.
BasicTabs settleBasicTabs(Tab& head) {
    BasicTabs have{};
    for (Tab* t = head.next; t; t = t->next) {
        if (!t->basic) continue;
        if (have[t->kind]) {
            t->basic = 0;
        } else {
            have[t->kind] = true;
            t->closed = 0;
        }
    }
    for (Tab* t = head.next; t; t = t->next)
        t->open = !t->closed;
    return have;
}

// The tab that was current at the last end; the mark is cleared in the ini as it is taken.
Tab* takeTabCursor(platform::Profile& ini, Tab& head) {
    Tab* cursor = nullptr;
    for (Tab* t = head.next; t; t = t->next) {
        if (!t->tabCursor) continue;
        ini.write(section(t->id), "TabCursor", "0");
        t->tabCursor = 0;
        cursor = t;
    }
    return cursor;
}

// A kind without a basic tab gets its first tab as the basic one (said once); false when a kind
// has no tab at all.
bool supplyBasicTabs(Env& env, Tab& head, const BasicTabs& have) {
    std::string missing;
    for (int k = 0; k < kKindCount; ++k) {
        if (!have[k]) missing += kKindNames[k];
    }
    if (missing.empty()) return true;
    report::report(env, missing + kNoBasicTab);
    std::string none;
    for (int k = 0; k < kKindCount; ++k) {
        if (have[k]) continue;
        Tab* pick = nullptr;
        for (Tab* t = head.next; t && !pick; t = t->next) {
            if (t->kind == k) pick = t;
        }
        if (!pick) {
            none += kKindNames[k];
            continue;
        }
        pick->basic = 1;
        env.ini.write(section(pick->id), "Default", "1");
        if (pick->closed) {
            pick->closed = 0;
            pick->open = 1;
            env.ini.write(section(pick->id), "CloseFlag", "0");
        }
    }
    if (none.empty()) return true;
    report::report(env, none + kNoTabOfKind);
    return false;
}

}  // namespace

bool validTabName(std::string_view name) {
    if (name.empty() || name.size() > kTabNameMax) return false;
    if (name == "." || name == "..") return false;
    if (name.back() == ' ' || name.back() == '.') return false;
    for (size_t i = 0; i < name.size();) {
        const size_t n = sjis::charLen(name, i);
        const auto c = static_cast<unsigned char>(name[i]);
        if (n == 1) {
            if (sjis::isLead(c)) return false;  // a character cut in half
            if (c < 0x20 || c == 0x7F) return false;
            for (char bad : std::string_view("\\/:*?\"<>|")) {
                if (name[i] == bad) return false;
            }
        }
        i += n;
    }
    return !isDeviceName(name);
}

TabLook loadTabLook(platform::Profile& ini) {
    TabLook look;
    look.fontSize = static_cast<int>(platform::readInt(ini, "TabOption", "TabFontSize", 13));
    look.fontType =
        platform::readString(ini, "TabOption", "TabFontType", "ＭＳ Ｐゴシック", kFontTypeMax);
    look.height = static_cast<int>(platform::readInt(ini, "TabOption", "TabHight", 20));
    look.width = static_cast<int>(platform::readInt(ini, "TabOption", "TabWidth", 110));
    look.viewStyle = static_cast<int>(platform::readInt(ini, "TabOption", "ViewStayle", 0));
    look.leftMargin = static_cast<int>(platform::readInt(ini, "TabOption", "TabLeftMargin", 16));
    look.catFoot = static_cast<int>(platform::readInt(ini, "TabOption", "CatFoot", 1));
    return look;
}

std::array<uint32_t, 16> loadCustomColours(platform::Profile& ini) {
    std::array<uint32_t, 16> out{};
    for (int i = 0; i < 16; ++i) {
        const std::string key = std::to_string(i);
        auto text = ini.read("CustColors", key);
        auto v = text ? platform::parseNumber(*text) : std::nullopt;
        if (!v) {
            platform::writeHex(ini, "CustColors", key, kFirstRunCustomColour);
            v = kFirstRunCustomColour;
        }
        out[static_cast<size_t>(i)] = static_cast<uint32_t>(*v);
    }
    return out;
}

// ----------------------------------------------------------------------------- counters

void countIn(Tab& tab, uint8_t state, int32_t newMark) {
    adjust(tab, state, newMark, +1);
}
void countOut(Tab& tab, uint8_t state, int32_t newMark) {
    adjust(tab, state, newMark, -1);
}

Err writeCounters(Env& env, const Tab& tab) {
    if (tab.external) return writeSummary(env, tab);
    const std::string s = section(tab.id);
    Err e = platform::writeInt(env.ini, s, "NoReadMailCount", tab.noReadMailCount);
    if (e == Err::None) e = platform::writeInt(env.ini, s, "AllMailCount", tab.allMailCount);
    if (e == Err::None) e = platform::writeInt(env.ini, s, "EditMailCount", tab.editMailCount);
    if (e == Err::None) e = platform::writeInt(env.ini, s, "WaitMailCount", tab.waitMailCount);
    return e;
}

Err writeNextFileNo(Env& env, const Tab& tab) {
    if (tab.external) return Err::None;
    return platform::writeInt(env.ini, section(tab.id), "NextFileNo", tab.nextFileNo);
}

Err writeListPosition(Env& env, const Tab& tab) {
    if (tab.external) return writeSummary(env, tab);
    const std::string s = section(tab.id);
    Err e = env.ini.write(s, "ViewIndex", sjis::fieldView(tab.viewIndex));
    if (e == Err::None) e = env.ini.write(s, "FocusedPos", sjis::fieldView(tab.focusedPos));
    return e;
}

// ----------------------------------------------------------------------------- registry

TabRegistry::TabRegistry() : head_{} {}

TabRegistry::~TabRegistry() {
    clear();
}

void TabRegistry::clear() {
    for (Tab* t = head_.next; t;) {
        Tab* next = t->next;
        freeItems(*t);
        delete t;
        t = next;
    }
    head_.next = head_.prev = nullptr;
    current_ = nullptr;
}

size_t TabRegistry::count() const {
    return listSize(head_);
}

Tab* TabRegistry::newTab() {
    auto* t = new (std::nothrow) Tab();
    if (!t) return nullptr;
    t->open = 1;
    t->tabItem = -1;
    t->newMailInfoDlg = 1;
    sjis::copyField(t->viewIndex, "0");
    sjis::copyField(t->focusedPos, "0");
    return t;
}

Tab* TabRegistry::findByName(std::string_view name) const {
    for (Tab* t = head_.next; t; t = t->next) {
        if (sjis::equalsNoCase(sjis::fieldView(t->name), name)) return t;
    }
    return nullptr;
}

Tab* TabRegistry::findById(int id) const {
    for (Tab* t = head_.next; t; t = t->next) {
        if (t->id == id) return t;
    }
    return nullptr;
}

Tab* TabRegistry::basicTab(int kind) const {
    for (Tab* t = head_.next; t; t = t->next) {
        if (t->basic && t->kind == kind) return t;
    }
    return nullptr;
}

Tab* TabRegistry::firstOpen() const {
    for (Tab* t = head_.next; t; t = t->next) {
        if (!t->closed && !t->external) return t;
    }
    return nullptr;
}

int TabRegistry::freeId() const {
    bool used[kMaxTabs] = {};
    for (Tab* t = head_.next; t; t = t->next) {
        if (t->id >= 0 && t->id < kMaxTabs) used[t->id] = true;
    }
    for (int id = 0; id < kMaxTabs; ++id) {
        if (!used[id]) return id;
    }
    return -1;
}

void TabRegistry::remove(Tab* tab) {
    const bool wasCurrent = current_ == tab;
    freeItems(*tab);
    listUnlink(head_, tab);
    delete tab;
    if (wasCurrent) current_ = firstOpen();
}

Err TabRegistry::writeTagList(Env& env) {
    std::string ids;
    for (Tab* t = head_.next; t; t = t->next) {
        if (t->external) continue;
        if (!ids.empty()) ids += ';';
        ids += std::to_string(t->id);
    }
    return env.ini.write(kTagList, kTagTab, ids);
}

Err TabRegistry::writeSection(Env& env, const Tab& t) {
    if (t.external) return Err::None;
    const std::string s = section(t.id);
    platform::Profile& ini = env.ini;
    Err e = ini.write(s, "TabName", sjis::fieldView(t.name));
    if (e == Err::None) e = platform::writeHex(ini, s, "Color", t.color);
    if (e == Err::None) e = platform::writeHex(ini, s, "TabTxtColor", t.textColor);
    if (e == Err::None) e = platform::writeInt(ini, s, "Propaty", t.kind);
    if (e == Err::None) e = platform::writeInt(ini, s, "CloseFlag", t.closed ? 1 : 0);
    if (e == Err::None) e = platform::writeInt(ini, s, "Default", t.basic ? 1 : 0);
    if (e == Err::None) e = platform::writeInt(ini, s, "AllMailCount", t.allMailCount);
    if (e == Err::None) e = platform::writeInt(ini, s, "NoReadMailCount", t.noReadMailCount);
    if (e == Err::None) e = platform::writeInt(ini, s, "WaitMailCount", t.waitMailCount);
    if (e == Err::None) e = platform::writeInt(ini, s, "EditMailCount", t.editMailCount);
    if (e == Err::None) e = platform::writeInt(ini, s, "NextFileNo", t.nextFileNo);
    if (e == Err::None) e = platform::writeInt(ini, s, "OtherGomiIcon", t.otherGomiIcon);
    return e;
}

Err TabRegistry::writeDefaults(Env& env) {
    platform::Profile& ini = env.ini;
    // Folders and indexes first, the registry last: a kill in between leaves no registered tab
    // without its folder (the next start writes the defaults again over what is there).
    platform::makeDirs(env.fs, env.path(kTmpFolder));
    const std::string data = dataFolder(env);
    platform::makeDirs(env.fs, data);
    for (const DefaultTab& d : kDefaultTabs) {
        const std::string folder = sjis::joinPath(data, d.name);
        platform::makeDirs(env.fs, sjis::joinPath(folder, kAttachFolder));
        // An index already there (settings lost, mail kept) is never overwritten.
        createIndexFile(env, folder);
    }
    for (int i = 0; i < kKindCount; ++i) {
        // A section left from an earlier registry must not lend its keys to a default tab.
        ini.removeSection(section(i));
    }
    for (int i = 0; i < kKindCount; ++i) {
        const DefaultTab& d = kDefaultTabs[i];
        const std::string s = section(i);
        ini.write(s, "TabName", d.name);
        platform::writeHex(ini, s, "Color", d.color);
        platform::writeInt(ini, s, "Propaty", d.kind);
        platform::writeInt(ini, s, "CloseFlag", 0);
        platform::writeHex(ini, s, "TabTxtColor", d.textColor);
        platform::writeInt(ini, s, "Default", 1);
    }
    Err e = ini.write(kTagList, kTagTab, "0;1;2");
    ini.write("0", "TabCursor", "1");
    ini.write("0", "NextFileNo", "0");

    return e;
}

bool TabRegistry::load(Env& env, const RegistryOptions& o) {
    clear();
    platform::Profile& ini = env.ini;
    auto tagTab = ini.read(kTagList, kTagTab);
    if (!tagTab) {
        writeDefaults(env);
        tagTab = ini.read(kTagList, kTagTab);
    }
    std::string_view list = tagTab ? std::string_view(*tagTab) : std::string_view();
    list = sjis::truncate(list, kTagTabMax);

    if (sjis::find(list, '(') != std::string_view::npos) {
        report::report(env, kHierarchicalTabs);
        return false;
    }
    for (int id : tagTabIds(list)) {
        const std::string name = platform::readString(ini, section(id), "TabName", "");
        // A tab whose name cannot be its folder, or whose folder another tab already has, would
        // read or write files that are not its own.
        if (!validTabName(name) || findByName(name)) continue;
        Tab* t = newTab();
        if (!t) {
            report::report(env, kAllocateFailed);
            return false;
        }
        t->id = id;
        sjis::copyField(t->name, name);
        readTabSettings(ini, *t, o.utilityLoaded);
        listAppend(head_, t);
    }
    BasicTabs basic = settleBasicTabs(head_);
    Tab* cursor = takeTabCursor(ini, head_);
    if (!supplyBasicTabs(env, head_, basic)) {
        clear();
        return false;
    }
    current_ = cursor && !cursor->closed ? cursor : firstOpen();
    return true;
}

std::vector<std::string> TabRegistry::registrableFolders(Env& env) {
    std::vector<std::string> out;
    auto entries = env.fs.list(dataFolder(env));
    if (!entries) return out;
    for (const auto& e : *entries) {
        if (!e.isDir) continue;
        const std::string_view n = e.name;
        if (n == "." || n == ".." || n == "..." || sjis::equalsNoCase(n, "_Log") ||
            sjis::equalsNoCase(n, "_Tmp") || sjis::equalsNoCase(n, "CheckerData")) {
            continue;
        }
        if (!validTabName(n) || findByName(n)) continue;
        out.push_back(e.name);
    }
    return out;
}

namespace {

// The tab's folder by the way it is made: a new folder, a numbered temporary one, a folder
// already under MailData, or one outside it. Fills the tab's name and its folder.
Err prepareTabFolder(Env& env, TabRegistry& tabs, CreateMode mode, std::string_view name,
                     std::string& newName, std::string& folder) {
    const std::string data = dataFolder(env);
    newName = std::string(name);
    switch (mode) {
        case CreateMode::NewTab: {
            folder = sjis::joinPath(data, newName);
            platform::makeDirs(env.fs, data);
            if (!validTabName(newName) || tabs.findByName(newName) ||
                env.fs.makeDir(folder) != Err::None) {
                report::report(env, kInvalidTabName);
                return Err::Invalid;
            }
            env.fs.makeDir(sjis::joinPath(folder, kAttachFolder));
            if (createIndexFile(env, folder) != Err::None) {
                report::report(env, kIndexCreateFailed);
                return Err::Exists;
            }
            break;
        }
        case CreateMode::BasicTemporary:
        case CreateMode::ReceiveTemporary:
        case CreateMode::SendTemporary: {
            newName.clear();
            for (int n = 1; n < kMaxTemporaryNumber; ++n) {
                std::string candidate = "臨時タブ" + std::to_string(n);
                if (!tabs.findByName(candidate) &&
                    !env.fs.exists(sjis::joinPath(data, candidate))) {
                    newName = std::move(candidate);
                    break;
                }
            }
            if (newName.empty()) return Err::Exists;
            folder = sjis::joinPath(data, newName);
            if (Err e = platform::makeDirs(env.fs, sjis::joinPath(folder, kAttachFolder));
                e != Err::None) {
                return e;
            }
            if (Err e = createIndexFile(env, folder); e != Err::None) return e;
            break;
        }
        case CreateMode::RegisterFolder: {
            bool listed = false;
            for (const auto& f : tabs.registrableFolders(env))
                listed = listed || sjis::equalsNoCase(f, newName);
            if (!listed) return Err::NotFound;
            folder = sjis::joinPath(data, newName);
            break;
        }
        case CreateMode::ExternalFolder: {
            folder = std::string(sjis::parentPath(name));
            newName = std::string(sjis::truncate(sjis::lastComponent(folder), kTabNameMax));
            if (newName.empty() || tabs.findByName(newName)) {
                report::notice(env, kExternalNameTaken);
                return Err::Exists;
            }
            break;
        }
    }

    return Err::None;
}

// The counters and colours of an existing index, or whether it must be rebuilt first.
Err readExistingIndex(Env& env, const std::string& folder, const IndexOptions& index,
                      std::optional<IndexSummary>& summary, bool& needsRebuild) {
    const std::string path = sjis::joinPath(folder, kIndexFileName);
    summary = readSummary(env, path);
    if (summary) return Err::None;
    auto size = env.fs.fileSize(path);
    // A bare header is an empty tab; anything else needs its index rebuilt.
    needsRebuild = !(size && *size == kIndexHeaderSize);
    return needsRebuild && !index.rebuilder ? Err::Damaged : Err::None;
}

void applySummary(Tab& t, const IndexSummary& summary) {
    t.nextFileNo = clampInt(summary.nextFileNo, 0, kFileNumberLimit);
    t.allMailCount = clampInt(summary.allMailCount, INT32_MIN, INT32_MAX);
    t.noReadMailCount = clampInt(summary.noReadMailCount, INT32_MIN, INT32_MAX);
    t.waitMailCount = clampInt(summary.waitMailCount, INT32_MIN, INT32_MAX);
    t.editMailCount = clampInt(summary.editMailCount, INT32_MIN, INT32_MAX);
    t.color = summary.color;
    t.textColor = summary.textColor;
    t.kind = summary.kind >= 0 && summary.kind < kKindCount ? static_cast<int32_t>(summary.kind)
                                                            : kReceiveTab;
}

}  // namespace

Result<Tab*> TabRegistry::create(Env& env, CreateMode mode, std::string_view name,
                                 const IndexOptions& index) {
    const int id = freeId();
    if (id < 0) {
        report::notice(env, kTabLimitReached);
        return Err::Invalid;
    }
    std::string newName, folder;
    if (Err e = prepareTabFolder(env, *this, mode, name, newName, folder); e != Err::None) {
        return e;
    }
    std::optional<IndexSummary> summary;
    bool needsRebuild = false;
    if (mode == CreateMode::RegisterFolder || mode == CreateMode::ExternalFolder) {
        if (Err e = readExistingIndex(env, folder, index, summary, needsRebuild); e != Err::None) {
            return e;
        }
    }

    Tab* t = newTab();
    if (!t) {
        report::report(env, kAllocateFailed);
        return Err::NoMemory;
    }
    t->id = id;
    sjis::copyField(t->name, newName);
    t->color = kNewTabColor;
    t->textColor = kNewTabTextColor;
    t->kind = mode == CreateMode::SendTemporary ? kSendTab : kReceiveTab;
    t->basic = mode == CreateMode::BasicTemporary;
    if (mode == CreateMode::ExternalFolder) {
        t->external = 1;
        sjis::copyField(t->folder, folder);
    }
    if (summary) applySummary(*t, *summary);

    if (mode == CreateMode::BasicTemporary) {
        if (Tab* old = basicTab(kReceiveTab)) {
            old->basic = 0;
            writeSection(env, *old);
        }
    }
    // A reused id must not inherit what the section held for an earlier tab.
    if (!t->external) env.ini.removeSection(section(id));
    listAppend(head_, t);
    if (needsRebuild && !index.rebuilder->rebuild(env, *t, RebuildMode::Silent)) {
        remove(t);
        return Err::Damaged;
    }
    if (!t->external) {
        writeSection(env, *t);
        writeTagList(env);
    }
    return t;
}

Err TabRegistry::rename(Env& env, Tab& tab, std::string_view newName) {
    if (tab.external) return Err::Invalid;
    while (!newName.empty() && newName.back() == ' ')
        newName.remove_suffix(1);
    const Tab* other = findByName(newName);
    if (!validTabName(newName) || (other && other != &tab)) {
        report::report(env, kInvalidTabName);
        return Err::Invalid;
    }
    if (newName == sjis::fieldView(tab.name)) return Err::None;
    const std::string data = dataFolder(env);
    if (env.fs.rename(sjis::joinPath(data, sjis::fieldView(tab.name)),
                      sjis::joinPath(data, newName)) != Err::None) {
        report::report(env, kInvalidTabName);
        return Err::Invalid;
    }
    sjis::copyField(tab.name, newName);
    return env.ini.write(section(tab.id), "TabName", newName);
}

Err TabRegistry::setClosed(Env& env, Tab& tab, bool closed) {
    if (closed && tab.basic) {
        report::notice(env, kBasicNotClosable);
        return Err::Invalid;
    }
    tab.closed = closed;
    tab.open = !closed;
    if (closed && current_ == &tab) current_ = firstOpen();
    if (tab.external) return Err::None;
    return platform::writeInt(env.ini, section(tab.id), "CloseFlag", closed ? 1 : 0);
}

Err TabRegistry::deleteTab(Env& env, Tab& tab) {
    if (tab.basic) {
        report::notice(env, kBasicNotDeletable);
        return Err::Invalid;
    }
    if (tab.external) return Err::Invalid;
    if (report::ask(env, withName(kDeleteTabAsk, sjis::fieldView(tab.name))) !=
        platform::Answer::Ok) {
        return Err::Cancelled;
    }
    const std::string folder = tabFolder(env, tab);
    env.fs.remove(sjis::joinPath(folder, kIndexFileName));
    freeItems(tab);
    tab.loadState = kNotRead;

    auto entries = env.fs.list(folder);
    std::vector<std::string> messages;
    size_t textFiles = 0;
    if (entries) {
        for (const auto& e : *entries) {
            if (e.isDir) continue;
            if (isTextFileName(e.name)) ++textFiles;
            if (isMessageFileName(e.name)) messages.push_back(e.name);
        }
    }
    if (textFiles > 0 && report::ask(env, kDeleteFilesAsk) != platform::Answer::Ok) {
        return Err::Cancelled;  // the index is gone already; a rebuild can make it again
    }
    for (const auto& m : messages)
        env.fs.remove(sjis::joinPath(folder, m));
    // Every attachment folder found, whatever its number.
    const std::string attach = sjis::joinPath(folder, kAttachFolder);
    if (auto inside = env.fs.list(attach)) {
        for (const auto& e : *inside) {
            if (e.isDir) removeFolderFiles(env, sjis::joinPath(attach, e.name));
        }
    }
    env.fs.removeDir(attach);
    if (env.fs.removeDir(folder) != Err::None) report::report(env, kFolderNotRemoved);

    env.ini.removeSection(section(tab.id));
    remove(&tab);
    return writeTagList(env);
}

Err TabRegistry::unregister(Env& env, Tab& tab) {
    if (tab.basic) {
        report::notice(env, kBasicNotUnregistrable);
        return Err::Invalid;
    }
    if (report::ask(env, withName(kUnregisterAsk, sjis::fieldView(tab.name))) !=
        platform::Answer::Ok) {
        return Err::Cancelled;
    }
    const bool external = tab.external;
    remove(&tab);
    return external ? Err::None : writeTagList(env);
}

}  // namespace kolvy::store
