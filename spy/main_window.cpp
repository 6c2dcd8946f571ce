// frmMain: creation, start-up and shut-down, stored placement, layout and splitter.
#include "main_window.h"

#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>

#include "hex.h"
#include "screen.h"
#include "settings.h"

using common::com_ptr;
using common::RuntimeError;

namespace spy {

namespace {

constexpr const wchar_t* kSection = L"Position";
constexpr UINT kDestroyMessage = WM_APP + 1;  // the window goes once the handler that closed it is done
constexpr int kToolbarId = 100, kTreeId = 101, kLogId = 102, kDetailsId = 103;

enum Field { kLeft = 0, kTop = 1, kWidth = 2, kHeight = 3 };

int ToPixels(float twips, float tpp) { return static_cast<int>(std::lround(twips / tpp)); }

ATOM RegisterMainClass(HINSTANCE instance, WNDPROC proc) {
  static ATOM atom = 0;
  if (!atom) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.hCursor = nullptr;  // the form sets its pointer itself (WM_SETCURSOR)
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kWindowClass;
    atom = RegisterClassExW(&wc);
  }
  return atom;
}

MainWindow* FromWindow(HWND h) { return reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA)); }

}  // namespace

// --- construction -----------------------------------------------------------------------

MainWindow::MainWindow(MainWindowOptions options)
    : app_(options.app_name.empty() ? ApplicationName() : options.app_name),
      quit_on_close_(options.quit_on_close),
      decoder_([this](uint32_t m) { return m < static_cast<uint32_t>(MessageNames::kCount) ? names_.Name(static_cast<int32_t>(m)) : std::wstring(); }) {
  message_box = [](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    return MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
  };
  choose_save_path = [](HWND owner, bool* csv) {
    wchar_t file[MAX_PATH] = L"messages.txt";
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"Log lines (*.txt)\0*.txt\0Every detail, comma separated (*.csv)\0*.csv\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"txt";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (!GetSaveFileNameW(&ofn)) return std::wstring();
    std::wstring path(file);
    const bool ends_csv = path.size() > 4 && lstrcmpiW(path.c_str() + path.size() - 4, L".csv") == 0;
    *csv = ofn.nFilterIndex == 2 || ends_csv;
    return path;
  };
  tppx_ = common::TwipsPerPixelX();
  tppy_ = common::TwipsPerPixelY();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterMainClass(instance, &MainWindow::WndProc);
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);

  const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
  RECT r{0, 0, ToPixels(kDesignScaleWidth, tppx_), ToPixels(kDesignScaleHeight, tppy_)};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  hwnd_ = CreateWindowExW(0, kWindowClass, kCaption, style, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                          r.bottom - r.top, nullptr, nullptr, instance, this);
  if (!hwnd_) common::Check(HRESULT_FROM_WIN32(GetLastError()), kProgramTitle);
  try {
    Form_Load();
  } catch (...) {
    m_SpyWindow = nullptr;
    // No WM_QUIT from this window: it would end the caller's error box as soon as it showed.
    quit_on_close_ = false;
    DestroyWindow(hwnd_);
    hwnd_ = nullptr;
    throw;
  }
}

MainWindow::~MainWindow() {
  StopLogTimer();
  StopFlushTimer();
  if (m_SpyWindow) {
    m_SpyWindow->putref_MessageSink(nullptr);
    m_SpyWindow->put_Subclassed(VARIANT_FALSE);
    m_SpyWindow = nullptr;
  }
  if (hwnd_ && IsWindow(hwnd_)) {
    quit_on_close_ = false;
    DestroyWindow(hwnd_);
  }
  if (imImages_) ImageList_Destroy(imImages_);
  if (tree_font_) DeleteObject(tree_font_);
}

void MainWindow::CreateControls() {
  HINSTANCE instance = GetModuleHandleW(nullptr);

  // imImages: 19 x 19 pictures, 16 colours, silver transparent.
  imImages_ = ImageList_Create(19, 19, ILC_COLOR4 | ILC_MASK, 3, 0);
  for (int id : {kPictureExit, kPictureSpy, kPictureWindow}) {
    HBITMAP bmp = static_cast<HBITMAP>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, 0));
    if (!bmp) common::Raise(481, kProgramTitle, L"Invalid picture");
    ImageList_AddMasked(imImages_, bmp, RGB(192, 192, 192));
    DeleteObject(bmp);
  }

  auto create = [&](DWORD ex, const wchar_t* cls, DWORD style, float l, float t, float w, float h, int id) {
    HWND c = CreateWindowExW(ex, cls, nullptr, WS_CHILD | WS_VISIBLE | style, ToPixels(l, tppx_), ToPixels(t, tppy_),
                             ToPixels(w, tppx_), ToPixels(h, tppy_), hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (!c) common::Check(HRESULT_FROM_WIN32(GetLastError()), kProgramTitle);
    return c;
  };

  // tbMain, docked along the top.
  tbMain_ = create(0, TOOLBARCLASSNAMEW, CCS_TOP | TBSTYLE_TOOLTIPS | TBSTYLE_FLAT, 0, 0, kDesignScaleWidth, 720,
                   kToolbarId);
  SendMessageW(tbMain_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageW(tbMain_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(imImages_));
  TBBUTTON buttons[2]{};
  buttons[0].iBitmap = 0;
  buttons[0].idCommand = kButtonExit;
  buttons[0].fsState = TBSTATE_ENABLED;
  buttons[0].fsStyle = BTNS_BUTTON;
  buttons[0].iString = reinterpret_cast<INT_PTR>(L"Exit");
  buttons[1].iBitmap = 1;
  buttons[1].idCommand = kButtonSpy;
  buttons[1].fsState = TBSTATE_ENABLED;
  buttons[1].fsStyle = BTNS_CHECK;
  buttons[1].iString = reinterpret_cast<INT_PTR>(L"Spy");
  SendMessageW(tbMain_, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
  SendMessageW(tbMain_, TB_AUTOSIZE, 0, 0);
  // The toolbar takes the focus in the window's Tab round: arrows choose a button, Space or
  // Enter presses it.
  SetWindowLongPtrW(tbMain_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  toolbar_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(tbMain_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::ToolbarProc)));

  // lstOut, the message log.
  lstOut_ = create(WS_EX_CLIENTEDGE, L"LISTBOX", WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, 2760,
                   720, 4335, 4380, kLogId);
  SendMessageW(lstOut_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);

  // tvWindows, the window tree: lines and buttons, MS Sans Serif 9.75 point.
  tvWindows_ = create(WS_EX_CLIENTEDGE, WC_TREEVIEWW,
                      WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS, 0, 720, 2655,
                      4575, kTreeId);
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  tree_font_ = CreateFontW(-MulDiv(975, dpi, 7200), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                           L"MS Sans Serif");
  SendMessageW(tvWindows_, WM_SETFONT, reinterpret_cast<WPARAM>(tree_font_), FALSE);
  SendMessageW(tvWindows_, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(imImages_));

  // Tree and log are subclassed by replacing their procedures, not through SetWindowSubclass:
  // every message to a window subclassed that way costs property look-ups, which under Wine
  // are server round trips, and the tree gets one insertion per window, the log four or five
  // messages per logged one.
  SetWindowLongPtrW(tvWindows_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  tree_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(tvWindows_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::TreeProc)));
  // The details pane: below the log when the user turns it on, hidden until then.
  txtDetails_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", nullptr,
                                WS_CHILD | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 0, 0, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kDetailsId)), instance, nullptr);
  if (txtDetails_) {
    SendMessageW(txtDetails_, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    const int tab = 40;  // dialog units: the labels' column
    SendMessageW(txtDetails_, EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&tab));
    SetWindowLongPtrW(txtDetails_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    details_proc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(txtDetails_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::DetailsProc)));
  }

  SetWindowLongPtrW(lstOut_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  log_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(lstOut_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::LogProc)));
}

void MainWindow::Show(int command) {
  ShowWindow(hwnd_, command);
  UpdateWindow(hwnd_);
  // The keyboard starts in the tree, where a window is chosen.
  if (GetActiveWindow() == hwnd_ && !IsChild(hwnd_, GetFocus())) SetFocus(tvWindows_);
}

// --- attributes -----------------------------------------------------------------------------

float MainWindow::ScaleWidth() const {
  RECT r;
  GetClientRect(hwnd_, &r);
  return static_cast<float>(r.right - r.left) * tppx_;
}

float MainWindow::ScaleHeight() const {
  RECT r;
  GetClientRect(hwnd_, &r);
  return static_cast<float>(r.bottom - r.top) * tppy_;
}

TwipsRect MainWindow::ControlRect(HWND control) const {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  return {static_cast<float>(r.left) * tppx_, static_cast<float>(r.top) * tppy_,
          static_cast<float>(r.right - r.left) * tppx_, static_cast<float>(r.bottom - r.top) * tppy_};
}

TwipsRect MainWindow::FormRect() const {
  RECT r;
  GetWindowRect(hwnd_, &r);
  return {static_cast<float>(r.left) * tppx_, static_cast<float>(r.top) * tppy_,
          static_cast<float>(r.right - r.left) * tppx_, static_cast<float>(r.bottom - r.top) * tppy_};
}

void MainWindow::SetControl(HWND control, int field, float twips) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
  switch (field) {
    case kLeft: x = ToPixels(twips, tppx_); break;
    case kTop: y = ToPixels(twips, tppy_); break;
    case kWidth: w = std::max(0, ToPixels(twips, tppx_)); break;
    default: h = std::max(0, ToPixels(twips, tppy_)); break;
  }
  SetWindowPos(control, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::SetFormField(int field, float twips) {
  RECT r;
  GetWindowRect(hwnd_, &r);
  int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  switch (field) {
    case kLeft: x = ToPixels(twips, tppx_); flags |= SWP_NOSIZE; break;
    case kTop: y = ToPixels(twips, tppy_); flags |= SWP_NOSIZE; break;
    case kWidth: w = std::max(0, ToPixels(twips, tppx_)); flags |= SWP_NOMOVE; break;
    default: h = std::max(0, ToPixels(twips, tppy_)); flags |= SWP_NOMOVE; break;
  }
  SetWindowPos(hwnd_, nullptr, x, y, w, h, flags);
}

// --- start-up -----------------------------------------------------------------------------------

float MainWindow::ReadSetting(const wchar_t* key, float fallback) const {
  // A stored text that is no number must not keep the program from starting: that key
  // takes its default.
  std::wstring fallback_text = SingleText(fallback);
  auto value = ParseSingle(GetSetting(app_, kSection, key, fallback_text));
  return value ? *value : fallback;
}

void MainWindow::Form_Load() {
  // 1. The spy object.
  common::Check(CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow,
                                 m_SpyWindow.put_void()),
                kProgramTitle);
  // 2.-3. The layout's members hold their values before any size is set.
  m_Gap = 30;
  m_SplitterPos = ReadSetting(L"SplitterPos", 4500);
  loading_ = true;
  // 4.-5. The stored placement.
  SetFormField(kLeft, ReadSetting(L"Left", 700));
  SetFormField(kTop, ReadSetting(L"Top", 700));
  const float screen_w = static_cast<float>(GetSystemMetrics(SM_CXSCREEN)) * tppx_;
  const float screen_h = static_cast<float>(GetSystemMetrics(SM_CYSCREEN)) * tppy_;
  SetFormField(kWidth, ReadSetting(L"Width", screen_w - 1400));
  SetFormField(kHeight, ReadSetting(L"Height", screen_h - 1400));
  KeepTitleBarOnScreen();
  // 6.-7.
  m_SplitterRight = m_SplitterPos + 2 * m_Gap;
  m_SplitterState = 0;
  m_Spying = 0;
  // The log is made anew when it selects several lines: before the tree lists it.
  LoadLogStyle();
  // 8.-9.
  FillWindowTree();
  LoadMessageNames();
  LoadToolSettings();
  // The tools are found from the window's system menu too (the log's right click opens the same).
  if (HMENU system = GetSystemMenu(hwnd_, FALSE)) {
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(system, MF_STRING, kSysCmdLogMenu, L"Log &Tools...");
  }
}

void MainWindow::KeepTitleBarOnScreen() {
  // A placement that leaves no part of the title bar on any monitor goes onto the nearest
  // monitor; anything partly visible stays as stored.
  RECT w;
  GetWindowRect(hwnd_, &w);
  const int title_height = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYSIZEFRAME);
  RECT title{w.left, w.top, w.right, w.top + title_height};
  if (MonitorFromRect(&title, MONITOR_DEFAULTTONULL)) return;
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (!GetMonitorInfoW(MonitorFromRect(&w, MONITOR_DEFAULTTONEAREST), &mi)) return;
  const RECT& work = mi.rcWork;
  const int width = w.right - w.left, height = w.bottom - w.top;
  int x = std::clamp<int>(w.left, work.left, std::max<int>(work.left, work.right - width));
  int y = std::clamp<int>(w.top, work.top, std::max<int>(work.top, work.bottom - height));
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// --- layout ---------------------------------------------------------------------------------------

void MainWindow::Form_Resize() {
  const float g = m_Gap;
  const float sw = ScaleWidth(), sh = ScaleHeight();
  TwipsRect tb = ControlRect(tbMain_);
  SetControl(tvWindows_, kLeft, g);
  SetControl(tvWindows_, kTop, tb.top + tb.height + g);
  TwipsRect tree = ControlRect(tvWindows_);
  if (tree.top + 2 * g < sh) SetControl(tvWindows_, kHeight, sh - g - tree.top);
  SetControl(tvWindows_, kWidth, m_SplitterPos);
  m_SplitterRight = m_SplitterPos + 2 * g;
  tree = ControlRect(tvWindows_);
  m_SplitterTop = tree.top;
  m_SplitterBottom = tree.top + tree.height;
  SetControl(lstOut_, kLeft, m_SplitterPos + 2 * g);
  SetControl(lstOut_, kTop, tree.top);
  TwipsRect log = ControlRect(lstOut_);
  if (log.left + 2 * g < sw) SetControl(lstOut_, kWidth, sw - g - log.left);
  SetControl(lstOut_, kHeight, tree.height);
  LayoutDetails();
}

// --- splitter --------------------------------------------------------------------------------------

bool MainWindow::InSplitterBand(float x, float y) const {
  return m_SplitterPos < x && x < m_SplitterRight && m_SplitterTop < y && y < m_SplitterBottom;
}

void MainWindow::SetPointer(Pointer p) {
  pointer_ = p;
  // Like a form's pointer: the new shape shows at once when the mouse is over the form.
  POINT pt;
  GetCursorPos(&pt);
  HWND under = WindowFromPoint(pt);
  if (GetCapture() == hwnd_ || under == hwnd_ || (under && IsChild(hwnd_, under)))
    SetCursor(LoadCursorW(nullptr, p == Pointer::SizeWE ? IDC_SIZEWE : IDC_ARROW));
}

void MainWindow::Form_MouseMove(float x, float y) {
  if (m_SplitterState == 2) {
    MoveSplitter(x);
  } else if (InSplitterBand(x, y)) {
    SetPointer(Pointer::SizeWE);
    m_SplitterState = 1;
  } else {
    SetPointer(Pointer::Arrow);
  }
}

void MainWindow::Form_MouseDown(float, float) {
  if (m_SplitterState == 1) m_SplitterState = 2;
}

void MainWindow::Form_MouseUp(float x, float y) { m_SplitterState = InSplitterBand(x, y) ? 1 : 0; }

void MainWindow::MoveSplitter(float x) {
  const float g = m_Gap;
  const float sw = ScaleWidth();
  if (!(3 * g < x && x < sw - 3 * g)) return;
  m_SplitterPos = x;
  m_SplitterRight = x + 2 * g;
  SetControl(tvWindows_, kWidth, x);
  SetControl(lstOut_, kLeft, x + 2 * g);
  SetControl(lstOut_, kWidth, sw - g - ControlRect(lstOut_).left);
  if (details_visible_) Form_Resize();  // the pane follows the log
}

// --- shut-down ---------------------------------------------------------------------------------------

void MainWindow::Close() {
  if (unloaded_) return;
  // A capture file is complete whichever way the program goes (close box, Exit, logoff).
  FinishCapture();
  if (capture_file_) {
    capture_file_->Close();
    capture_file_.reset();
  }
  StopFlushTimer();
  Form_QueryUnload();
  Form_Unload();
  unloaded_ = true;
  StopLogTimer();
  ShowWindow(hwnd_, SW_HIDE);
  // The window itself goes when the handler that asked for the close has returned.
  PostMessageW(hwnd_, kDestroyMessage, 0, 0);
}

void MainWindow::Form_QueryUnload() {
  if (m_SpyWindow) {
    common::Check(m_SpyWindow->putref_MessageSink(nullptr), kProgramTitle);
    common::Check(m_SpyWindow->put_Subclassed(VARIANT_FALSE), kProgramTitle);
  }
  m_SpyWindow = nullptr;
}

RECT MainWindow::RestoredWindowRect() const {
  RECT r;
  GetWindowRect(hwnd_, &r);
  if (!IsIconic(hwnd_) && !IsZoomed(hwnd_)) return r;
  // Minimised or maximised: the placement the window returns to, so that the next start
  // does not put it where nobody can see it. rcNormalPosition is in work-area coordinates.
  WINDOWPLACEMENT wp{};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(hwnd_, &wp)) return r;
  r = wp.rcNormalPosition;
  MONITORINFO mi{};
  mi.cbSize = sizeof mi;
  if (GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTOPRIMARY), &mi))
    OffsetRect(&r, mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top);
  return r;
}

void MainWindow::Form_Unload() {
  RECT r = RestoredWindowRect();
  SaveSetting(app_, kSection, L"SplitterPos", SingleText(m_SplitterPos));
  SaveSetting(app_, kSection, L"Left", SingleText(static_cast<float>(r.left) * tppx_));
  SaveSetting(app_, kSection, L"Top", SingleText(static_cast<float>(r.top) * tppy_));
  SaveSetting(app_, kSection, L"Width", SingleText(static_cast<float>(r.right - r.left) * tppx_));
  SaveSetting(app_, kSection, L"Height", SingleText(static_cast<float>(r.bottom - r.top) * tppy_));
}

// --- errors ------------------------------------------------------------------------------------------

std::wstring MainWindow::FatalErrorText(const RuntimeError& e) {
  std::wstring number = std::to_wstring(e.number());
  if (e.number() < 0 || e.number() >= 0x10000) number += L" (" + common::Hex(static_cast<int32_t>(e.number())) + L")";
  return L"Run-time error '" + number + L"':\r\n\r\n" + e.description();
}

std::function<void(const RuntimeError&)>& MainWindow::FatalErrorHandler() {
  static std::function<void(const RuntimeError&)> handler = [](const RuntimeError& e) {
    CaptureFile::FlushAll();  // what a capture file holds is written before the program goes
    MessageBoxW(nullptr, FatalErrorText(e).c_str(), kProgramTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL);
    ExitProcess(1);
  };
  return handler;
}

// --- window procedures ---------------------------------------------------------------------------------

LRESULT CALLBACK MainWindow::WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* created = reinterpret_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    created->hwnd_ = h;
  }
  MainWindow* self = FromWindow(h);
  if (!self) return DefWindowProcW(h, msg, wp, lp);
  try {
    return self->HandleMessage(msg, wp, lp);
  } catch (const RuntimeError& e) {
    FatalErrorHandler()(e);
  } catch (const std::bad_alloc&) {
    FatalErrorHandler()(RuntimeError(7, kProgramTitle, L"Out of memory"));
  } catch (...) {
    FatalErrorHandler()(RuntimeError(51, kProgramTitle, L"Internal error"));
  }
  return 0;
}

LRESULT MainWindow::HandleMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_SIZE:
      if (tbMain_) SendMessageW(tbMain_, TB_AUTOSIZE, 0, 0);  // docked along the top
      if (loading_) Form_Resize();
      return 0;
    case WM_SHOWWINDOW:
      if (wp && !shown_once_ && loading_) {
        shown_once_ = true;
        Form_Resize();
      }
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wp) == hwnd_ && LOWORD(lp) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, pointer_ == Pointer::SizeWE ? IDC_SIZEWE : IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_MOUSEMOVE:
      Form_MouseMove(static_cast<float>(GET_X_LPARAM(lp)) * tppx_, static_cast<float>(GET_Y_LPARAM(lp)) * tppy_);
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      // The form keeps the mouse while a button is held, over the tree and the log too.
      SetCapture(hwnd_);
      Form_MouseDown(static_cast<float>(GET_X_LPARAM(lp)) * tppx_, static_cast<float>(GET_Y_LPARAM(lp)) * tppy_);
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      if (!(wp & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) && GetCapture() == hwnd_) ReleaseCapture();
      Form_MouseUp(static_cast<float>(GET_X_LPARAM(lp)) * tppx_, static_cast<float>(GET_Y_LPARAM(lp)) * tppy_);
      return 0;
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lp) == tbMain_ && tbMain_) {
        if (LOWORD(wp) == kButtonExit) ToolbarButtonClick(L"Exit");
        else if (LOWORD(wp) == kButtonSpy) ToolbarButtonClick(L"Spy");
        else if (LOWORD(wp) == kButtonRefresh) RunLogCommand(kCmdRefreshTree);
        else if (LOWORD(wp) == kButtonDetails) RunLogCommand(kCmdDetails);
        return 0;
      }
      if (reinterpret_cast<HWND>(lp) == lstOut_ && lstOut_ && HIWORD(wp) == LBN_SELCHANGE) {
        details_of_tree_ = false;
        UpdateDetails();
        return 0;
      }
      break;
    case WM_SYSCOMMAND:
      if ((wp & 0xFFF0) == kSysCmdLogMenu) {
        ShowLogMenu(-1);
        return 0;
      }
      break;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wp) == lstOut_ && lstOut_) {
        ShowLogMenu(lp);
        return 0;
      }
      break;
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<const NMHDR*>(lp));
    case WM_ACTIVATE:
      // As a dialog does: the focus goes back to the control that had it, never to the bare window.
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (f && IsChild(hwnd_, f)) focus_child_ = f;
        return 0;
      }
      if (!HIWORD(wp)) {
        SetFocus(focus_child_ && IsWindow(focus_child_) && IsWindowVisible(focus_child_) ? focus_child_ : tvWindows_);
        return 0;
      }
      break;
    case WM_SETFOCUS:
      if (tvWindows_) SetFocus(focus_child_ && IsWindow(focus_child_) && IsWindowVisible(focus_child_) ? focus_child_ : tvWindows_);
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_QUERYENDSESSION:
      CaptureFile::FlushAll();
      return TRUE;
    case WM_ENDSESSION:
      if (wp) Close();
      return 0;
    case kDestroyMessage:
      DestroyWindow(hwnd_);
      return 0;
    case kCaptureFileFailed:
      if (capture_file_ && !capture_file_->open() && !capture_file_->path().empty()) {
        const std::wstring path = capture_file_->path();
        capture_file_.reset();
        wchar_t reason[256] = L"";
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(wp), 0,
                       reason, 256, nullptr);
        message_box(hwnd_, L"The capture file could not be written and was closed:\r\n" + path + L"\r\n" + reason,
                    kProgramTitle, MB_OK | MB_ICONEXCLAMATION);
      }
      return 0;
    case WM_DESTROY:
      StopLogTimer();
      if (m_SpyWindow) {
        m_SpyWindow->putref_MessageSink(nullptr);
        m_SpyWindow->put_Subclassed(VARIANT_FALSE);
      }
      if (quit_on_close_) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      if (IsWindow(tvWindows_) &&
          GetWindowLongPtrW(tvWindows_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&MainWindow::TreeProc))
        SetWindowLongPtrW(tvWindows_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(tree_proc_));
      if (IsWindow(lstOut_) &&
          GetWindowLongPtrW(lstOut_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&MainWindow::LogProc))
        SetWindowLongPtrW(lstOut_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(log_proc_));
      if (IsWindow(tbMain_) &&
          GetWindowLongPtrW(tbMain_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&MainWindow::ToolbarProc))
        SetWindowLongPtrW(tbMain_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(toolbar_proc_));
      if (IsWindow(txtDetails_) &&
          GetWindowLongPtrW(txtDetails_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&MainWindow::DetailsProc))
        SetWindowLongPtrW(txtDetails_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(details_proc_));
    {
      HWND h = hwnd_;
      SetWindowLongPtrW(h, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return DefWindowProcW(h, msg, wp, lp);
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT MainWindow::OnNotify(const NMHDR* header) {
  if (header->hwndFrom == tvWindows_ && header->code == TVN_SELCHANGEDW) {
    // A node selected by mouse or by keyboard (or by another program) is a click.
    selection_changed_ = true;
    if (!filling_) tvWindows_NodeClick();
    if (details_visible_ && !filling_) {
      details_of_tree_ = true;
      UpdateDetails();
    }
    return 0;
  }
  // The buttons' tool tips name their keys.
  auto tip_of = [](UINT_PTR id) -> const wchar_t* {
    switch (id) {
      case kButtonExit: return L"Exit Program (Alt+F4)";
      case kButtonSpy: return L"Spy on the selected window (F8)";
      case kButtonRefresh: return L"Refresh the tree (F5)";
      case kButtonDetails: return L"Details (Ctrl+D)";
      default: return nullptr;
    }
  };
  if (header->hwndFrom == tbMain_ && header->code == TBN_GETINFOTIPW) {
    auto* tip = const_cast<NMTBGETINFOTIPW*>(reinterpret_cast<const NMTBGETINFOTIPW*>(header));
    if (const wchar_t* text = tip_of(static_cast<UINT_PTR>(tip->iItem)); text && tip->pszText && tip->cchTextMax > 0)
      lstrcpynW(tip->pszText, text, tip->cchTextMax);
    return 0;
  }
  if (header->code == TTN_GETDISPINFOW) {
    auto* info = const_cast<NMTTDISPINFOW*>(reinterpret_cast<const NMTTDISPINFOW*>(header));
    if (const wchar_t* text = tip_of(info->hdr.idFrom)) info->lpszText = const_cast<wchar_t*>(text);
    else info->szText[0] = 0;
    return 0;
  }
  return DefWindowProcW(hwnd_, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
}

// A click on the node that is already selected changes no selection, yet it is a node click.
LRESULT MainWindow::TreeButtonDown(WPARAM wp, LPARAM lp) {
  HWND tree = tvWindows_;
  TVHITTESTINFO hit{};
  hit.pt = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
  auto pressed = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  auto before = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  selection_changed_ = false;
  // The tree view follows the mouse until the button is released.
  LRESULT r = CallWindowProcW(tree_proc_, tree, WM_LBUTTONDOWN, wp, lp);
  auto after = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (pressed && (hit.flags & TVHT_ONITEM) && pressed == before && pressed == after && !selection_changed_ &&
      !unloaded_) {
    try {
      tvWindows_NodeClick();
    } catch (const RuntimeError& e) {
      FatalErrorHandler()(e);
    } catch (...) {
      FatalErrorHandler()(RuntimeError(51, kProgramTitle, L"Internal error"));
    }
  }
  return r;
}

LRESULT CALLBACK MainWindow::TreeProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->tree_proc_) return DefWindowProcW(h, msg, wp, lp);
  if (msg == WM_MOUSEMOVE) self->SetPointer(Pointer::Arrow);  // tvWindows_MouseMove
  if (msg == WM_LBUTTONDOWN) return self->TreeButtonDown(wp, lp);
  if (msg == WM_KEYDOWN && wp == VK_F5) {
    self->RefreshTree();
    return 0;
  }
  if (msg == WM_KEYDOWN && self->WindowKey(h, wp)) return 0;
  if (msg == WM_CHAR && wp == L'\t') return 0;
  return CallWindowProcW(self->tree_proc_, h, msg, wp, lp);
}

LRESULT CALLBACK MainWindow::LogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->log_proc_) return DefWindowProcW(h, msg, wp, lp);
  if (msg == WM_MOUSEMOVE) self->SetPointer(Pointer::Arrow);  // lstOut_MouseMove
  if (msg == WM_KEYDOWN && wp == VK_F5) {
    self->RefreshTree();
    return 0;
  }
  if (msg == WM_KEYDOWN && wp == 'C' && (GetKeyState(VK_CONTROL) & 0x8000)) {
    self->CopyLines(false);
    return 0;
  }
  if (msg == WM_KEYDOWN && self->WindowKey(h, wp)) return 0;
  if (msg == WM_CHAR && wp == L'\t') return 0;
  // What the log does for its own updates and repaints is no news for the log.
  const bool own = (msg >= LB_ADDSTRING && msg <= LB_MSGMAX) || msg == WM_PAINT || msg == WM_NCPAINT ||
                   msg == WM_ERASEBKGND || msg == WM_SETREDRAW || msg == WM_PRINTCLIENT || msg == WM_SYNCPAINT;
  if (own) ++self->log_busy_;
  LRESULT r = CallWindowProcW(self->log_proc_, h, msg, wp, lp);
  if (own) --self->log_busy_;
  return r;
}

// --- the keyboard --------------------------------------------------------------------------------------

bool MainWindow::WindowKey(HWND from, WPARAM key) {
  const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
  const bool alt = (GetKeyState(VK_MENU) & 0x8000) != 0;
  if (alt) return false;
  if (key == VK_TAB && !ctrl) {
    FocusNext(from, (GetKeyState(VK_SHIFT) & 0x8000) != 0);
    return true;
  }
  if (key == VK_F8 && !ctrl) {
    const bool pressed = SendMessageW(tbMain_, TB_ISBUTTONCHECKED, kButtonSpy, 0) != 0;
    SendMessageW(tbMain_, TB_CHECKBUTTON, kButtonSpy, MAKELPARAM(pressed ? FALSE : TRUE, 0));
    ToolbarButtonClick(L"Spy");
    return true;
  }
  if (key == 'D' && ctrl) {
    RunLogCommand(kCmdDetails);
    return true;
  }
  if (key == 'F' && ctrl && (from == tvWindows_ || from == lstOut_)) {
    ShowFindBox(from == lstOut_);
    return true;
  }
  if (key == VK_F3 && (from == tvWindows_ || from == lstOut_) && find_edit_) {
    find_in_log_ = from == lstOut_;
    FindFromBox((GetKeyState(VK_SHIFT) & 0x8000) == 0);
    return true;
  }
  if (key == 'I' && ctrl && from == tvWindows_) {
    ShowInspector();
    return true;
  }
  if (key == 'H' && ctrl && from == tvWindows_) {
    HighlightSelectedWindow();
    return true;
  }
  return false;
}

void MainWindow::FocusNext(HWND from, bool back) {
  std::vector<HWND> round{tvWindows_, lstOut_};
  if (details_visible_ && txtDetails_) round.push_back(txtDetails_);
  round.push_back(tbMain_);
  size_t at = 0;
  while (at < round.size() && round[at] != from) ++at;
  if (at == round.size()) at = 0;
  const size_t next = back ? (at + round.size() - 1) % round.size() : (at + 1) % round.size();
  SetFocus(round[next]);
}

LRESULT CALLBACK MainWindow::ToolbarProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->toolbar_proc_) return DefWindowProcW(h, msg, wp, lp);
  const WNDPROC base = self->toolbar_proc_;
  switch (msg) {
    case WM_SETFOCUS: {
      LRESULT r = CallWindowProcW(base, h, msg, wp, lp);
      if (SendMessageW(h, TB_GETHOTITEM, 0, 0) < 0) SendMessageW(h, TB_SETHOTITEM, 0, 0);
      return r;
    }
    case WM_KILLFOCUS:
      SendMessageW(h, TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
      break;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_CHAR:
      if (wp == L'\t' || wp == L' ' || wp == L'\r') return 0;
      break;
    case WM_KEYDOWN: {
      if (self->WindowKey(h, wp)) return 0;
      const int count = static_cast<int>(SendMessageW(h, TB_BUTTONCOUNT, 0, 0));
      int hot = static_cast<int>(SendMessageW(h, TB_GETHOTITEM, 0, 0));
      if (count <= 0) break;
      if (wp == VK_LEFT || wp == VK_RIGHT || wp == VK_HOME || wp == VK_END) {
        if (wp == VK_HOME) hot = 0;
        else if (wp == VK_END) hot = count - 1;
        else hot = hot < 0 ? 0 : (hot + (wp == VK_RIGHT ? 1 : count - 1)) % count;
        SendMessageW(h, TB_SETHOTITEM, static_cast<WPARAM>(hot), 0);
        return 0;
      }
      if ((wp == VK_SPACE || wp == VK_RETURN) && hot >= 0) {
        TBBUTTON b{};
        if (!SendMessageW(h, TB_GETBUTTON, static_cast<WPARAM>(hot), reinterpret_cast<LPARAM>(&b))) return 0;
        if (!(b.fsState & TBSTATE_ENABLED)) return 0;
        if (b.fsStyle & BTNS_CHECK)
          SendMessageW(h, TB_CHECKBUTTON, static_cast<WPARAM>(b.idCommand), MAKELPARAM((b.fsState & TBSTATE_CHECKED) ? FALSE : TRUE, 0));
        // As a click: the button's command to its owner.
        SendMessageW(self->hwnd_, WM_COMMAND, MAKEWPARAM(b.idCommand, BN_CLICKED), reinterpret_cast<LPARAM>(h));
        return 0;
      }
      break;
    }
    default:
      break;
  }
  return CallWindowProcW(base, h, msg, wp, lp);
}

}  // namespace spy
