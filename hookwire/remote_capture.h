// Capture of the messages of a window that belongs to another thread or program.
// The hook DLL runs in the target; each watched message comes back as WM_COPYDATA
// to a hidden window of the client's thread and reaches the sink there.
#pragma once
#include <windows.h>

#include <bitset>

namespace hookwire {

class HookwireWindow;

class RemoteCapture {
 public:
  // Whether a window of another thread can be captured: same bitness, hook DLL and table at hand.
  static bool Available(HWND target) noexcept;

  // Starts capturing; raises a run-time error when the platform refuses.
  RemoteCapture(HookwireWindow* owner, HWND target);
  ~RemoteCapture();
  RemoteCapture(const RemoteCapture&) = delete;
  RemoteCapture& operator=(const RemoteCapture&) = delete;

  // Publishes the message filter to the hook.
  void SetFilter(bool all, const std::bitset<0x10000>* bits) noexcept;
  // Watched messages the target did not hand over since capture started (the spy was too slow).
  LONG Lost() const noexcept;

  // Gives back what the process holds for capturing (the hook DLL, the table) once nothing
  // captures any more; false, and nothing given back, while something still does.
  static bool ReleaseShared() noexcept;

 private:
  int slot_ = -1;
  DWORD target_thread_ = 0;
};

}  // namespace hookwire
