// The records that cross module boundaries.
//
// The search plug-in and sibling tools receive these by pointer and walk them as plain memory,
// so each one is a standard-layout struct whose layout on 32-bit Windows is part of the program's
// interface: sizes and offsets are asserted below for that build. Records that form lists use
// the intrusive lists of core/list.h. Fixed text fields are NUL-terminated Shift_JIS and are only
// ever filled through sjis::copyField, which never overflows and never splits a character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// The deliverable is 32-bit Windows; the other builds have wider pointers and only check that the
// records stay standard-layout.
#if defined(_WIN32) && !defined(_WIN64)
#define KOLVY_ABI32 1
#else
#define KOLVY_ABI32 0
#endif

#define KOLVY_RECORD(T) static_assert(std::is_standard_layout_v<T>, #T " must stay standard-layout")
#define KOLVY_ABI32_SIZE(T, n) \
    static_assert(!KOLVY_ABI32 || sizeof(T) == (n), #T ": size differs from the published layout")
#define KOLVY_ABI32_OFFSET(T, field, n)                      \
    static_assert(!KOLVY_ABI32 || offsetof(T, field) == (n), \
                  #T "::" #field ": offset differs from the published layout")

// Calling convention of the program's exported functions: the Win32 standard call (the callee
// removes the arguments); plain calls elsewhere.
#if defined(_WIN32)
#define KOLVY_STDCALL __stdcall
#else
#define KOLVY_STDCALL
#endif

// ---------------------------------------------------------------------------------------------
// DecodeCursor: the argument of every decoder and encoder, of GetHead and of MailAnalyze.
// The caller sets source (NUL-terminated input) and destination (room for the output); the
// routine sets sourceEnd (where it stopped) and destinationEnd (the output's terminating NUL).
struct DecodeCursor {
    char* source;
    char* destination;
    char* sourceEnd;
    char* destinationEnd;
};
KOLVY_RECORD(DecodeCursor);
KOLVY_ABI32_SIZE(DecodeCursor, 16);
KOLVY_ABI32_OFFSET(DecodeCursor, destinationEnd, 12);

// ---------------------------------------------------------------------------------------------
// HeaderInfo: the header record of one message or part, filled by GetHead from a received message
// (or by the stored header reader from a stored one). Start/end pairs point into the header copy
// that GetHead wrote and delimit a value without terminating it (end = first byte after it). The
// caller zero-fills the record before each GetHead; plug-ins receive it, so the layout is fixed.
// (message decoding)
struct HeaderInfo {
    char* fromAddressStart;
    char* fromAddressEnd;
    char* fromNameStart;
    char* fromNameEnd;
    char* toAddressStart;  // the first recipient only
    char* toAddressEnd;
    char* toNameStart;
    char* toNameEnd;
    char* ccStart;  // whole decoded value
    char* ccEnd;
    char* deliveredToStart;  // raw value
    char* deliveredToEnd;
    char subject[512];    // decoded and unfolded, at most 510 bytes, NUL-terminated
    char received[2048];  // the first 10 Received: values run together, at most 2,046 bytes
    uint32_t date;        // seconds since 1970 UTC from MakeGMT; 0 when absent or unparsable
    char* mailerStart;    // decoded X-Mailer: or User-Agent: (the later one wins)
    char* mailerEnd;
    char* mlNameStart;  // raw X-ML-Name:
    char* mlNameEnd;
    int32_t partCount;  // 0 after GetHead; X-PartInfo: lines counted by the stored header reader
    char* contentTypeStart;  // type/subtype
    char* contentTypeEnd;
    char* param1Start;  // whole parameter texts ("charset=...") of Content-Type
    char* param1End;
    char* param2Start;
    char* param2End;
    char* param3Start;
    char* param3End;
    char* transferEncodingStart;  // raw Content-Transfer-Encoding:
    char* transferEncodingEnd;
    char* nameStart;  // decoded file name (Content-Type name or Content-Disposition filename)
    char* nameEnd;
    char* boundaryStart;  // boundary of the enclosing multipart, set by message analysis
    char* boundaryEnd;
    char* replyToStart;  // whole decoded value
    char* replyToEnd;
    char* returnPathStart;  // raw values
    char* returnPathEnd;
    char* messageIdStart;
    char* messageIdEnd;
    char otherHeaders[1024];  // bytes of all other header lines without CR, LF, TAB; <= 1,022
    char* resentFromStart;    // filled by the stored header reader
    char* resentFromEnd;
    char* resentToStart;
    char* resentToEnd;
};
KOLVY_RECORD(HeaderInfo);
KOLVY_ABI32_SIZE(HeaderInfo, 3752);
KOLVY_ABI32_OFFSET(HeaderInfo, fromAddressStart, 0);
KOLVY_ABI32_OFFSET(HeaderInfo, fromNameStart, 8);
KOLVY_ABI32_OFFSET(HeaderInfo, toAddressStart, 16);
KOLVY_ABI32_OFFSET(HeaderInfo, toNameStart, 24);
KOLVY_ABI32_OFFSET(HeaderInfo, ccStart, 32);
KOLVY_ABI32_OFFSET(HeaderInfo, deliveredToStart, 40);
KOLVY_ABI32_OFFSET(HeaderInfo, subject, 48);
KOLVY_ABI32_OFFSET(HeaderInfo, received, 560);
KOLVY_ABI32_OFFSET(HeaderInfo, date, 2608);
KOLVY_ABI32_OFFSET(HeaderInfo, mailerStart, 2612);
KOLVY_ABI32_OFFSET(HeaderInfo, mlNameStart, 2620);
KOLVY_ABI32_OFFSET(HeaderInfo, partCount, 2628);
KOLVY_ABI32_OFFSET(HeaderInfo, contentTypeStart, 2632);
KOLVY_ABI32_OFFSET(HeaderInfo, param1Start, 2640);
KOLVY_ABI32_OFFSET(HeaderInfo, param2Start, 2648);
KOLVY_ABI32_OFFSET(HeaderInfo, param3Start, 2656);
KOLVY_ABI32_OFFSET(HeaderInfo, transferEncodingStart, 2664);
KOLVY_ABI32_OFFSET(HeaderInfo, nameStart, 2672);
KOLVY_ABI32_OFFSET(HeaderInfo, boundaryStart, 2680);
KOLVY_ABI32_OFFSET(HeaderInfo, replyToStart, 2688);
KOLVY_ABI32_OFFSET(HeaderInfo, returnPathStart, 2696);
KOLVY_ABI32_OFFSET(HeaderInfo, messageIdStart, 2704);
KOLVY_ABI32_OFFSET(HeaderInfo, otherHeaders, 2712);
KOLVY_ABI32_OFFSET(HeaderInfo, resentFromStart, 3736);
KOLVY_ABI32_OFFSET(HeaderInfo, resentToEnd, 3748);

// ---------------------------------------------------------------------------------------------
// MailItem and Tab: index items and tabs.
// (mail store)
struct Tab;

// ---------------------------------------------------------------------------------------------
// Account and receive order records.
// (accounts and settings)

// ---------------------------------------------------------------------------------------------
// Rule records.
// (message rules)

// ---------------------------------------------------------------------------------------------
// ServerEntry: one message listed by a POP3 server.
// (receiving)
