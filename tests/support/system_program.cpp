#include "system_program.h"

namespace testing_support {
namespace {

struct FindWindow {
  DWORD pid;
  HWND found;
};

BOOL CALLBACK FirstVisible(HWND h, LPARAM lp) {
  auto* f = reinterpret_cast<FindWindow*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid == f->pid && IsWindowVisible(h)) {
    f->found = h;
    return FALSE;
  }
  return TRUE;
}

// The folder holding the system's programs of the wanted bitness, as this process must name it:
// a 32-bit process reaches the 64-bit ones through "sysnative" (system32 is redirected for it).
std::wstring SystemFolder(bool want64) {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::wstring dir = windows;
  if (want64) return dir + (kIs64Bit ? L"\\system32\\" : L"\\sysnative\\");
  return dir + (kIs64Bit ? L"\\syswow64\\" : L"\\system32\\");
}

}  // namespace

SystemProgram::SystemProgram(const wchar_t* exe, Bitness bitness) {
  const bool want64 = (bitness == Bitness::Same) == kIs64Bit;
  path_ = SystemFolder(want64) + exe;
  std::wstring command = L"\"" + path_ + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(path_.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info_))
    return;
  WaitForInputIdle(info_.hProcess, 20000);
  for (int i = 0; i < 200 && !window_; ++i) {
    FindWindow f{info_.dwProcessId, nullptr};
    EnumWindows(FirstVisible, reinterpret_cast<LPARAM>(&f));
    window_ = f.found;
    if (!window_) Sleep(100);
  }
}

SystemProgram::~SystemProgram() {
  if (!info_.hProcess) return;
  TerminateProcess(info_.hProcess, 0);
  WaitForSingleObject(info_.hProcess, 10000);
  CloseHandle(info_.hProcess);
  CloseHandle(info_.hThread);
}

bool SystemProgram::Is64Bit() const {
  BOOL wow = FALSE;
  if (!info_.hProcess || !IsWow64Process(info_.hProcess, &wow)) return false;
  return !wow;  // the desktop here is 64-bit: a program not under WOW64 is 64-bit code
}

}  // namespace testing_support
