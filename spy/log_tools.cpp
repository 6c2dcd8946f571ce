// The tools beyond the seed's window, all off until the user turns them on from the log's menu:
// pause and clear, save and copy, the details pane, the message filter, the tree's refresh.
#include <windows.h>
#include <commdlg.h>
#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <map>

#include "hex.h"
#include "main_window.h"
#include "settings.h"

using common::com_ptr;
using common::RuntimeError;

namespace spy {

namespace {

// The tools' settings sit in a section of their own beside the seed's "Position".
constexpr const wchar_t* kToolSection = L"Tools";

// Strips what a WM_COMMAND loop would take for a mnemonic.
std::wstring MenuText(std::wstring s) {
  std::wstring out;
  for (wchar_t c : s) {
    if (c == L'&') out += L"&&";
    else out += c;
  }
  return out;
}

}  // namespace

// --- settings -----------------------------------------------------------------------------

void MainWindow::LoadToolSettings() {
  filter_.include_only = GetSetting(app_, kToolSection, L"FilterMode", L"exclude") == L"include";
  filter_.SetGroups(GetSetting(app_, kToolSection, L"FilterGroups", L""));
  filter_.SetMessages(GetSetting(app_, kToolSection, L"FilterMessages", L""),
                      [this](const std::wstring& name) -> std::optional<uint32_t> {
                        for (uint32_t m = 0; m < WM_USER; ++m)  // the others are stored as numbers
                          if (decoder_.Name(m, L"") == name) return m;
                        return std::nullopt;
                      });
  UpdateCaption();
  if (GetSetting(app_, kToolSection, L"Details", L"0") == L"1") ShowDetails(true);
  if (GetSetting(app_, kToolSection, L"OnTop", L"0") == L"1") SetOnTop(true);
  if (GetSetting(app_, kToolSection, L"Decimal", L"0") == L"1") SetDecimal(true);
  {
    const int scope = _wtoi(GetSetting(app_, kToolSection, L"Scope", L"0").c_str());
    SetScope(scope >= 0 && scope <= 3 ? scope : 0, GetSetting(app_, kToolSection, L"ScopeNew", L"0") == L"1");
  }
  const int lines = _wtoi(GetSetting(app_, kToolSection, L"LogLines", L"501").c_str());
  if (lines > 1 && lines != kLogCap + 1) SetLogLength(std::min(lines, 1000000));
  if (GetSetting(app_, kToolSection, L"Finder", L"0") == L"1") ShowFinder(true);
}

void MainWindow::LoadLogStyle() {
  if (GetSetting(app_, kToolSection, L"SeveralLines", L"0") == L"1") SetSeveralLines(true);
}

// --- the details pane ---------------------------------------------------------------------------

void MainWindow::ShowDetails(bool on) {
  details_visible_ = on;
  if (SendMessageW(tbMain_, TB_COMMANDTOINDEX, kButtonDetails, 0) >= 0)
    SendMessageW(tbMain_, TB_CHECKBUTTON, kButtonDetails, MAKELPARAM(on ? TRUE : FALSE, 0));
  ShowWindow(txtDetails_, on ? SW_SHOWNA : SW_HIDE);
  if (loading_) Form_Resize();
  UpdateDetails();
}

void MainWindow::LayoutDetails() {
  if (!details_visible_ || !txtDetails_) return;
  const float g = m_Gap;
  const TwipsRect log = ControlRect(lstOut_);
  const float total = log.height;
  const float pane = std::clamp(std::round(total * 0.35f), std::min(900.f, total / 2), 3600.f);
  SetControl(lstOut_, 3, std::max(0.f, total - pane - g));
  const TwipsRect shrunk = ControlRect(lstOut_);
  SetWindowPos(txtDetails_, nullptr, static_cast<int>(std::lround(log.left / tppx_)),
               static_cast<int>(std::lround((shrunk.top + shrunk.height + g) / tppy_)),
               static_cast<int>(std::lround(log.width / tppx_)),
               std::max(0, static_cast<int>(std::lround((log.top + total - shrunk.top - shrunk.height - g) / tppy_))),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::UpdateDetails() {
  if (!details_visible_ || !txtDetails_) return;
  // Reading about a window can send it messages (its caption); they and the pane's own updates
  // are no news for the log (see DetailsProc).
  ++log_busy_;
  struct Busy {
    int& n;
    ~Busy() { --n; }
  } busy{log_busy_};
  std::wstring text;
  if (details_of_tree_) {
    auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (node) {
      const std::wstring tag = NodeTag(node);
      wchar_t* end = nullptr;
      const long long h = std::wcstoll(tag.c_str(), &end, 10);
      text = DetailsOfWindow(reinterpret_cast<HWND>(static_cast<INT_PTR>(h)));
    }
  } else {
    text = DetailsOfLine(CurrentLine());
  }
  SetWindowTextW(txtDetails_, text.c_str());
  // The pane repaints now, while that is known to be its own doing: a repaint left for later would
  // be news for a log watching the pane, and each line it made would change the pane again.
  RedrawWindow(txtDetails_, nullptr, nullptr, RDW_UPDATENOW | RDW_ERASENOW | RDW_ALLCHILDREN);
}

std::wstring MainWindow::DetailsOfLine(int line) const {
  const LogRecord* r = RecordOfLine(line);
  return r ? DetailsText(*r, decoder_) : std::wstring(L"Select a line of the log to see what is known about its message.");
}

std::wstring MainWindow::DetailsOfWindow(HWND h) const {
  if (!h || !IsWindow(h)) return L"The window is gone (press F5 to refresh the tree).";
  DWORD pid = 0;
  const DWORD tid = GetWindowThreadProcessId(h, &pid);
  std::wstring process = L"(not readable)";
  if (HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = MAX_PATH;
    if (QueryFullProcessImageNameW(p, 0, path, &n)) {
      std::wstring full(path, n);
      process = full.substr(full.find_last_of(L"\\/") + 1);
    }
    CloseHandle(p);
  }
  wchar_t cls[256] = {};
  GetClassNameW(h, cls, 256);
  RECT r{};
  GetWindowRect(h, &r);
  wchar_t buf[512];
  std::swprintf(buf, 512,
                L"Window:\t%ls\r\nClass:\t%ls\r\nProcess:\t%ls, id %lu\r\nThread:\t%lu\r\nStyle:\t0x%08lX\r\n"
                L"Ex style:\t0x%08lX\r\nRectangle:\t(%ld,%ld)-(%ld,%ld) %ldx%ld",
                MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(h)).c_str(), cls, process.c_str(), pid, tid,
                static_cast<unsigned long>(GetWindowLongW(h, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongW(h, GWL_EXSTYLE)), r.left, r.top, r.right, r.bottom,
                r.right - r.left, r.bottom - r.top);
  return buf;
}

LRESULT CALLBACK MainWindow::DetailsProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
  if (!self || !self->details_proc_) return DefWindowProcW(h, msg, wp, lp);
  if (msg == WM_MOUSEMOVE) self->SetPointer(Pointer::Arrow);
  if (msg == WM_KEYDOWN && self->WindowKey(h, wp)) return 0;
  if (msg == WM_CHAR && wp == L'\t') return 0;
  // Like the log: what the pane sends while it paints itself is not logged.
  const bool own = msg == WM_PAINT || msg == WM_NCPAINT || msg == WM_ERASEBKGND || msg == WM_SETTEXT ||
                   msg == WM_PRINTCLIENT || msg == WM_SYNCPAINT;
  if (own) ++self->log_busy_;
  LRESULT r = CallWindowProcW(self->details_proc_, h, msg, wp, lp);
  if (own) --self->log_busy_;
  return r;
}

// --- records --------------------------------------------------------------------------------------

LogRecord MainWindow::MakeRecord(LONG msg, LONG_PTR wParam, LONG_PTR lParam) {
  RecordSource source{capture_details_.get(), target_, target_class_, target_own_thread_, capture_start_, qpc_frequency_,
                      target32_, family_};
  return CaptureRecord(source, message_count_, msg, wParam, lParam);
}

// --- commands -------------------------------------------------------------------------------------

int MainWindow::CurrentLine() const {
  if (!several_lines_) return static_cast<int>(SendMessageW(lstOut_, LB_GETCURSEL, 0, 0));
  // Several lines: the one with the focus rectangle, when it is among the selected.
  const LRESULT caret = SendMessageW(lstOut_, LB_GETCARETINDEX, 0, 0);
  return caret >= 0 && SendMessageW(lstOut_, LB_GETSEL, static_cast<WPARAM>(caret), 0) > 0 ? static_cast<int>(caret) : -1;
}

// As the seed's log does with one line: that line alone is selected, and in view.
void MainWindow::SelectOnlyLine(LRESULT line) {
  SendMessageW(lstOut_, LB_SETSEL, FALSE, -1);
  SendMessageW(lstOut_, LB_SETSEL, TRUE, line);
  SendMessageW(lstOut_, LB_SETCARETINDEX, static_cast<WPARAM>(line), FALSE);
}

bool MainWindow::SetSeveralLines(bool on) {
  if (on == several_lines_) return true;
  if (!lstOut_ || (m_Spying && target_ == lstOut_)) return false;
  UpdateLog();  // the new list box gets every line there is
  ++log_busy_;
  struct Busy {
    int& n;
    ~Busy() { --n; }
  } busy{log_busy_};
  RECT r{};
  GetWindowRect(lstOut_, &r);
  MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
  const DWORD style = static_cast<DWORD>(GetWindowLongW(lstOut_, GWL_STYLE));
  HWND fresh = CreateWindowExW(static_cast<DWORD>(GetWindowLongW(lstOut_, GWL_EXSTYLE)), L"LISTBOX", nullptr,
                               on ? style | LBS_EXTENDEDSEL : style & ~static_cast<DWORD>(LBS_EXTENDEDSEL), r.left,
                               r.top, r.right - r.left, r.bottom - r.top, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(GetDlgCtrlID(lstOut_))),
                               GetModuleHandleW(nullptr), nullptr);
  if (!fresh) return false;
  SendMessageW(fresh, WM_SETFONT, SendMessageW(lstOut_, WM_GETFONT, 0, 0), FALSE);
  // The same lines, the same line selected and the same lines in view.
  const LRESULT n = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    SendMessageW(fresh, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LogLine(i).c_str()));
  }
  const int line = CurrentLine();
  const LRESULT top = SendMessageW(lstOut_, LB_GETTOPINDEX, 0, 0);
  const bool focused = GetFocus() == lstOut_;
  SetWindowPos(fresh, lstOut_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);  // the same place in the tab order
  SetWindowLongPtrW(lstOut_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(log_proc_));
  DestroyWindow(lstOut_);
  lstOut_ = fresh;
  several_lines_ = on;
  SetWindowLongPtrW(lstOut_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  log_proc_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(lstOut_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MainWindow::LogProc)));
  if (line >= 0) {
    if (on) SelectOnlyLine(line);
    else SendMessageW(lstOut_, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
  }
  SendMessageW(lstOut_, LB_SETTOPINDEX, static_cast<WPARAM>(std::max<LRESULT>(top, 0)), 0);
  if (focused) SetFocus(lstOut_);
  if (!nodes_.empty()) RefreshTree();  // the tree lists the new log, not the old one
  return true;
}

HMENU MainWindow::BuildLogMenu() const {
  HMENU menu = CreatePopupMenu();
  const int sel = CurrentLine();
  const bool any = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0) > 0;
  AppendMenuW(menu, MF_STRING | (paused_ ? MF_CHECKED : 0), kCmdPause, L"&Pause");
  AppendMenuW(menu, MF_STRING | (any ? 0 : MF_GRAYED), kCmdClear, L"C&lear");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (any ? 0 : MF_GRAYED), kCmdSave, L"&Save As...");
  const bool selected = several_lines_ ? SendMessageW(lstOut_, LB_GETSELCOUNT, 0, 0) > 0 : sel >= 0;
  AppendMenuW(menu, MF_STRING | (selected ? 0 : MF_GRAYED), kCmdCopy, L"&Copy\tCtrl+C");
  AppendMenuW(menu, MF_STRING | (any ? 0 : MF_GRAYED), kCmdCopyAll, L"Copy &All");
  AppendMenuW(menu, MF_STRING | (several_lines_ ? MF_CHECKED : 0) | (m_Spying && target_ == lstOut_ ? MF_GRAYED : 0),
              kCmdSeveralLines, L"Select Se&veral Lines");
  AppendMenuW(menu, MF_STRING | (capture_file_ && capture_file_->open() ? MF_CHECKED : 0), kCmdCaptureFile,
              L"Capt&ure to File...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (details_visible_ ? MF_CHECKED : 0), kCmdDetails, L"&Details");
  HMENU sub = CreatePopupMenu();
  AppendMenuW(sub, MF_STRING | MFT_RADIOCHECK | (filter_.include_only ? 0 : MF_CHECKED), kCmdFilterExclude,
              L"&Leave out the checked messages");
  AppendMenuW(sub, MF_STRING | MFT_RADIOCHECK | (filter_.include_only ? MF_CHECKED : 0), kCmdFilterInclude,
              L"Log &only the checked messages");
  AppendMenuW(sub, MF_SEPARATOR, 0, nullptr);
  const auto& groups = MessageGroups();
  for (size_t i = 0; i < groups.size(); ++i)
    AppendMenuW(sub, MF_STRING | (filter_.HasGroup(groups[i].id) ? MF_CHECKED : 0),
                kCmdFilterGroup + static_cast<int>(i), MenuText(groups[i].name).c_str());
  AppendMenuW(sub, MF_SEPARATOR, 0, nullptr);
  for (uint32_t m : filter_.messages)
    AppendMenuW(sub, MF_STRING | MF_CHECKED | MF_GRAYED, 0, MenuText(decoder_.Name(m, *target_class_)).c_str());
  const LogRecord* r = RecordOfLine(sel);
  const std::wstring add = r ? L"&Add " + MenuText(Describe(*r, decoder_).name) + L" to the checked"
                             : L"&Add the selected line's message";
  AppendMenuW(sub, MF_STRING | (r ? 0 : MF_GRAYED), kCmdFilterAddSelected, add.c_str());
  AppendMenuW(sub, MF_STRING | (filter_.Active() ? 0 : MF_GRAYED), kCmdFilterForget, L"&Uncheck everything");
  // A family's windows: the lines of chosen windows only.
  AppendMenuW(sub, MF_SEPARATOR, 0, nullptr);
  for (uint32_t window : window_filter_)
    AppendMenuW(sub, MF_STRING | MF_CHECKED | MF_GRAYED, 0, (L"Window " + FullHex(window, true)).c_str());
  const bool family_line = r && r->family;
  const std::wstring only = family_line ? L"Log Only &Window " + FullHex(r->window, true) + L"'s Lines"
                                        : L"Log Only the Selected Line's &Window";
  AppendMenuW(sub, MF_STRING | (family_line ? 0 : MF_GRAYED), kCmdFilterWindow, only.c_str());
  AppendMenuW(sub, MF_STRING | (window_filter_.empty() ? MF_GRAYED : 0), kCmdFilterAllWindows, L"&Every Window's Lines");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), L"&Filter");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING | (any ? 0 : MF_GRAYED), kCmdFindInLog, L"Fi&nd in the Log...\tCtrl+F");
  HMENU length = CreatePopupMenu();
  for (size_t i = 0; i < std::size(kLogLengths); ++i)
    AppendMenuW(length, MF_STRING | MFT_RADIOCHECK | (log_length() == kLogLengths[i] ? MF_CHECKED : 0),
                kCmdLogLength + static_cast<int>(i), (std::to_wstring(kLogLengths[i]) + L" lines").c_str());
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(length), L"Log Len&gth");
  AppendMenuW(menu, MF_STRING | (decimal_ ? MF_CHECKED : 0), kCmdDecimal, L"Deci&mal Parameters");
  HMENU scope = CreatePopupMenu();
  const wchar_t* scopes[] = {L"This &Window", L"With Its &Children", L"Its &Thread", L"Its &Process"};
  for (int i = 0; i < 4; ++i)
    AppendMenuW(scope, MF_STRING | MFT_RADIOCHECK | (scope_ == i ? MF_CHECKED : 0), kCmdScope + i, scopes[i]);
  AppendMenuW(scope, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(scope, MF_STRING | (scope_new_ ? MF_CHECKED : 0) | (scope_ ? 0 : MF_GRAYED), kCmdScopeNew,
              L"Take In &New Windows");
  AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(scope), L"Spy Scop&e");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kCmdRefreshTree, L"&Refresh Tree\tF5");
  AppendMenuW(menu, MF_STRING, kCmdFindWindow, L"Find a &Window...\tCtrl+F in the tree");
  AppendMenuW(menu, MF_STRING, kCmdInspect, L"&Inspect the Selected Window...\tCtrl+I");
  AppendMenuW(menu, MF_STRING, kCmdHighlight, L"&Highlight the Selected Window\tCtrl+H");
  AppendMenuW(menu, MF_STRING | (finder_visible_ ? MF_CHECKED : 0), kCmdFinder, L"&Toolbar Tools");
  AppendMenuW(menu, MF_STRING | (on_top_ ? MF_CHECKED : 0), kCmdOnTop, L"Always on T&op");
  return menu;
}

void MainWindow::ShowLogMenu(LPARAM at) {
  POINT pt{GET_X_LPARAM(at), GET_Y_LPARAM(at)};
  if (at == -1) {  // from the keyboard: at the selected line
    RECT r{};
    const LRESULT sel = CurrentLine();
    if (sel < 0 || SendMessageW(lstOut_, LB_GETITEMRECT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(&r)) == LB_ERR)
      GetClientRect(lstOut_, &r);
    pt = {r.left + 8, r.bottom};
    ClientToScreen(lstOut_, &pt);
  }
  HMENU menu = BuildLogMenu();
  const int id = static_cast<int>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, pt.x, pt.y, 0, hwnd_, nullptr));
  DestroyMenu(menu);
  if (id) RunLogCommand(id);
}

void MainWindow::RunLogCommand(int id) {
  if (id >= kCmdFilterGroup && id < kCmdFilterGroup + static_cast<int>(MessageGroups().size())) {
    MessageFilter f = filter_;
    f.ToggleGroup(MessageGroups()[static_cast<size_t>(id - kCmdFilterGroup)].id);
    SetFilter(std::move(f));
    return;
  }
  if (id >= kCmdScope && id < kCmdScope + 4) {
    SetScope(id - kCmdScope, scope_new_);
    return;
  }
  if (id == kCmdScopeNew) {
    SetScope(scope_, !scope_new_);
    return;
  }
  if (id == kCmdFilterWindow) {
    if (const LogRecord* r = RecordOfLine(CurrentLine()); r && r->family) {
      std::vector<uint32_t> windows = window_filter_;
      if (std::find(windows.begin(), windows.end(), static_cast<uint32_t>(r->window)) == windows.end())
        windows.push_back(static_cast<uint32_t>(r->window));
      SetWindowFilter(std::move(windows));
    }
    return;
  }
  if (id == kCmdFilterAllWindows) {
    SetWindowFilter({});
    return;
  }
  if (id >= kCmdLogLength && id < kCmdLogLength + static_cast<int>(std::size(kLogLengths))) {
    SetLogLength(kLogLengths[id - kCmdLogLength]);
    SaveSetting(app_, kToolSection, L"LogLines", std::to_wstring(log_length()));
    return;
  }
  switch (id) {
    case kCmdPause: SetPaused(!paused_); break;
    case kCmdInspect: ShowInspector(); break;
    case kCmdFindWindow: ShowFindBox(false); break;
    case kCmdFindInLog: ShowFindBox(true); break;
    case kCmdHighlight: HighlightSelectedWindow(); break;
    case kCmdOnTop:
      SetOnTop(!on_top_);
      SaveSetting(app_, kToolSection, L"OnTop", on_top_ ? L"1" : L"0");
      break;
    case kCmdDecimal:
      SetDecimal(!decimal_);
      SaveSetting(app_, kToolSection, L"Decimal", decimal_ ? L"1" : L"0");
      break;
    case kCmdClear: ClearLog(); break;
    case kCmdSave:
      WithChosenFile([this](const std::wstring& path, bool csv) { SaveLog(path, csv); });
      break;
    case kCmdCaptureFile:
      if (capture_file_ && capture_file_->open()) {
        TellFailure([this] { StopCaptureFile(); });  // its last block may fail to go out
        break;
      }
      WithChosenFile([this](const std::wstring& path, bool csv) { StartCaptureFile(path, csv); });
      break;
    case kCmdCopy: CopyLines(false); break;
    case kCmdCopyAll: CopyLines(true); break;
    case kCmdSeveralLines:
      if (SetSeveralLines(!several_lines_))
        SaveSetting(app_, kToolSection, L"SeveralLines", several_lines_ ? L"1" : L"0");
      break;
    case kCmdDetails:
      ShowDetails(!details_visible_);
      SaveSetting(app_, kToolSection, L"Details", details_visible_ ? L"1" : L"0");
      break;
    case kCmdRefreshTree: RefreshTree(); break;
    case kCmdFinder:
      ShowFinder(!finder_visible_);
      SaveSetting(app_, kToolSection, L"Finder", finder_visible_ ? L"1" : L"0");
      break;
    case kCmdFilterExclude:
    case kCmdFilterInclude: {
      MessageFilter f = filter_;
      f.include_only = id == kCmdFilterInclude;
      SetFilter(std::move(f));
      break;
    }
    case kCmdFilterAddSelected: {
      const LogRecord* r = RecordOfLine(CurrentLine());
      if (!r) break;
      MessageFilter f = filter_;
      if (std::find(f.messages.begin(), f.messages.end(), r->msg) == f.messages.end()) f.messages.push_back(r->msg);
      SetFilter(std::move(f));
      break;
    }
    case kCmdFilterForget: {
      MessageFilter f = filter_;
      f.groups.clear();
      f.messages.clear();
      SetFilter(std::move(f));
      break;
    }
    default: break;
  }
}

void MainWindow::TellFailure(const std::function<void()>& step) {
  try {
    step();
  } catch (const RuntimeError& e) {
    message_box(hwnd_, SpyErrorText(e), kProgramTitle, MB_OK | MB_ICONEXCLAMATION);
  }
}

void MainWindow::WithChosenFile(const std::function<void(const std::wstring& path, bool csv)>& use) {
  bool csv = false;
  const std::wstring path = choose_save_path ? choose_save_path(hwnd_, &csv) : std::wstring();
  if (!path.empty()) TellFailure([&] { use(path, csv); });
}

void MainWindow::SetPaused(bool on) {
  paused_ = on;
  UpdateCaption();
}

// Why the capture ended without the user ("" while it runs or after spying is switched again).
void MainWindow::ShowCaptureEnd(std::wstring why) {
  // Nothing comes after the end: what the capture lost since its last message gets its line now.
  if (!why.empty()) FinishCapture(true);
  capture_end_ = std::move(why);
  UpdateCaption();
}

// The caption says what holds the log back, where the user looks: "(filtered)", "(paused)".
void MainWindow::UpdateCaption() {
  std::wstring caption = kCaption;
  if (filter_.Active()) caption += L" (filtered)";
  if (paused_) caption += L" (paused)";
  if (!capture_end_.empty()) caption += L" - capture ended: " + capture_end_;
  wchar_t now[128] = {};
  GetWindowTextW(hwnd_, now, 128);
  if (caption != now) SetWindowTextW(hwnd_, caption.c_str());
}

void MainWindow::StartCaptureFile(const std::wstring& path, bool csv) {
  auto file = std::make_unique<CaptureFile>();
  if (!file->Open(path, csv)) common::Check(HRESULT_FROM_WIN32(GetLastError()), kProgramTitle);
  file->set_formatting(&decoder_, &names_);
  capture_file_ = std::move(file);
  if (m_Spying && target_) {
    ++log_busy_;  // reading the caption sends the window a message: no news for the log
    const LogRecord header = WindowHeader(reinterpret_cast<INT_PTR>(target_));
    --log_busy_;
    if (!capture_file_->Queue(header)) CaptureFileFailed();
  }
  StartFlushTimer();
}

void MainWindow::StartFlushTimer() { flush_timer_.Start(CaptureFile::kMaxWaitMs / 4); }

void MainWindow::StopFlushTimer() { flush_timer_.Stop(); }

void MainWindow::FlushTick() {
  if (capture_file_ && capture_file_->open() && !capture_file_->FlushIfDue()) CaptureFileFailed();
}

void MainWindow::StopCaptureFile() {
  StopFlushTimer();
  if (!capture_file_) return;
  // Stopped while spying: messages lost since the last one written get the file's last line (the
  // log counts them when its next line comes).
  if (m_Spying && target_ && capture_file_->open()) {
    const long unnoted = UnnotedLoss();
    if (unnoted > 0) capture_file_->Queue(LossNow(unnoted));
  }
  const bool ok = capture_file_->Close();
  const DWORD error = GetLastError();
  capture_file_.reset();
  if (!ok) common::Check(HRESULT_FROM_WIN32(error), kProgramTitle);
}

void MainWindow::ClearLog() {
  ResetLog();
  UpdateDetails();
}

std::wstring MainWindow::LogLine(LRESULT i) const {
  if (const LogRecord* r = RecordOfLine(i)) return LineText(*r, &names_);
  const LRESULT len = SendMessageW(lstOut_, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
  if (len <= 0) return {};
  std::wstring s(static_cast<size_t>(len) + 1, L'\0');
  const LRESULT got = SendMessageW(lstOut_, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<size_t>(std::clamp<LRESULT>(got, 0, len)));
  return s;
}

void MainWindow::SaveLog(const std::wstring& path, bool csv) const {
  std::wstring text;
  if (csv) {
    // The records of the log's lines, as the log shows them.
    text = CsvHeader() + L"\r\n";
    const LRESULT n = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i)
      if (const LogRecord* r = RecordOfLine(i)) text += CsvLine(*r, decoder_) + L"\r\n";
  } else {
    std::vector<std::wstring> lines;
    const LRESULT n = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) lines.push_back(LogLine(i));
    text = LogText(lines);
  }
  if (!WriteUtf8File(path, text, csv)) common::Check(HRESULT_FROM_WIN32(GetLastError()), kProgramTitle);
}

bool MainWindow::CopyLines(bool all) const {
  std::wstring text;
  const LRESULT n = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
  const LRESULT sel = SendMessageW(lstOut_, LB_GETCURSEL, 0, 0);
  for (LRESULT i = 0; i < n; ++i) {
    if (!all && (several_lines_ ? SendMessageW(lstOut_, LB_GETSEL, static_cast<WPARAM>(i), 0) <= 0 : i != sel)) continue;
    text += LogLine(i) + L"\r\n";
  }
  if (text.empty() || !OpenClipboard(hwnd_)) return false;
  bool ok = false;
  EmptyClipboard();
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* p = GlobalLock(mem)) {
      std::memcpy(p, text.c_str(), bytes);
      GlobalUnlock(mem);
      ok = SetClipboardData(CF_UNICODETEXT, mem) != nullptr;
    }
    if (!ok) GlobalFree(mem);  // the clipboard owns it only when SetClipboardData took it
  }
  CloseClipboard();
  return ok;
}

// --- the filter -------------------------------------------------------------------------------------

void MainWindow::SetFilter(MessageFilter filter) {
  filter_ = std::move(filter);
  UpdateCaption();
  SaveSetting(app_, kToolSection, L"FilterMode", filter_.include_only ? L"include" : L"exclude");
  SaveSetting(app_, kToolSection, L"FilterGroups", filter_.GroupsText());
  SaveSetting(app_, kToolSection, L"FilterMessages",
              filter_.MessagesText([this](uint32_t m) { return m < WM_USER ? decoder_.Name(m, L"") : std::wstring(); }));
  if (!m_SpyWindow || !m_Spying || !target_) return;
  // Only a window being watched is watched anew (on the desktop nothing is).
  LONG watched = 0;
  if (FAILED(m_SpyWindow->get_hWnd(&watched)) || !watched) return;
  // A window being watched takes the new filter at once; its log stays.
  try {
    common::Check(m_SpyWindow->put_Subclassed(VARIANT_FALSE), kProgramTitle);
    ApplyFilter();
    common::Check(m_SpyWindow->put_Subclassed(VARIANT_TRUE), kProgramTitle);
  } catch (const RuntimeError& e) {
    message_box(hwnd_, SpyErrorText(e), kProgramTitle, MB_OK);
  }
}

void MainWindow::ApplyFilter() { common::Check(WatchThrough(m_SpyWindow.get(), filter_), kProgramTitle); }

// --- the tree -----------------------------------------------------------------------------------------

void MainWindow::RefreshTree() {
  auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  const std::wstring key = NodeKey(node);
  {
    // Reading the windows' captions sends them messages: not news for the log either.
    ++log_busy_;
    struct Busy {
      int& n;
      ~Busy() { --n; }
    } busy{log_busy_};
    FillWindowTree();
  }
  if (HTREEITEM again = key.empty() ? nullptr : FindNode(key)) {
    // The same window stays selected; the spying goes on as it was.
    filling_ = true;
    SendMessageW(tvWindows_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(again));
    SendMessageW(tvWindows_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(again));
    filling_ = false;
  }
  UpdateDetails();
}

void MainWindow::SetScope(int scope, bool take_new) {
  const bool changed = scope != scope_ || take_new != scope_new_;
  scope_ = scope;
  scope_new_ = take_new;
  if (!changed) return;
  SaveSetting(app_, kToolSection, L"Scope", std::to_wstring(scope_));
  SaveSetting(app_, kToolSection, L"ScopeNew", scope_new_ ? L"1" : L"0");
  if (m_Spying) SetSpying(true);  // the capture goes on with the new choice
}

void MainWindow::SetWindowFilter(std::vector<uint32_t> windows) {
  // (New lines only, as the message filter: what the log shows already stays.)
  window_filter_ = std::move(windows);
}

}  // namespace spy
