#include "test_window.h"

#include <gtest/gtest.h>

namespace testing_support {

namespace {
const wchar_t kClass[] = L"HookwireTestWindow";

ATOM RegisterTestClass() {
  static ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    return RegisterClassW(&wc);
  }();
  return atom;
}
}  // namespace

TestWindow::TestWindow(HWND parent, const wchar_t* caption, LRESULT r) : reply(r) {
  RegisterTestClass();
  DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW;
  hwnd_ = CreateWindowExW(0, kClass, caption, style, 0, 0, 200, 100, parent, nullptr, GetModuleHandleW(nullptr),
                          nullptr);
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TestWindow::Proc));
}

TestWindow::~TestWindow() { Destroy(); }

void TestWindow::Destroy() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

LRESULT CALLBACK TestWindow::Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (self && (self->record_all || msg >= WM_USER)) self->seen.push_back(msg);
  if (self && msg >= WM_USER && self->reply != -1) return self->reply;
  return DefWindowProcW(h, msg, wp, lp);
}

HRESULT Sink::Message(LONG msg, LONG_PTR wp, LONG_PTR lp, LONG_PTR* result) {
  received.push_back(msg);
  return handler ? handler(msg, wp, lp, result) : S_OK;
}

common::com_ptr<_HookwireWindow> NewHookwireWindow() {
  common::com_ptr<_HookwireWindow> w;
  HRESULT hr = CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow, w.put_void());
  EXPECT_EQ(S_OK, hr) << "Hookwire.dll must be registered";
  return w;
}

std::wstring LastErrorDescription() {
  common::com_ptr<IErrorInfo> info;
  if (GetErrorInfo(0, info.put()) != S_OK || !info) return {};
  common::unique_bstr d;
  info->GetDescription(d.put());
  return d.get() ? std::wstring(d.get(), d.length()) : std::wstring();
}

void PumpMessages() {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

}  // namespace testing_support
