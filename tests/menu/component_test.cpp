// The component as a COM client sees it: identity, type library, late-bound calls.
#include <gtest/gtest.h>

#include "menu_fixture.h"
#include "variant_args.h"
#include "test_window.h"

using common::com_ptr;
using namespace menu_test;

namespace {

struct Invoker {
  com_ptr<IDispatch> obj;
  EXCEPINFO ex{};
  HRESULT Call(DISPID id, WORD flags, std::vector<VARIANT> args_in_order) {
    std::vector<VARIANT> rev(args_in_order.rbegin(), args_in_order.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS p{rev.data(), nullptr, static_cast<UINT>(rev.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
      p.rgdispidNamedArgs = &put;
      p.cNamedArgs = 1;
    }
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrHelpFile);
    ex = EXCEPINFO{};
    VARIANT r;
    VariantInit(&r);
    UINT arg_err = 0;
    HRESULT hr = obj->Invoke(id, IID_NULL, 0, flags, &p, &r, &ex, &arg_err);
    VariantClear(&r);
    return hr;
  }
  long Number() const { return ErrorNumber(ex.scode); }
  ~Invoker() {
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrHelpFile);
  }
};

constexpr auto Long = common::LongArg;
constexpr auto Text = common::TextArg;
constexpr auto Object = common::ObjectArg;
constexpr auto Ref = common::RefArg;

}  // namespace

TEST(ComponentIdentity, TypeLibraryClassFlagsMembersAndDispatchIds) {
  com_ptr<ITypeLib> lib;
  ASSERT_EQ(S_OK, LoadRegTypeLib(LIBID_Glyphary, 1, 0, 0, lib.put()));
  com_ptr<ITypeInfo> cls;
  ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(CLSID_CGlyphary, cls.put()));
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(S_OK, cls->GetTypeAttr(&ta));
  EXPECT_EQ(TKIND_COCLASS, ta->typekind);
  EXPECT_EQ(TYPEFLAG_FCANCREATE | TYPEFLAG_FAPPOBJECT | TYPEFLAG_FPREDECLID, ta->wTypeFlags)
      << "creatable, application object, predeclared identity";
  ASSERT_EQ(2, ta->cImplTypes);
  cls->ReleaseTypeAttr(ta);
  std::vector<GUID> implemented;
  for (UINT i = 0; i < 2; ++i) {
    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, cls->GetRefTypeOfImplType(i, &ref));
    com_ptr<ITypeInfo> t;
    ASSERT_EQ(S_OK, cls->GetRefTypeInfo(ref, t.put()));
    ASSERT_EQ(S_OK, t->GetTypeAttr(&ta));
    implemented.push_back(ta->guid);
    t->ReleaseTypeAttr(ta);
  }
  EXPECT_EQ(IID__CGlyphary, implemented[0]);
  EXPECT_EQ(IID_IhkMessageSink, implemented[1]);

  com_ptr<ITypeInfo> itf;
  ASSERT_EQ(S_OK, lib->GetTypeInfoOfGuid(IID__CGlyphary, itf.put()));
  ASSERT_EQ(S_OK, itf->GetTypeAttr(&ta));
  EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FDUAL);
  itf->ReleaseTypeAttr(ta);
  // The dual interface's own members, in order, after the seven of IDispatch.
  struct Expected {
    MEMBERID id;
    INVOKEKIND kind;
    short params;
  } expected[] = {{0x68030001, INVOKE_PROPERTYPUTREF, 1}, {0x68030000, INVOKE_PROPERTYPUT, 1}, {0x60030002, INVOKE_FUNC, 3}};
  // Found by dispatch id, in the order the interface declares them.
  ASSERT_EQ(S_OK, itf->GetTypeAttr(&ta));
  const WORD funcs = ta->cFuncs;
  itf->ReleaseTypeAttr(ta);
  size_t next = 0;
  for (UINT i = 0; i < funcs; ++i) {
    FUNCDESC* fd = nullptr;
    ASSERT_EQ(S_OK, itf->GetFuncDesc(i, &fd));
    if (next < 3 && fd->memid == expected[next].id) {
      EXPECT_EQ(expected[next].kind, fd->invkind) << next;
      EXPECT_EQ(expected[next].params, fd->cParams) << next;
      for (short p = 0; p < fd->cParams; ++p)
        EXPECT_EQ(VT_PTR, fd->lprgelemdescParam[p].tdesc.vt) << "by reference";
      if (fd->cParams == 3) {
        const PARAMDESC& pd = fd->lprgelemdescParam[2].paramdesc;
        EXPECT_TRUE(pd.wParamFlags & PARAMFLAG_FOPT);
        EXPECT_TRUE(pd.wParamFlags & PARAMFLAG_FHASDEFAULT);
        if (pd.pparamdescex) {
          VARIANT def = pd.pparamdescex->varDefaultValue;
          EXPECT_EQ(VT_I4, V_VT(&def));
          EXPECT_EQ(-842150451, V_I4(&def));
        }
      }
      ++next;
    }
    itf->ReleaseFuncDesc(fd);
  }
  EXPECT_EQ(3u, next) << "all three members, in order";
  CLSID clsid{};
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"Glyphary.CGlyphary", &clsid));
  EXPECT_EQ(CLSID_CGlyphary, clsid);
  // Registering our library leaves the sink interface with the subclassing service's library.
  wchar_t value[64] = {};
  LONG size = sizeof(value);
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueW(HKEY_CLASSES_ROOT, L"Interface\\{378564E1-F8D0-11D1-9826-204C4F4F5020}\\TypeLib",
                                          value, &size));
  EXPECT_STREQ(L"{485B1F95-F7E3-11D1-9825-204C4F4F5020}", value);
}

TEST(ComponentIdentity, NoPropertyCanBeRead) {
  auto g = CreateRegistered();
  ASSERT_TRUE(g);
  Invoker call{com_ptr<IDispatch>(g.get())};
  EXPECT_TRUE(FAILED(call.Call(0x68030000, DISPATCH_PROPERTYGET, {})));
  EXPECT_TRUE(FAILED(call.Call(0x68030001, DISPATCH_PROPERTYGET, {})));
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"SetItemImage");
  ASSERT_EQ(S_OK, g->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  EXPECT_EQ(0x60030002, id);
}

// Late bound, as a script calls it: literals, variables (variants by reference), MenuIndex
// omitted or passed. What was stored shows in which calls collide as duplicate keys.
TEST(ComponentLateBound, AllMembersWithLiteralsVariablesAndOmittedIndex) {
  auto g = CreateRegistered();
  ASSERT_TRUE(g);
  auto form = SampleForm();
  Invoker call{com_ptr<IDispatch>(g.get())};
  auto images = FakeImageList(16, 16);
  ASSERT_EQ(S_OK, call.Call(0x68030001, DISPATCH_PROPERTYPUTREF, {Object(images.get())}));
  VARIANT form_var = Object(form.get());
  ASSERT_EQ(S_OK, call.Call(0x68030000, DISPATCH_PROPERTYPUT, {Ref(&form_var)}));
  EXPECT_TRUE(ItemType(GetSubMenu(form->MenuBar(), 0), 0) & MFT_OWNERDRAW) << "the form was attached";

  BSTR open = SysAllocString(L"mnuOpen");
  BSTR recent = SysAllocString(L"mnuRecent");
  // Literals, MenuIndex omitted.
  EXPECT_EQ(S_OK, call.Call(0x60030002, DISPATCH_METHOD, {Long(3), Text(open)}));
  // The same key again, through variables and with NoMenuIndex passed: a duplicate.
  VARIANT image = Long(4), name = Text(open), none = Long(-842150451);
  EXPECT_EQ(DISP_E_EXCEPTION, call.Call(0x60030002, DISPATCH_METHOD, {Ref(&image), Ref(&name), Ref(&none)}));
  EXPECT_EQ(457, call.Number());
  // A control array element through variables.
  VARIANT five = Long(5), array = Text(recent), zero = Long(0);
  EXPECT_EQ(S_OK, call.Call(0x60030002, DISPATCH_METHOD, {Ref(&five), Ref(&array), Ref(&zero)}));
  EXPECT_EQ(DISP_E_EXCEPTION, call.Call(0x60030002, DISPATCH_METHOD, {Long(6), Text(recent), Long(0)}));
  EXPECT_EQ(457, call.Number());
  // An argument marked missing counts as omitted.
  VARIANT missing;
  VariantInit(&missing);
  V_VT(&missing) = VT_ERROR;
  V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(DISP_E_EXCEPTION, call.Call(0x60030002, DISPATCH_METHOD, {Long(7), Text(open), missing}));
  EXPECT_EQ(457, call.Number());
  SysFreeString(open);
  SysFreeString(recent);
}

TEST(ComponentLateBound, FailuresCarryErrorNumbersAndInformation) {
  auto g = CreateRegistered();
  ASSERT_TRUE(g);
  Invoker call{com_ptr<IDispatch>(g.get())};
  BSTR name = SysAllocString(L"mnuOpen");
  // No form yet: the image entry is made, reading the caption fails.
  EXPECT_EQ(DISP_E_EXCEPTION, call.Call(0x60030002, DISPATCH_METHOD, {Long(1), Text(name)}));
  EXPECT_EQ(91, call.Number());
  EXPECT_EQ(DISP_E_EXCEPTION, call.Call(0x60030002, DISPATCH_METHOD, {Long(1), Text(name)}));
  EXPECT_EQ(457, call.Number());
  EXPECT_STREQ(L"Glyphary.CGlyphary", call.ex.bstrSource);
  // Early bound: the HRESULT and the thread's error information.
  EXPECT_EQ(static_cast<HRESULT>(0x800A01C9), SetItemImage(g.get(), 1, L"mnuOpen"));
  EXPECT_NE(std::wstring::npos, testing_support::LastErrorDescription().find(L"already associated"));
  EXPECT_EQ(static_cast<HRESULT>(0x800A0005), SetImageList(g.get(), FakeImageList(2147483642, 10).get()));
  EXPECT_NE(std::wstring::npos, testing_support::LastErrorDescription().find(L"1 to 256"));
  // A form without a readable "hwnd".
  EXPECT_EQ(438, ErrorNumber(SetForm(g.get(), FakeImageList(1, 1).get())));
  EXPECT_EQ(91, ErrorNumber(SetForm(g.get(), nullptr)));
  SysFreeString(name);
}
