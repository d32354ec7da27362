#pragma once
#include <windows.h>

class CWnd;

// A message map is a static table of entries walked by the window procedure.
// Each entry names a message (and for WM_COMMAND a notification code and a
// control id) and a small function that unpacks the message's parameters and
// calls the class's handler with its own signature.
typedef LRESULT (*AFX_PMSG)(CWnd* pWnd, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;   // 0 ends the table
    UINT nCode;      // WM_COMMAND only: notification code
    UINT nID;        // WM_COMMAND only: control id
    AFX_PMSG pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();   // null for the root map
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                               \
protected:                                                  \
    static const AFX_MSGMAP* GetThisMessageMap();           \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                  \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                             \
    {                                                                           \
        typedef theClass ThisClass;                                             \
        typedef baseClass TheBaseClass;                                         \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                       \
            { 0, 0, 0, nullptr }                                                \
        };                                                                      \
        static const AFX_MSGMAP messageMap = { &TheBaseClass::GetThisMessageMap, \
                                               &_messageEntries[0] };           \
        return &messageMap;                                                     \
    }

// void OnPaint()
#define ON_WM_PAINT()                                                           \
    { WM_PAINT, 0, 0, [](CWnd* pWnd, WPARAM, LPARAM) -> LRESULT {               \
        static_cast<ThisClass*>(pWnd)->OnPaint();                               \
        return 0; } },

// HCURSOR OnQueryDragIcon()
#define ON_WM_QUERYDRAGICON()                                                   \
    { WM_QUERYDRAGICON, 0, 0, [](CWnd* pWnd, WPARAM, LPARAM) -> LRESULT {       \
        return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(pWnd)->OnQueryDragIcon()); } },

// void OnTimer(UINT nIDEvent)
#define ON_WM_TIMER()                                                           \
    { WM_TIMER, 0, 0, [](CWnd* pWnd, WPARAM wParam, LPARAM) -> LRESULT {        \
        static_cast<ThisClass*>(pWnd)->OnTimer(static_cast<UINT>(wParam));      \
        return 0; } },

// void memberFxn(), for WM_COMMAND with notification code 0 (a button click,
// a menu item or a dialog command such as IDCANCEL).
#define ON_COMMAND(id, memberFxn)                                               \
    { WM_COMMAND, 0, static_cast<WORD>(id), [](CWnd* pWnd, WPARAM, LPARAM) -> LRESULT { \
        static_cast<ThisClass*>(pWnd)->memberFxn();                             \
        return 0; } },

// void memberFxn()
#define ON_BN_CLICKED(id, memberFxn)                                            \
    { WM_COMMAND, BN_CLICKED, static_cast<WORD>(id), [](CWnd* pWnd, WPARAM, LPARAM) -> LRESULT { \
        static_cast<ThisClass*>(pWnd)->memberFxn();                             \
        return 0; } },
