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

// One POP3/SMTP identity. Text fields hold at most 63 bytes; passwords are plain in memory and
// scrambled only in the ini.
struct Account {
    int32_t number;  // 0..19, unique; also what orders refer to
    char name[64];   // also the account's ini section name
    char pop3Server[64];
    char smtpServer[64];
    char userId[64];
    char password[64];
    char fromName[64];     // display name put in From:
    char mailAddress[64];  // the account's address
    int32_t popPort;
    int32_t smtpPort;
    int32_t apop;           // 1 = APOP login
    int32_t smtpAuth;       // 1 = authenticate to the SMTP server
    int32_t popBeforeSmtp;  // 1 = receive before sending
    int32_t waitTime;       // seconds between that receive and sending, 0..19
    char rasEntry[64];      // dial-up phone-book entry; empty = none
    char smtpUserId[64];    // empty = use userId
    char smtpPassword[64];
    Account* prev;
    Account* next;
    int32_t recvSsl;          // 0 plain, 1 POP over SSL, 2 STARTTLS
    int32_t sendSsl;          // 0 plain, 1 SMTP over SSL, 2 STARTTLS
    int32_t recvSslProtocol;  // handed to the SSL layer; stored only
    int32_t sendSslProtocol;
    int32_t certSsl;      // stored only
    int32_t sendPending;  // memory only: the account has mail to send in the current send run
};
KOLVY_RECORD(Account);
KOLVY_ABI32_SIZE(Account, 700);
KOLVY_ABI32_OFFSET(Account, name, 4);
KOLVY_ABI32_OFFSET(Account, popPort, 452);
KOLVY_ABI32_OFFSET(Account, rasEntry, 476);
KOLVY_ABI32_OFFSET(Account, smtpPassword, 604);
KOLVY_ABI32_OFFSET(Account, prev, 668);
KOLVY_ABI32_OFFSET(Account, next, 672);
KOLVY_ABI32_OFFSET(Account, recvSsl, 676);
KOLVY_ABI32_OFFSET(Account, certSsl, 692);
KOLVY_ABI32_OFFSET(Account, sendPending, 696);

// One receive order ("注文"), or a folder of orders. Top-level orders hang behind one head; a
// folder owns a second head (members) for its member orders, each of which points back to it.
struct ReceiveOrder {
    int32_t id;             // 100..149, unique over folders and members; also the menu command
    int32_t accountNumber;  // the account this order receives with; 100 = none
    char name[48];
    char childList[50];  // ChildMenu as read (whole ids only, as many as fit)
    int32_t isFolder;
    int32_t telConnect;  // dial before receiving
    int32_t telCut;      // hang up after receiving
    int32_t timer;       // periodic receive
    int32_t mailChecker;
    int32_t leaveOnServer;
    int32_t receiveAtStart;
    ReceiveOrder* next;
    ReceiveOrder* prev;
    ReceiveOrder* members;        // a folder's member list head; null otherwise
    ReceiveOrder* parent;         // a member's folder; null at top level
    int32_t selected;             // shown in the account pane
    int32_t intervalHours;        // 0..11
    int32_t intervalFiveMinutes;  // n means 5n minutes, 0..11
    int32_t baseHour;             // 0..23
    int32_t baseMinute;           // 0..59
    int32_t timerQueued;          // memory only
    int32_t headerLinesOnly;
    int32_t headerLines;  // 0..49
    int32_t expanded;     // memory only
};
KOLVY_RECORD(ReceiveOrder);
KOLVY_ABI32_SIZE(ReceiveOrder, 188);
KOLVY_ABI32_OFFSET(ReceiveOrder, name, 8);
KOLVY_ABI32_OFFSET(ReceiveOrder, childList, 56);
KOLVY_ABI32_OFFSET(ReceiveOrder, isFolder, 108);
KOLVY_ABI32_OFFSET(ReceiveOrder, receiveAtStart, 132);
KOLVY_ABI32_OFFSET(ReceiveOrder, next, 136);
KOLVY_ABI32_OFFSET(ReceiveOrder, parent, 148);
KOLVY_ABI32_OFFSET(ReceiveOrder, selected, 152);
KOLVY_ABI32_OFFSET(ReceiveOrder, timerQueued, 172);
KOLVY_ABI32_OFFSET(ReceiveOrder, expanded, 184);

// ---------------------------------------------------------------------------------------------
// Rule records.
// (message rules)

// One message rule of one of the seven kinds: conditions, then actions. Text fields hold at most
// 127 bytes. Tabs are referred to by pointer; the rule files store tab ids.
struct Rule {
    int32_t item1;  // 1..14; 0 = no text condition
    char keyword1[128];
    int32_t mode1;        // 1 contained, 2 not contained
    int32_t combination;  // 0 one condition, 1 and, 2 or
    int32_t item2;
    char keyword2[128];
    int32_t mode2;
    int32_t sizeKB;  // size at least N x 1,000 bytes; 0 = none
    int32_t markCond;
    int32_t colourCond;  // 1..15 (15 = no colour)
    int32_t bodyChars;   // body at least N x 2 bytes; 0 = none
    int32_t bodyCountsControl;
    int32_t noJapanese;
    int32_t unreadCond;
    int32_t readCond;
    int32_t olderThan;       // 1..36 (age table); 0 = none
    char templateName[128];  // reply and forward kinds: the template to use
    Tab* targetTab;          // move or copy target; null = none
    int32_t moveOrCopy;      // 0 move, 1 copy
    int32_t setMark;
    int32_t deleteUnread;
    int32_t leaveOnServer;
    int32_t setColour;  // 1..15 (15 = remove the colour)
    int32_t noDownload;
    int32_t split;
    int32_t setRead;
    char replyTemplate[128];  // empty = no automatic reply
    Tab* replyTab;
    int32_t forwardKind;  // 0 none, 1 in the body, 2 attached, 3 as it is
    Tab* forwardTab;
    char forwardFrom[128];
    char forwardTo[128];
    int32_t headLines;  // 1 = leave on server, download the header and headLineCount lines
    int32_t headLineCount;
    char lastApplied[24];  // "YY/MM/DD" and "●" (today) or "▲" (stale); empty = never
    int32_t appliedCount;
    Rule* next;
    Rule* prev;
};
KOLVY_RECORD(Rule);
KOLVY_ABI32_SIZE(Rule, 916);
KOLVY_ABI32_OFFSET(Rule, keyword1, 4);
KOLVY_ABI32_OFFSET(Rule, keyword2, 144);
KOLVY_ABI32_OFFSET(Rule, olderThan, 308);
KOLVY_ABI32_OFFSET(Rule, templateName, 312);
KOLVY_ABI32_OFFSET(Rule, targetTab, 440);
KOLVY_ABI32_OFFSET(Rule, replyTemplate, 476);
KOLVY_ABI32_OFFSET(Rule, forwardTab, 612);
KOLVY_ABI32_OFFSET(Rule, forwardTo, 744);
KOLVY_ABI32_OFFSET(Rule, headLines, 872);
KOLVY_ABI32_OFFSET(Rule, lastApplied, 880);
KOLVY_ABI32_OFFSET(Rule, appliedCount, 904);
KOLVY_ABI32_OFFSET(Rule, next, 908);
KOLVY_ABI32_OFFSET(Rule, prev, 912);

// ---------------------------------------------------------------------------------------------
// ServerEntry: one message listed by a POP3 server.
// (receiving)
// The session keeps one per listed message, in LIST order, and hands it to message analysis as
// the size record (its second value is the size). The UIDL store keeps its stored and new ids in
// records of the same shape.
struct ServerEntry {
    int32_t number;  // message number of RETR, TOP and DELE
    uint32_t size;   // octets from LIST; a larger size than fits reads as 0xFFFFFFFF
    char uidl[80];   // unique id from UIDL (at most 78 bytes); empty when none was listed
    int32_t known;   // in the stored-id list: 1 once the id was seen on the server in this run
    ServerEntry* prev;
    ServerEntry* next;
};
KOLVY_RECORD(ServerEntry);
KOLVY_ABI32_SIZE(ServerEntry, 100);
KOLVY_ABI32_OFFSET(ServerEntry, size, 4);
KOLVY_ABI32_OFFSET(ServerEntry, uidl, 8);
KOLVY_ABI32_OFFSET(ServerEntry, known, 88);
KOLVY_ABI32_OFFSET(ServerEntry, prev, 92);
KOLVY_ABI32_OFFSET(ServerEntry, next, 96);

// One message of the list the mail checker hands to KVA_Recieve: what the user chose for it and,
// set by the session, what became of it. A singly linked list the checker owns.
struct CheckerItem {
    char uidl[80];   // the message's unique id
    int32_t action;  // 1 fetch and delete, 2 delete without fetching, 3 fetch and leave
    int32_t result;  // 1 done or no longer on the server, 2 fetched and left on the server
    CheckerItem* next;
};
KOLVY_RECORD(CheckerItem);
KOLVY_ABI32_SIZE(CheckerItem, 92);
KOLVY_ABI32_OFFSET(CheckerItem, action, 80);
KOLVY_ABI32_OFFSET(CheckerItem, result, 84);
KOLVY_ABI32_OFFSET(CheckerItem, next, 88);
