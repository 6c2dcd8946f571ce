// Capture of the messages of a window that belongs to another thread or program. The hook DLL
// watches the window from inside its program and writes each watched message into a buffer
// shared with this object alone; a hidden window of the client's thread drains it on a timer
// (or when the target says the buffer passed its mark) and hands each message to the sink there.
// A capture may also take in a family of windows (the window with its descendants, its thread's
// windows, its program's): one buffer per thread of the family, each record naming its window.
#pragma once
#include <windows.h>

#include <bitset>
#include <map>
#include <string>
#include <vector>

#include "message_details.h"

namespace hookwire {

class HookwireWindow;
struct CaptureSession;

class RemoteCapture {
 public:
  // Whether a window of another thread can be captured: the hook DLL (and, for a program of the
  // other bitness, the companion program) at hand.
  static bool Available(HWND target) noexcept;

  // Starts capturing (scope and options as the hook DLL takes them: ring::Scope, ring::Options);
  // raises a run-time error when the platform or the target refuses the window itself.
  RemoteCapture(HookwireWindow* owner, HWND target, ULONG scope = 0, ULONG options = 0);
  ~RemoteCapture();
  RemoteCapture(const RemoteCapture&) = delete;
  RemoteCapture& operator=(const RemoteCapture&) = delete;

  // Publishes the message filter to the target.
  void SetFilter(bool all, const std::bitset<0x10000>* bits) noexcept;
  // Watched messages the target could not hand over since capture started (the buffer was
  // full): every loss known so far, including those no delivered message has been placed after.
  LONG Lost() const noexcept;
  bool Target64Bit() const noexcept;
  // The windows of a family that are watched now, in the order they joined (a capture of one
  // window: that window); a window's class as it joined, or empty.
  std::vector<HWND> Watched() const;
  const wchar_t* ClassOf(ULONG window) const noexcept;

  // For the reading side: a family's window joined or left; the family may have threads to take
  // in that it did not have before (called now and then while a family is read).
  void Joined(ULONG window, const wchar_t* cls, int chars) noexcept;
  void Left(ULONG window) noexcept;
  void LookForNewThreads() noexcept;

  // Gives back what the process holds for capturing once nothing captures any more; false,
  // and nothing given back, while something still does.
  static bool ReleaseShared() noexcept;

 private:
  CaptureSession* Open(HWND window, bool essential);
  void TakeInThreads() noexcept;
  std::map<DWORD, HWND> FamilyThreads() const;

  HookwireWindow* owner_;
  HWND target_;
  ULONG scope_;
  ULONG options_;
  DWORD pid_ = 0;
  bool target64_ = false;
  std::vector<CaptureSession*> sessions_;  // the first is the watched window's thread
  std::map<DWORD, bool> threads_;          // family threads asked for (true: taken)
  std::map<ULONG, std::wstring> classes_;  // a family's windows, by handle, as they joined
  std::vector<ULONG> watched_;
  // The filter, for sessions of threads taken in later.
  bool watch_all_ = false;
  std::bitset<0x10000> filter_;
};

}  // namespace hookwire
