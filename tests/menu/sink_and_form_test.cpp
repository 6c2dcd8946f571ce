// The component as the subclassing service's sink and the window it attaches to: a late-bound
// caller of the sink interface reaches Message through the sink's own type information; a form
// window of another thread is refused.
#include <gtest/gtest.h>

#include "automation_object.h"
#include "menu_fixture.h"
#include "recording_window.h"
#include "test_window.h"
#include "variant_args.h"

using common::com_ptr;
using namespace menu_test;

TEST(SinkDispatch, LateBoundCallerOfTheSinkReachesMessage) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  com_ptr<IhkMessageSink> sink;
  ASSERT_EQ(S_OK, g->QueryInterface(IID_IhkMessageSink, sink.put_void()));

  com_ptr<ITypeInfo> info;
  ASSERT_EQ(S_OK, sink->GetTypeInfo(0, 0, info.put()));
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(S_OK, info->GetTypeAttr(&ta));
  EXPECT_EQ(IID_IhkMessageSink, ta->guid) << "the sink's IDispatch describes the sink interface";
  info->ReleaseTypeAttr(ta);

  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"Message");
  ASSERT_EQ(S_OK, sink->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  EXPECT_EQ(1, id);
  LPOLESTR other = const_cast<LPOLESTR>(L"SetItemImage");
  EXPECT_EQ(DISP_E_UNKNOWNNAME, sink->GetIDsOfNames(IID_NULL, &other, 1, 0, &id));

  // WM_MENUCHAR for the File popup: "o" picks &Open... (position 1) at once.
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  VARIANT result;
  VariantInit(&result);
  V_VT(&result) = VT_I4;
  V_I4(&result) = 0;
  VARIANT result_ref;
  VariantInit(&result_ref);
  V_VT(&result_ref) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&result_ref) = &result;
  VARIANT wp = common::LongArg(MAKELONG('o', MF_POPUP));
  VARIANT lp = common::LongArg(static_cast<LONG>(reinterpret_cast<LONG_PTR>(file)));
  VARIANT msg = common::LongArg(WM_MENUCHAR);
  VARIANT args[] = {result_ref, lp, wp, msg};  // last first
  DISPPARAMS p{args, nullptr, 4, 0};
  EXCEPINFO ex{};
  UINT arg_err = 0;
  const HRESULT hr = sink->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, &ex, &arg_err);
  EXPECT_EQ(S_OK, hr) << "argument " << arg_err;
  VARIANT as_long;
  VariantInit(&as_long);
  ASSERT_EQ(S_OK, VariantChangeType(&as_long, &result, 0, VT_I4));
  EXPECT_EQ(MAKELONG(1, MNC_EXECUTE), V_I4(&as_long));
  VariantClear(&result);
  // The component's own interface still answers as before.
  LPOLESTR own = const_cast<LPOLESTR>(L"SetItemImage");
  EXPECT_EQ(S_OK, static_cast<_CGlyphary*>(g.get())->GetIDsOfNames(IID_NULL, &own, 1, 0, &id));
  EXPECT_EQ(0x60030002, id);
}

namespace {

// A form object that reports any window handle as its "hwnd".
class HandleForm final : public client::AutomationObject {
 public:
  explicit HandleForm(HWND h) : AutomationObject(L"Form"), h_(h) {}

 protected:
  const std::vector<Member>& Members() const override {
    static const std::vector<Member> m{{L"hwnd", 1}};
    return m;
  }
  void Dispatch(DISPID, WORD, const std::vector<const VARIANT*>&, VARIANT* result) override {
    client::ReturnLong(result, static_cast<LONG>(reinterpret_cast<LONG_PTR>(h_)));
  }

 private:
  HWND h_;
};

// A window with a menu bar, made and served by a thread of its own until destroyed.
class OtherThreadWindow {
 public:
  OtherThreadWindow() {
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &thread_id_);
    WaitForSingleObject(ready_, 10000);
  }
  ~OtherThreadWindow() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(ready_);
  }
  HWND hwnd() const { return hwnd_; }
  HMENU menu() const { return menu_; }

 private:
  static DWORD WINAPI Run(void* p) {
    auto* self = static_cast<OtherThreadWindow*>(p);
    self->menu_ = CreateMenu();
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 1, L"&Open");
    AppendMenuW(self->menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), L"&File");
    self->hwnd_ = CreateWindowExW(0, L"STATIC", L"other thread", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                  self->menu_, nullptr, nullptr);
    SetEvent(self->ready_);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    DestroyWindow(self->hwnd_);
    return 0;
  }
  HANDLE ready_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD thread_id_ = 0;
  HWND hwnd_ = nullptr;
  HMENU menu_ = nullptr;
};

}  // namespace

// Form on a window another thread (or program) owns is refused: the component would read that
// thread's menus and message parameters as its own. Nothing is attached, nothing changed.
TEST(FormWindow, WindowOfAnotherThreadIsRefused) {
  OtherThreadWindow other;
  ASSERT_TRUE(IsWindow(other.hwnd()));
  const LONG_PTR proc_before = GetWindowLongPtrW(other.hwnd(), GWLP_WNDPROC);
  RecordedWindows rec;
  auto g = NewComponent();
  HandleForm* raw = new HandleForm(other.hwnd());
  com_ptr<IDispatch> form(raw, false);
  EXPECT_EQ(5, ErrorNumber(SetForm(g.get(), form.get())));
  const std::wstring description = testing_support::LastErrorDescription();
  EXPECT_NE(std::wstring::npos, description.find(L"another thread")) << "description: " << description;
  EXPECT_EQ(std::vector<std::wstring>{L"created"}, rec.log) << "the subclassing object was not touched";
  EXPECT_EQ(proc_before, GetWindowLongPtrW(other.hwnd(), GWLP_WNDPROC));
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof mii;
  mii.fMask = MIIM_FTYPE | MIIM_DATA;
  ASSERT_TRUE(GetMenuItemInfoW(other.menu(), 0, TRUE, &mii));
  EXPECT_EQ(0u, mii.fType & MFT_OWNERDRAW) << "the other thread's menu bar was left alone";
  EXPECT_EQ(0u, mii.dwItemData);

  // The component still takes a form of its own thread afterwards.
  auto own = SampleForm();
  EXPECT_EQ(S_OK, SetForm(g.get(), own.get()));
  EXPECT_TRUE(ItemType(GetSubMenu(own->MenuBar(), 0), 0) & MFT_OWNERDRAW);
}
