// The mail state and the mark-and-colour byte, as index records, list items and the status line
// of message files carry them. Every module reads and writes them through these names.
#pragma once

#include <cstdint>

namespace kolvy::mail {

// ---- mail state: high nibble the direction, low nibble the state
inline constexpr uint8_t kOutgoing = 16;  // the direction bit: outgoing states are 16 + n
// Received states come in groups of three kinds: plain, with attachments, HTML or multipart.
inline constexpr uint8_t kKindsPerGroup = 3;
inline constexpr uint8_t kUnread = 0;     // 0-2
inline constexpr uint8_t kRead = 3;       // 3-5: unread + 3
inline constexpr uint8_t kReplied = 6;    // 6-8
inline constexpr uint8_t kForwarded = 9;  // 9-11
inline constexpr uint8_t kReadOffset = kRead - kUnread;
// Outgoing states; the odd ones have attachments.
inline constexpr uint8_t kWaiting = 16, kWaitingAttached = 17;
inline constexpr uint8_t kDraft = 18, kDraftAttached = 19;
inline constexpr uint8_t kSent = 20, kSentAttached = 21;
inline constexpr uint8_t kAttachedBit = 1;  // of an outgoing state
// Every valid state is below this.
inline constexpr uint8_t kStateLimit = 32;

constexpr bool isOutgoing(uint8_t state) {
    return state >= kOutgoing;
}
constexpr bool isUnread(uint8_t state) {
    return state < kRead;
}
// Plain 0, attachments 1, HTML 2 of a received state.
constexpr uint8_t receivedKind(uint8_t state) {
    return static_cast<uint8_t>((state & 0x0F) % kKindsPerGroup);
}
constexpr bool isAnswered(uint8_t state) {
    return !isOutgoing(state) && state >= kReplied && state < kForwarded + kKindsPerGroup;
}
constexpr bool isWaiting(uint8_t state) {
    return state == kWaiting || state == kWaitingAttached;
}
constexpr bool isDraft(uint8_t state) {
    return state == kDraft || state == kDraftAttached;
}
constexpr bool isSent(uint8_t state) {
    return state == kSent || state == kSentAttached;
}

// ---- mark and colour: bits 0-3 the colour number, bit 4 the mark, bit 7 the bookmark
inline constexpr uint8_t kColourMask = 0x0F;
inline constexpr uint8_t kMarkMask = 0xF0;
inline constexpr uint8_t kMarkBit = 0x10;
inline constexpr uint8_t kBookmarkBit = 0x80;
inline constexpr uint8_t kMarkUnusedBits = 0x60;
// The colour a rule names to take a message's colour away.
inline constexpr int32_t kClearColour = 15;

constexpr bool hasMark(uint8_t markColour) {
    return (markColour & kMarkBit) != 0;
}

// ---- account numbers in records and items
// The account byte of an index record whose message matched no account: the record's fallback
// address is shown instead.
inline constexpr uint8_t kUnmatchedAccount = 101;
// MailItem::sendAccount of an item the current send run does not send.
inline constexpr int32_t kNotSending = 101;

}  // namespace kolvy::mail
