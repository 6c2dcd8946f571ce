#include "gdi_counter.h"

#include <commctrl.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>

namespace testing_support {

namespace {

struct State {
  std::map<void*, GdiKind> live;
  std::map<void*, long> freed;
  std::array<long, static_cast<size_t>(GdiKind::Count)> created{};
  std::array<long, static_cast<size_t>(GdiKind::Count)> released{};
  long unknown_frees = 0;
};

State& state() {
  static State s;
  return s;
}

// A handle by its low 32 bits: once bit 31 is set, a 64-bit program gets the same object sign-extended
// from one call and zero-extended from another.
void* Key(const void* h) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h))));
}

void Made(void* h, GdiKind kind) {
  if (!h) return;
  state().live[Key(h)] = kind;
  ++state().created[static_cast<size_t>(kind)];
}

void Gone(void* h, bool ok) {
  if (!h || !ok) return;
  State& s = state();
  ++s.freed[Key(h)];
  auto it = s.live.find(Key(h));
  if (it == s.live.end()) {
    ++s.unknown_frees;
    return;
  }
  ++s.released[static_cast<size_t>(it->second)];
  s.live.erase(it);
}

template <typename F>
F Real(const char* dll, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(dll), name)));
}

#define REAL(dll, fn) static const auto real = Real<decltype(&::fn)>(dll, #fn)

// --- the rerouted calls -------------------------------------------------------------------------

HBRUSH WINAPI HookCreateSolidBrush(COLORREF c) {
  REAL("gdi32.dll", CreateSolidBrush);
  HBRUSH h = real(c);
  Made(h, GdiKind::Brush);
  return h;
}
HPEN WINAPI HookCreatePen(int style, int width, COLORREF c) {
  REAL("gdi32.dll", CreatePen);
  HPEN h = real(style, width, c);
  Made(h, GdiKind::Pen);
  return h;
}
HFONT WINAPI HookCreateFontIndirectA(const LOGFONTA* lf) {
  REAL("gdi32.dll", CreateFontIndirectA);
  HFONT h = real(lf);
  Made(h, GdiKind::Font);
  return h;
}
HFONT WINAPI HookCreateFontIndirectW(const LOGFONTW* lf) {
  REAL("gdi32.dll", CreateFontIndirectW);
  HFONT h = real(lf);
  Made(h, GdiKind::Font);
  return h;
}
HDC WINAPI HookCreateCompatibleDC(HDC dc) {
  REAL("gdi32.dll", CreateCompatibleDC);
  HDC h = real(dc);
  Made(h, GdiKind::MemoryDC);
  return h;
}
HBITMAP WINAPI HookCreateCompatibleBitmap(HDC dc, int cx, int cy) {
  REAL("gdi32.dll", CreateCompatibleBitmap);
  HBITMAP h = real(dc, cx, cy);
  Made(h, GdiKind::Bitmap);
  return h;
}
HBITMAP WINAPI HookCreateBitmap(int cx, int cy, UINT planes, UINT bits, const void* data) {
  REAL("gdi32.dll", CreateBitmap);
  HBITMAP h = real(cx, cy, planes, bits, data);
  Made(h, GdiKind::Bitmap);
  return h;
}
HBITMAP WINAPI HookCreateDIBSection(HDC dc, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section, DWORD offset) {
  REAL("gdi32.dll", CreateDIBSection);
  HBITMAP h = real(dc, bmi, usage, bits, section, offset);
  Made(h, GdiKind::Bitmap);
  return h;
}
BOOL WINAPI HookDeleteObject(HGDIOBJ h) {
  REAL("gdi32.dll", DeleteObject);
  BOOL ok = real(h);
  Gone(h, ok);
  return ok;
}
BOOL WINAPI HookDeleteDC(HDC h) {
  REAL("gdi32.dll", DeleteDC);
  BOOL ok = real(h);
  Gone(h, ok);
  return ok;
}
HBITMAP WINAPI HookLoadBitmapA(HINSTANCE inst, LPCSTR name) {
  REAL("user32.dll", LoadBitmapA);
  HBITMAP h = real(inst, name);
  Made(h, GdiKind::Bitmap);
  return h;
}
HBITMAP WINAPI HookLoadBitmapW(HINSTANCE inst, LPCWSTR name) {
  REAL("user32.dll", LoadBitmapW);
  HBITMAP h = real(inst, name);
  Made(h, GdiKind::Bitmap);
  return h;
}
HANDLE WINAPI HookLoadImageW(HINSTANCE inst, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
  REAL("user32.dll", LoadImageW);
  HANDLE h = real(inst, name, type, cx, cy, flags);
  if (!(flags & LR_SHARED)) {
    if (type == IMAGE_BITMAP) Made(h, GdiKind::Bitmap);
    if (type == IMAGE_ICON) Made(h, GdiKind::Icon);
  }
  return h;
}
HDC WINAPI HookGetDC(HWND w) {
  REAL("user32.dll", GetDC);
  HDC h = real(w);
  Made(h, GdiKind::WindowDC);
  return h;
}
int WINAPI HookReleaseDC(HWND w, HDC h) {
  REAL("user32.dll", ReleaseDC);
  int ok = real(w, h);
  Gone(h, ok != 0);
  return ok;
}
HICON WINAPI HookCopyIcon(HICON icon) {
  REAL("user32.dll", CopyIcon);
  HICON h = real(icon);
  Made(h, GdiKind::Icon);
  return h;
}
HICON WINAPI HookCreateIconIndirect(ICONINFO* info) {
  REAL("user32.dll", CreateIconIndirect);
  HICON h = real(info);
  Made(h, GdiKind::Icon);
  return h;
}
BOOL WINAPI HookDestroyIcon(HICON h) {
  REAL("user32.dll", DestroyIcon);
  BOOL ok = real(h);
  Gone(h, ok);
  return ok;
}
HICON WINAPI HookImageList_GetIcon(HIMAGELIST list, int i, UINT flags) {
  REAL("comctl32.dll", ImageList_GetIcon);
  HICON h = real(list, i, flags);
  Made(h, GdiKind::Icon);
  return h;
}
HIMAGELIST WINAPI HookImageList_Create(int cx, int cy, UINT flags, int initial, int grow) {
  REAL("comctl32.dll", ImageList_Create);
  HIMAGELIST h = real(cx, cy, flags, initial, grow);
  Made(h, GdiKind::ImageList);
  return h;
}
BOOL WINAPI HookImageList_Destroy(HIMAGELIST h) {
  REAL("comctl32.dll", ImageList_Destroy);
  BOOL ok = real(h);
  Gone(h, ok);
  return ok;
}

struct Hook {
  const char* dll;
  const char* name;
  void* replacement;
};

#define HOOK(dll, fn) {dll, #fn, reinterpret_cast<void*>(&Hook##fn)}
const Hook kHooks[] = {
    HOOK("gdi32.dll", CreateSolidBrush),     HOOK("gdi32.dll", CreatePen),
    HOOK("gdi32.dll", CreateFontIndirectA),  HOOK("gdi32.dll", CreateFontIndirectW),
    HOOK("gdi32.dll", CreateCompatibleDC),   HOOK("gdi32.dll", CreateCompatibleBitmap),
    HOOK("gdi32.dll", CreateBitmap),         HOOK("gdi32.dll", CreateDIBSection),
    HOOK("gdi32.dll", DeleteObject),         HOOK("gdi32.dll", DeleteDC),
    HOOK("user32.dll", LoadBitmapA),         HOOK("user32.dll", LoadBitmapW),
    HOOK("user32.dll", LoadImageW),          HOOK("user32.dll", GetDC),
    HOOK("user32.dll", ReleaseDC),           HOOK("user32.dll", CopyIcon),
    HOOK("user32.dll", CreateIconIndirect),  HOOK("user32.dll", DestroyIcon),
    HOOK("comctl32.dll", ImageList_GetIcon), HOOK("comctl32.dll", ImageList_Create),
    HOOK("comctl32.dll", ImageList_Destroy),
};

}  // namespace

int GdiCounter::Install(HMODULE module) {
  auto* base = reinterpret_cast<BYTE*>(module);
  if (!base) return 0;
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return 0;

  // Import slots are matched by the address the loader wrote into them, which is what
  // GetProcAddress returns for the same export: no name table is needed.
  void* targets[std::size(kHooks)];
  for (size_t i = 0; i < std::size(kHooks); ++i) {
    HMODULE dll = GetModuleHandleA(kHooks[i].dll);
    targets[i] = dll ? reinterpret_cast<void*>(GetProcAddress(dll, kHooks[i].name)) : nullptr;
  }

  int patched = 0;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
    auto* slot = reinterpret_cast<void**>(base + d->FirstThunk);
    for (; *slot; ++slot) {
      for (size_t i = 0; i < std::size(kHooks); ++i) {
        if (!targets[i] || *slot != targets[i]) continue;
        DWORD old = 0;
        if (VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) {
          *slot = kHooks[i].replacement;
          VirtualProtect(slot, sizeof(void*), old, &old);
          ++patched;
        }
        break;
      }
    }
  }
  return patched;
}

long GdiCounter::Live() { return static_cast<long>(state().live.size()); }

long GdiCounter::Live(GdiKind kind) {
  long n = 0;
  for (const auto& [h, k] : state().live) n += (k == kind);
  return n;
}

long GdiCounter::Created(GdiKind kind) { return state().created[static_cast<size_t>(kind)]; }
long GdiCounter::Freed(GdiKind kind) { return state().released[static_cast<size_t>(kind)]; }
long GdiCounter::UnknownFrees() { return state().unknown_frees; }
bool GdiCounter::IsLive(HANDLE h) { return state().live.count(Key(h)) != 0; }

long GdiCounter::TimesFreed(HANDLE h) {
  auto it = state().freed.find(Key(h));
  return it == state().freed.end() ? 0 : it->second;
}

}  // namespace testing_support
