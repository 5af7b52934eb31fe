#include "smtp/queue.h"

#include "core/sjis.h"
#include "mime/header.h"
#include "mime/stored_header.h"
#include "platform/fileutil.h"
#include "smtp/send_run.h"
#include "store/index.h"
#include "store/message_file.h"
#include "store/paths.h"

namespace kolvy::smtp {
namespace {

std::string crlf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

// The file name at the end of a path (a Shift_JIS trail byte is never taken for a separator).
std::string baseName(std::string_view path) {
    size_t start = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (sjis::isLead(c) && i + 1 < path.size()) {
            ++i;
        } else if (c == '/' || c == '\\') {
            start = i + 1;
        }
    }
    return std::string(path.substr(start));
}

std::string_view view(const char* start, const char* end) {
    return mime::HeadCopy::view(start, end);
}

const Account* sendingAccount(const HeaderInfo& info, const Account* first) {
    const std::string_view from = view(info.fromAddressStart, info.fromAddressEnd);
    for (const Account* a = first; a; a = a->next) {
        const std::string_view address = sjis::fieldView(a->mailAddress);
        if (!address.empty() && from.find(address) != std::string_view::npos) return a;
    }
    return nullptr;
}

Err copyAttachments(Env& env, const Tab& tab, int number, std::span<const std::string> files) {
    const std::string folder = store::attachmentFolder(store::tabFolder(env, tab), number);
    if (Err e = platform::makeDirs(env.fs, folder); e != Err::None) return e;
    for (const std::string& f : files) {
        if (Err e = env.fs.copy(f, sjis::joinPath(folder, baseName(f)), true); e != Err::None) {
            return e;
        }
    }
    return Err::None;
}

}  // namespace

Result<int> queueDraft(Env& env, Tab& tab, const Account* first, std::string_view draft,
                       std::span<const std::string> attachments) {
    const bool attached = !attachments.empty();
    store::StatusLine status;
    status.state = attached ? kWaitingAttached : kWaiting;
    status.received = false;
    status.value = attached ? "have" : "not";
    platform::LocalTime now;
    env.clock.toLocal(env.clock.now(), now);
    status.stamp = store::stampDigits(now);
    const std::string text = store::formatStatusLine(status) + crlf(draft);

    HeaderInfo info{};
    mime::readStoredHeader(std::string_view(text).substr(store::kStatusLineSize - 1), info);
    const Account* account = sendingAccount(info, first);
    if (!account) return Err::Invalid;
    store::IndexRecord r;
    r.state = status.state;
    r.storedTime = static_cast<uint32_t>(env.clock.now());
    r.size = static_cast<uint32_t>(text.size());
    r.attachments = static_cast<uint8_t>(std::min<size_t>(attachments.size(), 255));
    r.account = static_cast<uint8_t>(account->number);
    r.texts[0] = view(info.toNameStart, info.toNameEnd);
    r.texts[1] = view(info.toAddressStart, info.toAddressEnd);
    r.texts[2] = info.subject;

    store::IndexOptions index;
    if (Err e = store::readWholeIndex(env, tab, index); e != Err::None) return e;
    auto item = store::storeMessage(env, tab, text, std::move(r), index);
    if (!item) return item.error();
    const int number = tab.nextFileNo - 1;
    // After the message: storing sets aside any older folder of that number first.
    if (attached) {
        if (Err e = copyAttachments(env, tab, number, attachments); e != Err::None) return e;
    }
    return number;
}

}  // namespace kolvy::smtp
