// IDispatch written by hand for small automation objects that have no type library: members are
// found by name without regard to case, arguments arrive in call order with by-reference values
// unwrapped, and a RuntimeError thrown by a member reaches the caller as DISP_E_EXCEPTION with its
// number, source and description in the EXCEPINFO (or as error information when there is none).
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "com_ptr.h"
#include "runtime_error.h"

namespace client {

struct DispatchMember {
  const wchar_t* name;
  DISPID id;
};

// The arguments of one call, in call order; an omitted optional argument is VT_ERROR /
// DISP_E_PARAMNOTFOUND.
class DispatchArgs {
 public:
  DispatchArgs(const DISPPARAMS* params, const wchar_t* source);
  DispatchArgs(const DispatchArgs&) = delete;
  DispatchArgs& operator=(const DispatchArgs&) = delete;
  ~DispatchArgs();
  size_t size() const { return args_.size(); }
  bool Present(size_t i) const;
  // Argument i converted to the type asked for; raises error 5 when it is missing, 13 when it cannot
  // be converted, unless a default is given for a missing argument.
  int32_t Long(size_t i) const;
  int32_t Long(size_t i, int32_t missing) const;
  LONG_PTR Handle(size_t i) const;  // a 32-bit handle, sign-extended, or a pointer-wide integer
  double Double(size_t i, double missing) const;
  void RequireAtLeast(size_t n) const;
  void RequireAtMost(size_t n) const;

 private:
  std::vector<VARIANT> args_;
  const wchar_t* source_;
};

class NameDispatch : public IDispatch {
 public:
  NameDispatch(const DispatchMember* members, size_t count, const wchar_t* source) noexcept;
  virtual ~NameDispatch() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override;

 protected:
  // Runs member id. flags says how it was called (DISPATCH_METHOD, DISPATCH_PROPERTYGET, ...).
  // Returns DISP_E_MEMBERNOTFOUND for a kind of call the member does not take; throws RuntimeError.
  virtual HRESULT Call(DISPID id, WORD flags, const DispatchArgs& args, VARIANT* result) = 0;
  const wchar_t* source() const { return source_; }

 private:
  const DispatchMember* members_;
  size_t count_;
  const wchar_t* source_;
  long refs_ = 1;
};

// Result helpers.
void SetLong(VARIANT* result, int32_t value);
void SetDispatch(VARIANT* result, IDispatch* value);  // adds a reference

}  // namespace client
