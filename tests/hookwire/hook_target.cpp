// HookTarget.exe <caption> <log file>: a program of the tests' own whose window is
// watched from another process. It records every message from WM_USER on that its
// window procedure handles, and writes them (decimal wParam and message, one per
// line) to the log file when asked with kDump. It also reports its window procedure
// (kQueryProc), and subclasses its window itself and takes that off again (kSubclassSelf,
// kUnsubclassSelf), as programs do.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {
constexpr UINT kDump = WM_USER + 0x7FFE;
constexpr UINT kQueryProc = WM_USER + 0x7FF0;
constexpr UINT kSubclassSelf = WM_USER + 0x7FF1;
constexpr UINT kUnsubclassSelf = WM_USER + 0x7FF2;
std::vector<std::pair<UINT, WPARAM>> g_log;
const wchar_t* g_log_path = nullptr;
WNDPROC g_own_prev = nullptr;

LRESULT CALLBACK OwnSubclass(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  return CallWindowProcW(g_own_prev, h, msg, wp, lp);
}

LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kDump) {
    FILE* f = _wfopen(g_log_path, L"w");
    if (!f) return -1;
    for (auto& [m, w] : g_log) std::fprintf(f, "%u %llu\n", m, static_cast<unsigned long long>(w));
    std::fclose(f);
    return static_cast<LRESULT>(g_log.size());
  }
  if (msg == kQueryProc) return GetWindowLongPtrW(h, GWLP_WNDPROC);
  if (msg == kSubclassSelf) {
    g_own_prev = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OwnSubclass)));
    return reinterpret_cast<LRESULT>(OwnSubclass);
  }
  if (msg == kUnsubclassSelf) return SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_own_prev));
  if (msg >= WM_USER && msg < WM_USER + 0x7000) {
    g_log.emplace_back(msg, wp);
    return 7;  // the target's own answer
  }
  if (msg == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(h, msg, wp, lp);
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  g_log_path = argv[2];
  g_log.reserve(40000);
  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"HookTargetWindow";
  RegisterClassW(&wc);
  HWND w = CreateWindowExW(0, wc.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (!w) return 3;
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return 0;
}
