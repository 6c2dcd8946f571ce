// Tools for a chosen window and for the log, each off until the user asks for it: the window
// inspector, finding a window in the tree or text in the log, flashing a window's outline, keeping
// Snoopet on top, decimal parameters and the log's length.
#include <windows.h>
#include <windowsx.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <map>

#include "hex.h"
#include "main_window.h"
#include "settings.h"
#include "same_handle.h"

namespace spy {

namespace {

constexpr const wchar_t* kToolSection = L"Tools";
constexpr wchar_t kToolWindowClass[] = L"SnoopetToolWindow";
constexpr int kFindEditId = 1, kFindNextId = 2, kFindPreviousId = 3;
constexpr int kFlashes = 6;            // the outline drawn and taken away three times
constexpr UINT kFlashIntervalMs = 120;

struct NamedBit {
  uint32_t bit;
  const wchar_t* name;
};
#define B(x) {static_cast<uint32_t>(x), L## #x}
const NamedBit kStyles[] = {
    B(WS_POPUP), B(WS_CHILD), B(WS_MINIMIZE), B(WS_VISIBLE), B(WS_DISABLED), B(WS_CLIPSIBLINGS),
    B(WS_CLIPCHILDREN), B(WS_MAXIMIZE), B(WS_CAPTION), B(WS_BORDER), B(WS_DLGFRAME), B(WS_VSCROLL), B(WS_HSCROLL),
    B(WS_SYSMENU), B(WS_THICKFRAME), B(WS_GROUP), B(WS_TABSTOP),
};
const NamedBit kTopLevelBoxes[] = {B(WS_MINIMIZEBOX), B(WS_MAXIMIZEBOX)};  // the same bits as group / tab stop
const NamedBit kExStyles[] = {
    B(WS_EX_DLGMODALFRAME), B(WS_EX_NOPARENTNOTIFY), B(WS_EX_TOPMOST), B(WS_EX_ACCEPTFILES), B(WS_EX_TRANSPARENT),
    B(WS_EX_MDICHILD), B(WS_EX_TOOLWINDOW), B(WS_EX_WINDOWEDGE), B(WS_EX_CLIENTEDGE), B(WS_EX_CONTEXTHELP),
    B(WS_EX_RIGHT), B(WS_EX_RTLREADING), B(WS_EX_LEFTSCROLLBAR), B(WS_EX_CONTROLPARENT), B(WS_EX_STATICEDGE),
    B(WS_EX_APPWINDOW), B(WS_EX_LAYERED), B(WS_EX_NOINHERITLAYOUT), B(WS_EX_LAYOUTRTL), B(WS_EX_COMPOSITED),
    B(WS_EX_NOACTIVATE),
};
const NamedBit kClassStyles[] = {
    B(CS_VREDRAW), B(CS_HREDRAW), B(CS_DBLCLKS), B(CS_OWNDC), B(CS_CLASSDC), B(CS_PARENTDC), B(CS_NOCLOSE),
    B(CS_SAVEBITS), B(CS_BYTEALIGNCLIENT), B(CS_BYTEALIGNWINDOW), B(CS_GLOBALCLASS), B(CS_DROPSHADOW),
};
#undef B

template <size_t N>
std::wstring BitNames(const NamedBit (&bits)[N], uint32_t value, uint32_t* rest) {
  std::wstring out;
  for (const auto& b : bits)
    if ((value & b.bit) == b.bit && (*rest & b.bit)) {
      out += (out.empty() ? L"" : L" | ") + std::wstring(b.name);
      *rest &= ~b.bit;
    }
  return out;
}

std::wstring Styles(uint32_t style, bool child) {
  uint32_t rest = style;
  std::wstring out = BitNames(kStyles, style & ~(child ? 0u : static_cast<uint32_t>(WS_MINIMIZEBOX | WS_MAXIMIZEBOX)), &rest);
  if (!child) {
    const std::wstring boxes = BitNames(kTopLevelBoxes, style, &rest);
    if (!boxes.empty()) out += (out.empty() ? L"" : L" | ") + boxes;
  }
  if (rest & 0xFFFF) out += (out.empty() ? L"" : L" | ") + common::Hex(static_cast<int32_t>(rest & 0xFFFF)) + L" (the class's own)";
  return L"0x" + common::Hex(static_cast<int32_t>(style)) + (out.empty() ? L"" : L" " + out);
}

template <size_t N>
std::wstring Flags(const NamedBit (&bits)[N], uint32_t value) {
  uint32_t rest = value;
  std::wstring out = BitNames(bits, value, &rest);
  if (rest) out += std::wstring(out.empty() ? L"" : L" | ") + L"0x" + common::Hex(static_cast<int32_t>(rest));
  return L"0x" + common::Hex(static_cast<int32_t>(value)) + (out.empty() ? L"" : L" " + out);
}

std::wstring RectText(const RECT& r) {
  wchar_t buf[96];
  std::swprintf(buf, 96, L"(%ld,%ld)-(%ld,%ld) %ldx%ld", r.left, r.top, r.right, r.bottom, r.right - r.left,
                r.bottom - r.top);
  return buf;
}

std::wstring PtrHex(ULONG_PTR v) {
  wchar_t buf[24];
  std::swprintf(buf, 24, L"0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

BOOL CALLBACK CollectProp(HWND, LPWSTR name, HANDLE value, ULONG_PTR out) {
  auto& text = *reinterpret_cast<std::wstring*>(out);
  std::wstring n;
  if (IS_INTRESOURCE(name)) {
    wchar_t atom[256] = {};
    n = GlobalGetAtomNameW(static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name)), atom, 256) ? std::wstring(atom)
                                                                                          : L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name));
  } else {
    n = name;
  }
  text += L"\r\n\t" + n + L" = " + PtrHex(reinterpret_cast<ULONG_PTR>(value));
  return TRUE;
}

bool Contains(const std::wstring& text, const std::wstring& what) {
  if (what.empty()) return false;
  auto it = std::search(text.begin(), text.end(), what.begin(), what.end(),
                        [](wchar_t a, wchar_t b) { return std::towlower(a) == std::towlower(b); });
  return it != text.end();
}

ATOM RegisterToolWindowClass(WNDPROC proc) {
  static ATOM atom = 0;
  if (!atom) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kToolWindowClass;
    atom = RegisterClassExW(&wc);
  }
  return atom;
}

}  // namespace

// --- the inspector ----------------------------------------------------------------------------------

std::wstring MainWindow::InspectWindow(HWND h) {
  if (!h || !IsWindow(h)) return L"The window is gone (press F5 to refresh the tree).";
  const bool child = (GetWindowLongW(h, GWL_STYLE) & WS_CHILD) != 0;
  wchar_t cls[256] = {};
  GetClassNameW(h, cls, 256);
  std::wstring s = L"Window\t" + MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(h));
  s += L"\r\n\r\nClass\t" + std::wstring(cls);
  s += L"\r\nClass styles\t" + Flags(kClassStyles, static_cast<uint32_t>(GetClassLongW(h, GCL_STYLE)));
  DWORD pid = 0;
  const DWORD tid = GetWindowThreadProcessId(h, &pid);
  const bool own = pid == GetCurrentProcessId();
  s += L"\r\nWindow procedure\t" + PtrHex(GetClassLongPtrW(h, GCLP_WNDPROC)) + L" (class), " +
       PtrHex(static_cast<ULONG_PTR>(GetWindowLongPtrW(h, GWLP_WNDPROC))) + L" (window)" +
       (own ? L"" : L", addresses in the window's process");
  s += L"\r\nIcons\t" + PtrHex(GetClassLongPtrW(h, GCLP_HICON)) + L", small " + PtrHex(GetClassLongPtrW(h, GCLP_HICONSM));
  s += L"\r\nCursor\t" + PtrHex(GetClassLongPtrW(h, GCLP_HCURSOR));
  s += L"\r\nBackground\t" + PtrHex(GetClassLongPtrW(h, GCLP_HBRBACKGROUND));
  s += L"\r\nExtra bytes\tclass " + std::to_wstring(GetClassLongW(h, GCL_CBCLSEXTRA)) + L", window " +
       std::to_wstring(GetClassLongW(h, GCL_CBWNDEXTRA));

  s += L"\r\n\r\nStyles\t" + Styles(static_cast<uint32_t>(GetWindowLongW(h, GWL_STYLE)), child);
  s += L"\r\nExtended styles\t" + Flags(kExStyles, static_cast<uint32_t>(GetWindowLongW(h, GWL_EXSTYLE)));
  s += L"\r\nId\t" + std::to_wstring(static_cast<long long>(GetWindowLongPtrW(h, GWLP_ID)));
  HWND parent = GetAncestor(h, GA_PARENT), owner = GetWindow(h, GW_OWNER);
  s += L"\r\nParent\t" + (parent ? MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(parent)) : std::wstring(L"(none)"));
  s += L"\r\nOwner\t" + (owner ? MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(owner)) : std::wstring(L"(none)"));
  RECT r{};
  GetWindowRect(h, &r);
  s += L"\r\nWindow rectangle\t" + RectText(r);
  GetClientRect(h, &r);
  s += L"\r\nClient rectangle\t" + RectText(r);
  UINT dpi = 0;
  using DpiForWindow = UINT(WINAPI*)(HWND);
  if (auto get = reinterpret_cast<DpiForWindow>(
          reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow"))))
    dpi = get(h);
  if (!dpi) {
    HDC dc = GetDC(h);
    dpi = static_cast<UINT>(GetDeviceCaps(dc, LOGPIXELSX));
    ReleaseDC(h, dc);
  }
  s += L"\r\nDots per inch\t" + std::to_wstring(dpi);
  std::wstring props;
  EnumPropsExW(h, &CollectProp, reinterpret_cast<LPARAM>(&props));
  s += L"\r\nProperties\t" + (props.empty() ? std::wstring(L"(none)") : props);

  std::wstring file = L"(not readable)", bits = L"";
  if (HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = MAX_PATH;
    if (QueryFullProcessImageNameW(p, 0, path, &n)) file.assign(path, n);
    BOOL wow = FALSE;
    const bool wide_system = sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow) && wow);
    wow = FALSE;
    if (IsWow64Process(p, &wow)) bits = !wide_system || wow ? L", 32-bit" : L", 64-bit";
    CloseHandle(p);
  }
  s += L"\r\n\r\nProcess\t" + file + bits + L", id " + std::to_wstring(pid);
  s += L"\r\nThread\tid " + std::to_wstring(tid);
  return s;
}

void MainWindow::ShowInspector() {
  auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  const std::wstring tag = NodeTag(node);
  HWND h = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(tag.c_str(), nullptr, 10)));
  std::wstring text;
  {
    ++log_busy_;  // reading about a window sends it messages: no news for the log
    struct Busy {
      int& n;
      ~Busy() { --n; }
    } busy{log_busy_};
    text = node ? InspectWindow(h) : std::wstring(L"Select a window in the tree to inspect it.");
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterToolWindowClass(&MainWindow::ToolWindowProc);
  if (!inspector_ || !IsWindow(inspector_)) {
    RECT main{};
    GetWindowRect(hwnd_, &main);
    inspector_ = CreateWindowExW(WS_EX_TOOLWINDOW, kToolWindowClass, L"Window Inspector",
                                 WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, main.left + 60, main.top + 60,
                                 560, 480, hwnd_, nullptr, instance, this);
    HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", nullptr,
                                WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                                    ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                0, 0, 0, 0, inspector_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFindEditId)),
                                instance, nullptr);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    const int tab = 70;
    SendMessageW(edit, EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&tab));
    RECT c;
    GetClientRect(inspector_, &c);
    MoveWindow(edit, 0, 0, c.right, c.bottom, FALSE);
  }
  SetDlgItemTextW(inspector_, kFindEditId, text.c_str());
  ShowWindow(inspector_, SW_SHOW);
  SetFocus(GetDlgItem(inspector_, kFindEditId));
}

// --- finding -----------------------------------------------------------------------------------------

bool MainWindow::FindWindowNode(const std::wstring& what_in, bool forward) {
  std::wstring what = what_in;
  while (!what.empty() && what.back() == L' ') what.pop_back();
  while (!what.empty() && what.front() == L' ') what.erase(what.begin());
  if (what.empty()) return false;
  // A number is also a process id; "0x..." also a handle.
  wchar_t* end = nullptr;
  const unsigned long long number = std::wcstoull(what.c_str(), &end, 0);
  const bool is_number = end && !*end;
  // The nodes in the tree's order.
  std::vector<HTREEITEM> order;
  std::vector<HTREEITEM> stack;
  for (HTREEITEM n = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_ROOT, 0)); n;
       n = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(n))))
    stack.push_back(n);
  std::reverse(stack.begin(), stack.end());
  while (!stack.empty()) {
    HTREEITEM n = stack.back();
    stack.pop_back();
    order.push_back(n);
    std::vector<HTREEITEM> children;
    for (HTREEITEM c = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(n)));
         c; c = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(c))))
      children.push_back(c);
    stack.insert(stack.end(), children.rbegin(), children.rend());
  }
  if (order.empty()) return false;
  auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  size_t at = std::find(order.begin(), order.end(), selected) - order.begin();
  const size_t n = order.size();
  for (size_t step = 1; step <= n; ++step) {
    const size_t i = at >= n ? (forward ? step - 1 : n - step) : forward ? (at + step) % n : (at + n - step) % n;
    HTREEITEM node = order[i];
    wchar_t text[1024] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = text;
    item.cchTextMax = 1024;
    SendMessageW(tvWindows_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    bool match = Contains(text, what);
    if (!match && is_number) {
      HWND h = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(NodeTag(node).c_str(), nullptr, 10)));
      DWORD pid = 0;
      if (h) GetWindowThreadProcessId(h, &pid);
      // (A handle with bit 31 set may be held sign-extended: its low 32 bits name it.)
      match = (h && pid == number) ||
              (h && number <= 0xFFFFFFFFull &&
               common::SameHandle(h, reinterpret_cast<const void*>(static_cast<ULONG_PTR>(number))));
    }
    if (match) {
      // A selection as by the user: with Spy pressed the log follows the window.
      SendMessageW(tvWindows_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
      SendMessageW(tvWindows_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
      return true;
    }
  }
  return false;
}

bool MainWindow::FindLogLine(const std::wstring& what, bool forward) {
  const LRESULT n = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
  if (n <= 0 || what.empty()) return false;
  const LRESULT at = CurrentLine();
  for (LRESULT step = 1; step <= n; ++step) {
    const LRESULT i = at < 0 ? (forward ? step - 1 : n - step) : forward ? (at + step) % n : (at + n - step) % n;
    if (!Contains(LogLine(i), what)) continue;
    if (several_lines_) SelectOnlyLine(i);
    else SendMessageW(lstOut_, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
    details_of_tree_ = false;
    UpdateDetails();
    return true;
  }
  return false;
}

void MainWindow::ShowFindBox(bool in_log) {
  find_in_log_ = in_log;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterToolWindowClass(&MainWindow::ToolWindowProc);
  if (!find_box_ || !IsWindow(find_box_)) {
    RECT main{};
    GetWindowRect(hwnd_, &main);
    RECT size{0, 0, 330, 34};
    AdjustWindowRectEx(&size, WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_TOOLWINDOW);
    find_box_ = CreateWindowExW(WS_EX_TOOLWINDOW, kToolWindowClass, L"Find", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                main.right - (size.right - size.left) - 40, main.top + 80, size.right - size.left,
                                size.bottom - size.top, hwnd_, nullptr, instance, this);
    HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    find_edit_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", nullptr, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                                 6, 6, 150, 22, find_box_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFindEditId)),
                                 instance, nullptr);
    HWND next = CreateWindowExW(0, L"BUTTON", L"&Next", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 162, 5,
                                78, 24, find_box_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFindNextId)), instance,
                                nullptr);
    HWND previous = CreateWindowExW(0, L"BUTTON", L"&Previous", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 244, 5, 80, 24,
                                    find_box_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFindPreviousId)), instance,
                                    nullptr);
    for (HWND c : {find_edit_, next, previous}) SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowLongPtrW(find_edit_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    find_edit_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(find_edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::FindEditProc)));
  }
  SetWindowTextW(find_box_, in_log ? L"Find in the Log" : L"Find a Window (caption, class, handle or process id)");
  ShowWindow(find_box_, SW_SHOW);
  SetFocus(find_edit_);
  SendMessageW(find_edit_, EM_SETSEL, 0, -1);
}

void MainWindow::FindFromBox(bool forward) {
  wchar_t text[256] = {};
  GetWindowTextW(find_edit_, text, 256);
  const bool found = find_in_log_ ? FindLogLine(text, forward) : FindWindowNode(text, forward);
  if (!found) MessageBeep(MB_ICONASTERISK);
  SetWindowTextW(find_box_, found ? (find_in_log_ ? L"Find in the Log" : L"Find a Window (caption, class, handle or process id)")
                                  : L"Not found");
}

LRESULT CALLBACK MainWindow::FindEditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->find_edit_proc_) return DefWindowProcW(h, msg, wp, lp);
  if (msg == WM_KEYDOWN && (wp == VK_RETURN || wp == VK_F3)) {
    self->FindFromBox((GetKeyState(VK_SHIFT) & 0x8000) == 0);
    return 0;
  }
  if (msg == WM_KEYDOWN && wp == VK_ESCAPE) {
    ShowWindow(self->find_box_, SW_HIDE);
    SetFocus(self->find_in_log_ ? self->lstOut_ : self->tvWindows_);
    return 0;
  }
  if (msg == WM_CHAR && (wp == L'\r' || wp == 27)) return 0;
  return CallWindowProcW(self->find_edit_proc_, h, msg, wp, lp);
}

LRESULT CALLBACK MainWindow::ToolWindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE)
    SetWindowLongPtrW(h, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND:
      if (self && (LOWORD(wp) == kFindNextId || LOWORD(wp) == kFindPreviousId)) {
        self->FindFromBox(LOWORD(wp) == kFindNextId);
        return 0;
      }
      break;
    case WM_SIZE:
      if (self && h == self->inspector_) MoveWindow(GetDlgItem(h, kFindEditId), 0, 0, LOWORD(lp), HIWORD(lp), TRUE);
      return 0;
    case WM_CLOSE:
      ShowWindow(h, SW_HIDE);  // kept for the next time
      return 0;
    case WM_NCDESTROY:
      if (self && h == self->find_box_) {
        if (IsWindow(self->find_edit_)) SetWindowLongPtrW(self->find_edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(self->find_edit_proc_));
        self->find_box_ = nullptr;
        self->find_edit_ = nullptr;
      }
      if (self && h == self->inspector_) self->inspector_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(h, msg, wp, lp);
}

// --- highlight -------------------------------------------------------------------------------------------

void MainWindow::HighlightSelectedWindow() {
  auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  HWND h = node ? reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoll(NodeTag(node).c_str(), nullptr, 10))) : nullptr;
  if (!h || !IsWindow(h) || common::SameHandle(h, GetDesktopWindow())) return;
  if (flash_left_ % 2) DrawOutline(flash_window_);  // an outline of an earlier flash still drawn
  flash_timer_.Stop();
  flash_window_ = h;
  flash_left_ = kFlashes;
  DrawOutline(flash_window_);
  --flash_left_;
  flash_timer_.Start(kFlashIntervalMs);
}

void MainWindow::FlashTick() {
  if (flash_left_ > 0) {
    DrawOutline(flash_window_);
    --flash_left_;
  }
  if (flash_left_ == 0) {
    flash_timer_.Stop();
    flash_window_ = nullptr;
  }
}

// --- on top, decimal, log length ------------------------------------------------------------------------

void MainWindow::SetOnTop(bool on) {
  on_top_ = on;
  SetWindowPos(hwnd_, on ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void MainWindow::SetDecimal(bool on) { decimal_ = on; }

std::wstring MainWindow::LineOf(LONG msg, LONG_PTR wParam, LONG_PTR lParam) const {
  return decimal_ ? names_.FormatDecimalLine(msg, wParam, lParam) : names_.FormatLine(msg, wParam, lParam);
}

void MainWindow::SetLogLength(int lines) {
  lines = std::max(lines, 2);
  UpdateLog();  // every record on screen first: then the log and the store lose the same lines
  log_cap_ = lines - 1;
  store_.set_cap(static_cast<size_t>(lines));
  ++log_busy_;
  while (SendMessageW(lstOut_, LB_GETCOUNT, 0, 0) > lines) {
    SendMessageW(lstOut_, LB_DELETESTRING, 0, 0);
    if (!shown_.empty()) shown_.pop_front();
  }
  --log_busy_;
}

}  // namespace spy
