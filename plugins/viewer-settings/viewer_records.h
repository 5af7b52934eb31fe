// Records the mail viewer owns and hands to this library by pointer.
//
// The viewer is a separate program: it allocates these, keeps them alive while the dialogs run
// and rereads what the library changed. Their 32-bit layout is therefore an interface and is
// asserted below. Text fields are NUL-terminated Shift_JIS, filled only through bounded copies
// that never split a character.
//
// Lists follow the intrusive convention of core/list.h: a sentinel head node of the same type,
// head.next is the first node, head.prev the last. Nodes of these lists cross modules (the library
// appends and frees nodes of the viewer's lists), so they are allocated from the process heap
// with viewerNew/viewerDelete, which both modules share, never with new or malloc.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>

#include "core/records.h"

#if defined(_WIN32)
#include <windows.h>
#endif

// Longest font face name the viewer keeps (bytes, without the NUL).
constexpr int kViewerFaceMax = 46;
// Text fields of view scripts: 128 bytes including the NUL.
constexpr int kViewTextSize = 128;

struct ViewerSettings {
    int32_t fontSize;                   // points, whole: 8..20
    char fontFace[kViewerFaceMax + 2];  // at most 46 bytes and a NUL
    int32_t spaceBar;                   // 0 = one page, n = n lines
    int32_t lineDown;                   // 1..49 lines
    int32_t statusChangeTiming1;        // read on "next/previous unread"
    int32_t statusChangeTiming2;        // read after statusChangeTime seconds
    int32_t statusChangeTime;           // 1..20
    int32_t statusChangeTiming3;        // read on opening
    int32_t htmlDisplay;                // the five general switches
    int32_t positionFix;
    int32_t noDoubleWindow;
    int32_t fixHeaderView;
    int32_t autoReturn;
    int32_t title[10];  // title-bar fields in T_MailNo .. T_Title order
};
KOLVY_RECORD(ViewerSettings);
KOLVY_ABI32_SIZE(ViewerSettings, 136);
KOLVY_ABI32_OFFSET(ViewerSettings, fontFace, 4);
KOLVY_ABI32_OFFSET(ViewerSettings, spaceBar, 52);
KOLVY_ABI32_OFFSET(ViewerSettings, statusChangeTime, 68);
KOLVY_ABI32_OFFSET(ViewerSettings, autoReturn, 92);
KOLVY_ABI32_OFFSET(ViewerSettings, title, 96);

// One of the twelve shortcut actions, in action order.
struct ShortcutNode {
    int32_t key;      // virtual-key code, +1000 with Shift, +2000 with Ctrl
    int32_t pending;  // chosen in the dialog but not yet confirmed; 0 = none
    ShortcutNode* next;
    ShortcutNode* prev;
};
KOLVY_RECORD(ShortcutNode);
KOLVY_ABI32_SIZE(ShortcutNode, 16);
KOLVY_ABI32_OFFSET(ShortcutNode, next, 8);

// One header name the viewer shows, in display order ("From:").
struct CustomHeaderNode {
    char name[kViewTextSize];
    CustomHeaderNode* next;
    CustomHeaderNode* prev;
};
KOLVY_RECORD(CustomHeaderNode);
KOLVY_ABI32_SIZE(CustomHeaderNode, 136);
KOLVY_ABI32_OFFSET(CustomHeaderNode, next, 128);

// One decoration of a view script: a box around a line range (beginLine set) or a highlight.
struct ViewEffect {
    uint32_t textColor;    // COLORREF
    uint32_t textBkColor;  // COLORREF
    char beginLine[kViewTextSize];
    char endLine[kViewTextSize];
    int32_t edgeType;  // 0 rectangle, 1 rounded rectangle
    char highlight[kViewTextSize];
    int32_t topBottomPad;  // pixels, 2 when created
    int32_t leftRightPad;  // pixels, 3 when created
    int32_t fontSize;      // 8..20; 0 counts as 14
    int32_t bold;
    int32_t italic;
    ViewEffect* next;
    ViewEffect* prev;
};
KOLVY_RECORD(ViewEffect);
KOLVY_ABI32_SIZE(ViewEffect, 424);
KOLVY_ABI32_OFFSET(ViewEffect, beginLine, 8);
KOLVY_ABI32_OFFSET(ViewEffect, endLine, 136);
KOLVY_ABI32_OFFSET(ViewEffect, edgeType, 264);
KOLVY_ABI32_OFFSET(ViewEffect, highlight, 268);
KOLVY_ABI32_OFFSET(ViewEffect, topBottomPad, 396);
KOLVY_ABI32_OFFSET(ViewEffect, italic, 412);
KOLVY_ABI32_OFFSET(ViewEffect, next, 416);

// The view script of one sender address.
struct ViewScriptNode {
    char address[kViewTextSize];
    uint32_t viewBkColor;  // COLORREF; 0 = not set (written as white)
    ViewEffect effects;    // head of the effect list
    ViewScriptNode* next;
    ViewScriptNode* prev;
};
KOLVY_RECORD(ViewScriptNode);
KOLVY_ABI32_SIZE(ViewScriptNode, 564);
KOLVY_ABI32_OFFSET(ViewScriptNode, viewBkColor, 128);
KOLVY_ABI32_OFFSET(ViewScriptNode, effects, 132);
KOLVY_ABI32_OFFSET(ViewScriptNode, next, 556);

// The viewer's call-back, looked up by name in the viewer's executable: reread the settings of
// this address.
using ReReadOmbrelFn = void(KOLVY_STDCALL*)(ViewScriptNode* node);

// A zeroed node from the heap both modules share; null when memory ran out.
template <class T>
T* viewerNew() {
#if defined(_WIN32)
    void* p = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(T));
#else
    void* p = std::calloc(1, sizeof(T));
#endif
    return p ? new (p) T{} : nullptr;
}
template <class T>
void viewerDelete(T* p) {
    if (!p) return;
#if defined(_WIN32)
    HeapFree(GetProcessHeap(), 0, p);
#else
    std::free(p);
#endif
}
