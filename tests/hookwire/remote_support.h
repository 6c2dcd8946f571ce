// What the tests of watching other programs share: a target program, a second process, a sink
// that records the test's own messages, and a pump that waits for a condition.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture_ring.h"
#include "hook_target_commands.h"
#include "test_window.h"

using common::com_ptr;
using testing_support::NewHookwireWindow;
using testing_support::Sink;

namespace {

constexpr LONG kAll = 0xFFFF;
using Clock = std::chrono::steady_clock;

inline std::wstring BinDir() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  std::wstring s(buf, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

inline double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Dispatches this thread's messages until pred holds or the time is up.
template <typename Pred>
inline bool PumpUntil(Pred pred, int timeout_ms) {
  auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (Clock::now() > end) return false;
    MSG m;
    if (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    else MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

class Process {
 public:
  Process(const std::wstring& exe, const std::wstring& args) {
    std::wstring cmd = L"\"" + BinDir() + exe + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    ok_ = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Process() { Kill(); }
  bool ok() const { return ok_; }
  void Kill() {
    if (!ok_) return;
    TerminateProcess(pi_.hProcess, 1);
    WaitForSingleObject(pi_.hProcess, 5000);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
    ok_ = false;
  }
  bool Running() const { return ok_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  HANDLE handle() const { return pi_.hProcess; }

 private:
  PROCESS_INFORMATION pi_{};
  bool ok_ = false;
};

// A HookTarget.exe with a window of its own; its log says what its window procedure handled.
class Target {
 public:
  explicit Target(const std::wstring& caption, const wchar_t* exe = L"HookTarget.exe") : caption_(caption) {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    log_ = std::wstring(tmp) + caption + L".log";
    process_ = std::make_unique<Process>(exe, L"\"" + caption + L"\" \"" + log_ + L"\"");
    PumpUntil([&] { return (hwnd_ = FindWindowW(L"HookTargetWindow", caption_.c_str())) != nullptr; }, 15000);
  }
  ~Target() { Kill(); }
  HWND hwnd() const { return hwnd_; }
  LONG handle() const { return static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd_)); }
  void Kill() { process_->Kill(); }
  bool Running() const { return process_->Running(); }
  // The window procedure the target's window has now, as the target itself reads it.
  LRESULT Proc() const { return SendMessageW(hwnd_, kQueryProc, 0, 0); }
  HANDLE process_handle() const { return process_->handle(); }
  // (message, wParam) pairs the target handled, in order.
  std::vector<std::pair<LONG, LONG_PTR>> Log() {
    std::vector<std::pair<LONG, LONG_PTR>> out;
    if (SendMessageW(hwnd_, kDump, 0, 0) < 0) return out;
    std::string path(log_.begin(), log_.end());
    std::ifstream f(path);
    long m = 0;
    long long w = 0;
    while (f >> m >> w) out.emplace_back(m, static_cast<LONG_PTR>(w));
    return out;
  }

 private:
  std::wstring caption_, log_;
  std::unique_ptr<Process> process_;

  HWND hwnd_ = nullptr;
};

// A sink that keeps (message, wParam) of the test's own messages (WM_USER .. kDump).
struct RecordingSink : Sink {
  std::vector<std::pair<LONG, LONG_PTR>> got;
  RecordingSink() {
    handler = [this](LONG msg, LONG_PTR wp, LONG_PTR, LONG_PTR* result) {
      if (msg >= static_cast<LONG>(WM_USER) && msg < static_cast<LONG>(kDump)) got.emplace_back(msg, wp);
      *result = 99;  // ignored for another program's window
      return S_OK;
    };
  }
};

inline com_ptr<_HookwireWindow> Watch(LONG hwnd, Sink& sink) {
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  EXPECT_EQ(S_OK, w->put_hWnd(hwnd));
  VARIANT_BOOL cannot = VARIANT_TRUE;
  EXPECT_EQ(S_OK, w->get_CannotSubclass(&cannot));
  EXPECT_EQ(VARIANT_FALSE, cannot);
  EXPECT_EQ(S_OK, w->put_WatchMessage(kAll, VARIANT_TRUE));
  EXPECT_EQ(S_OK, w->putref_MessageSink(&sink));
  EXPECT_EQ(S_OK, w->put_Subclassed(VARIANT_TRUE));
  return w;
}

// Watches `h` for every message; the watcher's answer is in *hr (no check here: callers test refusals).
inline com_ptr<_HookwireWindow> TryWatch(HWND h, Sink& sink, HRESULT* hr) {
  com_ptr<_HookwireWindow> w = NewHookwireWindow();
  w->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(h)));
  w->put_WatchMessage(kAll, VARIANT_TRUE);
  w->putref_MessageSink(&sink);
  *hr = w->put_Subclassed(VARIANT_TRUE);
  return w;
}

// Whether the capture ended on its own, and why (HookwireEndReason).
inline bool Ended(const com_ptr<_HookwireWindow>& w, LONG* why) {
  auto info = w.query<IhkCaptureInfo>(IID_IhkCaptureInfo);
  VARIANT_BOOL e = VARIANT_FALSE;
  info->get_CaptureEnded(&e);
  info->get_EndReason(why);
  return e != VARIANT_FALSE;
}

// Capture buffers mapped in a process, and the handle values it holds.
struct Footprint {
  int views = 0;
  int handles = 0;
};

inline Footprint Measure(HANDLE process) {
  Footprint f;
  const SIZE_T want = static_cast<SIZE_T>(hookwire::ring::SectionBytes(hookwire::ring::kCapacity));
  MEMORY_BASIC_INFORMATION mbi{};
  BYTE* p = nullptr;
  while (VirtualQueryEx(process, p, &mbi, sizeof mbi) == sizeof mbi) {
    if (mbi.Type == MEM_MAPPED && mbi.State == MEM_COMMIT && mbi.RegionSize >= want - 4096 &&
        mbi.RegionSize <= want + 65536)
      ++f.views;
    BYTE* next = static_cast<BYTE*>(mbi.BaseAddress) + mbi.RegionSize;
    if (next <= p) break;
    p = next;
  }
  for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
    HANDLE mine = nullptr;
    if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &mine, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
      ++f.handles;
      CloseHandle(mine);
    }
  }
  return f;
}

}  // namespace

// The watcher's buffer as a hostile program of the same user finds it: through the target's
// handles, the most such a program could do. Null when none is found.
inline hookwire::ring::Header* FindBuffer(HANDLE target_process) {
  for (ULONG_PTR value = 4; value < 0x4000; value += 4) {
    HANDLE mine = nullptr;
    if (!DuplicateHandle(target_process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &mine, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
      continue;
    void* v = MapViewOfFile(mine, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    CloseHandle(mine);
    if (v && static_cast<hookwire::ring::Header*>(v)->magic == hookwire::ring::kMagic)
      return static_cast<hookwire::ring::Header*>(v);
    if (v) UnmapViewOfFile(v);
  }
  return nullptr;
}

// Access violations raised in the target so far (its vectored handler counts them).
inline LRESULT TargetExceptions(const Target& t) { return SendMessageW(t.hwnd(), kQueryExceptions, 0, 0); }
