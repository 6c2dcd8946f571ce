// Capture of the messages of a window that belongs to another thread or program. The hook DLL
// watches the window from inside its program and writes each watched message into a buffer
// shared with this object alone; a hidden window of the client's thread drains it on a timer
// (or when the target says the buffer passed its mark) and hands each message to the sink there.
#pragma once
#include <windows.h>

#include <bitset>

#include "message_details.h"

namespace hookwire {

class HookwireWindow;
struct CaptureSession;

class RemoteCapture {
 public:
  // Whether a window of another thread can be captured: the hook DLL (and, for a program of the
  // other bitness, the companion program) at hand.
  static bool Available(HWND target) noexcept;

  // Starts capturing; raises a run-time error when the platform or the target refuses.
  RemoteCapture(HookwireWindow* owner, HWND target);
  ~RemoteCapture();
  RemoteCapture(const RemoteCapture&) = delete;
  RemoteCapture& operator=(const RemoteCapture&) = delete;

  // Publishes the message filter to the target.
  void SetFilter(bool all, const std::bitset<0x10000>* bits) noexcept;
  // Watched messages the target could not hand over since capture started (the buffer was
  // full): every loss known so far, including those no delivered message has been placed after.
  LONG Lost() const noexcept;
  bool Target64Bit() const noexcept;

  // Gives back what the process holds for capturing once nothing captures any more; false,
  // and nothing given back, while something still does.
  static bool ReleaseShared() noexcept;

 private:
  CaptureSession* session_ = nullptr;
};

}  // namespace hookwire
