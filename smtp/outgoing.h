// Outgoing messages: a waiting draft (status line, Shift_JIS header lines, blank line, Shift_JIS
// body, attachments as plain files in its attachment folder) turned into the exact text that goes
// after DATA, and the envelope recipients collected on the way.
//
// The wire text is 7-bit throughout: Japanese in header values becomes ISO-2022-JP encoded words,
// the body is ISO-2022-JP ("7bit"), attachments are Base64. Lines end in CR LF. The text is NOT
// dot-stuffed and carries no final "." line: the SMTP session does both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "platform/platform.h"

namespace kolvy::smtp {

inline constexpr char kMailerName[] = "Kolvy Mail 2.351";

struct OutgoingAttachment {
    std::string name;        // file name in the attachment folder (Shift_JIS)
    std::string storedType;  // MIME type recorded for the stored copy ("text/plain" for .txt)
};

struct ComposedMessage {
    std::string wire;                     // CR LF lines, 7-bit, not dot-stuffed, no final "."
    std::vector<std::string> recipients;  // envelope addresses, one RCPT each, no duplicates
    std::vector<OutgoingAttachment> attachments;
    // "Message-ID: <...>\r\n", or "Resent-Message-ID: <...>\r\n" for a resent message; the same
    // line stands in the wire text. The stored copy keeps it as "X-Message-ID: <...>".
    std::string messageIdLine;
    size_t bodyStart = 0, bodyEnd = 0;  // the converted body inside `wire`
    std::string sjisBody;               // the draft's body before conversion (CR LF lines)
    bool resent = false;                // Resent address headers decided the recipients
};

// Why composing failed; the send run turns these into its texts.
enum class ComposeFailure : unsigned char {
    None,
    DraftUnreadable,       // the draft file cannot be opened or read
    DraftEmpty,            // the draft file holds nothing
    AttachmentUnreadable,  // an attachment (or the attachment folder) cannot be read
    TooLarge,              // the message cannot be held in memory
};

struct ComposeResult {
    ComposeFailure failure = ComposeFailure::None;
    Err err = Err::None;     // the platform's reason, when there is one
    std::string failedPath;  // the file that could not be read
    ComposedMessage message;
    bool ok() const { return failure == ComposeFailure::None; }
};

struct ComposeInput {
    std::string_view draft;        // the whole draft file, status line first
    std::string_view mailAddress;  // the sending account's MailAddress
    int sendCounter = 1;           // 0..9, advanced by the send run before each message
    int64_t sendTime = 0;          // seconds since 1970 UTC, taken once per message
    // The draft's attachment folder (添付\NNNN); empty: the message has no attachments.
    std::string_view attachmentFolder;
};

// Composes the wire message. Attachments are read through `fs` (files only, in name order).
ComposeResult composeMessage(platform::FileSystem& fs, const ComposeInput& in);
// The same, reading the draft from its file first (DraftUnreadable / DraftEmpty).
ComposeResult composeDraftFile(platform::FileSystem& fs, std::string_view draftPath,
                               ComposeInput in);

// The MIME type written for an attachment name, and the one recorded for the stored copy.
std::string_view attachmentWireType(std::string_view fileName);
std::string_view attachmentStoredType(std::string_view fileName);

// A fresh per-process number that makes Message-IDs unique when (send time, counter) repeats.
uint32_t nextMessageSequence();

}  // namespace kolvy::smtp
