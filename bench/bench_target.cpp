// BenchTarget.exe <name> <echo window, hex> <messages> <schedule> <result file>
// The program the cross-process benchmark watches. It creates one window (caption <name>),
// sets the event "<name>.ready", then runs one phase per character of <schedule>: it waits
// for "<name>.go", sends <messages> messages and sets "<name>.done". A phase '4' sends them
// to the echo window of the benchmark (another process); every other phase sends them to its
// own window, whatever the benchmark watches meanwhile. The time per message of each phase
// goes to the result file as "<phase> <nanoseconds>" lines.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr UINT kBenchMessage = WM_USER + 1;

LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kBenchMessage) return static_cast<LRESULT>(wp + 1);
  return DefWindowProcW(h, msg, wp, lp);
}

// Waits for an event while answering whatever is sent to the window meanwhile.
bool WaitPumping(HANDLE event, DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeout_ms) return false;
    DWORD r = MsgWaitForMultipleObjects(1, &event, FALSE, timeout_ms - spent, QS_ALLINPUT);
    if (r == WAIT_OBJECT_0) return true;
    if (r != WAIT_OBJECT_0 + 1) return false;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 6) return 2;
  const std::wstring name = argv[1];
  HWND echo = reinterpret_cast<HWND>(static_cast<LONG_PTR>(std::wcstoul(argv[2], nullptr, 16)));
  const long messages = std::wcstol(argv[3], nullptr, 10);
  const std::wstring schedule = argv[4];
  if (messages <= 0 || schedule.empty()) return 2;

  WNDCLASSW wc{};
  wc.lpfnWndProc = Proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"SnoopetBenchTarget";
  RegisterClassW(&wc);
  HWND self = CreateWindowExW(0, wc.lpszClassName, name.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                              nullptr, wc.hInstance, nullptr);
  if (!self) return 3;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L".ready").c_str());
  HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, (name + L".go").c_str());
  HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L".done").c_str());
  if (!ready || !go || !done) return 4;
  SetEvent(ready);

  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  std::vector<std::pair<wchar_t, double>> results;
  for (wchar_t phase : schedule) {
    if (!WaitPumping(go, 60000)) return 5;
    // A program that runs its message loop notices hooks set on it meanwhile; so does this one.
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    HWND to = phase == L'4' ? echo : self;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    for (long i = 0; i < messages; ++i) SendMessageW(to, kBenchMessage, static_cast<WPARAM>(i), static_cast<LPARAM>(~i));
    QueryPerformanceCounter(&t1);
    results.emplace_back(phase, 1e9 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                                    static_cast<double>(freq.QuadPart) / static_cast<double>(messages));
    SetEvent(done);
  }
  FILE* f = _wfopen(argv[5], L"w");
  if (!f) return 6;
  for (auto& [phase, ns] : results) std::fprintf(f, "%c %.1f\n", static_cast<char>(phase), ns);
  std::fclose(f);
  DestroyWindow(self);
  return 0;
}
