#include "store/list_ops.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "core/list.h"
#include "core/mail_state.h"
#include "core/sjis.h"
#include "platform/fileutil.h"
#include "report/report.h"
#include "store/commit.h"
#include "store/message_file.h"
#include "store/paths.h"
#include "store/tabs.h"

namespace kolvy::store {
namespace {

using mail::kColourMask;
using mail::kDraft;
using mail::kMarkMask;
using mail::kOutgoing;
using mail::kReadOffset;
using mail::kSent;
using mail::kWaiting;

std::string withText(std::string_view format, std::string_view text) {
    std::string out(format);
    if (const size_t at = out.find("%s"); at != std::string::npos) out.replace(at, 2, text);
    return out;
}

bool takes(const Tab& target, uint8_t state) {
    if (target.kind == kTrashTab) return true;
    return target.kind == kSendTab ? state >= kOutgoing : state < kOutgoing;
}

enum class Carried { Nothing, Moved, Copied };

// One message of a pass with its record as the source index holds it.
struct Row {
    MailItem* item = nullptr;
    Tab* target = nullptr;
    bool copy = false;
    size_t order = 0;  // place in the source list
    RecordView view;
};

// A message that arrived in its target, for putting it back.
struct Arrived {
    MailItem* item = nullptr;
    int from = 0;
    int to = 0;
    bool copy = false;
    Carried attachments = Carried::Nothing;
};

struct Counters {
    int32_t all = 0, noRead = 0, fresh = 0, wait = 0, edit = 0;
    explicit Counters(const Tab& t)
        : all(t.allMailCount),
          noRead(t.noReadMailCount),
          fresh(t.newMailCount),
          wait(t.waitMailCount),
          edit(t.editMailCount) {}
    void restore(Tab& t) const {
        t.allMailCount = all;
        t.noReadMailCount = noRead;
        t.newMailCount = fresh;
        t.waitMailCount = wait;
        t.editMailCount = edit;
    }
};

struct Group {
    explicit Group(Tab* t) : target(t), oldNext(t->nextFileNo), oldCounters(*t) {}
    Tab* target;
    std::vector<Row*> rows;
    std::vector<Arrived> arrived;
    AppendedBatch batch;
    bool appended = false;
    int32_t oldNext;
    Counters oldCounters;
};

// An attachment folder whose message has no attachments: the user may delete it. Kept, it must
// not go with a message that leaves its tab, so it is set aside under another name there.
void offerOrphan(Env& env, std::string_view tabFolder, int number, bool leaving) {
    const std::string folder = attachmentFolder(tabFolder, number);
    if (report::ask(env, withText(kOrphanAsk, folder)) == platform::Answer::Ok) {
        removeFolderFiles(env, folder);
    } else if (leaving) {
        setAsideStaleAttachments(env, tabFolder, number);
    }
}

Err carryAttachments(Env& env, std::string_view from, int number, std::string_view to,
                     int newNumber, uint8_t state, bool copy, Carried& carried) {
    carried = Carried::Nothing;
    if (!env.fs.isDir(attachmentFolder(from, number))) return Err::None;
    if (!stateHasAttachments(state)) {
        offerOrphan(env, from, number, !copy);
        return Err::None;
    }
    if (copy) {
        if (Err e = copyAttachments(env, from, number, to, newNumber); e != Err::None) {
            const std::string partial = attachmentFolder(to, newNumber);
            if (env.fs.isDir(partial)) removeFolderFiles(env, partial);
            return e;
        }
        carried = Carried::Copied;
        return Err::None;
    }
    if (Err e = moveAttachments(env, from, number, to, newNumber); e != Err::None) return e;
    carried = Carried::Moved;
    return Err::None;
}

// A message that arrived in a target goes back: a copy is deleted, a moved file renamed home.
void putBack(Env& env, std::string_view sourceFolder, std::string_view targetFolder, int from,
             int to, bool copy) {
    const std::string there = sjis::joinPath(targetFolder, messageFileName(to));
    if (copy) {
        env.fs.remove(there);
    } else {
        env.fs.rename(there, sjis::joinPath(sourceFolder, messageFileName(from)));
    }
}

// Takes arrived messages back out of their target's folder (their records are not, or no longer,
// in its index): attachment folders go home, copies are deleted.
void sendBack(Env& env, std::string_view sourceFolder, std::string_view targetFolder,
              const std::vector<Arrived>& arrived) {
    for (auto it = arrived.rbegin(); it != arrived.rend(); ++it) {
        if (it->attachments == Carried::Moved) {
            moveAttachments(env, targetFolder, it->to, sourceFolder, it->from);
        } else if (it->attachments == Carried::Copied) {
            removeFolderFiles(env, attachmentFolder(targetFolder, it->to));
        }
        putBack(env, sourceFolder, targetFolder, it->from, it->to, it->copy);
    }
}

// Copies a group's rows into its target and appends their records. Rows copied before a failure
// are still appended; the row that failed leaves nothing behind.
Err fillGroup(Env& env, std::string_view sourceFolder, Group& g, PassOutcome& out,
              const ListOpOptions& options) {
    Tab& target = *g.target;
    const std::string targetFolder = tabFolder(env, target);
    int next = target.nextFileNo;
    std::vector<IndexRecord> records;
    Err failure = Err::None;
    for (Row* row : g.rows) {
        const uint8_t state = row->view.state;
        if (!takes(target, state)) {
            ++out.wrongKind;
            continue;
        }
        if (!validFileNumber(next)) {
            ++out.leftByFullTarget;
            continue;
        }
        const int number = row->view.fileNo;
        // A move is one rename, so that a kill never leaves the message in both tabs.
        const Err moved = row->copy
                              ? copyMessageFile(env, sourceFolder, number, targetFolder, next)
                              : moveMessageFile(env, sourceFolder, number, targetFolder, next);
        if (Err e = moved; e != Err::None) {
            // A file already under the target's next number: its index and folder disagree.
            if (e == Err::Exists) report::report(env, kCopyFailed);
            failure = e;
            break;
        }
        Carried carried = Carried::Nothing;
        if (Err e = carryAttachments(env, sourceFolder, number, targetFolder, next, state,
                                     row->copy, carried);
            e != Err::None) {
            putBack(env, sourceFolder, targetFolder, number, next, row->copy);
            failure = e;
            break;
        }
        IndexRecord record = toRecord(row->view);
        record.fileNo = static_cast<uint16_t>(next);
        records.push_back(std::move(record));
        g.arrived.push_back({row->item, number, next, row->copy, carried});
        ++next;
    }
    if (records.empty()) return failure;
    auto batch = appendRecords(env, target, std::move(records), options.index);
    if (!batch) {
        sendBack(env, sourceFolder, targetFolder, g.arrived);
        g.arrived.clear();
        return batch.error();
    }
    g.batch = batch.take();
    g.appended = true;
    for (size_t k = 0; k < g.batch.items.size() && k < g.arrived.size(); ++k)
        g.batch.items[k]->newMark = g.arrived[k].item->newMark;
    target.nextFileNo = next;
    writeNextFileNo(env, target);
    for (const Arrived& a : g.arrived)
        countIn(target, a.item->state, a.item->newMark);
    writeCounters(env, target);
    return failure;
}

// Puts a target back as it was before the pass. False when its index no longer ends where the
// pass left it (then its messages stay).
bool restoreGroup(Env& env, std::string_view sourceFolder, Group& g) {
    Tab& target = *g.target;
    if (undoAppend(env, target, g.batch) != Err::None) return false;
    sendBack(env, sourceFolder, tabFolder(env, target), g.arrived);
    g.arrived.clear();
    g.appended = false;
    target.nextFileNo = g.oldNext;
    writeNextFileNo(env, target);
    g.oldCounters.restore(target);
    writeCounters(env, target);
    return true;
}

size_t movedCount(const std::vector<Group>& groups) {
    size_t n = 0;
    for (const Group& g : groups) {
        for (const Arrived& a : g.arrived)
            n += a.copy ? 0 : 1;
    }
    return n;
}

}  // namespace

std::optional<ListOp> listOpOf(int number) {
    switch (number) {
        case 0:
        case 7:
        case 9:
            return ListOp::Move;
        case 1:
        case 6:
            return ListOp::Copy;
        case 2:
            return ListOp::Delete;
        case 3:
        case 4:
        case 5:
        case 8:
            return ListOp::CompleteDelete;
        default:
            return std::nullopt;
    }
}

namespace {

// The rows that name a message of the source, once each, in list order.
std::vector<Row> passRows(Tab& source, std::span<const PassRow> rows) {
    std::unordered_map<const MailItem*, size_t> position;
    size_t at = 0;
    for (MailItem* m : listRange(source.items))
        position.emplace(m, at++);
    std::vector<Row> work;
    std::unordered_set<const MailItem*> seen;
    for (const PassRow& r : rows) {
        const auto p = r.item ? position.find(r.item) : position.end();
        if (p == position.end() || !seen.insert(r.item).second) continue;
        Row row;
        row.item = r.item;
        row.target = r.target;
        row.copy = r.copy;
        row.order = p->second;
        work.push_back(row);
    }
    std::sort(work.begin(), work.end(),
              [](const Row& a, const Row& b) { return a.order < b.order; });
    return work;
}

// The records travel as the source index holds them: every byte but the number and offset. The
// rows' views point into `image`, which must outlive them.
Err readPassRecords(Env& env, Tab& source, std::vector<Row>& work, std::string& image) {
    auto read = platform::readWholeFile(env.fs, indexPath(env, source));
    if (!read) {
        report::report(env, kIndexReadFailed);
        return read.error();
    }
    image = read.take();
    for (Row& row : work) {
        if (!parseRecord(image, row.item->offset, row.view) ||
            row.view.offset != row.item->offset || row.view.fileNo != itemNumber(*row.item)) {
            report::report(env, kIndexReadFailed);
            return Err::Damaged;
        }
    }
    return Err::None;
}

// Rows by target tab, in the order the targets first appear; rows without a target delete.
std::vector<Group> groupByTarget(Tab& source, std::vector<Row>& work, std::vector<Row*>& deletes) {
    std::vector<Group> groups;
    for (Row& row : work) {
        if (!row.target) {
            deletes.push_back(&row);
            continue;
        }
        if (row.target == &source) continue;  // a move onto its own tab does nothing
        auto g = std::find_if(groups.begin(), groups.end(),
                              [&](const Group& x) { return x.target == row.target; });
        if (g == groups.end()) {
            groups.emplace_back(row.target);
            g = groups.end() - 1;
        }
        g->rows.push_back(&row);
    }
    return groups;
}

// The moved messages must be on the disk in their targets before the source lets them go; then
// the drop journal says which source messages go, so that a kill between the compaction and the
// last deletion is finished by the start-up check, never undone.
Err secureMoves(Env& env, Tab& source, const std::vector<Group>& groups,
                const std::unordered_set<const MailItem*>& drop) {
    std::vector<std::string> durable;
    for (const Group& g : groups) {
        if (!g.appended) continue;
        const std::string folder = tabFolder(env, *g.target);
        for (const Arrived& a : g.arrived)
            durable.push_back(sjis::joinPath(folder, messageFileName(a.to)));
        durable.push_back(indexPath(env, *g.target));
    }
    Err e = durable.empty() ? Err::None : env.fs.syncFiles(durable);
    if (e == Err::None) e = writeDropJournal(env, source, drop);
    if (e != Err::None) report::report(env, kWriteFailed);
    return e;
}

// Takes the dropped messages out of the source; when that fails the moved ones are taken out
// of their targets again (they are still in the source).
void dropFromSource(Env& env, Tab& source, const std::string& sourceFolder,
                    std::vector<Group>& groups, const std::unordered_set<const MailItem*>& drop,
                    size_t deleting, PassOutcome& out) {
    const Err before = secureMoves(env, source, groups, drop);
    const bool journalled = before == Err::None;
    const Err e = !journalled
                      ? before
                      : compactIndex(
                            env, source, [&](const MailItem& m) { return drop.count(&m) != 0; },
                            [&](const MailItem& m) {
                                if (deleteMessage(env, sourceFolder, itemNumber(m)) != Err::None)
                                    out.unremoved.push_back(itemNumber(m));
                            });
    if (journalled) removeDropJournal(env, source);
    if (e != Err::None) {
        for (Group& g : groups) {
            const bool moves = std::any_of(g.arrived.begin(), g.arrived.end(),
                                           [](const Arrived& a) { return !a.copy; });
            if (g.appended && moves) restoreGroup(env, sourceFolder, g);
        }
        if (out.ok()) out.error = e;
        return;
    }
    out.deleted = static_cast<int>(deleting);
    if (!out.unremoved.empty()) {
        report::report(env, kNotRemoved);
        if (out.ok()) out.error = Err::Io;
    }
}

}  // namespace

PassOutcome runPass(Env& env, Tab& source, std::span<const PassRow> rows,
                    const ListOpOptions& options) {
    PassOutcome out;
    if (options.receiveRunning) {
        report::notice(env, kListEditDuringRun);
        out.error = Err::Cancelled;
        return out;
    }
    std::vector<Row> work = passRows(source, rows);
    if (work.empty()) return out;
    std::string image;
    if (Err e = readPassRecords(env, source, work, image); e != Err::None) {
        out.error = e;
        return out;
    }

    const std::string sourceFolder = tabFolder(env, source);
    std::vector<Row*> deletes;
    std::vector<Group> groups = groupByTarget(source, work, deletes);
    for (Group& g : groups) {
        if (Err e = fillGroup(env, sourceFolder, g, out, options); e != Err::None) {
            out.error = e;
            break;
        }
    }

    std::unordered_set<const MailItem*> drop;
    for (const Group& g : groups) {
        for (const Arrived& a : g.arrived) {
            if (!a.copy) drop.insert(a.item);
        }
    }
    // Deleting is part of the same pass: a failure before it deletes nothing.
    if (out.ok()) {
        for (Row* row : deletes) {
            if (env.fs.isDir(attachmentFolder(sourceFolder, row->view.fileNo)) &&
                !stateHasAttachments(row->view.state)) {
                offerOrphan(env, sourceFolder, row->view.fileNo, true);
            }
            drop.insert(row->item);
        }
    }
    const size_t deleting = drop.size() - std::min(drop.size(), movedCount(groups));
    if (!drop.empty()) dropFromSource(env, source, sourceFolder, groups, drop, deleting, out);
    for (const Group& g : groups) {
        if (!g.appended) continue;
        for (const Arrived& a : g.arrived)
            ++(a.copy ? out.copied : out.moved);
    }
    if (out.leftByFullTarget > 0) report::notice(env, kTargetFilledUp);
    return out;
}

PassOutcome runListOp(Env& env, Tab& source, std::span<MailItem* const> selection, ListOp op,
                      Tab* target, const ListOpOptions& options, bool confirm) {
    PassOutcome out;
    if (options.receiveRunning) {
        report::notice(env, kListEditDuringRun);
        out.error = Err::Cancelled;
        return out;
    }
    if (selection.empty()) return out;
    if (op == ListOp::Delete && source.kind == kTrashTab) {
        report::notice(env, kTrashNotDeletable);
        out.error = Err::Cancelled;
        return out;
    }
    if ((op == ListOp::Move || op == ListOp::Copy) && source.kind == kTrashTab) {
        report::notice(env, kFromTrashNotice);
    }
    if (op == ListOp::CompleteDelete && confirm &&
        report::ask(env, kCompleteDeleteAsk) != platform::Answer::Ok) {
        out.error = Err::Cancelled;
        return out;
    }
    if (op != ListOp::CompleteDelete) {
        if (!target) {
            out.error = Err::Invalid;
            return out;
        }
        if (tabFull(*target)) {
            report::notice(env, kTargetFull);
            out.error = Err::Cancelled;
            return out;
        }
    }
    std::vector<PassRow> rows;
    rows.reserve(selection.size());
    for (MailItem* m : selection)
        rows.push_back({m, op == ListOp::CompleteDelete ? nullptr : target, op == ListOp::Copy});
    return runPass(env, source, rows, options);
}

PassOutcome emptyTrash(Env& env, Tab& trash, const ListOpOptions& options) {
    PassOutcome out;
    out.error = Err::Cancelled;
    if (options.receiveRunning) {
        report::notice(env, kEmptyTrashDuringRun);
        return out;
    }
    if (trash.kind != kTrashTab) {
        report::notice(env, kNotTrashTab);
        return out;
    }
    if (Err e = readWholeIndex(env, trash, options.index); e != Err::None) {
        out.error = e;
        return out;
    }
    if (listEmpty(trash.items)) {
        report::notice(env, kNothingToDelete);
        return out;
    }
    if (report::ask(env, withText(kEmptyTrashAsk, tabName(trash))) != platform::Answer::Ok ||
        report::ask(env, kEmptyTrashAskAgain) != platform::Answer::Ok) {
        return out;
    }
    std::vector<PassRow> rows;
    for (MailItem* m : listRange(trash.items))
        rows.push_back({m, nullptr, false});
    return runPass(env, trash, rows, options);
}

// ----------------------------------------------------------------------------- attributes

std::optional<ItemBytes> attributeResult(int op, uint8_t state, uint8_t markColour) {
    ItemBytes b{state, markColour};
    const bool received = state < kOutgoing;
    switch (op) {
        case kOpUnread:
            if (!received || state < kReadOffset || state >= 2 * kReadOffset) return std::nullopt;
            b.state = static_cast<uint8_t>(state - kReadOffset);
            return b;
        case kOpRead:
        case kOpAllRead:
            if (!received || state >= kReadOffset) return std::nullopt;
            b.state = static_cast<uint8_t>(state + kReadOffset);
            return b;
        case kOpMark:
            // Only the mark bit changes: a bookmark stays (8 <-> 9).
            b.markColour = static_cast<uint8_t>(markColour ^ kMarkBit);
            return b;
        case kOpNoColour:
            if ((markColour & kColourMask) == 0) return std::nullopt;
            b.markColour = static_cast<uint8_t>(markColour & kMarkMask);
            return b;
        case kOpWaiting:
            if (state == kDraft || state == kDraft + 1) {
                b.state = static_cast<uint8_t>(state - 2);
            } else if (state == kSent || state == kSent + 1) {
                b.state = static_cast<uint8_t>(state - 4);
            } else {
                return std::nullopt;
            }
            return b;
        case kOpDraft:
            if (state != kWaiting && state != kWaiting + 1) return std::nullopt;
            b.state = static_cast<uint8_t>(state + 2);
            return b;
        default:
            break;
    }
    if (op >= kOpFirstColour && op <= kOpLastColour) {
        const auto colour = static_cast<uint8_t>(op - kOpFirstColour + 1);
        if ((markColour & kColourMask) == colour) return std::nullopt;
        b.markColour = static_cast<uint8_t>((markColour & kMarkMask) | colour);
        return b;
    }
    return std::nullopt;
}

Err setItemBytes(Env& env, Tab& tab, MailItem& item, ItemBytes bytes, bool* fileFailed) {
    if (fileFailed) *fileFailed = false;
    if (bytes.state >= kStateLimit || (bytes.markColour & kMarkUnusedBits)) return Err::Invalid;
    const std::string path = messagePath(env, tab, itemNumber(item));
    if (path.empty()) return Err::Invalid;
    const ItemBytes old{item.state, item.markColour};
    struct Change {
        StatusChar which;
        char before, after;
    };
    std::vector<Change> changes;
    if (stateDigit(old.state) != stateDigit(bytes.state))
        changes.push_back({StatusChar::State, stateDigit(old.state), stateDigit(bytes.state)});
    if (markDigit(old.markColour) != markDigit(bytes.markColour)) {
        changes.push_back(
            {StatusChar::Mark, markDigit(old.markColour), markDigit(bytes.markColour)});
    }
    if (colourDigit(old.markColour) != colourDigit(bytes.markColour)) {
        changes.push_back(
            {StatusChar::Colour, colourDigit(old.markColour), colourDigit(bytes.markColour)});
    }
    size_t written = 0;
    auto putBack = [&] {
        while (written > 0) {
            --written;
            updateStatusChar(env, path, changes[written].which, changes[written].before);
        }
    };
    for (; written < changes.size(); ++written) {
        if (Err e = updateStatusChar(env, path, changes[written].which, changes[written].after);
            e != Err::None) {
            ++written;  // the failed write may have landed too
            putBack();
            if (fileFailed) *fileFailed = true;
            return e;
        }
    }
    // A write that reports failure may still have reached the file: the old byte is written
    // back as well before the status line is.
    if (bytes.state != old.state) {
        if (Err e = updateRecordByte(env, tab, item, RecordByte::State, bytes.state);
            e != Err::None) {
            updateRecordByte(env, tab, item, RecordByte::State, old.state);
            putBack();
            return e;
        }
    }
    if (bytes.markColour != old.markColour) {
        if (Err e = updateRecordByte(env, tab, item, RecordByte::MarkColour, bytes.markColour);
            e != Err::None) {
            updateRecordByte(env, tab, item, RecordByte::MarkColour, old.markColour);
            if (bytes.state != old.state)
                updateRecordByte(env, tab, item, RecordByte::State, old.state);
            putBack();
            return e;
        }
    }
    countOut(tab, old.state, item.newMark);
    if (old.state < kReadOffset && bytes.state >= kReadOffset && bytes.state < kOutgoing)
        item.newMark = 0;
    countIn(tab, bytes.state, item.newMark);
    return Err::None;
}

AttributeOutcome runAttributeOp(Env& env, Tab& tab, std::span<MailItem* const> selection, int op,
                                const AttributeOptions& options) {
    AttributeOutcome out;
    if (options.receiveRunning) {
        report::notice(env, kListEditDuringRun);
        out.error = Err::Cancelled;
        return out;
    }
    std::vector<MailItem*> rows;
    if (op == kOpAllRead) {
        if (tab.kind == kSendTab) return out;
        for (MailItem* m : listRange(tab.items)) {
            if (m->state < kReadOffset) rows.push_back(m);
        }
    } else {
        rows.assign(selection.begin(), selection.end());
    }
    for (MailItem* item : rows) {
        const auto bytes = attributeResult(op, item->state, item->markColour);
        if (!bytes) continue;
        if (op == kOpWaiting && item->state < kSent) {
            const std::string path = messagePath(env, tab, itemNumber(*item));
            auto file = env.fs.open(path, platform::OpenMode::Read);
            char head[kDraftCheckBytes];
            Result<size_t> got = file ? (*file)->read(head) : Result<size_t>(file.error());
            if (!got) {
                report::report(env, kMailFileUnopenable);
                continue;
            }
            if (options.draftCheck) {
                if (auto fault = options.draftCheck(std::string_view(head, *got))) {
                    std::string text = withText(kDraftCheckFailed, numberDigits(itemNumber(*item)));
                    text = withText(text, fault->header);
                    text = withText(text, fault->reason);
                    report::report(env, text, platform::Icon::Exclamation);
                    continue;
                }
            }
        } else if (op == kOpWaiting &&
                   report::ask(env, kSentToWaitingAsk) != platform::Answer::Ok) {
            continue;
        }
        bool fileFailed = false;
        if (Err e = setItemBytes(env, tab, *item, *bytes, &fileFailed); e != Err::None) {
            if (fileFailed) report::report(env, kMailFileUnopenable);
            out.error = e;
            break;
        }
        ++out.changed;
    }
    if (out.changed > 0) writeCounters(env, tab);
    return out;
}

}  // namespace kolvy::store
