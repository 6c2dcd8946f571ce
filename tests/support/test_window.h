// Real windows and a real sink for the tests.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "hookwire_h.h"
#include "stand_in.h"

namespace testing_support {

// A top-level (or child) window of the calling thread whose procedure records
// every message and answers with `reply` (DefWindowProc when reply is -1).
class TestWindow {
 public:
  explicit TestWindow(HWND parent = nullptr, const wchar_t* caption = L"Test window", LRESULT reply = -1);
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  LONG handle() const { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd_)); }
  // Messages the window's own procedure saw, in order (only those >= WM_USER unless all is set).
  std::vector<UINT> seen;
  bool record_all = false;
  LRESULT reply;
  void Destroy();

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
  HWND hwnd_ = nullptr;
};

// An IhkMessageSink whose Message runs a callback; by default it records and does nothing else.
class Sink : public StandIn<IhkMessageSink, IID_IhkMessageSink> {
 public:
  using Handler = std::function<HRESULT(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result)>;
  Sink() = default;
  virtual ~Sink() = default;

  std::vector<LONG> received;
  Handler handler;

  HRESULT STDMETHODCALLTYPE Message(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result) override;
};

common::com_ptr<_HookwireWindow> NewHookwireWindow();

// The description of the error information left on this thread (empty when none).
std::wstring LastErrorDescription();

// Dispatches every pending message of this thread.
void PumpMessages();

}  // namespace testing_support
