#include "late_bound.h"

#include <dispex.h>

#include <vector>

#include "runtime_error.h"

namespace glyphary {

namespace {

constexpr long errTypeMismatch = 13;
// {A6EF9860-C720-11D0-9337-00A0C90DCAA9}, not in the import library.
const IID kIDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

// A failed Invoke as the run-time error a late-bound call raises.
[[noreturn]] void RaiseInvokeFailure(HRESULT hr, EXCEPINFO& ex, const wchar_t* source) {
  if (hr == DISP_E_EXCEPTION) {
    if (ex.pfnDeferredFillIn) ex.pfnDeferredFillIn(&ex);
    long number = ex.scode ? static_cast<long>(ex.scode) : static_cast<long>(ex.wCode);
    if ((static_cast<unsigned long>(number) & 0xFFFF0000UL) == 0x800A0000UL) number &= 0xFFFF;
    std::wstring src = ex.bstrSource ? ex.bstrSource : source;
    std::wstring desc = ex.bstrDescription ? ex.bstrDescription : L"";
    SysFreeString(ex.bstrSource);
    SysFreeString(ex.bstrDescription);
    SysFreeString(ex.bstrHelpFile);
    common::Raise(number ? number : static_cast<long>(E_FAIL), src, desc);
  }
  if (hr == DISP_E_UNKNOWNNAME || hr == DISP_E_MEMBERNOTFOUND) common::Raise(common::errObjectDoesNotSupport, source);
  if (hr == DISP_E_OVERFLOW) common::Raise(common::errOverflow, source);
  if (hr == DISP_E_TYPEMISMATCH) common::Raise(errTypeMismatch, source, L"Type mismatch");
  if (hr == DISP_E_BADINDEX) common::Raise(common::errSubscriptOutOfRange, source);
  common::Check(hr, source);
  common::Raise(static_cast<long>(E_FAIL), source);
}

void Invoke(IDispatch* obj, DISPID id, WORD flags, std::initializer_list<const VARIANT*> args, VARIANT* result,
            const wchar_t* source) {
  if (!obj) common::Raise(common::errObjectNotSet, source);
  // Arguments travel in reverse order, as copies of our own: an object whose Invoke writes a
  // by-value argument back (the platform's does, for [in, out] parameters) clears what the array
  // held, which must never be a string the caller still frees.
  struct Copies {
    std::vector<VARIANT> v;
    ~Copies() {
      for (VARIANT& a : v) VariantClear(&a);
    }
  } reversed;
  reversed.v.resize(args.size());
  for (VARIANT& a : reversed.v) VariantInit(&a);
  size_t i = args.size();
  for (const VARIANT* a : args) common::Check(VariantCopy(&reversed.v[--i], const_cast<VARIANT*>(a)), source);
  DISPPARAMS params{reversed.v.data(), nullptr, static_cast<UINT>(reversed.v.size()), 0};
  EXCEPINFO ex{};
  UINT arg_err = 0;
  VariantClear(result);
  // Script objects answer through IDispatchEx; their plain IDispatch may not.
  common::com_ptr<IDispatchEx> ex_obj;
  obj->QueryInterface(kIDispatchEx, ex_obj.put_void());
  HRESULT hr = ex_obj ? ex_obj->InvokeEx(id, LOCALE_USER_DEFAULT, flags, &params, result, &ex, nullptr)
                      : obj->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &ex, &arg_err);
  if (FAILED(hr)) RaiseInvokeFailure(hr, ex, source);
}

}  // namespace

DISPID MemberId(IDispatch* obj, const wchar_t* name, const wchar_t* source) {
  if (!obj) common::Raise(common::errObjectNotSet, source);
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr;
  common::com_ptr<IDispatchEx> ex_obj;
  obj->QueryInterface(kIDispatchEx, ex_obj.put_void());
  if (ex_obj) {
    common::unique_bstr b(name);
    hr = ex_obj->GetDispID(b.get(), fdexNameCaseInsensitive, &id);
  } else {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    hr = obj->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  }
  if (FAILED(hr)) common::Raise(common::errObjectDoesNotSupport, source);
  return id;
}

void GetProperty(IDispatch* obj, const wchar_t* name, VARIANT* result, const wchar_t* source) {
  Invoke(obj, MemberId(obj, name, source), DISPATCH_PROPERTYGET, {}, result, source);
}

void Call(IDispatch* obj, DISPID id, std::initializer_list<const VARIANT*> args, VARIANT* result,
          const wchar_t* source) {
  Invoke(obj, id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result, source);
}

int32_t ToLong(const VARIANT& v, const wchar_t* source) {
  common::unique_variant r;
  HRESULT hr = VariantChangeType(r.get(), const_cast<VARIANT*>(&v), 0, VT_I4);
  if (hr == DISP_E_OVERFLOW) common::Raise(common::errOverflow, source);
  if (FAILED(hr)) common::Raise(errTypeMismatch, source, L"Type mismatch");
  return V_I4(r.get());
}

std::wstring ToText(const VARIANT& v, const wchar_t* source) {
  common::unique_variant r;
  HRESULT hr = VariantChangeType(r.get(), const_cast<VARIANT*>(&v), 0, VT_BSTR);
  if (FAILED(hr)) common::Raise(errTypeMismatch, source, L"Type mismatch");
  BSTR b = V_BSTR(r.get());
  return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}

common::com_ptr<IDispatch> ToObject(const VARIANT& v, const wchar_t* source) {
  const VARIANT* p = &v;
  if (V_VT(p) == (VT_BYREF | VT_VARIANT)) p = V_VARIANTREF(p);
  common::com_ptr<IDispatch> d;
  if (V_VT(p) == VT_DISPATCH) d = common::com_ptr<IDispatch>(V_DISPATCH(p));
  else if (V_VT(p) == (VT_BYREF | VT_DISPATCH)) d = common::com_ptr<IDispatch>(*V_DISPATCHREF(p));
  else if (V_VT(p) == VT_UNKNOWN && V_UNKNOWN(p)) V_UNKNOWN(p)->QueryInterface(IID_IDispatch, d.put_void());
  else if (V_VT(p) != VT_EMPTY && V_VT(p) != VT_NULL) common::Raise(errTypeMismatch, source, L"Type mismatch");
  if (!d) common::Raise(common::errObjectNotSet, source);
  return d;
}

}  // namespace glyphary
