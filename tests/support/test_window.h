// Real windows and a real sink for the tests.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "hookwire_h.h"

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
class Sink : public IhkMessageSink {
 public:
  using Handler = std::function<HRESULT(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result)>;
  Sink() = default;
  virtual ~Sink() = default;

  std::vector<LONG> received;
  Handler handler;
  LONG refs() const { return refs_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;
  HRESULT STDMETHODCALLTYPE Message(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result) override;

 private:
  LONG refs_ = 1;  // owned by the test (a stack or heap object), never deleted by Release
};

common::com_ptr<_HookwireWindow> NewHookwireWindow();

// The description of the error information left on this thread (empty when none).
std::wstring LastErrorDescription();

// Dispatches every pending message of this thread.
void PumpMessages();

}  // namespace testing_support
