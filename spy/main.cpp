// Snoopet: shows the window tree and logs the messages of a chosen window.
//
// `Snoopet.exe /demo <ready-file>` is used by scripts/main.sh only: the program selects its
// own main window, presses "Spy", makes some traffic for it, writes the number of logged
// lines to <ready-file> and waits until that file is gone (a screenshot has been taken) before
// it exits: 0 when lines were logged, 1 otherwise. With /tools after the file it shows the tools
// one view after another, each announced in <ready-file> as "<lines> <view>" and left when the
// file is gone: "details" (the pane with a decoded line, a filter on, the finder dragged over the
// tree), "menu" (several lines selected, the log's menu with its Filter submenu open),
// "window" (the finder dropped on the toolbar: its node and what is known of it), "find" (a window
// found in the tree by its class), "logfind" (a text found in the log, back on the main window) and
// "windowinfo" (the window inspector for the toolbar). With /family instead it makes a small
// dialog of its own and watches it with its children: "family" (the family's lines, each led by
// its window, and its nodes in bold), "scope" (the log's Spy Scope submenu) and "windowfilter"
// (a line of the edit box selected, the Filter submenu offering its window). The user's settings
// are left as they were.
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
#include "screen_capture.h"

namespace {

struct Demo {
  spy::MainWindow* window = nullptr;
  std::wstring ready_file;
  bool tools = false;
  bool family = false;
  HWND dialog = nullptr;
  int user_scope = 0;
  bool user_scope_new = false;
  int step = 0;
  int status = 1;
  DWORD waiting_since = 0;
  bool waiting = false;
  spy::MessageFilter user_filter;  // put back at the end
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

// Tells the script that a view is ready for its screenshot. The tools' views are taken here, from
// inside (<ready-file>.bmp): a screenshot of the X display shows the platform's popup menus black.
void Announce(Demo& d, const char* view) {
  const LRESULT lines = CountLines();
  if (lines > 0) d.status = 0;
  if (d.tools || d.family) common::SaveScreen(d.ready_file + L".bmp");
  if (FILE* f = _wfopen(d.ready_file.c_str(), L"w")) {
    std::fprintf(f, "%ld %s\n", static_cast<long>(lines), view);
    std::fclose(f);
  }
  d.waiting = true;
  d.waiting_since = GetTickCount();
}

// Selects a line of the log as a click would (the details pane follows).
void SelectLine(spy::MainWindow& w, LRESULT line) {
  SendMessageW(w.log(), LB_SETCURSEL, static_cast<WPARAM>(line), 0);
  SendMessageW(w.hwnd(), WM_COMMAND, MAKEWPARAM(102, LBN_SELCHANGE), reinterpret_cast<LPARAM>(w.log()));
}

// The finder pressed and moved over a window (its centre), as a drag by the user.
void DragFinderOver(spy::MainWindow& w, HWND over, bool drop) {
  RECT r;
  GetWindowRect(over, &r);
  POINT at{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ScreenToClient(w.finder(), &at);
  SendMessageW(w.finder(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
  SendMessageW(w.finder(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(at.x, at.y));
  if (drop) SendMessageW(w.finder(), WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
}

// A dialog template built in memory: a caption, then each control's item.
class DialogTemplate {
 public:
  DialogTemplate(const wchar_t* caption, short cx, short cy) {
    DLGTEMPLATE t{};
    t.style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    t.cx = cx;
    t.cy = cy;
    Add(&t, sizeof t);
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(caption);
    Word(9);
    Text(L"Tahoma");
  }
  void Control(WORD atom, const wchar_t* text, WORD id, DWORD style, short x, short y, short cx, short cy) {
    while (bytes_.size() % 4) bytes_.push_back(0);
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = id;
    Add(&item, sizeof item);
    Word(0xFFFF);
    Word(atom);
    Text(text);
    Word(0);  // no creation data
    reinterpret_cast<DLGTEMPLATE*>(bytes_.data())->cdit++;
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_.data()); }

 private:
  void Add(const void* p, size_t n) {
    const auto* b = static_cast<const BYTE*>(p);
    bytes_.insert(bytes_.end(), b, b + n);
  }
  void Word(WORD w) { Add(&w, sizeof w); }
  void Text(const wchar_t* t) { Add(t, (wcslen(t) + 1) * sizeof(wchar_t)); }
  std::vector<BYTE> bytes_;
};

INT_PTR CALLBACK SampleDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

// The sample dialog the family views watch: a label, an edit box, a check box and two buttons.
HWND MakeSampleDialog() {
  DialogTemplate t(L"Rename Item", 180, 74);
  t.Control(0x0082, L"&New name:", 100, SS_LEFT, 7, 9, 44, 8);
  t.Control(0x0081, L"", 101, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 54, 7, 119, 12);
  t.Control(0x0080, L"&Keep the old one as a copy", 102, BS_AUTOCHECKBOX | WS_TABSTOP, 54, 25, 119, 10);
  t.Control(0x0080, L"OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, 69, 53, 50, 14);
  t.Control(0x0080, L"Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, 123, 53, 50, 14);
  HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), t.get(), nullptr, SampleDialogProc, 0);
  if (dialog) SetWindowPos(dialog, nullptr, 70, 620, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  return dialog;
}

// The family views: the sample dialog watched with its children, as a user typing a name, ticking
// the box and pressing OK would make it talk.
void FamilyStep(Demo& d, spy::MainWindow& w, int step) {
  HWND edit = d.dialog ? GetDlgItem(d.dialog, 101) : nullptr;
  if (step == 0) {
    d.dialog = MakeSampleDialog();
    d.user_scope = w.scope();
    d.user_scope_new = w.scope_new();
    d.user_filter = w.filter();
    spy::MessageFilter f;
    f.SetGroups(L"Mouse");  // the mouse's flood of moves and hit tests left out
    w.SetFilter(f);
    w.SetScope(1, false);  // With Its Children
    return;
  }
  if (step == 1) {
    if (!d.dialog || !w.SelectWindow(d.dialog)) return;
    if (HTREEITEM node = w.FindNode(L"H" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(d.dialog)))))
      SendMessageW(w.tree(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(node));
    SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
    ClickButton(w.toolbar(), 1);  // "Spy"
    return;
  }
  if (step == 3 && edit) SetFocus(edit);
  if (step >= 4 && step < 4 + 7 && edit) SendMessageW(edit, WM_CHAR, L"Invoice"[step - 4], 1);
  if (step == 12 && d.dialog) SendDlgItemMessageW(d.dialog, 102, BM_CLICK, 0, 0);
  if (step == 14 && d.dialog) SendDlgItemMessageW(d.dialog, IDOK, BM_CLICK, 0, 0);
  if (step == 20) Announce(d, "family");
  if (step == 21) PostMessageW(w.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(w.log()), -1);
  if (step == 23) PostMessageW(w.hwnd(), WM_CHAR, L'e', 0);  // "Spy Scop&e"
  if (step == 26) Announce(d, "scope");
  if (step == 27) {
    EndMenu();
    // The last line of the edit box selected, and the Filter submenu opened on it.
    w.SetPaused(true);
    w.UpdateLog();
    const auto edit_value = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(edit));
    for (LRESULT i = SendMessageW(w.log(), LB_GETCOUNT, 0, 0); edit && i-- > 0;) {
      const spy::LogRecord* r = w.RecordOfLine(i);
      if (r && r->family && static_cast<uint32_t>(r->window) == edit_value) {
        SelectLine(w, i);
        break;
      }
    }
    SetFocus(w.log());
  }
  if (step == 29) PostMessageW(w.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(w.log()), -1);
  if (step == 31) PostMessageW(w.hwnd(), WM_CHAR, L'f', 0);  // "&Filter"
  if (step == 34) Announce(d, "windowfilter");
  if (step == 35) {
    EndMenu();
    ClickButton(w.toolbar(), 1);  // Spy released
  }
  if (step == 36) {
    w.SetFilter(d.user_filter);
    w.SetScope(d.user_scope, d.user_scope_new);
    if (d.dialog) DestroyWindow(d.dialog);
    d.dialog = nullptr;
    ClickButton(w.toolbar(), 0);  // "Exit"
  }
}

void CALLBACK DemoStep(HWND, UINT, UINT_PTR, DWORD) {
  Demo& d = *g_demo;
  spy::MainWindow& w = *d.window;
  if (w.closed()) return;
  if (d.waiting) {
    // The script takes the screenshot and removes the file; a minute at most.
    const bool gone = GetFileAttributesW(d.ready_file.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (!gone && GetTickCount() - d.waiting_since < 60000) return;
    if (!gone) d.status = 1;
    d.waiting = false;
  }
  const int step = d.step++;
  if (d.family) {
    FamilyStep(d, w, step);
    return;
  }
  if (step == 0) {
    // Select the program's own main window in the tree and press "Spy".
    const std::wstring key = L"H" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(w.hwnd())));
    if (HTREEITEM node = w.FindNode(key)) {
      SendMessageW(w.tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
      SendMessageW(w.tree(), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
      SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);  // pictures and lines in view
    }
    if (d.tools) {  // not stored: the user's settings stay as they are (the filter is put back)
      w.ShowDetails(true);
      w.ShowFinder(true);
      d.user_filter = w.filter();
      spy::MessageFilter f;
      f.SetGroups(L"Mouse");  // the flood of mouse moves and hit tests left out
      w.SetFilter(f);
    }
    ClickButton(w.toolbar(), 1);
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
  if (!d.tools) {
    if (step == 46) Announce(d, "log");
    else if (step > 46) ClickButton(w.toolbar(), 0);  // "Exit"
    return;
  }
  switch (step) {
    case 46: {
      // Pause, then select the newest line whose parameters say something.
      w.SetPaused(true);
      w.UpdateLog();
      const LRESULT lines = CountLines();
      if (lines <= 0) return;
      LRESULT pick = lines - 1;
      for (LRESULT i = lines; i-- > 0;)
        if (const spy::LogRecord* r = w.RecordOfLine(i); r && r->msg == WM_WINDOWPOSCHANGED) {
          pick = i;
          break;
        }
      SelectLine(w, pick);
      return;
    }
    case 47:  // the finder dragged over the tree: the tree is outlined
      if (w.finder()) DragFinderOver(w, w.tree(), false);
      return;
    case 48: Announce(d, "details"); return;
    case 49: {
      // The drag given up (Esc); several lines selected, up to the one in the pane.
      SendMessageW(w.finder(), WM_KEYDOWN, VK_ESCAPE, 0);
      const LRESULT line = SendMessageW(w.log(), LB_GETCURSEL, 0, 0);
      w.SetSeveralLines(true);  // the tree is built anew: its pictures and lines back in view
      SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
      if (line >= 3) {
        SendMessageW(w.log(), LB_SETSEL, FALSE, -1);
        SendMessageW(w.log(), LB_SELITEMRANGE, TRUE, MAKELPARAM(line - 3, line));
        SendMessageW(w.log(), LB_SETCARETINDEX, static_cast<WPARAM>(line), FALSE);
      }
      // The log's menu opens from the main loop (the menu has its own loop, where these
      // steps go on).
      SetFocus(w.log());
      PostMessageW(w.hwnd(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(w.log()), -1);
      return;
    }
    case 51: PostMessageW(w.hwnd(), WM_CHAR, L'f', 0); return;  // "&Filter"
    case 54: Announce(d, "menu"); return;
    case 55: EndMenu(); return;
    case 57:  // its node selected, its details shown
      DragFinderOver(w, w.toolbar(), true);
      SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
      return;
    case 60: Announce(d, "window"); return;
    case 61:  // a window found in the tree by its class, as typed into the find box (Ctrl+F)
      w.ShowFindBox(false);
      if (HWND edit = w.find_box() ? GetDlgItem(w.find_box(), 1) : nullptr) {
        SetWindowTextW(edit, L"ListBox");
        SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
      }
      SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
      return;
    case 63: Announce(d, "find"); return;
    case 64:  // back to the main window, its log going on for a moment
      w.SelectWindow(w.hwnd());
      SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
      w.SetPaused(false);
      return;
    case 65:
    case 66:
    case 67:
      SendMessageW(w.hwnd(), WM_GETTEXTLENGTH, 0, 0);
      SetWindowPos(w.hwnd(), nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
      return;
    case 68: {  // paused, a text found in the log (Ctrl+F in the log)
      w.SetPaused(true);
      w.ShowFindBox(true);
      if (HWND edit = w.find_box() ? GetDlgItem(w.find_box(), 1) : nullptr) {
        SetWindowTextW(edit, L"WM_GETTEXTLENGTH");
        SendMessageW(edit, WM_KEYDOWN, VK_RETURN, 0);
      }
      return;
    }
    case 70: Announce(d, "logfind"); return;
    case 71:  // the toolbar's node selected (the log follows it), its inspector (Ctrl+I in the tree)
      w.SelectWindow(w.toolbar());
      SendMessageW(w.tree(), WM_HSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 0), 0);
      w.ShowInspector();
      return;
    case 73: Announce(d, "windowinfo"); return;
    case 74:
      if (w.find_box()) ShowWindow(w.find_box(), SW_HIDE);
      if (w.inspector()) SendMessageW(w.inspector(), WM_CLOSE, 0, 0);
      w.SetFilter(d.user_filter);
      ClickButton(w.toolbar(), 0);  // "Exit"
      return;
    default: return;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < argc; ++i) args.emplace_back(argv[i]);
  if (argv) LocalFree(argv);
  // Anything the program does not know ends it with the usage: a script must never be left
  // waiting on a window nobody sees.
  enum class Mode { Window, Capture, Demo } mode = Mode::Window;
  Demo demo;
  if (!args.empty()) {
    std::wstring unknown = args[0];
    if (spy::IsSwitch(args[0], L"?") || spy::IsSwitch(args[0], L"help")) {
      spy::WriteOutput(spy::UsageText());
      return 0;
    }
    if (spy::IsSwitch(args[0], L"inspect")) return spy::RunCommandLineInspect({args.begin() + 1, args.end()});
    if (spy::IsSwitch(args[0], L"capture")) {
      mode = Mode::Capture;
    } else if (spy::IsSwitch(args[0], L"demo") && args.size() >= 2) {
      mode = Mode::Demo;
      demo.ready_file = args[1];
      for (size_t i = 2; i < args.size() && mode == Mode::Demo; ++i) {
        if (spy::IsSwitch(args[i], L"tools")) demo.tools = true;
        else if (spy::IsSwitch(args[i], L"family")) demo.family = true;
        else unknown = args[i], mode = Mode::Window;
      }
    }
    if (mode == Mode::Window) {
      spy::WriteError(L"unknown argument: " + unknown);
      spy::WriteError(L"usage:\r\n" + spy::UsageText());
      return spy::kCaptureBadArguments;
    }
  }
  if (FAILED(OleInitialize(nullptr))) {
    spy::WriteError(L"OLE could not be initialised");
    return spy::kOleFailed;
  }
  if (mode == Mode::Capture) {
    // A capture from the command line: no window of Snoopet's own.
    const int code = spy::RunCommandLineCapture(std::vector<std::wstring>(args.begin() + 1, args.end()));
    OleUninitialize();
    return code;
  }
  if (mode == Mode::Demo) g_demo = &demo;

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
