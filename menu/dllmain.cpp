// The in-process server entry points of Glyphary.dll.
#include <windows.h>

#include "com_server.h"
#include "glyphary.h"
#include "glyphary_h.h"

namespace {

const common::ServerRegistration& Registration() {
  static const common::ServerRegistration reg{
      {{&CLSID_CGlyphary, L"CGlyphary", L"Glyphary.CGlyphary.1", L"Glyphary.CGlyphary", &LIBID_Glyphary}},
      &LIBID_Glyphary,
      1,
      0};
  return reg;
}

// Our type library describes the sink interface too, so registering or removing it rewrites
// that interface's keys; they belong to the subclassing service's library, which is registered
// again over them when it is present.
void RestoreSinkInterface() noexcept {
  common::com_ptr<ITypeLib> hookwire;
  if (FAILED(LoadRegTypeLib(LIBID_Hookwire, 1, 0, 0, hookwire.put()))) return;
  BSTR path = nullptr;
  if (SUCCEEDED(QueryPathOfRegTypeLib(LIBID_Hookwire, 1, 0, 0, &path)) && path) {
    RegisterTypeLib(hookwire.get(), path, nullptr);
  }
  SysFreeString(path);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    common::Module::instance = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return common::GetClassObject({{&CLSID_CGlyphary, &common::CreateInstance<glyphary::CGlyphary>}}, clsid, iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return common::CanUnloadNow(); }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  HRESULT hr = common::RegisterServer(Registration(), false);
  RestoreSinkInterface();
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  HRESULT hr = common::UnregisterServer(Registration(), false);
  RestoreSinkInterface();
  return hr;
}

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR cmdline) {
  HRESULT hr = common::InstallServer(Registration(), install, cmdline);
  RestoreSinkInterface();
  return hr;
}
