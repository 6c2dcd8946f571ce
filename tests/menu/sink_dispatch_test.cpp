// The component as the subclassing service's sink: a late-bound caller of the sink interface
// reaches Message through the sink's own type information.
#include <gtest/gtest.h>

#include "menu_fixture.h"
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
