// The registered type library as a reader sees it: LoadRegTypeLib by LIBID.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "hookwire_h.h"
#include "test_window.h"
#include "winmsg_table.h"

using common::com_ptr;
using common::unique_bstr;

namespace {

const GUID kLibid = {0x485B1F95, 0xF7E3, 0x11D1, {0x98, 0x25, 0x20, 0x4C, 0x4F, 0x4F, 0x50, 0x20}};

com_ptr<ITypeInfo> FindType(ITypeLib* lib, const wchar_t* name) {
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    unique_bstr n;
    if (FAILED(lib->GetDocumentation(static_cast<INT>(i), n.put(), nullptr, nullptr, nullptr))) continue;
    if (n.get() && std::wstring(n.get()) == name) {
      com_ptr<ITypeInfo> t;
      lib->GetTypeInfo(i, t.put());
      return t;
    }
  }
  return {};
}

// The members of an enumeration, in the library's order.
std::vector<std::pair<std::wstring, LONG>> Members(ITypeInfo* t) {
  std::vector<std::pair<std::wstring, LONG>> out;
  TYPEATTR* attr = nullptr;
  if (FAILED(t->GetTypeAttr(&attr))) return out;
  for (WORD i = 0; i < attr->cVars; ++i) {
    VARDESC* vd = nullptr;
    if (FAILED(t->GetVarDesc(i, &vd))) continue;
    unique_bstr name;
    UINT got = 0;
    t->GetNames(vd->memid, name.put(), 1, &got);
    VARIANT v;
    VariantInit(&v);
    VariantChangeType(&v, vd->lpvarValue, 0, VT_I4);
    out.emplace_back(name.get() ? name.get() : L"", v.lVal);
    t->ReleaseVarDesc(vd);
  }
  t->ReleaseTypeAttr(attr);
  return out;
}

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, LoadRegTypeLib(kLibid, 1, 0, 0, lib_.put())); }
  com_ptr<ITypeLib> lib_;
};

}  // namespace

TEST_F(TypeLibrary, WinMsgHoldsEveryHeaderMessageInOrder) {
  auto t = FindType(lib_.get(), L"WinMsg");
  ASSERT_TRUE(t);
  auto members = Members(t.get());
  ASSERT_EQ(std::size(kWinMsgTable), members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    EXPECT_EQ(kWinMsgTable[i].name, members[i].first) << i;
    EXPECT_EQ(kWinMsgTable[i].value, members[i].second) << members[i].first;
  }
  // A reader that keeps the later of two equal values shows the everyday name.
  std::map<LONG, std::wstring> kept;
  for (auto& [name, value] : members) {
    EXPECT_GE(value, 0);
    EXPECT_LT(value, 0x400);
    kept[value] = name;
  }
  EXPECT_EQ(L"WM_NULL", kept[0]);
  EXPECT_EQ(L"WM_PAINT", kept[15]);
  EXPECT_EQ(L"WM_SETTINGCHANGE", kept[0x1A]);
  EXPECT_EQ(L"WM_KEYDOWN", kept[0x100]);
  EXPECT_EQ(L"WM_MOUSEMOVE", kept[0x200]);
  EXPECT_EQ(L"WM_DDE_INITIATE", kept[0x3E0]);
  EXPECT_EQ(L"WM_MEASUREITEM", kept[0x2C]);
  EXPECT_EQ(L"WM_MENUCHAR", kept[0x120]);
  size_t wininichange = 0, settingchange = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    if (members[i].first == L"WM_WININICHANGE") wininichange = i;
    if (members[i].first == L"WM_SETTINGCHANGE") settingchange = i;
  }
  EXPECT_LT(wininichange, settingchange);
}

TEST_F(TypeLibrary, IdentityOfClassInterfacesAndConstants) {
  TLIBATTR* la = nullptr;
  ASSERT_EQ(S_OK, lib_->GetLibAttr(&la));
  EXPECT_EQ(1, la->wMajorVerNum);
  EXPECT_EQ(0, la->wMinorVerNum);
  lib_->ReleaseTLibAttr(la);
  unique_bstr name;
  lib_->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr);
  EXPECT_STREQ(L"Hookwire", name.get());

  com_ptr<ITypeInfo> coclass;
  ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(CLSID_HookwireWindow, coclass.put()));
  HREFTYPE ref = 0;
  ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(0, &ref));
  com_ptr<ITypeInfo> iface;
  ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, iface.put()));
  TYPEATTR* ta = nullptr;
  ASSERT_EQ(S_OK, iface->GetTypeAttr(&ta));
  EXPECT_EQ(IID__HookwireWindow, ta->guid);
  EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FDUAL);
  iface->ReleaseTypeAttr(ta);

  // Every member a client calls is there by name.
  for (const wchar_t* member : {L"hWnd", L"CallPrevWndProc", L"Caption", L"hMenu", L"Children", L"AttachDesktop",
                                L"Subclassed", L"WatchMessage", L"MessageSink", L"CannotSubclass", L"ClassName"}) {
    MEMBERID id = 0;
    LPOLESTR n = const_cast<LPOLESTR>(member);
    EXPECT_EQ(S_OK, iface->GetIDsOfNames(&n, 1, &id)) << member;
  }

  com_ptr<ITypeInfo> sink;
  ASSERT_EQ(S_OK, lib_->GetTypeInfoOfGuid(IID_IhkMessageSink, sink.put()));
  MEMBERID id = 0;
  LPOLESTR n = const_cast<LPOLESTR>(L"Message");
  EXPECT_EQ(S_OK, sink->GetIDsOfNames(&n, 1, &id));

  auto constants = FindType(lib_.get(), L"HookwireConstants");
  ASSERT_TRUE(constants);
  auto members = Members(constants.get());
  ASSERT_EQ(1u, members.size());
  EXPECT_EQ(L"AllMessages", members[0].first);
  EXPECT_EQ(0xFFFF, members[0].second);
}

TEST_F(TypeLibrary, LateBoundCallsGoThroughTheTypeLibrary) {
  // A late-bound client (as a script would) reads and writes properties by name.
  auto w = testing_support::NewHookwireWindow();
  com_ptr<IDispatch> d = w.query<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(d);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"hWnd");
  ASSERT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  testing_support::TestWindow win;
  VARIANT arg;
  VariantInit(&arg);
  arg.vt = VT_I4;
  arg.lVal = win.handle();
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &put, 1, 1};
  ASSERT_EQ(S_OK, d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr));
  VARIANT result;
  VariantInit(&result);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(S_OK, d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr));
  EXPECT_EQ(VT_I4, result.vt);
  EXPECT_EQ(win.handle(), result.lVal);
}
