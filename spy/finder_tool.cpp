// The toolbar's tools, shown when the user turns them on: Refresh and Details buttons and the
// finder, a cross hair. Dragged over any window, the finder outlines the window under the pointer;
// released, it selects that window in the tree, building the tree anew when the window came after it.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>

#include "hex.h"

#include "main_window.h"
#include "settings.h"

namespace spy {

namespace {
constexpr int kFinderId = 104;
constexpr int kOutline = 3;  // pixels
}  // namespace

void MainWindow::ShowFinder(bool on) {
  // Beside the seed's two buttons: Refresh and Details, then the finder's cross hair.
  const bool present = SendMessageW(tbMain_, TB_COMMANDTOINDEX, kButtonRefresh, 0) >= 0;
  if (on && !present) {
    TBBUTTON buttons[2]{};
    buttons[0].iBitmap = I_IMAGENONE;
    buttons[0].idCommand = kButtonRefresh;
    buttons[0].fsState = TBSTATE_ENABLED;
    buttons[0].fsStyle = BTNS_BUTTON;
    buttons[0].iString = reinterpret_cast<INT_PTR>(L"Refresh");
    buttons[1].iBitmap = I_IMAGENONE;
    buttons[1].idCommand = kButtonDetails;
    buttons[1].fsState = static_cast<BYTE>(TBSTATE_ENABLED | (details_visible_ ? TBSTATE_CHECKED : 0));
    buttons[1].fsStyle = BTNS_CHECK;
    buttons[1].iString = reinterpret_cast<INT_PTR>(L"Details");
    SendMessageW(tbMain_, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
  } else if (!on && present) {
    for (int id : {kButtonDetails, kButtonRefresh}) {
      const LRESULT at = SendMessageW(tbMain_, TB_COMMANDTOINDEX, static_cast<WPARAM>(id), 0);
      if (at >= 0) SendMessageW(tbMain_, TB_DELETEBUTTON, static_cast<WPARAM>(at), 0);
    }
  }
  if (!finder_ && on) {
    finder_ = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | SS_ICON | SS_NOTIFY | SS_CENTERIMAGE, 0, 0, 0, 0,
                              tbMain_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFinderId)),
                              GetModuleHandleW(nullptr), nullptr);
    if (!finder_) return;
    SendMessageW(finder_, STM_SETICON, reinterpret_cast<WPARAM>(LoadCursorW(nullptr, IDC_CROSS)), 0);
    SetWindowLongPtrW(finder_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    finder_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(finder_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::FinderProc)));
  }
  if (finder_ && on) {
    // Right of the last button.
    RECT last{};
    const LRESULT buttons = SendMessageW(tbMain_, TB_BUTTONCOUNT, 0, 0);
    SendMessageW(tbMain_, TB_GETITEMRECT, static_cast<WPARAM>(buttons - 1), reinterpret_cast<LPARAM>(&last));
    const int size = std::max<int>(GetSystemMetrics(SM_CXCURSOR), 32);
    SetWindowPos(finder_, nullptr, last.right + 8, std::max<int>(0, (last.bottom + last.top - size) / 2), size, size,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  finder_visible_ = on;
  if (finder_) ShowWindow(finder_, on ? SW_SHOWNA : SW_HIDE);
}

// XOR frame: drawing it twice takes it away.
void MainWindow::DrawOutline(HWND h) {
  if (!h) return;
  RECT r;
  if (!GetWindowRect(h, &r)) return;
  HDC dc = GetDC(nullptr);
  if (!dc) return;
  const int w = r.right - r.left, ht = r.bottom - r.top;
  const int t = std::min({kOutline, w / 2, ht / 2});
  if (t > 0) {
    PatBlt(dc, r.left, r.top, w, t, DSTINVERT);
    PatBlt(dc, r.left, r.bottom - t, w, t, DSTINVERT);
    PatBlt(dc, r.left, r.top + t, t, ht - 2 * t, DSTINVERT);
    PatBlt(dc, r.right - t, r.top + t, t, ht - 2 * t, DSTINVERT);
  }
  ReleaseDC(nullptr, dc);
}

void MainWindow::FinderMove(POINT screen) {
  HWND h = WindowFromPoint(screen);
  // The deepest child under the point, disabled ones too.
  while (h) {
    POINT client = screen;
    ScreenToClient(h, &client);
    HWND child = RealChildWindowFromPoint(h, client);
    if (!child || child == h) break;
    h = child;
  }
  if (h == finder_) h = nullptr;
  if (h == outlined_) return;
  DrawOutline(outlined_);  // away with the old frame
  outlined_ = h;
  DrawOutline(outlined_);
}

void MainWindow::FinderDrop() {
  HWND h = outlined_;
  DrawOutline(outlined_);
  outlined_ = nullptr;
  finding_ = false;
  if (finder_ && GetCapture() == finder_) ReleaseCapture();
  if (finder_) SendMessageW(finder_, STM_SETICON, reinterpret_cast<WPARAM>(LoadCursorW(nullptr, IDC_CROSS)), 0);
  RestoreFocusAfterFinding();
  if (h && IsWindow(h)) SelectWindow(h);
}

void MainWindow::RestoreFocusAfterFinding() {
  HWND before = focus_before_finding_;
  focus_before_finding_ = nullptr;
  if (GetFocus() == finder_) SetFocus(before && IsWindow(before) ? before : tvWindows_);
}

bool MainWindow::SelectWindow(HWND h) {
  const std::wstring key = L"H" + common::Hex(static_cast<int32_t>(reinterpret_cast<LONG_PTR>(h)));
  HTREEITEM node = FindNode(key);
  if (!node) {
    RefreshTree();
    node = FindNode(key);
  }
  if (!node) return false;
  // A selection as by the user: with Spy pressed the log follows the window.
  SendMessageW(tvWindows_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(node));
  SendMessageW(tvWindows_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(node));
  return true;
}

LRESULT CALLBACK MainWindow::FinderProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->finder_proc_) return DefWindowProcW(h, msg, wp, lp);
  auto screen = [&] {
    POINT pt{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    ClientToScreen(h, &pt);
    return pt;
  };
  try {
    switch (msg) {
      case WM_LBUTTONDOWN:
        self->finding_ = true;
        self->outlined_ = nullptr;
        SetCapture(h);
        // Esc during the drag reaches the finder; the focus goes back when the drag ends.
        self->focus_before_finding_ = SetFocus(h);
        // The cross hair leaves its place and follows the pointer.
        SendMessageW(h, STM_SETICON, 0, 0);
        SetCursor(LoadCursorW(nullptr, IDC_CROSS));
        return 0;
      case WM_MOUSEMOVE:
        if (self->finding_) {
          SetCursor(LoadCursorW(nullptr, IDC_CROSS));
          self->FinderMove(screen());
          return 0;
        }
        self->SetPointer(Pointer::Arrow);
        break;
      case WM_LBUTTONUP:
        if (self->finding_) {
          self->FinderMove(screen());
          self->FinderDrop();  // finding_ is off before the capture goes
          return 0;
        }
        break;
      case WM_CAPTURECHANGED:
        // Taken away (Esc, another program): the drag ends without a choice.
        if (self->finding_ && reinterpret_cast<HWND>(lp) != h) {
          self->DrawOutline(self->outlined_);
          self->outlined_ = nullptr;
          self->finding_ = false;
          SendMessageW(h, STM_SETICON, reinterpret_cast<WPARAM>(LoadCursorW(nullptr, IDC_CROSS)), 0);
          self->RestoreFocusAfterFinding();
        }
        return 0;
      case WM_KEYDOWN:
        if (wp == VK_ESCAPE && self->finding_) {
          ReleaseCapture();
          return 0;
        }
        break;
      default:
        break;
    }
  } catch (const common::RuntimeError& e) {
    FatalErrorHandler()(e);
    return 0;
  }
  return CallWindowProcW(self->finder_proc_, h, msg, wp, lp);
}

}  // namespace spy
