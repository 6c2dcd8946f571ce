// A small late-bound automation object: members by name, dispatched by hand. The client
// side of the menu component (form, menu controls, control arrays) is made of these.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>
#include <vector>

#include "com_ptr.h"

namespace client {

class AutomationObject : public IDispatch {
 public:
  struct Member {
    const wchar_t* name;
    DISPID id;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) override;

 protected:
  explicit AutomationObject(std::wstring source) : source_(std::move(source)) {}
  virtual ~AutomationObject() = default;
  virtual const std::vector<Member>& Members() const = 0;
  // args in call order (a put's new value last); raises common::RuntimeError on failure.
  virtual void Dispatch(DISPID id, WORD flags, const std::vector<const VARIANT*>& args, VARIANT* result) = 0;
  const std::wstring& source() const { return source_; }

 private:
  std::wstring source_;
  std::atomic<long> refs_{1};
};

// Helpers for Dispatch implementations.
void ReturnLong(VARIANT* result, LONG value);
void ReturnBool(VARIANT* result, bool value);
void ReturnText(VARIANT* result, const std::wstring& value);
void ReturnObject(VARIANT* result, IDispatch* value);
LONG ArgLong(const VARIANT* v, const std::wstring& source);
bool ArgBool(const VARIANT* v, const std::wstring& source);
std::wstring ArgText(const VARIANT* v, const std::wstring& source);
void RequireArgs(const std::vector<const VARIANT*>& args, size_t count, const std::wstring& source);

}  // namespace client
