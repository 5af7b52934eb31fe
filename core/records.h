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

// One message of a tab's index in memory, built from its index record (store/index.h). The text
// fields are what the list shows, ready to draw; the numbers are the record's own bytes.
struct MailItem {
    int32_t newMark;      // 2 stored in this receive run, 1 new and unread, 0 neither
    char number[8];       // " 0042": a blank and the four digits of the file name
    uint8_t state;        // mail state: direction nibble and state nibble
    uint8_t markColour;   // bits 0-3 colour number, bit 4 mark, bit 7 bookmark
    char storedText[20];  // "05/12/15 (木) 09:05", "未定" (0) or "不定" (not convertible)
    uint32_t storedTime;  // seconds since 1970 UTC; 0 = none
    char dateText[20];    // the Date: header as time text
    uint32_t offset;      // the record's byte offset in mokuji.bin
    char sizeText[16];    // "%6.1fk" of the size in bytes x 0.001
    char attachText[4];   // attachment count, "%d"
    char account[128];    // account column: account name, fallback address or its absence
    char name[128];       // other party's name
    char address[128];    // other party's address
    char subject[512];
    char mailer[128];
    char messageId[128];  // thread view: Message-ID
    char inReplyTo[128];  // thread view: In-Reply-To
    int32_t threadLevel;  // thread view: 0 = top
    int32_t collapsed;    // thread view: the rows below are hidden
    int32_t sendAccount;  // account sending this item in the current send run; 101 = none
    int32_t editing;      // open in the editor: not to be opened twice
    MailItem* next;
    MailItem* prev;
};
KOLVY_RECORD(MailItem);
KOLVY_ABI32_SIZE(MailItem, 1388);
KOLVY_ABI32_OFFSET(MailItem, number, 4);
KOLVY_ABI32_OFFSET(MailItem, state, 12);
KOLVY_ABI32_OFFSET(MailItem, markColour, 13);
KOLVY_ABI32_OFFSET(MailItem, storedText, 14);
KOLVY_ABI32_OFFSET(MailItem, storedTime, 36);
KOLVY_ABI32_OFFSET(MailItem, dateText, 40);
KOLVY_ABI32_OFFSET(MailItem, offset, 60);
KOLVY_ABI32_OFFSET(MailItem, sizeText, 64);
KOLVY_ABI32_OFFSET(MailItem, attachText, 80);
KOLVY_ABI32_OFFSET(MailItem, account, 84);
KOLVY_ABI32_OFFSET(MailItem, name, 212);
KOLVY_ABI32_OFFSET(MailItem, address, 340);
KOLVY_ABI32_OFFSET(MailItem, subject, 468);
KOLVY_ABI32_OFFSET(MailItem, mailer, 980);
KOLVY_ABI32_OFFSET(MailItem, messageId, 1108);
KOLVY_ABI32_OFFSET(MailItem, inReplyTo, 1236);
KOLVY_ABI32_OFFSET(MailItem, threadLevel, 1364);
KOLVY_ABI32_OFFSET(MailItem, sendAccount, 1372);
KOLVY_ABI32_OFFSET(MailItem, next, 1380);
KOLVY_ABI32_OFFSET(MailItem, prev, 1384);

// One tab: a folder of messages with its index, as registered in Kolvy.ini (store/tabs.h).
struct Tab {
    int32_t id;          // 0..99, also the name of its ini section
    uint32_t color;      // tab background, 0x00BBGGRR
    uint32_t textColor;  // tab text
    int32_t kind;        // Propaty: 0 receive, 1 send, 2 trash
    int32_t closed;      // CloseFlag: registered but not in the tab control
    int32_t open;        // the inverse of closed
    int32_t basic;       // the basic tab of its kind
    int32_t nextFileNo;  // the number the next stored message takes; 10000 = full
    char name[60];       // display name and folder name under MailData
    char viewIndex[8];   // file number of the last visible row at exit
    char focusedPos[8];  // file number of the focused row at exit
    Tab* next;
    Tab* prev;
    int32_t tabItem;    // item of the tab control, -1 when not shown
    int32_t tabCursor;  // was current at exit
    void* plainList;    // list views (window handles) of the plain list, a view, the threads
    void* viewList;
    void* threadList;
    int32_t viewMode;       // 0 plain, 1-99 a view, 100 the thread view
    MailItem items;         // sentinel head of the index items, in index order
    MailItem* storedFirst;  // items appended since the list view last took them
    MailItem* storedLast;
    int32_t loadState;  // 0 index not read, 1 read from its tail, 2 read completely
    int32_t allMailCount;
    int32_t noReadMailCount;
    int32_t newMailCount;  // not stored
    int32_t waitMailCount;
    int32_t editMailCount;
    int32_t external;  // an external folder tab: never written to Kolvy.ini
    char folder[260];  // the folder of an external folder tab
    int32_t otherGomiIcon;
    int32_t newMailInfoDlg;
    // Settings of the utility library, read only when it loads.
    int32_t openViewer;
    int32_t jikoku;
    int32_t funn;
    int32_t startJikoku;
    int32_t startFunn;
    int32_t sousinTimer;
    int32_t gomiKaraJyusinNichiji;
};
KOLVY_RECORD(Tab);
KOLVY_ABI32_SIZE(Tab, 1860);
KOLVY_ABI32_OFFSET(Tab, nextFileNo, 28);
KOLVY_ABI32_OFFSET(Tab, name, 32);
KOLVY_ABI32_OFFSET(Tab, viewIndex, 92);
KOLVY_ABI32_OFFSET(Tab, focusedPos, 100);
KOLVY_ABI32_OFFSET(Tab, next, 108);
KOLVY_ABI32_OFFSET(Tab, prev, 112);
KOLVY_ABI32_OFFSET(Tab, tabItem, 116);
KOLVY_ABI32_OFFSET(Tab, plainList, 124);
KOLVY_ABI32_OFFSET(Tab, viewMode, 136);
KOLVY_ABI32_OFFSET(Tab, items, 140);
KOLVY_ABI32_OFFSET(Tab, storedFirst, 1528);
KOLVY_ABI32_OFFSET(Tab, loadState, 1536);
KOLVY_ABI32_OFFSET(Tab, allMailCount, 1540);
KOLVY_ABI32_OFFSET(Tab, editMailCount, 1556);
KOLVY_ABI32_OFFSET(Tab, external, 1560);
KOLVY_ABI32_OFFSET(Tab, folder, 1564);
KOLVY_ABI32_OFFSET(Tab, otherGomiIcon, 1824);
KOLVY_ABI32_OFFSET(Tab, gomiKaraJyusinNichiji, 1856);

// ---------------------------------------------------------------------------------------------
// Account and receive order records.
// (accounts and settings)

// ---------------------------------------------------------------------------------------------
// Rule records.
// (message rules)

// ---------------------------------------------------------------------------------------------
// ServerEntry: one message listed by a POP3 server.
// (receiving)
