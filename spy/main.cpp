// Snoopet: shows the window tree and logs the messages of a chosen window.
//
// `Snoopet.exe /demo <ready-file>` is used by scripts/main.sh only: the program selects its
// own main window, presses "Spy", makes some traffic for it, writes the number of logged
// lines to <ready-file> and waits until that file is gone (a screenshot has been taken) before
// it exits: 0 when lines were logged, 1 otherwise. With /tools after the file the details pane is
// shown too; the log is paused at the end, a line with decoded parameters is selected and the finder
// tool is dragged over the tree.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command_capture.h"
#include "hex.h"
#include "main_window.h"

namespace {

struct Demo {
  spy::MainWindow* window = nullptr;
  std::wstring ready_file;
  bool tools = false;
  int step = 0;
  int status = 1;
  DWORD waiting_since = 0;
};
Demo* g_demo = nullptr;

LRESULT CountLines() { return SendMessageW(g_demo->window->log(), LB_GETCOUNT, 0, 0); }

void ClickButton(HWND toolbar, int index) {
  RECT r{};
  if (!SendMessageW(toolbar, TB_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&r))) return;
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  SendMessageW(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(toolbar, WM_LBUTTONUP, 0, at);
}

void CALLBACK DemoStep(HWND, UINT, UINT_PTR, DWORD) {
  Demo& d = *g_demo;
  spy::MainWindow& w = *d.window;
  if (w.closed()) return;
  const int step = d.step++;
  if (step == 0) {
    // Select the program's own main window in the tree and press "Spy".
    const std::wstring key = L"H" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(w.hwnd())));
    if (HTREEITEM node = w.FindNode(key)) {
      SendMessageW(w.tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
      SendMessageW(w.tree(), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
      SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);  // pictures and lines in view
    }
    if (d.tools) {  // not stored: the user's settings stay as they are
      w.ShowDetails(true);
      w.ShowFinder(true);
    }
    ClickButton(w.toolbar(), 1);
    return;
  }
  if (step == 46 && d.tools) {
    // Pause, then select the newest line whose parameters say something.
    w.SetPaused(true);
    const auto& records = w.store().records();
    if (records.empty()) return;
    size_t pick = records.size() - 1;
    for (size_t i = records.size(); i-- > 0;)
      if (records[i].msg == WM_WINDOWPOSCHANGED) {
        pick = i;
        break;
      }
    SendMessageW(w.log(), LB_SETCURSEL, pick, 0);
    SendMessageW(w.hwnd(), WM_COMMAND, MAKEWPARAM(102, LBN_SELCHANGE), reinterpret_cast<LPARAM>(w.log()));
    return;
  }
  if (step <= 40) {
    // Traffic for the watched window: the mouse over the form, a frame change, a text query.
    RECT r;
    GetWindowRect(w.hwnd(), &r);
    const int x = r.left + 40 + (step * 23) % std::max(1L, r.right - r.left - 80);
    const int y = r.top + 80 + (step * 37) % std::max(1L, r.bottom - r.top - 160);
    SetCursorPos(x, y);
    if (step % 8 == 0)
      SetWindowPos(w.hwnd(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    SendMessageW(w.hwnd(), WM_GETTEXTLENGTH, 0, 0);
    return;
  }
  if (step == 47 && d.tools && w.finder()) {
    // The finder dragged over the tree: the tree is outlined in the screenshot.
    RECT r;
    GetWindowRect(w.tree(), &r);
    POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ScreenToClient(w.finder(), &at);
    SendMessageW(w.finder(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    SendMessageW(w.finder(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(at.x, at.y));
    return;
  }
  if (step == 48) {
    const LRESULT lines = CountLines();
    d.status = lines > 0 ? 0 : 1;
    if (FILE* f = _wfopen(d.ready_file.c_str(), L"w")) {
      std::fprintf(f, "%ld\n", static_cast<long>(lines));
      std::fclose(f);
    }
    d.waiting_since = GetTickCount();
    return;
  }
  if (step > 48) {
    const bool gone = GetFileAttributesW(d.ready_file.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (gone || GetTickCount() - d.waiting_since > 60000) {
      if (CountLines() == 0) d.status = 1;
      ClickButton(w.toolbar(), 0);  // "Exit"
    }
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  if (FAILED(OleInitialize(nullptr))) return 3;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv && argc >= 2 && lstrcmpiW(argv[1], L"/capture") == 0) {
    // A capture from the command line: no window of Snoopet's own.
    std::vector<std::wstring> args(argv + 2, argv + argc);
    LocalFree(argv);
    const int code = spy::RunCommandLineCapture(args);
    OleUninitialize();
    return code;
  }
  Demo demo;
  if (argv && argc >= 3 && lstrcmpiW(argv[1], L"/demo") == 0) {
    demo.ready_file = argv[2];
    for (int i = 3; i < argc; ++i) {
      if (lstrcmpiW(argv[i], L"/tools") == 0) demo.tools = true;
    }
    g_demo = &demo;
  }
  if (argv) LocalFree(argv);

  int status = 0;
  {
    std::unique_ptr<spy::MainWindow> window;
    try {
      window = std::make_unique<spy::MainWindow>(spy::MainWindowOptions{L"", true});
    } catch (const common::RuntimeError& e) {
      spy::MainWindow::FatalErrorHandler()(e);
      OleUninitialize();
      return 1;
    }
    window->Show(show);
    if (g_demo) {
      demo.window = window.get();
      SetTimer(nullptr, 0, 60, DemoStep);
    }
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    status = static_cast<int>(m.wParam);
    if (g_demo) status = demo.status;
  }
  OleUninitialize();
  return status;
}
