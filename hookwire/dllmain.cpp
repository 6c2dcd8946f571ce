// The in-process server entry points of Hookwire.dll.
#include <windows.h>

#include "com_server.h"
#include "hookwire_h.h"
#include "hookwire_window.h"
#include "remote_capture.h"
#include "subclass_chain.h"

namespace {

// Made at each call: a function-local static would bring in the threads runtime (see subclass_chain.cpp).
common::ServerRegistration Registration() {
  return common::ServerRegistration{
      {{&CLSID_HookwireWindow, L"HookwireWindow", L"Hookwire.HookwireWindow.1", L"Hookwire.HookwireWindow",
        &LIBID_Hookwire}},
      &LIBID_Hookwire,
      1,
      0};
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
  return common::GetClassObject({{&CLSID_HookwireWindow, &common::CreateInstance<hookwire::HookwireWindow>}}, clsid,
                                iid, out);
}

// A window whose procedure is still ours (someone subclassed it after us, so ours could not be
// taken out) keeps the DLL loaded, however many objects are left.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  if (hookwire::subclass_chain::WindowCount() != 0) return S_FALSE;
  if (common::CanUnloadNow() != S_OK) return S_FALSE;
  // The hook DLL and the shared table go with us.
  return hookwire::RemoteCapture::ReleaseShared() ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return common::RegisterServer(Registration(), false); }

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return common::UnregisterServer(Registration(), false); }

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR cmdline) {
  return common::InstallServer(Registration(), install, cmdline);
}
