// HookwireAgent32.exe / HookwireAgent64.exe <window> <section>: sets the hook for a watcher of
// the other bitness, whose own hook DLL cannot be loaded into this window's program. Both
// numbers are hexadecimal: the watched window and the section's handle in the window's process.
// Exit code: 0 the request reached the window (the header says whether it attached), 2 bad
// arguments, 3 the hook DLL is missing or the hook was refused, 4 the window did not answer.
#include <windows.h>

#include <cwchar>
#include <string>

#include "attach.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  wchar_t* end = nullptr;
  const unsigned long window = std::wcstoul(argv[1], &end, 16);
  if (*end || !window) return 2;
  const unsigned long section = std::wcstoul(argv[2], &end, 16);
  if (*end || !section) return 2;
  HWND target = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(window));
  if (!IsWindow(target)) return 2;
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (!n || n >= MAX_PATH) return 3;
  std::wstring dll(path, n);
  dll.erase(dll.find_last_of(L"\\/") + 1);
  dll += hookwire::HookDllName(sizeof(void*) == 8);
  HMODULE hook = LoadLibraryW(dll.c_str());
  if (!hook) return 3;
  switch (hookwire::AttachThroughHook(hook, target, section, 5000)) {
    case hookwire::kAttachSent: return 0;
    case hookwire::kAttachNoHook: return 3;
    default: return 4;
  }
}
