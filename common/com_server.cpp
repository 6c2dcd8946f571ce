#include "com_server.h"

#include <olectl.h>

#include <new>

namespace common {

HINSTANCE Module::instance = nullptr;
std::atomic<long> Module::locks{0};

std::wstring Module::Path() {
  wchar_t buf[MAX_PATH * 2];
  DWORD n = GetModuleFileNameW(instance, buf, static_cast<DWORD>(std::size(buf)));
  return std::wstring(buf, n);
}

HRESULT LoadModuleTypeInfo(REFGUID guid, ITypeInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  com_ptr<ITypeLib> lib;
  HRESULT hr = LoadTypeLibEx(Module::Path().c_str(), REGKIND_NONE, lib.put());
  if (FAILED(hr)) return hr;
  return lib->GetTypeInfoOfGuid(guid, info);
}

// --- TypeInfoDispatch -----------------------------------------------------------

ITypeInfo* TypeInfoDispatch::info() noexcept {
  if (!info_) LoadModuleTypeInfo(iid_, info_.put());
  return info_.get();
}

HRESULT TypeInfoDispatch::GetTypeInfoCount(UINT* count) noexcept {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT TypeInfoDispatch::GetTypeInfo(UINT index, LCID, ITypeInfo** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeInfo* ti = info();
  if (!ti) return TYPE_E_CANTLOADLIBRARY;
  ti->AddRef();
  *out = ti;
  return S_OK;
}

HRESULT TypeInfoDispatch::GetIDsOfNames(LPOLESTR* names, UINT count, DISPID* ids) noexcept {
  ITypeInfo* ti = info();
  if (!ti) return TYPE_E_CANTLOADLIBRARY;
  return DispGetIDsOfNames(ti, names, count, ids);
}

HRESULT TypeInfoDispatch::Invoke(void* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excep, UINT* arg_err) noexcept {
  ITypeInfo* ti = info();
  if (!ti) return TYPE_E_CANTLOADLIBRARY;
  return ti->Invoke(self, id, flags, params, result, excep, arg_err);
}

// --- class factory ------------------------------------------------------------

namespace {

class ClassFactory final : public IClassFactory, public RefCounted {
 public:
  explicit ClassFactory(CreateFunction create) noexcept : create_(create) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  COMMON_IUNKNOWN_IMPL
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return create_(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) Module::Lock();
    else Module::Unlock();
    return S_OK;
  }

 private:
  CreateFunction create_;
};

}  // namespace

HRESULT GetClassObject(std::initializer_list<ClassEntry> classes, REFCLSID clsid, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (const ClassEntry& c : classes) {
    if (*c.clsid != clsid) continue;
    ClassFactory* f = new (std::nothrow) ClassFactory(c.create);
    if (!f) return E_OUTOFMEMORY;
    HRESULT hr = f->QueryInterface(iid, out);
    f->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow() noexcept { return Module::locks == 0 ? S_OK : S_FALSE; }

// --- registration ---------------------------------------------------------------

std::wstring GuidString(REFGUID g) {
  wchar_t buf[40] = {};
  StringFromGUID2(g, buf, 40);
  return buf;
}

namespace {

bool SetValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  LONG rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

void DeleteTree(HKEY root, const std::wstring& path) {
  // RegDeleteTreeW: absent keys are not an error for us.
  RegDeleteTreeW(root, path.c_str());
  RegDeleteKeyW(root, path.c_str());
}

struct RootKey {
  HKEY key = nullptr;
  bool owned = false;
  explicit RootKey(bool per_user) {
    if (!per_user) {
      key = HKEY_CLASSES_ROOT;
      return;
    }
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS)
      owned = true;
    else
      key = nullptr;
  }
  ~RootKey() {
    if (owned) RegCloseKey(key);
  }
};

// The platform the type library was registered for: RegisterTypeLib writes win32 or win64.
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

using TypeLibUserFn = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using UnTypeLibUserFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

}  // namespace

HRESULT RegisterServer(const ServerRegistration& reg, bool per_user) noexcept {
  try {
    RootKey root(per_user);
    if (!root.key) return SELFREG_E_CLASS;
    const std::wstring path = Module::Path();
    for (const ClassRegistration& c : reg.classes) {
      const std::wstring clsid = GuidString(*c.clsid);
      const std::wstring base = L"CLSID\\" + clsid;
      bool ok = SetValue(root.key, base, nullptr, c.description) &&
                SetValue(root.key, base + L"\\InprocServer32", nullptr, path) &&
                SetValue(root.key, base + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                SetValue(root.key, base + L"\\ProgID", nullptr, c.progid) &&
                SetValue(root.key, base + L"\\VersionIndependentProgID", nullptr, c.progid_current) &&
                SetValue(root.key, base + L"\\TypeLib", nullptr, GuidString(*c.libid)) &&
                SetValue(root.key, std::wstring(c.progid), nullptr, c.description) &&
                SetValue(root.key, std::wstring(c.progid) + L"\\CLSID", nullptr, clsid) &&
                SetValue(root.key, std::wstring(c.progid_current), nullptr, c.description) &&
                SetValue(root.key, std::wstring(c.progid_current) + L"\\CLSID", nullptr, clsid) &&
                SetValue(root.key, std::wstring(c.progid_current) + L"\\CurVer", nullptr, c.progid);
      if (!ok) return SELFREG_E_CLASS;
    }
    com_ptr<ITypeLib> lib;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put());
    if (FAILED(hr)) return SELFREG_E_TYPELIB;
    std::wstring p = path;
    if (per_user) {
      auto fn = reinterpret_cast<TypeLibUserFn>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "RegisterTypeLibForUser")));
      hr = fn ? fn(lib.get(), p.data(), nullptr) : E_NOTIMPL;
    } else {
      hr = RegisterTypeLib(lib.get(), p.data(), nullptr);
    }
    return FAILED(hr) ? SELFREG_E_TYPELIB : S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterServer(const ServerRegistration& reg, bool per_user) noexcept {
  try {
    RootKey root(per_user);
    if (!root.key) return S_OK;
    for (const ClassRegistration& c : reg.classes) {
      DeleteTree(root.key, L"CLSID\\" + GuidString(*c.clsid));
      DeleteTree(root.key, c.progid);
      DeleteTree(root.key, c.progid_current);
    }
    HRESULT hr;
    if (per_user) {
      auto fn = reinterpret_cast<UnTypeLibUserFn>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "UnRegisterTypeLibForUser")));
      hr = fn ? fn(*reg.libid, reg.major, reg.minor, 0, kSysKind) : S_OK;
    } else {
      hr = UnRegisterTypeLib(*reg.libid, reg.major, reg.minor, 0, kSysKind);
    }
    // A library that was never registered is no failure.
    (void)hr;
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT InstallServer(const ServerRegistration& reg, BOOL install, LPCWSTR cmdline) noexcept {
  bool per_user = cmdline && lstrcmpiW(cmdline, L"user") == 0;
  return install ? RegisterServer(reg, per_user) : UnregisterServer(reg, per_user);
}

}  // namespace common
