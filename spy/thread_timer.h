// A timer of the thread, not of a window: a watched main window sees no WM_TIMER of it. The tick
// runs on the thread that started the timer, inside its message loop; the timer stops when its
// object goes.
#pragma once

#include <windows.h>

#include <functional>

namespace spy {

class ThreadTimer {
 public:
  explicit ThreadTimer(std::function<void()> tick) : tick_(std::move(tick)) {}
  ~ThreadTimer() { Stop(); }
  ThreadTimer(const ThreadTimer&) = delete;
  ThreadTimer& operator=(const ThreadTimer&) = delete;

  // Starts ticking every `ms`; a running timer keeps its interval. False when the system has no
  // timer to give.
  bool Start(UINT ms);
  void Stop();
  bool running() const { return id_ != 0; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD);

  std::function<void()> tick_;
  UINT_PTR id_ = 0;
};

}  // namespace spy
