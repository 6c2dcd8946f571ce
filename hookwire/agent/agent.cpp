// HookwireAgent32.exe / HookwireAgent64.exe <window> <watcher> <pipe>: sets the hook for a watcher
// of the other bitness, whose own hook DLL cannot be loaded into this window's program. All three
// numbers are hexadecimal: the watched window, the watcher's process id and the handle, in the
// watcher's process, of the pipe that holds its request.
// Exit code: 0 the request reached the window (the header says whether it attached), 2 bad
// arguments, 3 the hook DLL is missing or the hook was refused, 4 the window did not answer.
#include <windows.h>

#include <cwchar>
#include <string>

#include "attach.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  unsigned long values[3] = {};
  for (int i = 0; i < 3; ++i) {
    wchar_t* end = nullptr;
    values[i] = std::wcstoul(argv[i + 1], &end, 16);
    if (*end || !values[i]) return 2;
  }
  // A window handle is a 32-bit value, sign-extended in a 64-bit program.
  HWND target = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(values[0])));
  if (!IsWindow(target)) return 2;
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (!n || n >= MAX_PATH) return 3;
  std::wstring dll(path, n);
  dll.erase(dll.find_last_of(L"\\/") + 1);
  dll += hookwire::HookDllName(sizeof(void*) == 8);
  HMODULE hook = LoadLibraryW(dll.c_str());
  if (!hook) return 3;
  switch (hookwire::AttachThroughHook(hook, target, values[1], values[2], 5000)) {
    case hookwire::kAttachSent: return 0;
    case hookwire::kAttachNoHook: return 3;
    default: return 4;
  }
}
