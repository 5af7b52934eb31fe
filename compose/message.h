// A message being answered or forwarded, as the composer reads it: its stored text with the header
// record of the stored header reader pointing into it, and the accounts it may be addressed to.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/records.h"

namespace kolvy::compose {

class SourceMessage {
  public:
    // From a message file's bytes (status line first) or from a message text without it.
    static std::unique_ptr<SourceMessage> fromFile(std::string fileText);
    static std::unique_ptr<SourceMessage> fromText(std::string_view messageText);

    // The header lines as stored, each ended by CR LF, without the blank line.
    std::string_view header() const { return header_; }
    std::string_view body() const { return body_; }
    // The message without its status line.
    std::string_view message() const { return message_; }
    const HeaderInfo& info() const { return info_; }
    bool html() const;
    bool hasStatusLine() const { return statusLine_; }
    static std::string_view range(const char* start, const char* end) {
        return start && end > start ? std::string_view(start, static_cast<size_t>(end - start))
                                    : std::string_view();
    }

  private:
    SourceMessage() = default;
    void read();
    std::string text_;  // LF, then the message
    std::string_view message_, header_, body_;
    HeaderInfo info_{};
    bool statusLine_ = false;
};

// Whether `address` occurs in `text` as a whole address (ASCII letters compared without case):
// neither the character before nor the one after may belong to an address, so "a@b.jp" is not
// found in "aa@b.jp" or "a@b.jp.evil".
bool containsAddress(std::string_view text, std::string_view address);
// The address between "<" and ">" of a header value, or the value trimmed when it has none.
std::string_view bareAddress(std::string_view value);
// The first account (from `first` on) whose non-empty MailAddress is `address`, case aside.
const Account* accountByAddress(const Account* first, std::string_view address);
// The account a message was addressed to: the first whose address is in its first To address,
// else in Delivered-To, else in the Received text; else the first account with an address. Null
// when the message has no To address or there is no account.
const Account* addressedAccount(const HeaderInfo& info, const Account* first);

// A value made fit for one header line: CR, LF and NUL become blanks, so that a decoded subject
// or a rule's address can never add a header line of its own.
std::string headerSafe(std::string_view value);

}  // namespace kolvy::compose
