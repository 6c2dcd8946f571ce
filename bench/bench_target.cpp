// BenchTarget.exe <name> <echo window, hex> <messages> <schedule> <result file> [<burst total>]
// The program the cross-process benchmark watches. It creates one window (caption <name>),
// sets the event "<name>.ready", then runs one phase per character of <schedule>: it waits
// for "<name>.go", sends its messages and sets "<name>.done". Phases '4' and '7' send (or post)
// a twentieth of <messages> to the echo window of the benchmark (another process); '5' sends
// twice <messages> to its own window (more than a stopped spy's buffer holds); '8' and '9'
// send <burst total> messages (default 100,000) to its own window in bursts of 1,000 with a
// pause of 50 ms between; every other phase sends <messages> messages to its own window,
// whatever the benchmark watches meanwhile. Messages are numbered from 0 in each phase. The
// time per message of each phase goes to the result file as "<phase> <nanoseconds>" lines.
//
// BenchTarget.exe /family <name> <threads> <windows per thread> <messages> <schedule> <result file>
// <burst total>: a program of <threads> threads, each with a top-level window (caption
// "<name>.<thread>") and children up to <windows per thread>. Per phase every thread sends its share
// of the messages to its own windows in turn (wParam: the window's own count from 0 in the phase);
// '8' sends <burst total> in all, each thread in bursts of 1,000 with a pause of 50 ms between. The
// result file gets "<phase> <nanoseconds>" per thread and phase.
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

struct FamilyThread {
  std::wstring caption;
  int windows = 0;
  HANDLE start = nullptr, finished = nullptr;  // per phase: the main thread's word, this thread's answer
  const std::wstring* schedule = nullptr;
  long messages = 0, burst = 0;
  std::vector<std::pair<wchar_t, double>> results;
  bool made = false;
};

DWORD WINAPI FamilyThreadMain(void* p) {
  auto& t = *static_cast<FamilyThread*>(p);
  std::vector<HWND> windows;
  HWND top = CreateWindowExW(0, L"SnoopetBenchTarget", t.caption.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  if (top) windows.push_back(top);
  while (top && static_cast<int>(windows.size()) < t.windows)
    if (HWND c = CreateWindowExW(0, L"SnoopetBenchTarget", L"", WS_CHILD, 0, 0, 10, 10, top, nullptr, GetModuleHandleW(nullptr), nullptr))
      windows.push_back(c);
    else
      break;
  t.made = static_cast<int>(windows.size()) == t.windows;
  SetEvent(t.finished);
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  for (wchar_t phase : *t.schedule) {
    if (!WaitPumping(t.start, 120000)) return 5;
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    std::vector<WPARAM> next(windows.size(), 0);
    const long count = phase == L'8' ? t.burst : t.messages;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    for (long i = 0; i < count;) {
      for (long end = i + 1000; i < count && (phase != L'8' || i < end); ++i) {
        const size_t k = static_cast<size_t>(i) % windows.size();
        SendMessageW(windows[k], kBenchMessage, next[k]++, 0);
      }
      if (phase == L'8' && i < count) Sleep(50);
    }
    QueryPerformanceCounter(&t1);
    t.results.emplace_back(phase, 1e9 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart) /
                                      static_cast<double>(count));
    SetEvent(t.finished);
  }
  WaitPumping(t.start, 120000);  // the windows stay until the benchmark is done with them
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) DestroyWindow(*it);
  return 0;
}

int FamilyMain(int argc, wchar_t** argv) {
  if (argc < 9) return 2;
  const std::wstring name = argv[2];
  const int threads = _wtoi(argv[3]), per_thread = _wtoi(argv[4]);
  const long messages = std::wcstol(argv[5], nullptr, 10);
  const std::wstring schedule = argv[6];
  const long burst_total = std::wcstol(argv[8], nullptr, 10);
  if (threads <= 0 || threads > 64 || per_thread <= 0 || messages <= 0 || burst_total <= 0) return 2;
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L".ready").c_str());
  HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, (name + L".go").c_str());
  HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, (name + L".done").c_str());
  if (!ready || !go || !done) return 4;
  std::vector<FamilyThread> ts(static_cast<size_t>(threads));
  std::vector<HANDLE> handles, finished;
  for (int i = 0; i < threads; ++i) {
    FamilyThread& t = ts[static_cast<size_t>(i)];
    t.caption = name + L"." + std::to_wstring(i);
    t.windows = per_thread;
    t.start = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    t.finished = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    t.schedule = &schedule;
    t.messages = messages / threads;
    t.burst = burst_total / threads;
    finished.push_back(t.finished);
  }
  for (auto& t : ts) handles.push_back(CreateThread(nullptr, 0, FamilyThreadMain, &t, 0, nullptr));
  WaitForMultipleObjects(static_cast<DWORD>(finished.size()), finished.data(), TRUE, 60000);
  for (auto& t : ts)
    if (!t.made) return 3;
  SetEvent(ready);
  for (size_t p = 0; p < schedule.size(); ++p) {
    if (WaitForSingleObject(go, 120000) != WAIT_OBJECT_0) return 5;
    for (auto& t : ts) SetEvent(t.start);
    if (WaitForMultipleObjects(static_cast<DWORD>(finished.size()), finished.data(), TRUE, 120000) >= WAIT_OBJECT_0 + finished.size())
      return 5;
    SetEvent(done);
  }
  WaitForSingleObject(go, 120000);
  for (auto& t : ts) SetEvent(t.start);
  WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, 20000);
  FILE* f = _wfopen(argv[7], L"w");
  if (!f) return 6;
  for (auto& t : ts)
    for (auto& [phase, ns] : t.results) std::fprintf(f, "%c %.1f\n", static_cast<char>(phase), ns);
  std::fclose(f);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wcscmp(argv[1], L"/family") == 0) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SnoopetBenchTarget";
    RegisterClassW(&wc);
    return FamilyMain(argc, argv);
  }
  if (argc < 6) return 2;
  const std::wstring name = argv[1];
  HWND echo = reinterpret_cast<HWND>(static_cast<LONG_PTR>(std::wcstoul(argv[2], nullptr, 16)));
  const long messages = std::wcstol(argv[3], nullptr, 10);
  const std::wstring schedule = argv[4];
  const long burst_total = argc > 6 ? std::wcstol(argv[6], nullptr, 10) : 100000;
  if (messages <= 0 || schedule.empty() || burst_total <= 0) return 2;

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
    const bool remote = phase == L'4' || phase == L'7';
    const bool bursts = phase == L'8' || phase == L'9';
    HWND to = remote ? echo : self;
    const long count = remote ? (messages >= 40 ? messages / 20 : 2) : bursts ? burst_total : phase == L'5' ? 2 * messages : messages;
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    if (phase == L'7') {
      for (long i = 0; i < count; ++i) PostMessageW(to, kBenchMessage, static_cast<WPARAM>(i), static_cast<LPARAM>(~i));
    } else if (bursts) {
      for (long i = 0; i < count;) {
        for (long end = i + 1000; i < end && i < count; ++i)
          SendMessageW(to, kBenchMessage, static_cast<WPARAM>(i), static_cast<LPARAM>(~i));
        Sleep(50);
      }
    } else {
      for (long i = 0; i < count; ++i) SendMessageW(to, kBenchMessage, static_cast<WPARAM>(i), static_cast<LPARAM>(~i));
    }
    QueryPerformanceCounter(&t1);
    results.emplace_back(phase, 1e9 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                                    static_cast<double>(freq.QuadPart) / static_cast<double>(count));
    SetEvent(done);
  }
  // The window stays until the benchmark has read what it captured.
  WaitPumping(go, 60000);
  FILE* f = _wfopen(argv[5], L"w");
  if (!f) return 6;
  for (auto& [phase, ns] : results) std::fprintf(f, "%c %.1f\n", static_cast<char>(phase), ns);
  std::fclose(f);
  DestroyWindow(self);
  return 0;
}
