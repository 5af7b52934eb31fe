#include "compose/message.h"

#include <cctype>
#include <cstring>

#include "core/sjis.h"
#include "mime/stored_header.h"
#include "store/message_file.h"

namespace kolvy::compose {

std::unique_ptr<SourceMessage> SourceMessage::fromFile(std::string fileText) {
    std::unique_ptr<SourceMessage> m(new SourceMessage());
    if (store::parseStatusLine(fileText)) {
        // Keep the LF that ends the status line: the header reader starts there.
        m->text_ = fileText.substr(store::kStatusLineSize - 1);
        m->statusLine_ = true;
    } else {
        m->text_ = "\n" + fileText;
    }
    m->read();
    return m;
}

std::unique_ptr<SourceMessage> SourceMessage::fromText(std::string_view messageText) {
    std::unique_ptr<SourceMessage> m(new SourceMessage());
    // Sized once and filled (GCC 12 warns falsely about "\n" + text at -O2, bug 105329).
    m->text_.resize(messageText.size() + 1);
    m->text_[0] = '\n';
    if (!messageText.empty()) std::memcpy(&m->text_[1], messageText.data(), messageText.size());
    m->read();
    return m;
}

void SourceMessage::read() {
    std::string_view all = text_;
    message_ = all.substr(1);
    const size_t end = std::min(mime::readStoredHeader(all, info_), all.size());
    // The reader stops at the CR LF CR LF that ends the header lines (or at the text's end):
    // the header keeps its last line's CR LF, the body starts after the blank line.
    if (all.compare(end, 4, "\r\n\r\n") == 0) {
        header_ = all.substr(1, end + 1);
        body_ = all.substr(end + 4);
    } else if (all.compare(end, 2, "\r\n") == 0) {
        header_ = all.substr(1, end > 0 ? end - 1 : 0);
        body_ = all.substr(end + 2);
    } else {
        header_ = all.substr(1, end > 0 ? end - 1 : 0);
        body_ = {};
    }
}

bool SourceMessage::html() const {
    const std::string_view type = range(info_.contentTypeStart, info_.contentTypeEnd);
    return type.size() >= 6 && (type[0] == 't' || type[0] == 'T') &&
           (type[5] == 'h' || type[5] == 'H');
}

namespace {

bool addressChar(unsigned char c) {
    return std::isalnum(c) ||
           std::string_view("._%+-!#$&'*/=?^`{|}~@").find(static_cast<char>(c)) !=
               std::string_view::npos;
}

}  // namespace

bool containsAddress(std::string_view text, std::string_view address) {
    if (address.empty()) return false;
    size_t pos = 0;
    while ((pos = sjis::findNoCase(text, address, pos)) != std::string_view::npos) {
        const bool startOk = pos == 0 || !addressChar(static_cast<unsigned char>(text[pos - 1]));
        const size_t after = pos + address.size();
        bool endOk = after >= text.size() || !addressChar(static_cast<unsigned char>(text[after]));
        // A sentence's full stop after the address is no part of it.
        if (!endOk && text[after] == '.' &&
            (after + 1 >= text.size() ||
             !addressChar(static_cast<unsigned char>(text[after + 1])))) {
            endOk = true;
        }
        if (startOk && endOk) return true;
        pos += sjis::charLen(text, pos);
    }
    return false;
}

std::string_view bareAddress(std::string_view value) {
    const size_t lt = sjis::find(value, '<');
    if (lt != std::string_view::npos) {
        const size_t gt = value.find('>', lt + 1);
        return value.substr(lt + 1, (gt == std::string_view::npos ? value.size() : gt) - lt - 1);
    }
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' ||
                              value.back() == '\n'))
        value.remove_suffix(1);
    return value;
}

const Account* accountByAddress(const Account* first, std::string_view address) {
    for (const Account* a = first; a; a = a->next) {
        const std::string_view own = sjis::fieldView(a->mailAddress);
        if (!own.empty() && sjis::equalsNoCaseAscii(own, address)) return a;
    }
    return nullptr;
}

const Account* addressedAccount(const HeaderInfo& info, const Account* first) {
    const std::string_view to = SourceMessage::range(info.toAddressStart, info.toAddressEnd);
    if (to.empty() || !first) return nullptr;
    auto find = [&](std::string_view where) -> const Account* {
        for (const Account* a = first; a; a = a->next)
            if (containsAddress(where, sjis::fieldView(a->mailAddress))) return a;
        return nullptr;
    };
    if (const Account* a = find(to)) return a;
    if (const Account* a = find(SourceMessage::range(info.deliveredToStart, info.deliveredToEnd)))
        return a;
    if (const Account* a = find(sjis::fieldView(info.received))) return a;
    for (const Account* a = first; a; a = a->next)
        if (a->mailAddress[0]) return a;
    return first;
}

std::string headerSafe(std::string_view value) {
    std::string out(value);
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0') c = ' ';
    return out;
}

}  // namespace kolvy::compose
