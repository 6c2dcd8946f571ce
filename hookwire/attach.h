// Getting the hook DLL into a watched window's thread and asking it to attach: shared by
// Hookwire.dll (a target of its own bitness) and the companion program (the other bitness).
#pragma once
#include <windows.h>

#include "capture_ring.h"

namespace hookwire {

enum AttachOutcome { kAttachSent = 0, kAttachNoHook = 1, kAttachNoAnswer = 2 };

// Sets the hook on the window's thread, sends the request (wParam: the watcher's process id;
// lParam: the handle, in the watcher's process, of the pipe that holds the request), and takes the
// hook off again whatever happened. Whether the target attached is in the section's header.
inline AttachOutcome AttachThroughHook(HMODULE hook_dll, HWND target, DWORD watcher_pid, ULONG request_pipe,
                                       UINT timeout_ms) {
  auto proc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(hook_dll, "HookwireAttachProc")));
  const DWORD thread = GetWindowThreadProcessId(target, nullptr);
  HHOOK hook = proc && thread ? SetWindowsHookExW(WH_CALLWNDPROC, proc, hook_dll, thread) : nullptr;
  if (!hook) return kAttachNoHook;
  DWORD_PTR answer = 0;
  const UINT message = RegisterWindowMessageW(ring::kAttachMessage);
  const bool sent = SendMessageTimeoutW(target, message, static_cast<WPARAM>(watcher_pid),
                                        static_cast<LPARAM>(request_pipe), SMTO_NORMAL | SMTO_ABORTIFHUNG, timeout_ms,
                                        &answer) != 0;
  UnhookWindowsHookEx(hook);
  return sent ? kAttachSent : kAttachNoAnswer;
}

// The hook DLL and the companion of each bitness, beside Hookwire.dll.
inline const wchar_t* HookDllName(bool for64) { return for64 ? L"HookwireHook64.dll" : L"HookwireHook32.dll"; }
inline const wchar_t* AgentName(bool for64) { return for64 ? L"HookwireAgent64.exe" : L"HookwireAgent32.exe"; }

// The target's status as the header holds it, when its tag says the target wrote it; -1 otherwise.
inline LONG VerifiedStatus(const ring::Header* h, const ring::Key& key) {
  const LONG status = h->status;
  const LONG tag = h->status_tag;
  if (status != h->status || tag != ring::StatusTag(key, status)) return -1;
  return status;
}

}  // namespace hookwire
