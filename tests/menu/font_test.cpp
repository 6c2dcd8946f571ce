// The menu font: made once, replaced on a settings or colour change with the old one deleted
// first, gone after termination. GetGuiResources cannot count GDI objects here, so the
// registered DLL's own imports of the two GDI calls are patched to count them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "menu_fixture.h"

using common::com_ptr;
using namespace menu_test;

namespace {

std::vector<std::pair<char, HGDIOBJ>> g_events;  // 'c' created, 'd' deleted
decltype(&CreateFontIndirectA) g_create = nullptr;
decltype(&DeleteObject) g_delete = nullptr;

HFONT WINAPI CountingCreate(const LOGFONTA* lf) {
  HFONT f = g_create(lf);
  g_events.push_back({'c', f});
  return f;
}

BOOL WINAPI CountingDelete(HGDIOBJ h) {
  if (GetObjectType(h) == OBJ_FONT) g_events.push_back({'d', h});
  return g_delete(h);
}

// Replaces one entry of a module's import address table; returns what it held.
void* PatchImport(HMODULE module, const char* dll, const char* name, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
    if (lstrcmpiA(reinterpret_cast<char*>(base + imp->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (lstrcmpA(reinterpret_cast<char*>(by_name->Name), name) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &old);
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), old, &old);
      return previous;
    }
  }
  return nullptr;
}

class CountedFonts {
 public:
  CountedFonts() {
    module_ = GetModuleHandleW(L"Glyphary.dll");
    EXPECT_NE(nullptr, module_);
    g_events.clear();
    g_create = reinterpret_cast<decltype(g_create)>(
        PatchImport(module_, "gdi32.dll", "CreateFontIndirectA", reinterpret_cast<void*>(&CountingCreate)));
    g_delete = reinterpret_cast<decltype(g_delete)>(
        PatchImport(module_, "gdi32.dll", "DeleteObject", reinterpret_cast<void*>(&CountingDelete)));
    EXPECT_NE(nullptr, g_create);
    EXPECT_NE(nullptr, g_delete);
  }
  ~CountedFonts() {
    if (g_create) PatchImport(module_, "gdi32.dll", "CreateFontIndirectA", reinterpret_cast<void*>(g_create));
    if (g_delete) PatchImport(module_, "gdi32.dll", "DeleteObject", reinterpret_cast<void*>(g_delete));
  }
  bool ok() const { return g_create && g_delete; }

 private:
  HMODULE module_;
};

std::string Kinds() {
  std::string s;
  for (auto& e : g_events) s += e.first;
  return s;
}

}  // namespace

TEST(MenuFont, MadeOnceReplacedOnSettingsAndColourChangesAndGoneAfterTermination) {
  auto form = SampleForm();
  auto g = CreateRegistered();
  ASSERT_TRUE(g);
  CountedFonts count;
  ASSERT_TRUE(count.ok());
  EXPECT_EQ("", Kinds()) << "no font before Form";
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  ASSERT_EQ("c", Kinds());
  const HGDIOBJ first = g_events[0].second;
  EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(first));
  LOGFONTA lf{};
  GetObjectA(first, sizeof(lf), &lf);
  NONCLIENTMETRICSA ncm{};
  ncm.cbSize = 340;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &ncm, 0);
  EXPECT_STREQ(ncm.lfMenuFont.lfFaceName, lf.lfFaceName);
  EXPECT_EQ(ncm.lfMenuFont.lfHeight, lf.lfHeight);

  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ("c", Kinds()) << "a second Form keeps the font";

  SendMessageW(form->hwnd(), WM_SETTINGCHANGE, 0, 0);
  ASSERT_EQ("cdc", Kinds()) << "the old font is deleted before the new one is made";
  EXPECT_EQ(first, g_events[1].second);
  EXPECT_EQ(0u, GetObjectType(first));
  const HGDIOBJ second = g_events[2].second;
  SendMessageW(form->hwnd(), WM_SYSCOLORCHANGE, 0, 0);
  ASSERT_EQ("cdcdc", Kinds());
  EXPECT_EQ(second, g_events[3].second);
  const HGDIOBJ third = g_events[4].second;
  EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(third));

  g.reset();
  ASSERT_EQ("cdcdcd", Kinds());
  EXPECT_EQ(third, g_events[5].second);
  EXPECT_EQ(0u, GetObjectType(third)) << "no font of the component is left";
}
