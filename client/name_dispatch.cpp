#include "name_dispatch.h"

namespace client {

namespace {
constexpr long kTypeMismatch = 13;
}

// --- DispatchArgs -------------------------------------------------------------------------------

DispatchArgs::DispatchArgs(const DISPPARAMS* params, const wchar_t* source) : source_(source) {
  const UINT n = params ? params->cArgs : 0;
  args_.resize(n);
  for (UINT i = 0; i < n; ++i) {
    VariantInit(&args_[i]);
    // rgvarg holds the arguments last first; by-reference values are copied out.
    VariantCopyInd(&args_[i], &params->rgvarg[n - 1 - i]);
  }
}

DispatchArgs::~DispatchArgs() {
  for (VARIANT& v : args_) VariantClear(&v);
}

bool DispatchArgs::Present(size_t i) const {
  if (i >= args_.size()) return false;
  const VARIANT& v = args_[i];
  return !(V_VT(&v) == VT_ERROR && V_ERROR(&v) == DISP_E_PARAMNOTFOUND) && V_VT(&v) != VT_EMPTY;
}

void DispatchArgs::RequireAtLeast(size_t n) const {
  if (args_.size() < n) common::Raise(common::errInvalidArgument, source_, L"Argument not optional");
}

void DispatchArgs::RequireAtMost(size_t n) const {
  if (args_.size() > n) common::Raise(common::errInvalidArgument, source_, L"Wrong number of arguments");
}

int32_t DispatchArgs::Long(size_t i) const {
  if (!Present(i)) common::Raise(common::errInvalidArgument, source_, L"Argument not optional");
  VARIANT v;
  VariantInit(&v);
  if (FAILED(VariantChangeType(&v, const_cast<VARIANT*>(&args_[i]), 0, VT_I4)))
    common::Raise(kTypeMismatch, source_, L"Type mismatch");
  return V_I4(&v);
}

int32_t DispatchArgs::Long(size_t i, int32_t missing) const { return Present(i) ? Long(i) : missing; }

LONG_PTR DispatchArgs::Handle(size_t i) const {
  if (!Present(i)) common::Raise(common::errInvalidArgument, source_, L"Argument not optional");
  VARIANT v;
  VariantInit(&v);
  if (FAILED(VariantChangeType(&v, const_cast<VARIANT*>(&args_[i]), 0, VT_I8)))
    common::Raise(kTypeMismatch, source_, L"Type mismatch");
  return static_cast<LONG_PTR>(V_I8(&v));
}

double DispatchArgs::Double(size_t i, double missing) const {
  if (!Present(i)) return missing;
  VARIANT v;
  VariantInit(&v);
  if (FAILED(VariantChangeType(&v, const_cast<VARIANT*>(&args_[i]), 0, VT_R8)))
    common::Raise(kTypeMismatch, source_, L"Type mismatch");
  return V_R8(&v);
}

// --- NameDispatch -----------------------------------------------------------------------------

NameDispatch::NameDispatch(const DispatchMember* members, size_t count, const wchar_t* source) noexcept
    : members_(members), count_(count), source_(source) {}

HRESULT NameDispatch::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG NameDispatch::AddRef() { return static_cast<ULONG>(++refs_); }

ULONG NameDispatch::Release() {
  const long n = --refs_;
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

HRESULT NameDispatch::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT NameDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT NameDispatch::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  HRESULT hr = S_OK;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (count == 0) return S_OK;
  // Only the member name is looked up: these members take no named arguments.
  for (size_t m = 0; m < count_; ++m) {
    if (names[0] && lstrcmpiW(names[0], members_[m].name) == 0) {
      ids[0] = members_[m].id;
      break;
    }
  }
  if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  if (count > 1) hr = DISP_E_UNKNOWNNAME;
  return hr;
}

HRESULT NameDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* excep, UINT* arg_err) {
  if (arg_err) *arg_err = 0;
  if (params && params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
  bool known = false;
  for (size_t m = 0; m < count_; ++m) known = known || members_[m].id == id;
  if (!known) return DISP_E_MEMBERNOTFOUND;
  VARIANT local;
  VariantInit(&local);
  if (!result) result = &local;
  try {
    DispatchArgs args(params, source_);
    HRESULT hr = Call(id, flags, args, result);
    VariantClear(&local);
    return hr;
  } catch (const common::RuntimeError& e) {
    VariantClear(&local);
    if (!excep) return common::ReportError(e, IID_IDispatch);
    *excep = EXCEPINFO{};
    excep->bstrSource = SysAllocString(e.source().c_str());
    excep->bstrDescription = SysAllocString(e.description().c_str());
    excep->scode = e.hresult();
    return DISP_E_EXCEPTION;
  } catch (...) {
    VariantClear(&local);
    return E_UNEXPECTED;
  }
}

void SetLong(VARIANT* result, int32_t value) {
  VariantClear(result);
  V_VT(result) = VT_I4;
  V_I4(result) = value;
}

void SetDispatch(VARIANT* result, IDispatch* value) {
  VariantClear(result);
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = value;
  if (value) value->AddRef();
}

}  // namespace client
