// Starts the real Snoopet.exe and drives it through its window from outside, as a user
// (or an accessibility tool) would: toolbar clicks, tree selection, the log's lines.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hex.h"
#include "main_window.h"
#include "spy_fixture.h"
#include "test_window.h"

namespace spy_test {
namespace {

// Memory in the other process for the messages that carry pointers.
class RemoteBuffer {
 public:
  RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size) {
    at_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~RemoteBuffer() {
    if (at_) VirtualFreeEx(process_, at_, 0, MEM_RELEASE);
  }
  void* at() const { return at_; }
  void Write(const void* data, size_t n, size_t offset = 0) {
    WriteProcessMemory(process_, static_cast<char*>(at_) + offset, data, n, nullptr);
  }
  void Read(void* data, size_t n, size_t offset = 0) const {
    ReadProcessMemory(process_, static_cast<char*>(at_) + offset, data, n, nullptr);
  }

 private:
  HANDLE process_;
  size_t size_;
  void* at_;
};

template <typename F>
bool WaitFor(F done, DWORD ms = 10000) {
  DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > ms) return false;
    testing_support::PumpMessages();
    Sleep(20);
  }
  return true;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteSettings(L"Snoopet");
    // A known placement, read by the program under its own executable name.
    StoreSetting(L"Snoopet", L"Left", L"1500");
    StoreSetting(L"Snoopet", L"Top", L"1200");
    StoreSetting(L"Snoopet", L"Width", L"9000");
    StoreSetting(L"Snoopet", L"Height", L"7500");
    StoreSetting(L"Snoopet", L"SplitterPos", L"3000");
  }
  void TearDown() override {
    if (notepad_pi_.hProcess) {
      TerminateProcess(notepad_pi_.hProcess, 0);
      CloseHandle(notepad_pi_.hProcess);
      CloseHandle(notepad_pi_.hThread);
    }
    if (pi_.hProcess) {
      if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 9);
      CloseHandle(pi_.hProcess);
      CloseHandle(pi_.hThread);
    }
    DeleteSettings(L"Snoopet");
  }

  // Starts Snoopet.exe from beside the test program into pi_.
  void Launch() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path);
    exe = exe.substr(0, exe.find_last_of(L"\\/") + 1) + L"Snoopet.exe";
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
        << "cannot start " << testing::PrintToString(exe);
  }

  void Start() {
    ASSERT_NO_FATAL_FAILURE(Launch());
    ASSERT_TRUE(WaitFor([&] {
      main_ = FindWindowW(spy::kWindowClass, spy::kCaption);
      return main_ && IsWindowVisible(main_);
    }, 30000)) << "Snoopet's window did not appear";
    toolbar_ = FindWindowExW(main_, nullptr, TOOLBARCLASSNAMEW, nullptr);
    tree_ = FindWindowExW(main_, nullptr, WC_TREEVIEWW, nullptr);
    log_ = FindWindowExW(main_, nullptr, L"ListBox", nullptr);
    ASSERT_TRUE(toolbar_ && tree_ && log_);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pi_.dwProcessId);
    ASSERT_NE(nullptr, process_);
  }

  // Wine's notepad, started before Snoopet so that its window is in the tree.
  void StartNotepad() {
    std::wstring cmd = L"notepad.exe";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    ASSERT_TRUE(CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &notepad_pi_));
    ASSERT_TRUE(WaitFor([&] {
      for (HWND h = FindWindowW(L"Notepad", nullptr); h; h = FindWindowExW(nullptr, h, L"Notepad", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(h, &pid);
        if (pid == notepad_pi_.dwProcessId) notepad_ = h;
      }
      return notepad_ != nullptr;
    }, 30000)) << "notepad's window did not appear";
  }

  std::wstring ItemText(HTREEITEM node) {
    RemoteBuffer remote(process_, sizeof(TVITEMW) + 1024 * sizeof(wchar_t));
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(remote.at()) + sizeof(TVITEMW));
    item.cchTextMax = 1024;
    remote.Write(&item, sizeof item);
    SendMessageW(tree_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.at()));
    wchar_t text[1024] = {};
    remote.Read(text, sizeof text - sizeof(wchar_t), sizeof(TVITEMW));
    return text;
  }

  HTREEITEM TopLevelNodeOf(HWND h) {
    const std::wstring suffix = L" (" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(h))) + L")";
    HTREEITEM root = Next(tree_, nullptr, TVGN_ROOT);
    for (HTREEITEM c = Next(tree_, root, TVGN_CHILD); c; c = Next(tree_, c, TVGN_NEXT)) {
      std::wstring t = ItemText(c);
      if (t.size() >= suffix.size() && t.compare(t.size() - suffix.size(), suffix.size(), suffix) == 0) return c;
    }
    return nullptr;
  }

  void Click(int index) {
    RemoteBuffer remote(process_, sizeof(RECT));
    ASSERT_TRUE(SendMessageW(toolbar_, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.at())));
    RECT r{};
    remote.Read(&r, sizeof r);
    LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageW(toolbar_, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(toolbar_, WM_LBUTTONUP, 0, at);
  }

  bool SpyPressed() { return SendMessageW(toolbar_, TB_ISBUTTONCHECKED, spy::kButtonSpy, 0) != 0; }
  LRESULT LineCount() { return SendMessageW(log_, LB_GETCOUNT, 0, 0); }

  PROCESS_INFORMATION pi_{};
  PROCESS_INFORMATION notepad_pi_{};
  HWND notepad_ = nullptr;
  HANDLE process_ = nullptr;
  HWND main_ = nullptr, toolbar_ = nullptr, tree_ = nullptr, log_ = nullptr;
};

TEST_F(EndToEnd, SpyOnNotepadAndOnItsOwnWindowThenExit) {
  testing_support::TestWindow foreign(nullptr, L"Another program's window");
  StartNotepad();
  if (HasFatalFailure()) return;
  Start();
  if (HasFatalFailure()) return;

  // The stored placement was applied.
  RECT r;
  GetWindowRect(main_, &r);
  EXPECT_EQ(100, r.left);
  EXPECT_EQ(80, r.top);
  EXPECT_EQ(600, r.right - r.left);
  EXPECT_EQ(500, r.bottom - r.top);

  // The tree: the desktop as root, every top-level window below it.
  HTREEITEM root = Next(tree_, nullptr, TVGN_ROOT);
  const std::wstring root_text = ItemText(root);
  EXPECT_EQ(L" (Desktop)", root_text.substr(root_text.size() - 10));
  EXPECT_EQ(L'"', root_text[0]);
  HTREEITEM foreign_node = TopLevelNodeOf(foreign.hwnd());
  ASSERT_NE(nullptr, foreign_node);
  EXPECT_EQ(0u, ItemText(foreign_node).find(L"\"Another program's window\" HookwireTestWindow ("));

  // A program that nobody here wrote, Wine's own notepad, is watched through the hook: its messages fill
  // the log. Messages the test sends it arrive as lines with their names and parameters.
  ASSERT_NE(nullptr, notepad_);
  HTREEITEM notepad_node = TopLevelNodeOf(notepad_);
  ASSERT_NE(nullptr, notepad_node);
  SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(notepad_node));
  Click(1);
  ASSERT_TRUE(WaitFor([&] { return SpyPressed(); }));
  ASSERT_TRUE(WaitFor([&] {
    SendMessageW(notepad_, WM_NULL, 0x77, 0x88);
    std::vector<std::wstring> l = ListLines(log_);
    return std::find(l.begin(), l.end(), L"WM_NULL, 77, 88") != l.end();
  })) << "notepad's message was logged";
  PostMessageW(notepad_, WM_SETFOCUS, 0, 0);
  EXPECT_TRUE(WaitFor([&] {
    std::vector<std::wstring> l = ListLines(log_);
    return std::find(l.begin(), l.end(), L"WM_SETFOCUS, 0, 0") != l.end();
  })) << "posted messages are logged too";

  // Its own main window can: the click on the node moves the spying there.
  HTREEITEM own = TopLevelNodeOf(main_);
  ASSERT_NE(nullptr, own);
  SendMessageW(tree_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(own));
  SendMessageW(main_, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(main_, WM_NULL, 0x1234, -2);
  ASSERT_TRUE(WaitFor([&] { return LineCount() >= 2; }));
  std::vector<std::wstring> lines = ListLines(log_);
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"WM_GETTEXTLENGTH, 0, 0"));
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), L"WM_NULL, 1234, FFFFFFFE"));
  EXPECT_EQ(LineCount() - 1, SendMessageW(log_, LB_GETCURSEL, 0, 0));

  // Releasing "Spy" clears the log.
  Click(1);
  ASSERT_TRUE(WaitFor([&] { return !SpyPressed(); }));
  EXPECT_TRUE(WaitFor([&] { return LineCount() == 0; }));

  // "Exit" ends the program, which stores its placement under its own name.
  Click(0);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi_.hProcess, 15000));
  DWORD code = 99;
  GetExitCodeProcess(pi_.hProcess, &code);
  EXPECT_EQ(0u, code);
  EXPECT_EQ(L"3000", StoredSetting(L"Snoopet", L"SplitterPos"));
  EXPECT_EQ(L"1500", StoredSetting(L"Snoopet", L"Left"));
  EXPECT_EQ(L"1200", StoredSetting(L"Snoopet", L"Top"));
  EXPECT_EQ(L"9000", StoredSetting(L"Snoopet", L"Width"));
  EXPECT_EQ(L"7500", StoredSetting(L"Snoopet", L"Height"));
}

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindBox(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<BoxSearch*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  wchar_t cls[64] = {}, caption[64] = {};
  GetClassNameW(h, cls, 64);
  GetWindowTextW(h, caption, 64);
  if (pid == s->process && std::wstring(cls) == L"#32770" && std::wstring(caption) == L"Snoopet") {
    s->found = h;
    return FALSE;
  }
  return TRUE;
}

TEST_F(EndToEnd, WithoutHookwireTheProgramReportsTheErrorAndEnds) {
  HMODULE dll = LoadLibraryW(L"Hookwire.dll");
  ASSERT_NE(nullptr, dll);
  using Entry = HRESULT(STDAPICALLTYPE*)();
  auto reg = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
  auto unreg = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(dll, "DllUnregisterServer")));
  ASSERT_TRUE(reg && unreg);
  ASSERT_EQ(S_OK, unreg());
  struct Restore {
    Entry reg;
    HMODULE dll;
    ~Restore() {
      reg();  // the other tests need the server registered
      FreeLibrary(dll);
    }
  } restore{reg, dll};

  ASSERT_NO_FATAL_FAILURE(Launch());
  BoxSearch search{pi_.dwProcessId, nullptr};
  wchar_t text[512] = {};
  // The box window shows up before its text does.
  ASSERT_TRUE(WaitFor([&] {
    if (!search.found) EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    return search.found && GetDlgItemTextW(search.found, 0xFFFF, text, 512) > 0;
  }, 30000)) << "no error box with a text";
  EXPECT_EQ(0u, std::wstring(text).find(L"Run-time error '-2147221164 (80040154)':\r\n\r\n"))
      << testing::PrintToString(std::wstring(text));
  EXPECT_EQ(nullptr, FindWindowW(spy::kWindowClass, spy::kCaption)) << "start-up did not complete";
  PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi_.hProcess, 15000));
  DWORD code = 99;
  GetExitCodeProcess(pi_.hProcess, &code);
  EXPECT_EQ(1u, code) << "the program ends";
}

}  // namespace
}  // namespace spy_test
