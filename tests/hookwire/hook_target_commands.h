// The requests HookTarget.exe answers, shared by the program and the tests that drive it.
#pragma once
#include <windows.h>

constexpr UINT kDump = WM_USER + 0x7FFE;
constexpr UINT kQueryProc = WM_USER + 0x7FF0;
constexpr UINT kSubclassSelf = WM_USER + 0x7FF1;
constexpr UINT kUnsubclassSelf = WM_USER + 0x7FF2;
constexpr UINT kNewChild = WM_USER + 0x7FF3;
constexpr UINT kDestroy = WM_USER + 0x7FF4;
constexpr UINT kQueryExceptions = WM_USER + 0x7FF5;
constexpr UINT kHighBitChild = WM_USER + 0x7FF6;
constexpr UINT kSetProc = WM_USER + 0x7FF7;
constexpr UINT kCommonSubclass = WM_USER + 0x7FF8;
constexpr UINT kCommonUnsubclass = WM_USER + 0x7FF9;
constexpr UINT kAnsiChild = WM_USER + 0x7FFA;
constexpr UINT kAnsiIsOriginal = WM_USER + 0x7FFB;
constexpr UINT kAnsiRestore = WM_USER + 0x7FFC;
constexpr UINT kNested = WM_USER + 0x6FF0;
constexpr UINT kNestedInner = WM_USER + 0x6FF1;
// The layers a program puts on one of its windows itself, and that window's own log of kCounted
// (wParam: the window, 0 for the main one).
constexpr UINT kCounted = WM_USER + 0x50;
constexpr UINT kSwallowNullOn = WM_USER + 0x7FE0;
constexpr UINT kSwallowNullOff = WM_USER + 0x7FE1;
constexpr UINT kKeeperOn = WM_USER + 0x7FE2;
constexpr UINT kKeeperOff = WM_USER + 0x7FE3;
constexpr UINT kKeeperAgain = WM_USER + 0x7FE4;
constexpr UINT kCallKept = WM_USER + 0x7FE5;
constexpr UINT kRestoreOriginal = WM_USER + 0x7FE6;
constexpr UINT kCountedCount = WM_USER + 0x7FE7;
constexpr UINT kCountedDisorder = WM_USER + 0x7FE8;
constexpr UINT kKeeperOffAndDestroy = WM_USER + 0x7FE9;
constexpr UINT kIsOriginal = WM_USER + 0x7FEA;
constexpr UINT kCountedAt = WM_USER + 0x7FEB;
// One keeper for two windows, as programs write it with one global: wParam's window is subclassed
// first and the pointer it replaced is handed every message of both (lParam: the second window).
constexpr UINT kSharedKeeperOn = WM_USER + 0x7FEC;
// A window on a thread of its own (the answer), whose thread ends inside its procedure when it is
// sent or posted kEndThread; a pass-through that counts the kCounted messages a window's chain hands
// it (kTallyOn, kTallyCount; wParam: the window).
constexpr UINT kThreadWindow = WM_USER + 0x7FED;
constexpr UINT kEndThread = WM_USER + 0x7FEE;
constexpr UINT kTallyOn = WM_USER + 0x7FEF;
constexpr UINT kTallyCount = WM_USER + 0x7FDF;
// Every message a window's own procedure received since it was made, and those of the windows it
// made (kReceivedCount, kReceivedAt: wParam the window, lParam the place; -1 past the end).
// kNewPopup makes a top-level window on the thread of the window it is sent to (the answer), and
// kNewChild a child of it.
constexpr UINT kReceivedCount = WM_USER + 0x7FDE;
constexpr UINT kReceivedAt = WM_USER + 0x7FDD;
constexpr UINT kNewPopup = WM_USER + 0x7FDC;
// kReparent: the window it is sent to takes lParam's window as its parent (on its own thread).
// kNewMessageOnly: a message-only window on the thread of the window it is sent to (the answer).
constexpr UINT kReparent = WM_USER + 0x7FDB;
constexpr UINT kNewMessageOnly = WM_USER + 0x7FDA;
