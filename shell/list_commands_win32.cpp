// The compose commands and the list commands of the main window: each reads what it works on
// (the current tab, its selected rows) on the main thread and does the work on a worker thread of
// its own, which reports back by posting to the main window.
#include <windows.h>
// The common controls and the shell need windows.h first.
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <mutex>
#include <thread>

#include "compose/composer.h"
#include "compose/responder.h"
#include "config/accounts.h"
#include "core/list.h"
#include "mime/partial_join.h"
#include "mime/stored_reader.h"
#include "platform/fileutil.h"
#include "platform/process.h"
#include "report/report.h"
#include "rules/evaluate.h"
#include "rules/sort.h"
#include "shell/command_ids.h"
#include "shell/dialog_win32.h"
#include "shell/host_exports_win32.h"
#include "shell/list_commands.h"
#include "shell/list_resource.h"
#include "shell/mainwindow_win32.h"
#include "shell/shell_context_win32.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/rebuild.h"

namespace kolvy::shell::win32 {
namespace {

// Posted to the main window by the workers; sent while a worker waits for the list to let go of
// the rows it is about to free.
constexpr UINT kMsgListDone = 0x8450;     // wParam: a Refresh value
constexpr UINT kMsgDetachList = 0x8451;   // lParam: Tab*
constexpr UINT kMsgComposeDone = 0x8452;  // lParam: Tab* that got a draft, or null

constexpr UINT kMsgComposeToAddress = 0x800E;

enum Refresh : WPARAM { kRedraw = 0, kRefill = 1 };

// Store writers of this module take turns: a composer that stores its draft never meets a list
// operation on the same tab half-way.
std::mutex g_storeTurn;

// The address the program was started with, until its compose request is handled (main thread).
std::string g_address;

// Boxes a worker shows while the busy cursor holds the mouse: the cursor lets go for the box.
class BoxReporter final : public platform::Reporter {
  public:
    explicit BoxReporter(platform::Reporter& inner) : inner_(inner) {}
    platform::Answer show(std::string_view text, std::string_view caption, platform::Icon icon,
                          platform::Buttons buttons) override {
        const bool busy = busy_;
        if (busy) setBusy(false);
        const platform::Answer a = inner_.show(text, caption, icon, buttons);
        if (busy) setBusy(true);
        return a;
    }
    void setBusy(bool on) {
        busy_ = on;
        platform::mainThread().post({on ? kMsgBusyStart : kMsgBusyEnd, 0, 0});
    }

  private:
    platform::Reporter& inner_;
    bool busy_ = false;
};

// What a worker works with: the program's files and settings, its own reporter.
struct WorkerEnv {
    explicit WorkerEnv(Env& base)
        : reporter(base.reporter),
          env{base.fs, base.ini, reporter, base.clock, base.programFolder} {
        env.unattended = base.unattended.load();
        env.logOut = base.logOut.load();
        env.logSize = base.logSize.load();
    }
    ~WorkerEnv() {
        if (busy) reporter.setBusy(false);
    }
    void busyOn() {
        busy = true;
        reporter.setBusy(true);
    }
    BoxReporter reporter;
    Env env;
    bool busy = false;
};

class ListModule;

// Starts a program without waiting for it.
bool startProgram(std::string line) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

// ----------------------------------------------------------------------------- dialogs

struct TabChoiceArgs {
    const std::vector<Tab*>* tabs;
    Tab* chosen;
};

INT_PTR CALLBACK tabChoiceProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* a = dialogArgs<TabChoiceArgs>(dlg, msg, lp);
    switch (msg) {
        case WM_INITDIALOG: {
            HWND list = GetDlgItem(dlg, IDC_TAB_LIST);
            for (Tab* t : *a->tabs) {
                SendMessageA(list, LB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(tabChoiceText(*t).c_str()));
            }
            SendMessageA(list, LB_SETCURSEL, 0, 0);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK || (LOWORD(wp) == IDC_TAB_LIST && HIWORD(wp) == LBN_DBLCLK)) {
                const auto i = SendDlgItemMessageA(dlg, IDC_TAB_LIST, LB_GETCURSEL, 0, 0);
                if (i < 0 || static_cast<size_t>(i) >= a->tabs->size()) return TRUE;
                a->chosen = (*a->tabs)[static_cast<size_t>(i)];
                return endWith(dlg, IDOK);
            }
            return endOnCancel(dlg, wp);
        default:
            break;
    }
    return FALSE;
}

// The tab choice; null when cancelled.
Tab* chooseTabDialog(HWND owner, const std::vector<Tab*>& tabs) {
    if (tabs.empty()) return nullptr;
    TabChoiceArgs a{&tabs, nullptr};
    DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_TAB_CHOICE), owner,
                    tabChoiceProc, reinterpret_cast<LPARAM>(&a));
    return a.chosen;
}

struct ForwardArgs {
    const std::vector<compose::Template>* templates;
    compose::ForwardChoice choice;
};

INT_PTR CALLBACK forwardProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* a = dialogArgs<ForwardArgs>(dlg, msg, lp);
    switch (msg) {
        case WM_INITDIALOG: {
            HWND combo = GetDlgItem(dlg, IDC_FORWARD_TEMPLATE);
            for (const compose::Template& t : *a->templates)
                SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(t.name.c_str()));
            SendMessageA(combo, CB_SETCURSEL, 0, 0);
            CheckRadioButton(dlg, IDC_FORWARD_BODY, IDC_FORWARD_UNCHANGED, IDC_FORWARD_BODY);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wp) >= IDC_FORWARD_BODY && LOWORD(wp) <= IDC_FORWARD_UNCHANGED) {
                // Forwarding unchanged takes no template.
                EnableWindow(GetDlgItem(dlg, IDC_FORWARD_TEMPLATE),
                             !IsDlgButtonChecked(dlg, IDC_FORWARD_UNCHANGED));
                return TRUE;
            }
            if (LOWORD(wp) == IDOK) {
                for (int k = 0; k < 3; ++k) {
                    if (IsDlgButtonChecked(dlg, IDC_FORWARD_BODY + k)) a->choice.kind = k;
                }
                const auto t = SendDlgItemMessageA(dlg, IDC_FORWARD_TEMPLATE, CB_GETCURSEL, 0, 0);
                a->choice.templateIndex = t > 0 ? static_cast<int>(t) : 0;
                return endWith(dlg, IDOK);
            }
            return endOnCancel(dlg, wp);
        default:
            break;
    }
    return FALSE;
}

struct SaveArgs {
    const compose::SaveChoiceRequest* request;
    bool sendNowOffered;
    std::optional<compose::SaveChoice> choice;
};

void initSaveChoice(HWND dlg, const SaveArgs& a) {
    const compose::SaveChoiceRequest& r = *a.request;
    EnableWindow(GetDlgItem(dlg, IDC_SAVE_SEND), r.sendEnabled && a.sendNowOffered);
    EnableWindow(GetDlgItem(dlg, IDC_SAVE_WAITING), r.sendEnabled);
    EnableWindow(GetDlgItem(dlg, IDC_SAVE_NONE), r.dontSaveEnabled);
    SetDlgItemTextA(dlg, IDC_SAVE_NOTICE, r.notice.c_str());
    CheckRadioButton(dlg, IDC_SAVE_SEND, IDC_SAVE_NONE,
                     IDC_SAVE_SEND + static_cast<int>(r.preselected));
}

INT_PTR CALLBACK saveChoiceProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    auto* a = dialogArgs<SaveArgs>(dlg, msg, lp);
    switch (msg) {
        case WM_INITDIALOG:
            initSaveChoice(dlg, *a);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK) {
                for (int k = 0; k < 4; ++k) {
                    if (IsDlgButtonChecked(dlg, IDC_SAVE_SEND + k))
                        a->choice = static_cast<compose::SaveChoice>(k);
                }
                return endWith(dlg, IDOK);
            }
            return endOnCancel(dlg, wp);
        default:
            break;
    }
    return FALSE;
}

INT_PTR CALLBACK draftCheckProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_INITDIALOG:
            SetDlgItemTextA(dlg, IDC_CHECK_TEXT, reinterpret_cast<const char*>(lp));
            SendDlgItemMessageA(dlg, IDC_CHECK_ICON, STM_SETICON,
                                reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_EXCLAMATION)), 0);
            MessageBeep(MB_ICONEXCLAMATION);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDC_CHECK_DISCARD || LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
                EndDialog(dlg, LOWORD(wp));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

// The composer's questions as modal dialogs over the main window, shown on the composer's own
// thread: the main thread's loop goes on meanwhile and loses none of its posted messages.
class WindowDialogs final : public compose::ComposeDialogs {
  public:
    WindowDialogs(HWND owner, Env& env) : owner_(owner), env_(env) {}

    std::optional<compose::ForwardChoice> forwardKind(
        const std::vector<compose::Template>& templates) override {
        ForwardArgs a{&templates, {}};
        const INT_PTR r =
            DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FORWARD_KIND), owner_,
                            forwardProc, reinterpret_cast<LPARAM>(&a));
        if (r != IDOK) return std::nullopt;
        return a.choice;
    }
    bool discardOnCheck(std::string_view text) override {
        const std::string t(text);
        return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_DRAFT_CHECK), owner_,
                               draftCheckProc,
                               reinterpret_cast<LPARAM>(t.c_str())) == IDC_CHECK_DISCARD;
    }
    std::optional<compose::SaveChoice> saveChoice(
        const compose::SaveChoiceRequest& request) override {
        // From here on the draft goes into a tab: no list operation may be half-way there.
        if (!turn_.owns_lock()) turn_ = std::unique_lock<std::mutex>(g_storeTurn);
        SaveArgs a{&request, false, std::nullopt};
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SAVE_CHOICE), owner_,
                        saveChoiceProc, reinterpret_cast<LPARAM>(&a));
        return a.choice;
    }
    bool confirmNotSaving() override {
        return report::ask(env_, compose::kChangedNotSaved) == platform::Answer::Ok;
    }
    Tab* chooseTab(const std::vector<Tab*>& sendTabs) override {
        return chooseTabDialog(owner_, sendTabs);
    }

  private:
    HWND owner_;
    Env& env_;
    std::unique_lock<std::mutex> turn_;
};

// ----------------------------------------------------------------------------- the module

struct CountWhile {
    explicit CountWhile(std::atomic<int32_t>& c) : count(c) { ++count; }
    ~CountWhile() { --count; }
    std::atomic<int32_t>& count;
};

class ListModule {
  public:
    explicit ListModule(ShellContext& c)
        : main_(c.main), program_(c.program), env_(c.program.env) {}
    void registerAll(ShellContext& c);

  private:
    Tab* current() const { return program_.tabs.current(); }
    void startCompose(int mode);
    void composeToAddress(std::string address);
    void composeWorker(compose::ComposeRequest q, bool marked);
    void startListCommand(int id);
    bool passWorker(Tab* tab, std::vector<MailItem*> rows, ListCommand command);
    static void attributeWorker(Env& env, Tab* tab, const std::vector<MailItem*>& rows, int op);
    void sort();
    void rebuild();
    void renumber();
    void join();
    void open();
    void editDraft(Tab* tab, MailItem* item);
    // Runs `work` on a worker with the processing flag set for its length; the list is redrawn
    // or refilled afterwards, as `work` says.
    void onWorker(std::function<Refresh()> work);
    // The same, holding the store turn with the busy cursor shown.
    void onStoreWorker(std::function<Refresh(Env&)> work);
    // The same, with the accounts read for it.
    void onAccountsWorker(std::function<Refresh(Env&, const config::AccountList&)> work);
    void detach(Tab& tab) {
        SendMessageA(main_, kMsgDetachList, 0, reinterpret_cast<LPARAM>(&tab));
    }
    void done(WPARAM refresh);
    void composeDone(Tab* tab);
    compose::ComposeContext composeContext(Env& env, const config::AccountList& accounts,
                                           rules::RuleBook& book, rules::RegistryTabs& dir);
    // The composer's context with the rules it runs, kept beside it for its length.
    struct Composing {
        Composing(ListModule& m, Env& env, const config::AccountList& accounts)
            : dir(m.program_.tabs), cc(m.composeContext(env, accounts, book, dir)) {}
        rules::RegistryTabs dir;
        rules::RuleBook book;
        compose::ComposeContext cc;
    };

    HWND main_;
    Program& program_;
    Env& env_;
    std::vector<int> reselect_;  // file numbers to select after the next refill
    int focusedRow_ = -1;        // the focused row when the list let go of its rows
};

void ListModule::onWorker(std::function<Refresh()> work) {
    runState().processing = true;
    std::thread([this, work = std::move(work)] {
        const Refresh refresh = work();
        runState().processing = false;
        PostMessageA(main_, kMsgListDone, refresh, 0);
    }).detach();
}

void ListModule::onStoreWorker(std::function<Refresh(Env&)> work) {
    onWorker([this, work = std::move(work)] {
        WorkerEnv w(env_);
        std::lock_guard<std::mutex> turn(g_storeTurn);
        w.busyOn();
        return work(w.env);
    });
}

void ListModule::onAccountsWorker(std::function<Refresh(Env&, const config::AccountList&)> work) {
    onStoreWorker([work = std::move(work)](Env& env) {
        config::AccountList accounts;
        accounts.load(env);
        return work(env, accounts);
    });
}

void ListModule::done(WPARAM refresh) {
    Tab* tab = current();
    if (!tab || !tab->plainList) return;
    HWND lv = static_cast<HWND>(tab->plainList);
    // Another list operation has begun meanwhile: the list is its own until it refills it.
    if (runState().processing) refresh = kRedraw;
    if (refresh == kRefill && program_.currentChanged) {
        int focused = ListView_GetNextItem(lv, -1, LVNI_FOCUSED);
        if (focused < 0) focused = focusedRow_;
        focusedRow_ = -1;
        program_.currentChanged(*tab);
        const int count = ListView_GetItemCount(lv);
        ListView_SetItemState(lv, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        if (!reselect_.empty()) {
            selectNumbers(*tab, reselect_);
            reselect_.clear();
        } else if (count > 0) {
            const int row = focused < 0 ? 0 : (focused >= count ? count - 1 : focused);
            ListView_SetItemState(lv, row, LVIS_SELECTED | LVIS_FOCUSED,
                                  LVIS_SELECTED | LVIS_FOCUSED);
            ListView_EnsureVisible(lv, row, FALSE);
        }
    } else {
        InvalidateRect(lv, nullptr, FALSE);
        SendMessageA(main_, kMsgHostTabStatus, 0, 0);
    }
    redrawTabs(main_);  // the tab headers show the counters too
}

// ----------------------------------------------------------------------------- compose

compose::ComposeContext ListModule::composeContext(Env& env, const config::AccountList& accounts,
                                                   rules::RuleBook& book,
                                                   rules::RegistryTabs& dir) {
    compose::ComposeContext cc(env, program_.tabs, accounts.head().next, accounts.head().next);
    cc.index = program_.index;
    compose::loadComposeRules(cc, book, dir);
    return cc;
}

void ListModule::startCompose(int mode) {
    compose::ComposeRequest q;
    q.mode = mode;
    if (mode != compose::kComposeNew) {
        Tab* tab = current();
        MailItem* item = tab ? focusedItem(*tab) : nullptr;
        if (!item) return;
        q.sourceTab = tab;
        q.item = item;
    }
    // The answered message must not leave its tab while the answer is written; a draft open in
    // the editor already carries the mark, which stays its editor's.
    const bool mark = q.item && !q.item->editing;
    if (mark) q.item->editing = 1;
    std::thread([this, q, mark] { composeWorker(q, mark); }).detach();
}

void ListModule::composeWorker(compose::ComposeRequest q, bool marked) {
    // The draft lies in _Tmp until it is stored: the program must not end meanwhile.
    CountWhile waiting(runState().composersWaiting);
    config::AccountList accounts;
    accounts.load(env_);
    Composing c(*this, env_, accounts);
    compose::ComposeOutcome out;
    {
        WindowDialogs dialogs(main_, env_);
        out = compose::compose(c.cc, dialogs, q);
    }
    if (marked) q.item->editing = 0;
    PostMessageA(main_, kMsgComposeDone, 0,
                 reinterpret_cast<LPARAM>(out.stored ? out.tab : nullptr));
}

// Started with a mail address: the prepared draft to it, from the first account; the program
// ends when the composer has finished.
void ListModule::composeToAddress(std::string address) {
    std::thread([this, address] {
        {
            CountWhile waiting(runState().composersWaiting);
            config::AccountList accounts;
            accounts.load(env_);
            const Account* from = accounts.head().next;
            const std::string text = preparedDraft(parseMailto(address), from ? from->fromName : "",
                                                   from ? from->mailAddress : "");
            platform::makeDirs(env_.fs, env_.path(store::kTmpFolder));
            if (platform::writeWholeFile(env_.fs, env_.path("_Tmp\\Tmp.txt"), text) == Err::None) {
                Composing c(*this, env_, accounts);
                compose::ComposeRequest q;
                q.mode = compose::kComposePreparedAtStart;
                WindowDialogs dialogs(main_, env_);
                compose::compose(c.cc, dialogs, q);
            } else {
                report::report(env_, compose::kPreparedUnopenable);
            }
        }
        platform::mainThread().post({kMsgDeferredExit, 0, 0});
    }).detach();
}

void ListModule::composeDone(Tab* stored) {
    Tab* tab = current();
    if (tab && tab == stored) {
        done(kRefill);
    } else {
        done(kRedraw);
    }
    bringToFront(main_);
}

// ----------------------------------------------------------------------------- list commands

void ListModule::startListCommand(int id) {
    const auto command = listCommandOf(id);
    Tab* tab = current();
    if (!command || !tab) return;
    if (runState().running()) {
        report::notice(env_, command->kind == ListCommand::EmptyTrash ? store::kEmptyTrashDuringRun
                                                                      : store::kListEditDuringRun);
        return;
    }
    if (command->kind == ListCommand::EmptyTrash) {
        onWorker([this, tab] {
            WorkerEnv w(env_);
            std::lock_guard<std::mutex> turn(g_storeTurn);
            detach(*tab);
            store::ListOpOptions options{program_.index, runState().running()};
            store::emptyTrash(w.env, *tab, options);
            return kRefill;
        });
        return;
    }
    std::vector<MailItem*> rows = selectedItems(*tab);
    if (rows.empty() && command->op != store::kOpAllRead) return;
    if (command->kind == ListCommand::Attribute) {
        onStoreWorker([tab, rows, op = command->op](Env& env) {
            attributeWorker(env, tab, rows, op);
            return kRedraw;
        });
    } else {
        onWorker([this, tab, rows, c = *command] {
            return passWorker(tab, rows, c) ? kRefill : kRedraw;
        });
    }
}

// False when nothing was touched (the selection stays as it is).
bool ListModule::passWorker(Tab* tab, std::vector<MailItem*> rows, ListCommand command) {
    WorkerEnv w(env_);
    const auto op = store::listOpOf(command.op);
    Tab* target = nullptr;
    if (command.chooseTab()) {
        target = chooseTabDialog(main_, tabChoices(program_.tabs, *tab));
        if (!target) return false;
    } else if (op == store::ListOp::Delete) {
        target = program_.tabs.basicTab(store::kTrashTab);
    }
    if (store::listOpConfirms(command.op) &&
        report::ask(w.env, store::kCompleteDeleteAsk) != platform::Answer::Ok) {
        return false;
    }
    std::lock_guard<std::mutex> turn(g_storeTurn);
    w.busyOn();
    detach(*tab);
    store::ListOpOptions options{program_.index, runState().running()};
    store::runListOp(w.env, *tab, rows, *op, target, options, false);
    return true;
}

void ListModule::attributeWorker(Env& env, Tab* tab, const std::vector<MailItem*>& rows, int op) {
    store::AttributeOptions options;
    options.receiveRunning = runState().running();
    options.draftCheck = waitingDraftFault;
    store::runAttributeOp(env, *tab, rows, op, options);
}

// ----------------------------------------------------------------------------- sort, index

void ListModule::sort() {
    Tab* tab = current();
    if (!tab || tab->kind != store::kReceiveTab) return;
    if (runState().running()) {
        report::notice(env_, rules::kSortDuringRun);
        return;
    }
    onAccountsWorker([this, tab](Env& env, const config::AccountList& accounts) {
        detach(*tab);
        rules::RuleBook book;
        Composing answers(*this, env, accounts);
        compose::RuleResponder responder(answers.cc);
        rules::ApplyOptions options;
        options.listOps.index = program_.index;
        options.ownAddresses = rules::ownAddresses(accounts.head().next);
        options.responder = &responder;
        mime::StoredReader reader;
        const rules::SortSettings settings = rules::readSortSettings(env.ini);
        const rules::ApplyOutcome o = rules::sortTab(env, book, answers.dir, *tab, reader, settings,
                                                     options, runState().running());
        if (o.matched > 0) book.save(env, rules::RuleKind::Command, answers.dir);
        return kRefill;
    });
}

void ListModule::rebuild() {
    Tab* tab = current();
    if (!tab) return;
    if (runState().running()) {
        report::notice(env_, kRebuildDuringRun);
        return;
    }
    onAccountsWorker([this, tab](Env& env, const config::AccountList& accounts) {
        if (!store::rebuildIndex(env, *tab, store::RebuildMode::Command, accounts.head().next)
                 .written) {
            return kRedraw;
        }
        detach(*tab);
        store::freeItems(*tab);
        tab->loadState = store::kNotRead;
        store::readIndex(env, *tab, program_.index);
        return kRefill;
    });
}

void ListModule::renumber() {
    Tab* tab = current();
    if (!tab) return;
    if (report::ask(env_, store::kRenumberAsk, platform::Icon::Information) != platform::Answer::Ok)
        return;
    if (runState().running()) {
        report::notice(env_, kRenumberDuringRun);
        return;
    }
    onAccountsWorker([this, tab](Env& env, const config::AccountList& accounts) {
        detach(*tab);
        store::renumberTab(env, *tab, program_.index, accounts.head().next, false);
        return kRefill;
    });
}

void ListModule::join() {
    Tab* tab = current();
    if (!tab) return;
    if (tab != program_.tabs.basicTab(store::kReceiveTab)) {
        report::notice(env_, mime::kJoinNotBasicTab);
        return;
    }
    if (runState().running()) {
        report::notice(env_, mime::kJoinWhileReceiving);
        return;
    }
    onAccountsWorker([this, tab](Env& env, const config::AccountList& accounts) {
        detach(*tab);
        Composing answers(*this, env, accounts);
        rules::RuleBook book;
        book.load(env, rules::RuleKind::Receive, answers.dir,
                  rules::readSortSettings(env.ini).staleMonths);
        compose::RuleResponder responder(answers.cc);
        mime::AnalyzeContext ac(env, program_.tabs);
        ac.index = program_.index;
        ac.accounts = accounts.head().next;
        ac.receiveRules = rules::receiveRuleHook(book, env);
        ac.responder = &responder;
        const mime::JoinResult r = mime::joinPartialMessages(ac, 1);
        if (r.joined > 0) book.save(env, rules::RuleKind::Receive, answers.dir);
        std::vector<int> pieces;
        for (const auto& g : r.groups)
            pieces.insert(pieces.end(), g.begin(), g.end());
        // Read by the main thread after the worker's post.
        reselect_ = pieces;
        if (r.incomplete) report::notice(env, mime::kJoinMissingPieces);
        return kRefill;
    });
}

// ----------------------------------------------------------------------------- open

void ListModule::open() {
    Tab* tab = current();
    MailItem* item = tab ? focusedItem(*tab) : nullptr;
    if (!item) return;
    const std::string viewer = platform::readString(env_.ini, "Option", "Viewer");
    const std::string path = store::messagePath(env_, *tab, store::itemNumber(*item));
    switch (openWith(*tab, *item, viewer)) {
        case OpenWith::Editor:
            editDraft(tab, item);
            return;
        case OpenWith::Associated: {
            const auto r = reinterpret_cast<INT_PTR>(
                ShellExecuteA(main_, "open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
            if (r > 32) return;
            // A system that associates no program with text files: the default editor shows it.
            if (r == SE_ERR_NOASSOC &&
                startProgram(platform::quotedCommandLine(platform::defaultEditor(), path))) {
                return;
            }
            report::report(env_, kViewerFailed);
            return;
        }
        case OpenWith::Viewer:
            if (!startProgram(viewerCommandLine(viewer, path, *item)))
                report::report(env_, kViewerFailed);
            return;
    }
}

void ListModule::editDraft(Tab* tab, MailItem* item) {
    std::thread([this, tab, item] {
        CountWhile waiting(runState().composersWaiting);
        config::AccountList accounts;
        accounts.load(env_);
        Composing c(*this, env_, accounts);
        {
            WindowDialogs dialogs(main_, env_);
            compose::editStoredDraft(c.cc, dialogs, *tab, *item);
        }
        PostMessageA(main_, kMsgListDone, kRedraw, 0);
    }).detach();
}

// ----------------------------------------------------------------------------- registration

void ListModule::registerAll(ShellContext& c) {
    c.commands.add(cmd::kComposeNew, [this](int) { startCompose(compose::kComposeNew); });
    c.commands.add(cmd::kComposeReply, [this](int) { startCompose(compose::kComposeReply); });
    c.commands.add(cmd::kComposeForward, [this](int) { startCompose(compose::kComposeForward); });
    auto list = [this](int id) { startListCommand(id); };
    c.commands.add(cmd::kMoveToTab, list, kCmdPlain, cmd::kColourNone);
    c.commands.add(cmd::kMakeDraft, list, kCmdPlain, cmd::kMakeWaiting);
    c.commands.add(cmd::kEmptyTrash, list);
    c.commands.add(cmd::kSort, [this](int) { sort(); });
    c.commands.add(cmd::kRebuildIndex, [this](int) { rebuild(); });
    c.commands.add(cmd::kRenumber, [this](int) { renumber(); });
    c.commands.add(cmd::kJoinSplit, [this](int) { join(); });
    c.commands.add(cmd::kOpenViewer, [this](int) { open(); });
    c.messages.onMessage(kMsgComposeToAddress,
                         [this](WPARAM, LPARAM) { composeToAddress(std::move(g_address)); });
    c.messages.onMessage(kMsgListDone, [this](WPARAM wp, LPARAM) { done(wp); });
    c.messages.onMessage(kMsgComposeDone,
                         [this](WPARAM, LPARAM lp) { composeDone(reinterpret_cast<Tab*>(lp)); });
    c.messages.onMessage(kMsgDetachList, [this](WPARAM, LPARAM lp) {
        // The rows are about to be freed: the list asks for none of them until it is refilled.
        const auto* tab = reinterpret_cast<const Tab*>(lp);
        if (!tab || !tab->plainList) return;
        HWND lv = static_cast<HWND>(tab->plainList);
        focusedRow_ = ListView_GetNextItem(lv, -1, LVNI_FOCUSED);
        ListView_SetItemCountEx(lv, 0, 0);
    });
}

}  // namespace

// ----------------------------------------------------------------------------- services

std::vector<MailItem*> selectedItems(Tab& tab) {
    std::vector<int> numbers;
    HWND lv = static_cast<HWND>(tab.plainList);
    if (!lv) return {};
    for (int i = ListView_GetNextItem(lv, -1, LVNI_SELECTED); i >= 0;
         i = ListView_GetNextItem(lv, i, LVNI_SELECTED)) {
        char text[16] = {};
        ListView_GetItemText(lv, i, 0, text, sizeof text);
        if (auto n = rowNumber(text)) numbers.push_back(*n);
    }
    std::vector<MailItem*> items = itemsWithNumbers(tab, numbers);
    // A draft open in the editor stays where it is until the editor is closed.
    std::erase_if(items, [](const MailItem* m) { return m->editing != 0; });
    return items;
}

MailItem* focusedItem(Tab& tab) {
    HWND lv = static_cast<HWND>(tab.plainList);
    if (!lv) return nullptr;
    int row = ListView_GetNextItem(lv, -1, LVNI_FOCUSED);
    if (row < 0 || !(ListView_GetItemState(lv, row, LVIS_SELECTED) & LVIS_SELECTED))
        row = ListView_GetNextItem(lv, -1, LVNI_SELECTED);
    if (row < 0) return nullptr;
    char text[16] = {};
    ListView_GetItemText(lv, row, 0, text, sizeof text);
    const auto n = rowNumber(text);
    if (!n) return nullptr;
    const int numbers[] = {*n};
    const auto items = itemsWithNumbers(tab, numbers);
    return items.empty() ? nullptr : items.front();
}

void selectNumbers(Tab& tab, std::span<const int> numbers) {
    HWND lv = static_cast<HWND>(tab.plainList);
    if (!lv) return;
    const int count = ListView_GetItemCount(lv);
    bool first = true;
    for (int i = 0; i < count; ++i) {
        char text[16] = {};
        ListView_GetItemText(lv, i, 0, text, sizeof text);
        const auto n = rowNumber(text);
        if (!n || std::find(numbers.begin(), numbers.end(), *n) == numbers.end()) continue;
        const UINT state = first ? LVIS_SELECTED | LVIS_FOCUSED : LVIS_SELECTED;
        ListView_SetItemState(lv, i, state, state);
        if (first) ListView_EnsureVisible(lv, i, FALSE);
        first = false;
    }
}

void composeToAddress(HWND main, const std::string& address) {
    g_address = address;
    PostMessageA(main, kMsgComposeToAddress, 0, 0);
}

void registerListCommands(ShellContext& c) {
    // Kept for the process's life: its workers may outlast the window by a moment.
    static std::vector<std::unique_ptr<ListModule>> modules;
    modules.push_back(std::make_unique<ListModule>(c));
    modules.back()->registerAll(c);
}

}  // namespace kolvy::shell::win32
