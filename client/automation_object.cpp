#include "automation_object.h"

#include "runtime_error.h"

namespace client {

namespace {
constexpr long errWrongArgumentCount = 450;
constexpr long errTypeMismatch = 13;
}  // namespace

HRESULT AutomationObject::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG AutomationObject::Release() {
  const long n = --refs_;
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT AutomationObject::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT AutomationObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT AutomationObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids || count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  for (const Member& m : Members()) {
    if (lstrcmpiW(m.name, names[0]) == 0) {
      ids[0] = m.id;
      return count == 1 ? S_OK : DISP_E_UNKNOWNNAME;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HRESULT AutomationObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT*) {
  bool known = false;
  for (const Member& m : Members()) known = known || m.id == id;
  if (!known) return DISP_E_MEMBERNOTFOUND;
  std::vector<const VARIANT*> args;
  if (params) {
    for (UINT i = params->cArgs; i > 0; --i) {
      const VARIANT* a = &params->rgvarg[i - 1];
      while (V_VT(a) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(a)) a = V_VARIANTREF(a);
      args.push_back(a);
    }
  }
  VARIANT scratch;
  VariantInit(&scratch);
  try {
    Dispatch(id, flags, args, result ? result : &scratch);
    VariantClear(&scratch);
    return S_OK;
  } catch (const common::RuntimeError& e) {
    VariantClear(&scratch);
    if (excep) {
      *excep = EXCEPINFO{};
      excep->bstrSource = SysAllocString(e.source().c_str());
      excep->bstrDescription = SysAllocString(e.description().c_str());
      excep->scode = e.hresult();
    }
    return DISP_E_EXCEPTION;
  } catch (...) {
    VariantClear(&scratch);
    return E_UNEXPECTED;
  }
}

void ReturnLong(VARIANT* result, LONG value) {
  VariantClear(result);
  V_VT(result) = VT_I4;
  V_I4(result) = value;
}

void ReturnBool(VARIANT* result, bool value) {
  VariantClear(result);
  V_VT(result) = VT_BOOL;
  V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ReturnText(VARIANT* result, const std::wstring& value) {
  VariantClear(result);
  V_VT(result) = VT_BSTR;
  V_BSTR(result) = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
}

void ReturnObject(VARIANT* result, IDispatch* value) {
  VariantClear(result);
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = value;
  if (value) value->AddRef();
}

LONG ArgLong(const VARIANT* v, const std::wstring& source) {
  common::unique_variant r;
  if (FAILED(VariantChangeType(r.get(), const_cast<VARIANT*>(v), 0, VT_I4)))
    common::Raise(errTypeMismatch, source, L"Type mismatch");
  return V_I4(r.get());
}

bool ArgBool(const VARIANT* v, const std::wstring& source) {
  common::unique_variant r;
  if (FAILED(VariantChangeType(r.get(), const_cast<VARIANT*>(v), 0, VT_BOOL)))
    common::Raise(errTypeMismatch, source, L"Type mismatch");
  return V_BOOL(r.get()) != VARIANT_FALSE;
}

std::wstring ArgText(const VARIANT* v, const std::wstring& source) {
  common::unique_variant r;
  if (FAILED(VariantChangeType(r.get(), const_cast<VARIANT*>(v), 0, VT_BSTR)))
    common::Raise(errTypeMismatch, source, L"Type mismatch");
  BSTR b = V_BSTR(r.get());
  return b ? std::wstring(b, SysStringLen(b)) : std::wstring();
}

void RequireArgs(const std::vector<const VARIANT*>& args, size_t count, const std::wstring& source) {
  if (args.size() != count)
    common::Raise(errWrongArgumentCount, source, L"Wrong number of arguments or invalid property assignment");
}

}  // namespace client
