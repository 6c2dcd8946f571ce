// ATL-free plumbing of an in-process COM server: module state, reference
// counting, dispatch through the embedded type library, the class factory and
// table-driven registration.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "runtime_error.h"

namespace common {

// --- module -----------------------------------------------------------------

struct Module {
  static HINSTANCE instance;
  static std::atomic<long> locks;  // live objects plus LockServer calls
  static std::wstring Path();      // full path of this DLL
  static void Lock() noexcept { ++locks; }
  static void Unlock() noexcept { --locks; }
};

// The type library embedded in this module (resource TYPELIB 1), loaded once per call.
HRESULT LoadModuleTypeInfo(REFGUID guid, ITypeInfo** info) noexcept;

// --- reference counting -------------------------------------------------------

// Counts references and keeps the module alive while the object lives.
class RefCounted {
 public:
  RefCounted() noexcept { Module::Lock(); }
  virtual ~RefCounted() { Module::Unlock(); }
  ULONG AddRefImpl() noexcept { return static_cast<ULONG>(++refs_); }
  ULONG ReleaseImpl() noexcept {
    long n = --refs_;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

 private:
  std::atomic<long> refs_{1};
};

// IDispatch for a dual interface, forwarded to the type information of that interface.
class TypeInfoDispatch {
 public:
  explicit TypeInfoDispatch(REFGUID iid) noexcept : iid_(iid) {}
  HRESULT GetTypeInfoCount(UINT* count) noexcept;
  HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** info) noexcept;
  HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) noexcept;
  HRESULT Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                 UINT* arg_err) noexcept;
  ITypeInfo* info() noexcept;

 private:
  GUID iid_;
  com_ptr<ITypeInfo> info_;
};

// Builds the IUnknown and IDispatch members of a class from the two above.
#define COMMON_IUNKNOWN_IMPL                                                              \
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }                      \
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

#define COMMON_IDISPATCH_IMPL(dispatcher, iface)                                                            \
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* c) override { return dispatcher.GetTypeInfoCount(c); }  \
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {                         \
    return dispatcher.GetTypeInfo(i, l, t);                                                                \
  }                                                                                                        \
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* n, UINT c, LCID, DISPID* d) override {         \
    return dispatcher.GetIDsOfNames(n, c, d);                                                              \
  }                                                                                                        \
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD f, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, \
                                   UINT* a) override {                                                     \
    return dispatcher.Invoke(static_cast<iface*>(this), id, f, p, r, e, a);                                \
  }

// --- class factory ------------------------------------------------------------

using CreateFunction = HRESULT (*)(REFIID iid, void** out);

struct ClassEntry {
  const CLSID* clsid;
  CreateFunction create;
};

// DllGetClassObject over a table of creatable classes.
HRESULT GetClassObject(std::initializer_list<ClassEntry> classes, REFCLSID clsid, REFIID iid, void** out) noexcept;
HRESULT CanUnloadNow() noexcept;

// Creates an object of class T (constructed with one reference) and asks it for iid.
template <typename T>
HRESULT CreateInstance(REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  try {
    T* obj = new T();
    HRESULT hr = obj->QueryInterface(iid, out);
    obj->Release();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const RuntimeError& e) {
    return e.hresult();
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// --- registration ---------------------------------------------------------------

struct ClassRegistration {
  const CLSID* clsid;
  const wchar_t* description;
  const wchar_t* progid;          // versioned ProgID, e.g. L"Hookwire.HookwireWindow.1"
  const wchar_t* progid_current;  // version-independent ProgID, e.g. L"Hookwire.HookwireWindow"
  const GUID* libid;
};

struct ServerRegistration {
  std::vector<ClassRegistration> classes;
  const GUID* libid;
  WORD major;
  WORD minor;
};

// Writes the class keys under root (HKEY_CLASSES_ROOT, or HKEY_CURRENT_USER\Software\Classes
// when per_user) and registers the embedded type library.
HRESULT RegisterServer(const ServerRegistration& reg, bool per_user) noexcept;
// Removes what RegisterServer wrote; removing what is absent is success.
HRESULT UnregisterServer(const ServerRegistration& reg, bool per_user) noexcept;
// DllInstall(install, L"user") semantics.
HRESULT InstallServer(const ServerRegistration& reg, BOOL install, LPCWSTR cmdline) noexcept;

std::wstring GuidString(REFGUID g);

}  // namespace common
