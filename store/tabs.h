// The tab registry: which tabs exist, in which order, with which names, colours, kinds and
// counters, as kept in Kolvy.ini:
//   [TagList] TagTab=0;1;2        tab ids 0..99 in tab order
//   [<id>]    TabName, Color, TabTxtColor, Propaty, Default, CloseFlag, NextFileNo, the counters,
//             ViewIndex, FocusedPos, TabCursor, NewMailInfoDlg, OtherGomiIcon (and the utility
//             library's keys)
//   [TabOption], [CustColors]     the look of the tab control, the colour chooser's colours
// A tab is a folder MailData\<name> holding mokuji.bin, NNNN.txt and 添付\; an external folder tab
// is any folder holding a mokuji.bin, shown until exit and never written to Kolvy.ini (its counters
// go to its index's summary line).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "platform/env.h"
#include "store/index.h"

namespace kolvy::store {

inline constexpr int kMaxTabs = 100;  // tab ids 0..99 name the ini sections
inline constexpr size_t kTabNameMax = sizeof(Tab::name) - 1;
inline constexpr size_t kTagTabMax = 4095;

enum TabKind : int32_t { kReceiveTab = 0, kSendTab = 1, kTrashTab = 2 };
inline constexpr int kKindCount = 3;

enum class CreateMode : int {
    NewTab = 0,            // named by the user in the tab dialog
    BasicTemporary = 1,    // a temporary tab that becomes the basic receive tab
    RegisterFolder = 2,    // an existing folder of MailData
    ExternalFolder = 3,    // a mokuji.bin anywhere, for this run only
    ReceiveTemporary = 4,  // an additional temporary receive tab
    SendTemporary = 5,     // an additional temporary send tab
};

inline constexpr char kTabLimitReached[] = "タブ登録数の上限は100です。   ";
inline constexpr char kHierarchicalTabs[] =
    "メール箱が階層的に作成されている場合、Kolvyメールを起動できません。    ";
inline constexpr char kNoBasicTab[] =
    "の「基本タブ」が設定されていません。    \n"
    "何らかの原因で設定がクリアされてしまったと思われます。   \n"
    "とりあえず適当なタブを「基本タブ」に設定するので   \n"
    "起動後、タブ設定ダイアログで確認･変更してください。   \n";
inline constexpr char kNoTabOfKind[] = "のタブが１つも登録されていません。   \n";
inline constexpr char kInvalidTabName[] =
    "名前が無効か（ 使えない文字が含まれている可能性があります ）\n"
    "あるいは既に同じ名前のフォルダがカレントディレクトリにあります。";
inline constexpr char kIndexCreateFailed[] = "mokuji.binファイルを作成できませんでした。    ";
inline constexpr char kNothingToRegister[] = "登録できるタブフォルダが1つもありません。    ";
inline constexpr char kExternalNameTaken[] =
    "既に登録されているか、登録されているタブフォルダに同じ名前のものがあります。    ";
inline constexpr char kBasicNotClosable[] = "「基本タブ」は閉じタブに出来ません。   ";
inline constexpr char kBasicNotDeletable[] = "「基本タブ」は削除できません。   ";
inline constexpr char kDeleteTabAsk[] =
    "「 %s 」タブを削除します\n\nメールファイルがある場合それらも全て    \n"
    "削除されますがよろしいですか？";
inline constexpr char kDeleteFilesAsk[] =
    "目次ファイル（mokuji.bin）を削除しました。\n"
    "本当に残りのメールファイルを削除してよろしいですか？    ";
inline constexpr char kFolderNotRemoved[] = "フォルダが削除できませんでした。    ";
inline constexpr char kBasicNotUnregistrable[] = "「基本タブ」は登録を外せません。    ";
inline constexpr char kUnregisterAsk[] = "「%s」タブを登録から外していいですか？    ";
inline constexpr char kCountersCleared[] =
    "このタブの「メール総数」などの情報がクリアされてしまっているので作成し直します。    \n"
    "（メール数が多い場合時間がかかることがあります）    ";

// A name a tab (and its folder) can have: not empty, at most 59 bytes, no character a folder name
// cannot hold, not "." or "..", no trailing blank or dot (the file system would drop them and the
// folder would not carry the name), not a device name.
bool validTabName(std::string_view name);

// The look of the tab control, [TabOption].
struct TabLook {
    int fontSize = 13;
    std::string fontType = "ＭＳ Ｐゴシック";
    int height = 20;
    int width = 110;
    int viewStyle = 0;  // ViewStayle 1: tabs wrap into several rows
    int leftMargin = 16;
    int catFoot = 1;  // the blinking new-mail mark
};
TabLook loadTabLook(platform::Profile& ini);
// [CustColors] "0".."15"; missing keys are written with their first-run value 0xc0c0c0.
std::array<uint32_t, 16> loadCustomColours(platform::Profile& ini);

// ----------------------------------------------------------------------------- counters
// A message of this state joins (or leaves) the tab: AllMailCount, and NoReadMailCount for
// unread received mail (0-2), WaitMailCount for waiting (16-17), EditMailCount for drafts (18-19);
// the new-mail count for an item marked new.
void countIn(Tab& tab, uint8_t state, int32_t newMark = 0);
void countOut(Tab& tab, uint8_t state, int32_t newMark = 0);
// NoReadMailCount, AllMailCount, EditMailCount, WaitMailCount to the tab's section; an external
// folder tab writes its summary line instead.
Err writeCounters(Env& env, const Tab& tab);
// NextFileNo to the tab's section (an external folder tab keeps it in memory).
Err writeNextFileNo(Env& env, const Tab& tab);
// ViewIndex and FocusedPos (an external folder tab writes its summary line instead).
Err writeListPosition(Env& env, const Tab& tab);
inline bool tabFull(const Tab& tab) {
    return tab.nextFileNo >= 10000;
}

struct RegistryOptions {
    // The utility library loaded: the per-tab library keys are read.
    bool utilityLoaded = false;
};

class TabRegistry {
  public:
    TabRegistry();
    ~TabRegistry();
    TabRegistry(const TabRegistry&) = delete;
    TabRegistry& operator=(const TabRegistry&) = delete;

    // The sentinel head of the tab list, as plug-ins receive it.
    Tab* listHead() { return &head_; }
    Tab* first() const { return head_.next; }
    Tab* current() const { return current_; }
    void setCurrent(Tab* tab) { current_ = tab; }
    size_t count() const;

    // Loads [TagList] and the tab sections, writing the default tabs and their folders on the
    // first run. False when start-up cannot go on (the message has been shown).
    bool load(Env& env, const RegistryOptions& options = {});

    // Creates a tab (see CreateMode). `name` is the user's name (mode 0), the folder of MailData
    // (mode 2) or the path of the picked mokuji.bin (mode 3); temporary tabs name themselves.
    Result<Tab*> create(Env& env, CreateMode mode, std::string_view name = {},
                        const IndexOptions& index = {});
    // Sub-folders of MailData that no tab uses, for registering.
    std::vector<std::string> registrableFolders(Env& env);

    Err rename(Env& env, Tab& tab, std::string_view newName);
    Err setClosed(Env& env, Tab& tab, bool closed);
    // Deletes the tab with its files after the two questions.
    Err deleteTab(Env& env, Tab& tab);
    // Takes the tab out of the registry after the question; its folder stays.
    Err unregister(Env& env, Tab& tab);

    Err writeTagList(Env& env);
    Err writeSection(Env& env, const Tab& tab);

    Tab* findByName(std::string_view name) const;
    Tab* findById(int id) const;
    Tab* basicTab(int kind) const;
    Tab* firstOpen() const;  // the first tab that is open and not an external folder tab

    void clear();

  private:
    int freeId() const;
    Tab* newTab();
    void remove(Tab* tab);
    bool loadOnce(Env& env, const RegistryOptions& options, bool& wroteDefaults);
    Err writeDefaults(Env& env);

    Tab head_;
    Tab* current_ = nullptr;
};

}  // namespace kolvy::store
