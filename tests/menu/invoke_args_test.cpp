// SetItemImage called late-bound the ways a script host calls it: strings the caller owns stay
// the caller's, and every mix of positional, named and omitted arguments reaches the member.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "late_bound.h"
#include "menu_fixture.h"
#include "variant_args.h"

using common::com_ptr;
using namespace menu_test;

namespace {

constexpr DISPID kSetItemImage = 0x60030002;

// Invoke with rgvarg and the named dispatch ids exactly as given (rgvarg in wire order: named
// arguments first, then the positional ones last first).
HRESULT RawInvoke(IDispatch* obj, std::vector<VARIANT> rgvarg, std::vector<DISPID> named, EXCEPINFO* ex = nullptr) {
  DISPPARAMS p{rgvarg.data(), named.empty() ? nullptr : named.data(), static_cast<UINT>(rgvarg.size()),
               static_cast<UINT>(named.size())};
  EXCEPINFO local{};
  UINT arg_err = 0;
  HRESULT hr = obj->Invoke(kSetItemImage, IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, ex ? ex : &local, &arg_err);
  if (!ex) {
    SysFreeString(local.bstrSource);
    SysFreeString(local.bstrDescription);
    SysFreeString(local.bstrHelpFile);
  }
  return hr;
}

// Whether the allocator hands out block within the next allocations of its size: a string that is
// still alive can never be handed out again, one that was freed comes back from the cache or heap.
bool HandedOutAgain(BSTR block) {
  const UINT len = SysStringLen(block);
  std::vector<BSTR> taken;
  bool again = false;
  for (int i = 0; i < 32 && !again; ++i) {
    taken.push_back(SysAllocStringLen(nullptr, len));
    again = taken.back() == block;
  }
  for (BSTR b : taken)
    if (b != block) SysFreeString(b);
  return again;
}

// A component attached to the sample form, reached through its IDispatch.
struct Attached {
  com_ptr<client::FormObject> form = SampleForm();
  com_ptr<glyphary::CGlyphary> g = NewComponent();
  IDispatch* disp() { return static_cast<_CGlyphary*>(g.get()); }
  Attached() {
    EXPECT_EQ(S_OK, SetImageList(g.get(), FakeImageList(16, 16).get()));
    EXPECT_EQ(S_OK, SetForm(g.get(), form.get()));
  }
  // The image index stored under key, or -1.
  long ImageFor(const std::wstring& key) {
    if (!g->ImageIndexes().Contains(key)) return -1;
    common::unique_variant v;
    g->ImageIndexes().Item(key, v.get());
    return V_I4(v.get());
  }
};

}  // namespace

// A string handed over by reference (a script variable) or by value stays the caller's: the
// call neither frees it nor leaves the caller's variant pointing at freed memory.
TEST(InvokeArgs, CallersStringsSurviveTheCall) {
  Attached a;
  // By reference, as a script passes a variable.
  BSTR by_ref = SysAllocString(L"mnuOpen");
  VARIANT name = common::TextArg(by_ref);
  VARIANT image = common::LongArg(3);
  ASSERT_EQ(S_OK, RawInvoke(a.disp(), {common::RefArg(&name), common::RefArg(&image)}, {}));
  ASSERT_EQ(VT_BSTR, V_VT(&name));
  const bool ref_freed = HandedOutAgain(V_BSTR(&name));
  EXPECT_FALSE(ref_freed) << "the caller's by-reference string was freed during the call";
  EXPECT_EQ(std::wstring(L"mnuOpen"), std::wstring(V_BSTR(&name), SysStringLen(V_BSTR(&name))));
  EXPECT_EQ(3, a.ImageFor(L"mnuOpen"));
  if (!ref_freed) VariantClear(&name);

  // By value: the argument array is the caller's too.
  BSTR by_value = SysAllocString(L"mnuSave");
  ASSERT_EQ(S_OK, RawInvoke(a.disp(), {common::TextArg(by_value), common::LongArg(4)}, {}));
  const bool value_freed = HandedOutAgain(by_value);
  EXPECT_FALSE(value_freed) << "the caller's string argument was freed during the call";
  EXPECT_EQ(4, a.ImageFor(L"mnuSave"));
  if (!value_freed) SysFreeString(by_value);

  // A variable holding an index, with the name by reference: an element of a control array.
  BSTR recent = SysAllocString(L"mnuRecent");
  VARIANT array = common::TextArg(recent);
  VARIANT one = common::LongArg(1);
  ASSERT_EQ(S_OK, RawInvoke(a.disp(), {common::RefArg(&one), common::RefArg(&array), common::LongArg(5)}, {}));
  const bool array_freed = HandedOutAgain(V_BSTR(&array));
  EXPECT_FALSE(array_freed);
  EXPECT_EQ(5, a.ImageFor(L"mnuRecent;1"));
  if (!array_freed) VariantClear(&array);
}

// Each mix a script host produces; arguments by name use the parameters' positions as ids
// (ImageIndex 0, sMenuName 1, MenuIndex 2). MenuIndex left out is "no index".
TEST(InvokeArgs, PositionalNamedAndOmittedMixes) {
  Attached a;
  BSTR open = SysAllocString(L"mnuOpen");
  BSTR save = SysAllocString(L"mnuSave");
  BSTR newer = SysAllocString(L"mnuNew");
  BSTR recent = SysAllocString(L"mnuRecent");
  BSTR copy = SysAllocString(L"mnuCopy");
  using common::LongArg;
  using common::TextArg;

  // All positional, MenuIndex omitted.
  EXPECT_EQ(S_OK, RawInvoke(a.disp(), {TextArg(open), LongArg(1)}, {}));
  // All named, in call order and reversed, MenuIndex omitted.
  EXPECT_EQ(S_OK, RawInvoke(a.disp(), {LongArg(2), TextArg(save)}, {0, 1}));
  EXPECT_EQ(S_OK, RawInvoke(a.disp(), {TextArg(newer), LongArg(3)}, {1, 0}));
  // One positional (ImageIndex) and one named (sMenuName).
  EXPECT_EQ(S_OK, RawInvoke(a.disp(), {TextArg(copy), LongArg(4)}, {1}));
  // MenuIndex named, the others positional and then all named in another order.
  EXPECT_EQ(S_OK, RawInvoke(a.disp(), {LongArg(2), TextArg(recent), LongArg(5)}, {2}));
  EXPECT_EQ(S_OK, RawInvoke(a.disp(), {TextArg(recent), LongArg(0), LongArg(6)}, {1, 2, 0}));
  EXPECT_EQ(1, a.ImageFor(L"mnuOpen"));
  EXPECT_EQ(2, a.ImageFor(L"mnuSave"));
  EXPECT_EQ(3, a.ImageFor(L"mnuNew"));
  EXPECT_EQ(4, a.ImageFor(L"mnuCopy"));
  EXPECT_EQ(5, a.ImageFor(L"mnuRecent;2"));
  EXPECT_EQ(6, a.ImageFor(L"mnuRecent;0"));

  // Omitted by name and by position is no index: the plain key again is a duplicate.
  EXCEPINFO ex{};
  EXPECT_EQ(DISP_E_EXCEPTION, RawInvoke(a.disp(), {LongArg(7), TextArg(open)}, {0, 1}, &ex));
  EXPECT_EQ(457, ErrorNumber(ex.scode));
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
  VARIANT missing;
  VariantInit(&missing);
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  ex = EXCEPINFO{};
  EXPECT_EQ(DISP_E_EXCEPTION, RawInvoke(a.disp(), {missing, TextArg(save), LongArg(8)}, {2}, &ex));
  EXPECT_EQ(457, ErrorNumber(ex.scode));
  SysFreeString(ex.bstrSource);
  SysFreeString(ex.bstrDescription);
  SysFreeString(ex.bstrHelpFile);
  EXPECT_EQ(2, a.ImageFor(L"mnuSave"));
  for (BSTR b : {open, save, newer, recent, copy}) SysFreeString(b);
}

namespace {

// An object whose Invoke writes its first argument back, as the platform's Invoke does for an
// [in, out] parameter passed by value: what the argument held is cleared, a new string put there.
class WritesBack final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != IID_IUnknown && iid != IID_IDispatch) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IDispatch*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT* r, EXCEPINFO*, UINT*) override {
    if (p->cArgs > 0) {
      VariantClear(&p->rgvarg[0]);
      V_VT(&p->rgvarg[0]) = VT_BSTR;
      V_BSTR(&p->rgvarg[0]) = SysAllocString(L"written back");
    }
    if (r) VariantInit(r);
    return S_OK;
  }
};

}  // namespace

// The component's own late-bound calls (the form's controls by name, for one) hand over strings
// it still owns afterwards: an object that writes an argument back must not free them.
TEST(InvokeArgs, ComponentsOwnCallsKeepTheirArguments) {
  WritesBack obj;
  BSTR mine = SysAllocString(L"mnuRecent");
  VARIANT arg = common::TextArg(mine);
  common::unique_variant result;
  glyphary::Call(&obj, DISPID_VALUE, {&arg}, result.get(), L"test");
  const bool freed = HandedOutAgain(mine);
  EXPECT_FALSE(freed) << "an argument of the component's call was freed by the callee's write-back";
  if (!freed) SysFreeString(mine);
}
