// DllRegisterServer and DllUnregisterServer leave the registry as they found it.
#include <gtest/gtest.h>

#include <string>

#include "hookwire_h.h"
#include "test_window.h"

namespace {

const GUID kLibid = {0x485B1F95, 0xF7E3, 0x11D1, {0x98, 0x25, 0x20, 0x4C, 0x4F, 0x4F, 0x50, 0x20}};

std::wstring Guid(REFGUID g) {
  wchar_t buf[40];
  StringFromGUID2(g, buf, 40);
  return buf;
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// Every key that registering writes. The type library's key is shared by both bitnesses on a 64-bit
// desktop (the other build's server may be registered too): this build owns its platform's subkey.
std::vector<std::wstring> ServerKeys() {
  const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
  return {L"CLSID\\" + Guid(CLSID_HookwireWindow), L"Hookwire.HookwireWindow", L"Hookwire.HookwireWindow.1",
          L"TypeLib\\" + Guid(kLibid) + L"\\1.0\\0\\" + platform, L"Interface\\" + Guid(IID__HookwireWindow),
          L"Interface\\" + Guid(IID_IhkMessageSink)};
}

using Entry = HRESULT(STDAPICALLTYPE*)();

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    dll_ = LoadLibraryW(L"Hookwire.dll");
    ASSERT_NE(nullptr, dll_);
    reg_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll_, "DllRegisterServer")));
    unreg_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll_, "DllUnregisterServer")));
    ASSERT_NE(nullptr, reg_);
    ASSERT_NE(nullptr, unreg_);
  }
  void TearDown() override {
    if (reg_) reg_();  // the other tests need the server registered
    if (dll_) FreeLibrary(dll_);
  }
  HMODULE dll_ = nullptr;
  Entry reg_ = nullptr;
  Entry unreg_ = nullptr;
};

}  // namespace

TEST_F(Registration, UnregisterRemovesWhatRegisterWrote) {
  ASSERT_EQ(S_OK, unreg_());
  for (auto& k : ServerKeys()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, k)) << k;
  EXPECT_EQ(S_OK, unreg_()) << "unregistering what is absent is success";

  ASSERT_EQ(S_OK, reg_());
  for (auto& k : ServerKeys()) EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, k)) << k;
  CLSID clsid{};
  EXPECT_EQ(S_OK, CLSIDFromProgID(L"Hookwire.HookwireWindow", &clsid));
  EXPECT_EQ(CLSID_HookwireWindow, clsid);
  common::com_ptr<ITypeLib> lib;
  EXPECT_EQ(S_OK, LoadRegTypeLib(kLibid, 1, 0, 0, lib.put()));
  lib.reset();

  ASSERT_EQ(S_OK, unreg_());
  for (auto& k : ServerKeys()) EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, k)) << k;
}

TEST_F(Registration, PerUserInstallWritesUnderCurrentUserClasses) {
  using Install = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
  auto install = reinterpret_cast<Install>(reinterpret_cast<void*>(GetProcAddress(dll_, "DllInstall")));
  ASSERT_NE(nullptr, install);
  const std::wstring clsid_key = L"Software\\Classes\\CLSID\\" + Guid(CLSID_HookwireWindow);
  ASSERT_EQ(S_OK, install(TRUE, L"user"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, clsid_key));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\Hookwire.HookwireWindow"));
  ASSERT_EQ(S_OK, install(FALSE, L"user"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, clsid_key));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\Hookwire.HookwireWindow"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Classes\\TypeLib\\" + Guid(kLibid)));
}
