// A capture file survives every way the program can go: its lines reach the disk within a second
// of their message, so a program killed mid-capture, a logoff and a fatal error leave them there,
// and a write that fails (a full disk) leaves the file ending with a whole line.
#include "spy_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "runtime_error.h"

namespace spy_test {
namespace {

using testing_support::TestWindow;

constexpr int kLines = 300;
constexpr wchar_t kChildApp[] = L"SpyCaptureChild";

std::wstring Env(const wchar_t* name) {
  wchar_t buf[MAX_PATH * 2] = {};
  const DWORD n = GetEnvironmentVariableW(name, buf, MAX_PATH * 2);
  return n && n < MAX_PATH * 2 ? std::wstring(buf, n) : std::wstring();
}

// Lines of a file (each ended by CR LF) and whether the file ends with one.
std::vector<std::wstring> FileLines(const std::wstring& path, bool* whole) {
  bool bom = false;
  const std::wstring text = ReadUtf8(path, &bom);
  std::vector<std::wstring> lines;
  size_t at = 0;
  for (size_t end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2) lines.push_back(text.substr(at, end - at));
  *whole = at == text.size();
  return lines;
}

int Count(const std::vector<std::wstring>& lines, const std::wstring& prefix) {
  int n = 0;
  for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

// Run by the test below in a process of its own: Snoopet's window spies on a window, a capture
// file takes 300 messages, the ready file gets the main window's handle, and the program waits
// to be killed (or, with "fatal", meets a fatal error, whose box waits).
TEST(CaptureFileChild, DISABLED_CapturesThenWaits) {
  const std::wstring file = Env(L"SNOOPET_CHILD_FILE"), ready = Env(L"SNOOPET_CHILD_READY");
  ASSERT_FALSE(file.empty() || ready.empty());
  DeleteSettings(kChildApp);
  spy::MainWindow w(spy::MainWindowOptions{kChildApp, false});
  w.Show(SW_SHOWNOACTIVATE);
  TestWindow target(nullptr, L"Target");
  ASSERT_TRUE(w.SelectWindow(target.hwnd()));
  SendMessageW(w.toolbar(), TB_CHECKBUTTON, spy::kButtonSpy, TRUE);
  w.ToolbarButtonClick(L"Spy");
  ASSERT_TRUE(w.spying());
  w.StartCaptureFile(file, false);
  for (int i = 0; i < kLines; ++i) SendMessageW(target.hwnd(), WM_USER + 9, static_cast<WPARAM>(i), 0);
  if (FILE* f = _wfopen(ready.c_str(), L"w")) {
    std::fprintf(f, "%lld\n", static_cast<long long>(reinterpret_cast<INT_PTR>(w.hwnd())));
    std::fclose(f);
  }
  if (Env(L"SNOOPET_CHILD_MODE") == L"fatal")
    spy::MainWindow::FatalErrorHandler()(common::RuntimeError(5, L"Snoopet", L"Invalid procedure call"));
  for (MSG m; GetMessageW(&m, nullptr, 0, 0) > 0;) DispatchMessageW(&m);
}

// Starts the child above in `mode`; `ending` runs once it is ready (given its main window), then
// the child is killed. Returns the capture file's lines.
std::vector<std::wstring> RunChild(const wchar_t* mode, const std::function<void(HWND)>& ending, bool* whole) {
  const std::wstring file = TempPath(L"snoopet-child.txt"), ready = TempPath(L"snoopet-child.ready");
  DeleteFileW(file.c_str());
  DeleteFileW(ready.c_str());
  SetEnvironmentVariableW(L"SNOOPET_CHILD_FILE", file.c_str());
  SetEnvironmentVariableW(L"SNOOPET_CHILD_READY", ready.c_str());
  SetEnvironmentVariableW(L"SNOOPET_CHILD_MODE", mode);
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(exe) +
                     L"\" --gtest_also_run_disabled_tests --gtest_filter=CaptureFileChild.DISABLED_CapturesThenWaits";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"SNOOPET_CHILD_FILE", nullptr);
  SetEnvironmentVariableW(L"SNOOPET_CHILD_READY", nullptr);
  SetEnvironmentVariableW(L"SNOOPET_CHILD_MODE", nullptr);
  EXPECT_TRUE(started);
  if (!started) return {};
  long long handle = 0;
  for (int i = 0; i < 1200 && !handle && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; ++i) {
    Sleep(50);
    if (FILE* f = _wfopen(ready.c_str(), L"r")) {
      if (std::fscanf(f, "%lld", &handle) != 1) handle = 0;
      std::fclose(f);
    }
  }
  EXPECT_NE(0, handle) << "the child did not get ready";
  if (handle) ending(reinterpret_cast<HWND>(static_cast<INT_PTR>(handle)));
  TerminateProcess(pi.hProcess, 99);  // as the platform ends a program: nothing more of it runs
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  DeleteSettings(kChildApp);
  auto lines = FileLines(file, whole);
  DeleteFileW(file.c_str());
  DeleteFileW(ready.c_str());
  return lines;
}

TEST(CaptureFileEnds, KilledLoggedOffOrFailingFatallyTheProgramLeavesEveryLineInTheFile) {
  struct Case {
    const wchar_t* mode;
    std::function<void(HWND)> ending;
  };
  const Case cases[] = {
      // Killed a second and a half after the messages: they waited no longer than a second.
      {L"kill", [](HWND) { Sleep(1500); }},
      // Logoff: the session asks, then ends; the program is ended right after.
      {L"logoff",
       [](HWND main) {
         DWORD_PTR r = 0;
         SendMessageTimeoutW(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &r);
         SendMessageTimeoutW(main, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &r);
       }},
      // A fatal error: its box shows; the program is ended while it does.
      {L"fatal", [](HWND) { Sleep(300); }},
  };
  for (const auto& c : cases) {
    bool whole = false;
    const auto lines = RunChild(c.mode, c.ending, &whole);
    ASSERT_FALSE(lines.empty()) << testing::PrintToString(c.mode) << ": the file is empty";
    EXPECT_EQ(0u, lines[0].rfind(L"=== ", 0)) << "the window's header comes first: " << testing::PrintToString(lines[0]);
    EXPECT_EQ(kLines, Count(lines, L"409, ")) << testing::PrintToString(c.mode);
    EXPECT_EQ(L"409, 12B, 0", lines.back()) << testing::PrintToString(c.mode);
    EXPECT_TRUE(whole) << testing::PrintToString(c.mode);
  }
}

// The file's bytes reach it through this writer: the first write goes through whole, the second
// only half (a disk that fills up mid-write), the third fails.
int g_writes = 0;
BOOL FillingDisk(HANDLE file, const void* data, DWORD size, DWORD* written) {
  ++g_writes;
  if (g_writes == 3) {
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  const DWORD n = g_writes == 2 ? size / 2 : size;
  return WriteFile(file, data, n, written, nullptr);
}

TEST(CaptureFileEnds, AWriteThatFailsLeavesTheFileEndingWithAWholeLine) {
  const std::wstring path = TempPath(L"snoopet-filling.txt");
  spy::MessageDecoder decoder([](uint32_t) { return std::wstring(); });
  spy::CaptureFile file;
  g_writes = 0;
  file.set_writer(&FillingDisk);
  ASSERT_TRUE(file.Open(path, false));
  auto line = [](int i) {
    spy::LogRecord r;
    r.line = L"line " + std::to_wstring(i) + L" of the capture, long enough to be cut somewhere inside";
    return r;
  };
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(file.Append(line(i), decoder));
  ASSERT_TRUE(file.Flush());
  for (int i = 10; i < 20; ++i) ASSERT_TRUE(file.Append(line(i), decoder));
  EXPECT_FALSE(file.Flush());
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
  EXPECT_FALSE(file.open()) << "nothing more is taken";
  EXPECT_FALSE(file.Append(line(20), decoder));
  bool whole = false;
  const auto lines = FileLines(path, &whole);
  EXPECT_TRUE(whole) << "no half line at the end";
  ASSERT_GE(lines.size(), 10u);
  EXPECT_LT(lines.size(), 20u);
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(line(static_cast<int>(i)).line, lines[i]);
  DeleteFileW(path.c_str());

  // A real full disk, where the platform has one.
  spy::CaptureFile full;
  if (!full.Open(L"Z:\\dev\\full", false)) GTEST_SKIP() << "no full device here (error " << GetLastError() << ")";
  EXPECT_TRUE(full.Append(line(0), decoder)) << "gathered, not yet written";
  EXPECT_FALSE(full.Flush());
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), GetLastError());
  EXPECT_FALSE(full.open());
}

}  // namespace
}  // namespace spy_test
