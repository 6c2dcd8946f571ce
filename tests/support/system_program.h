// A program the platform ships (notepad and the like), started by a test in a bitness of its choice:
// on a 64-bit desktop the tests of both builds can run beside programs of either bitness.
#pragma once
#include <windows.h>

#include <string>

namespace testing_support {

enum class Bitness { Same, Other };

// True when this test program is 64-bit code.
constexpr bool kIs64Bit = sizeof(void*) == 8;

class SystemProgram {
 public:
  // Starts <windows>\system32 or \syswow64 \<exe> of the given bitness relative to this process and
  // waits (up to 20 s) for its first visible top-level window. window() is null when that failed.
  SystemProgram(const wchar_t* exe, Bitness bitness);
  ~SystemProgram();  // ends the program
  SystemProgram(const SystemProgram&) = delete;
  SystemProgram& operator=(const SystemProgram&) = delete;

  HWND window() const { return window_; }
  DWORD pid() const { return info_.dwProcessId; }
  // Whether the running program really is 64-bit code (read from the platform, not assumed).
  bool Is64Bit() const;
  const std::wstring& path() const { return path_; }

 private:
  PROCESS_INFORMATION info_{};
  HWND window_ = nullptr;
  std::wstring path_;
};

}  // namespace testing_support
