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
// HeaderInfo: the header record of one message or part.
// (message decoding)

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
