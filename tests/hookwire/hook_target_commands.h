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
