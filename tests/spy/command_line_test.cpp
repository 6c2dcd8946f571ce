// Snoopet.exe /capture: the real program started as a user would start it from a command prompt,
// against the platform's notepad, with its exit code and its standard error read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "hex.h"
#include "spy_fixture.h"
#include "system_program.h"

namespace spy_test {
namespace {

using testing_support::Bitness;
using testing_support::SystemProgram;

struct Outcome {
  DWORD code = 999;
  std::string err;
};

std::wstring Beside(const wchar_t* file) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L"\\/") + 1) + file;
}

HANDLE g_snoopet_thread = nullptr;  // the running Snoopet's main thread, for `while_running`

// Starts Snoopet.exe with the arguments; `while_running` runs until the program ends.
Outcome Snoopet(const std::wstring& arguments, const std::function<void()>& while_running = {}) {
  Outcome run;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &sa, 0)) return run;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  const std::wstring exe = Beside(L"Snoopet.exe");
  std::wstring cmd = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = write;
  si.hStdError = write;
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  CloseHandle(write);
  if (!started) {
    CloseHandle(read);
    return run;
  }
  g_snoopet_thread = pi.hThread;
  std::thread reader([&] {
    char buf[512];
    DWORD n = 0;
    while (ReadFile(read, buf, sizeof buf, &n, nullptr) && n) run.err.append(buf, n);
  });
  if (while_running)
    while (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT) {
      while_running();
      Sleep(50);
    }
  if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 998);
  GetExitCodeProcess(pi.hProcess, &run.code);
  g_snoopet_thread = nullptr;
  reader.join();
  CloseHandle(read);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return run;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string bytes;
  if (FILE* f = _wfopen(path.c_str(), L"rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

std::wstring OutPath(const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

std::wstring HandleText(HWND h) { return L"0x" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(h))); }

TEST(CommandLine, CapturesNotepadByHandleAndByClassIntoLinesOrCsv) {
  SystemProgram notepad(L"notepad.exe", Bitness::Same);
  ASSERT_NE(nullptr, notepad.window());
  const std::wstring out = OutPath(L"snoopet-capture.txt");
  DeleteFileW(out.c_str());
  Outcome run = Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + out + L"\" /seconds 3", [&] {
    SendMessageTimeoutW(notepad.window(), WM_NULL, 0x77, 0x88, SMTO_ABORTIFHUNG, 1000, nullptr);
  });
  EXPECT_EQ(0u, run.code) << run.err;
  EXPECT_EQ("", run.err);
  const std::string text = ReadFileBytes(out);
  EXPECT_NE(std::string::npos, text.find("WM_NULL, 77, 88\r\n")) << text.substr(0, 400);

  // By class and caption, leaving WM_NULL out, every detail as CSV.
  wchar_t caption[256] = {};
  GetWindowTextW(notepad.window(), caption, 256);
  const std::wstring csv = OutPath(L"snoopet-capture.csv");
  run = Snoopet(L"/capture Notepad /caption \"" + std::wstring(caption) + L"\" /out \"" + csv +
                    L"\" /seconds 3 /filter WM_NULL /csv",
                [&] {
                  SendMessageTimeoutW(notepad.window(), WM_NULL, 0x77, 0x88, SMTO_ABORTIFHUNG, 1000, nullptr);
                  SendMessageTimeoutW(notepad.window(), WM_USER + 5, 1, 2, SMTO_ABORTIFHUNG, 1000, nullptr);
                });
  EXPECT_EQ(0u, run.code) << run.err;
  const std::string rows = ReadFileBytes(csv);
  EXPECT_EQ(0u, rows.find("\xEF\xBB\xBFIndex,Time (ms),Clock time,Window,Message,Name,wParam,lParam,Origin,Result,Details,"
                         "LostBefore\r\n"));
  // A 32-bit program's parameters are written in eight digits.
  const std::string params = sizeof(void*) == 4 ? ",0x00000001,0x00000002," : ",0x1,0x2,";
  const size_t row = rows.find(",0x0405,WM_USER+5" + params);
  ASSERT_NE(std::string::npos, row) << rows.substr(0, 400);
  // Hookwire reports how the message came: sent from this test's thread, another program's.
  EXPECT_EQ(row, rows.find(",0x0405,WM_USER+5" + params + "sent by another thread,", row))
      << rows.substr(row, 120);
  EXPECT_EQ(std::string::npos, rows.find(",WM_NULL,")) << "left out by the filter";
  DeleteFileW(out.c_str());
  DeleteFileW(csv.c_str());
}

// /scope children: notepad's edit box is watched with its main window, each line names its window,
// and the CSV's Window column tells the two apart.
TEST(CommandLine, ScopeWatchesTheWindowsFamilyAndNamesEachLinesWindow) {
  SystemProgram notepad(L"notepad.exe", Bitness::Same);
  ASSERT_NE(nullptr, notepad.window());
  HWND edit = FindWindowExW(notepad.window(), nullptr, L"Edit", nullptr);
  ASSERT_NE(nullptr, edit);
  auto send = [&] {
    SendMessageTimeoutW(notepad.window(), WM_USER + 5, 1, 2, SMTO_ABORTIFHUNG, 1000, nullptr);
    SendMessageTimeoutW(edit, WM_USER + 6, 3, 4, SMTO_ABORTIFHUNG, 1000, nullptr);
  };
  auto hex = [](HWND h) {  // as the CSV's Window column writes it
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h) & 0xFFFFFFFFu));
    return std::string(buf);
  };
  auto hex8 = [](HWND h) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(h) & 0xFFFFFFFFu));
    return std::string(buf);
  };
  const std::wstring out = OutPath(L"snoopet-scope.txt");
  DeleteFileW(out.c_str());
  Outcome run = Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + out + L"\" /seconds 3 /scope children", send);
  EXPECT_EQ(0u, run.code) << run.err;
  std::string text = ReadFileBytes(out);
  EXPECT_NE(std::string::npos, text.find(hex8(notepad.window()) + " Notepad  405, 1, 2\r\n")) << text.substr(0, 600);
  EXPECT_NE(std::string::npos, text.find(hex8(edit) + " Edit  406, 3, 4\r\n")) << text.substr(0, 600);

  run = Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + out + L"\" /seconds 3 /scope thread /new /csv", send);
  EXPECT_EQ(0u, run.code) << run.err;
  text = ReadFileBytes(out);
  EXPECT_NE(std::string::npos, text.find("," + hex(edit) + ",0x0406,WM_USER+6,")) << text.substr(0, 600);
  EXPECT_NE(std::string::npos, text.find("," + hex(notepad.window()) + ",0x0405,WM_USER+5,")) << text.substr(0, 600);

  // Without a family the lines stay as they were: no window first.
  run = Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + out + L"\" /seconds 2", send);
  EXPECT_EQ(0u, run.code) << run.err;
  text = ReadFileBytes(out);
  EXPECT_NE(std::string::npos, text.find("405, 1, 2\r\n")) << text.substr(0, 400);
  EXPECT_EQ(std::string::npos, text.find(hex8(notepad.window()) + " Notepad")) << text.substr(0, 400);
  EXPECT_EQ(std::string::npos, text.find("406, 3, 4")) << "the edit box is not the window";

  EXPECT_EQ(2u, Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + out + L"\" /scope everything").code);
  EXPECT_EQ(2u, Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + out + L"\" /new").code);
  DeleteFileW(out.c_str());
}

// What the log's Decimal Parameters does for its lines, /decimal does for a capture's lines; the
// CSV keeps its hexadecimal columns, as the log's Save As does.
TEST(CommandLine, DecimalWritesTheLinesParametersInDecimal) {
  SystemProgram notepad(L"notepad.exe", Bitness::Same);
  ASSERT_NE(nullptr, notepad.window());
  const std::wstring out = OutPath(L"snoopet-decimal.txt");
  DeleteFileW(out.c_str());
  auto send = [&] { SendMessageTimeoutW(notepad.window(), WM_NULL, 0x77, 0x1000, SMTO_ABORTIFHUNG, 1000, nullptr); };
  Outcome run = Snoopet(L"-capture " + HandleText(notepad.window()) + L" -out \"" + out + L"\" -seconds 2 -decimal", send);
  EXPECT_EQ(0u, run.code) << run.err;
  std::string text = ReadFileBytes(out);
  EXPECT_NE(std::string::npos, text.find("WM_NULL, 119, 4096\r\n")) << text.substr(0, 400);
  EXPECT_EQ(std::string::npos, text.find("WM_NULL, 77, 1000")) << text.substr(0, 400);

  run = Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + out + L"\" /seconds 2 /decimal /csv", send);
  EXPECT_EQ(0u, run.code) << run.err;
  text = ReadFileBytes(out);
  const std::string params = sizeof(void*) == 4 ? ",0x00000077,0x00001000," : ",0x77,0x1000,";
  EXPECT_NE(std::string::npos, text.find(",0x0000,WM_NULL" + params)) << text.substr(0, 400);
  DeleteFileW(out.c_str());
}

// /inspect prints the inspector's text of one window, found as /capture finds it, and opens nothing.
TEST(CommandLine, InspectPrintsTheWindowInspectorsTextOfOneWindow) {
  SystemProgram notepad(L"notepad.exe", Bitness::Same);
  ASSERT_NE(nullptr, notepad.window());
  DWORD pid = 0;
  GetWindowThreadProcessId(notepad.window(), &pid);
  wchar_t caption[256] = {};
  GetWindowTextW(notepad.window(), caption, 256);
  for (const std::wstring& which : {L"/inspect " + HandleText(notepad.window()),
                                    L"-inspect Notepad -caption \"" + std::wstring(caption) + L"\""}) {
    const Outcome run = Snoopet(which);
    EXPECT_EQ(0u, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("\r\nClass\tNotepad\r\n")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("WS_CAPTION")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("notepad.exe")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(", id " + std::to_string(pid) + "\r\n")) << run.err;
  }
  const std::vector<std::pair<std::wstring, DWORD>> refused{
      {L"/inspect", 2}, {L"/inspect 0x1234 /out x.txt", 2}, {L"/inspect 0x1234 /caption", 2},
      {L"/inspect 0x7FFFFFF0", 3}, {L"/inspect NoSuchClassAnywhere", 3}};
  for (const auto& [args, code] : refused) {
    const Outcome run = Snoopet(args);
    EXPECT_EQ(code, run.code) << testing::PrintToString(args) << " " << run.err;
    EXPECT_EQ(0u, run.err.rfind("Snoopet: ", 0)) << run.err;
  }
}

TEST(CommandLine, FailuresExitNonZeroWithAMessage) {
  const std::wstring out = OutPath(L"snoopet-fail.txt");
  DeleteFileW(out.c_str());  // one an earlier, interrupted run may have left
  struct Case {
    std::wstring args;
    DWORD code;
    const char* says;
  };
  const std::vector<Case> cases{
      {L"/capture", 2, "needs a window"},
      {L"/capture 0x1234", 2, "/out <file> is missing"},
      {L"/capture 0x1234 /out \"" + out + L"\" /seconds ten", 2, "/seconds"},
      {L"/capture 0x1234 /out \"" + out + L"\" /bogus", 2, "unknown argument: /bogus"},
      // A misspelt switch never opens the window (a script would wait on it for ever).
      {L"/captrue 0x1234 /out \"" + out + L"\"", 2, "unknown argument: /captrue"},
      {L"-nosuchswitch", 2, "unknown argument: -nosuchswitch"},
      {L"/capture 0x1234 /out \"" + out + L"\" /seconds 0", 2, "more than 0 and at most 86400"},
      // Hexadecimal, exponents and signs are no number of seconds; a filter of commas names nothing.
      {L"/capture 0x1234 /out \"" + out + L"\" /seconds 0x10", 2, "more than 0 and at most 86400"},
      {L"/capture 0x1234 /out \"" + out + L"\" /seconds 1e2", 2, "more than 0 and at most 86400"},
      {L"/capture 0x1234 /out \"" + out + L"\" /seconds 1..5", 2, "more than 0 and at most 86400"},
      {L"/capture 0x1234 /out \"" + out + L"\" /filter \",\"", 2, "names no message or group"},
      {L"/capture 0x1234 /out \"" + out + L"\" /only \"\"", 2, "names no message or group"},
      {L"/capture 0x1234 /out \"" + out + L"\" /only Mouse /filter \"\"", 2, "cannot be combined"},
      // A bad filter is refused before any window is looked for.
      {L"/capture 0x7FFFFFF0 /out \"" + out + L"\" /filter \"Mouse,(no such)\"", 2, "(no such)"},
      {L"-capture 0x7FFFFFF0 -out \"" + out + L"\" -seconds 1 -filter User", 3, "no window has the handle"},
      {L"/capture 0x7FFFFFF0 /out \"" + out + L"\" /only \"User and application (WM_USER+n, WM_APP+n)\"", 3,
       "no window has the handle"},
      {L"/capture Notepad /out \"" + out + L"\" /filter NoSuchThing", 2, "NoSuchThing"},
      {L"/capture 0x7FFFFFF0 /out \"" + out + L"\"", 3, "no window has the handle"},
      {L"/capture NoSuchClassAnywhere /out \"" + out + L"\"", 3, "no top-level window of class"},
      {L"/capture " + HandleText(GetDesktopWindow()) + L" /out \"" + out + L"\"", 4, "cannot be watched"},
  };
  for (const auto& c : cases) {
    const Outcome run = Snoopet(c.args);
    EXPECT_EQ(c.code, run.code) << testing::PrintToString(c.args) << " " << run.err;
    EXPECT_NE(std::string::npos, run.err.find(c.says)) << testing::PrintToString(c.args) << " said " << run.err;
    EXPECT_EQ(0u, run.err.rfind("Snoopet: ", 0)) << run.err;
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(out.c_str())) << "no file for a failed capture";
  const Outcome usage = Snoopet(L"/?");
  EXPECT_EQ(0u, usage.code);
  EXPECT_NE(std::string::npos, usage.err.find("/capture <handle | class>")) << usage.err;
  EXPECT_NE(std::string::npos, usage.err.find("7 messages were lost")) << usage.err;
  EXPECT_NE(std::string::npos, usage.err.find("/decimal")) << usage.err;
  EXPECT_NE(std::string::npos, usage.err.find("/inspect <handle | class>")) << usage.err;

  // An output file that cannot be made.
  SystemProgram notepad(L"notepad.exe", Bitness::Same);
  ASSERT_NE(nullptr, notepad.window());
  const Outcome run = Snoopet(L"/capture " + HandleText(notepad.window()) + L" /out \"" + OutPath(L"no-such-dir\\x.txt") +
                          L"\" /seconds 1");
  EXPECT_EQ(5u, run.code) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("cannot write")) << run.err;
}

// An overload caused on purpose: Snoopet's thread is held while the window sends itself a buffer's
// worth of messages and 123 more. The file marks the gap with its count, standard error gives the
// total, and the exit code says that messages were lost.
TEST(CommandLine, LostMessagesAreMarkedInTheFileTotalledOnStandardErrorAndEndWithCode7) {
  constexpr int kBuffer = 8192;
  SelfTalkingWindow target;
  ASSERT_NE(nullptr, target.hwnd());
  const std::wstring out = OutPath(L"snoopet-loss.txt");
  DeleteFileW(out.c_str());
  int step = 0;
  const ULONGLONG give_up = GetTickCount64() + 150000;
  const Outcome run = Snoopet(L"/capture " + HandleText(target.hwnd()) + L" /out \"" + out +
                                  L"\" /untilclosed /only 0x0401,0x0402,0x0403",
                              [&] {
                                const std::string text = ReadFileBytes(out);
                                if (GetTickCount64() > give_up) step = 3;
                                switch (step) {
                                  case 0:  // until Snoopet has its first message
                                    if (text.find("401, 0, 0\r\n") != std::string::npos) ++step;
                                    else target.Send(WM_USER + 1, 1);
                                    break;
                                  case 1:
                                    SuspendThread(g_snoopet_thread);
                                    target.Send(WM_USER + 2, kBuffer + 123);
                                    ResumeThread(g_snoopet_thread);
                                    ++step;
                                    break;
                                  case 2:  // the buffer's worth is in the file: one message more
                                    if (text.find("402, 1FFF, 0\r\n") != std::string::npos) {
                                      target.Send(WM_USER + 3, 1);
                                      ++step;
                                    }
                                    break;
                                  case 3:
                                    if (text.find("403, 0, 0\r\n") != std::string::npos || GetTickCount64() > give_up) {
                                      target.Destroy();  // the capture ends with the window
                                      ++step;
                                    }
                                    break;
                                  default: break;
                                }
                              });
  EXPECT_EQ(7u, run.code) << run.err;
  EXPECT_NE(std::string::npos, run.err.find("Snoopet: 123 messages were not captured")) << run.err;
  const std::string text = ReadFileBytes(out);
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  const auto marker = std::find(lines.begin(), lines.end(), std::string("403, 0, 0"));
  ASSERT_NE(lines.end(), marker) << text.substr(0, 200);
  ASSERT_NE(lines.begin(), marker);
  EXPECT_EQ("--- 123 messages not captured", *(marker - 1));
  EXPECT_EQ(kBuffer, std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("402, ", 0) == 0; }));
  EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("---", 0) == 0; }));
  DeleteFileW(out.c_str());
}

}  // namespace
}  // namespace spy_test
