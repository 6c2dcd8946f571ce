// Spying: the toolbar, node clicks, the spying switch and the sink that logs each message.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cwchar>
#include <map>

#include "hex.h"
#include "main_window.h"

using common::com_ptr;
using common::RuntimeError;

namespace spy {

namespace {

// The display rate: the log on screen is brought up to date at most this often (about 60 times
// a second), and less often when its updates take long (never more than a third of the time).
constexpr UINT kLogUpdateMs = 16;
// While messages keep the thread so busy that the display timer never comes, the sink brings the
// log up to date itself after this long.
constexpr double kLogOverdueMs = 250;
// Display ticks with nothing new before the timer stops.
constexpr int kIdleTicks = 4;

// A node's tag as a 32-bit integer: decimal text, rounded half to even; error 13 when it
// is no number, 6 when it does not fit.
LONG TagToLong(const std::wstring& tag) {
  const wchar_t* begin = tag.c_str();
  while (*begin == L' ') ++begin;
  wchar_t* end = nullptr;
  errno = 0;
  double v = std::wcstod(begin, &end);
  if (end == begin) common::Raise(13, kProgramTitle, L"Type mismatch");
  while (*end == L' ') ++end;
  if (*end) common::Raise(13, kProgramTitle, L"Type mismatch");
  v = std::nearbyint(v);
  if (!(v >= -2147483648.0 && v <= 2147483647.0)) common::Raise(common::errOverflow, kProgramTitle);
  return static_cast<LONG>(v);
}

// A capture can end without the user: the watched window or its program goes, or the program
// cuts the capture out. The window object says so (IhkCaptureInfo.CaptureEnded); the caption
// shows it until spying is switched again. The object is looked at only while the main window
// that holds it exists.
struct EndWatch {
  HWND hwnd;  // the main window's, looked at before `main` is
  MainWindow* main;
  IhkCaptureInfo* info;  // the main window's spy object's, which outlives the watch
};

std::map<UINT_PTR, EndWatch>& EndWatches() {
  static std::map<UINT_PTR, EndWatch> watches;
  return watches;
}

void CALLBACK EndWatchProc(HWND, UINT, UINT_PTR id, DWORD) {
  auto it = EndWatches().find(id);
  VARIANT_BOOL ended = VARIANT_FALSE;
  LONG why = 0;
  if (it != EndWatches().end() && IsWindow(it->second.hwnd) &&
      SUCCEEDED(it->second.info->get_CaptureEnded(&ended)) && !ended)
    return;
  if (ended && it->second.info->get_EndReason(&why) == S_OK) {
    const wchar_t* text = why == 1 ? L"the window was destroyed"
                          : why == 2 ? L"its program ended"
                          : why == 3 ? L"its program cut the capture out"
                                     : L"its program let go";
    if (IsWindow(it->second.hwnd)) it->second.main->ShowCaptureEnd(text);
  }
  KillTimer(nullptr, id);
  if (it != EndWatches().end()) EndWatches().erase(it);
}

// Starts (window given) or stops looking for the end of the main window's capture.
void WatchCaptureEnd(MainWindow* main, _HookwireWindow* window) {
  for (auto it = EndWatches().begin(); it != EndWatches().end();) {
    if (it->second.main != main) {
      ++it;
      continue;
    }
    KillTimer(nullptr, it->first);
    it = EndWatches().erase(it);
  }
  main->ShowCaptureEnd(L"");
  com_ptr<IhkCaptureInfo> info;
  if (window) window->QueryInterface(IID_IhkCaptureInfo, info.put_void());
  if (!info) return;
  if (UINT_PTR id = SetTimer(nullptr, 0, 250, EndWatchProc)) EndWatches()[id] = EndWatch{main->hwnd(), main, info.get()};
}

}  // namespace

void MainWindow::LoadMessageNames() { names_.LoadRegistered(); }

// --- toolbar and tree ---------------------------------------------------------------------

void MainWindow::ToolbarButtonClick(const std::wstring& key) {
  if (key == L"Exit") {
    Close();
    return;
  }
  if (key == L"Spy") {
    const bool pressed = SendMessageW(tbMain_, TB_ISBUTTONCHECKED, kButtonSpy, 0) != 0;
    SetSpying(pressed);
  }
}

void MainWindow::tvWindows_NodeClick() { SetSpying(m_Spying != 0); }

// --- the spying switch ----------------------------------------------------------------------

std::wstring MainWindow::SpyErrorText(const RuntimeError& e) {
  const std::wstring& source = e.source().empty() ? std::wstring(kProgramTitle) : e.source();
  return source + L"\r\nError #" + common::Hex(static_cast<int32_t>(e.number())) + L"\r\n" + e.description();
}

LONG MainWindow::SelectedWindowHandle() const {
  auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  if (!node) return 0;
  return TagToLong(NodeTag(node));
}

bool MainWindow::IsOwnLog(LONG handle) const {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle)) == lstOut_;
}

void MainWindow::SetSpying(bool on) {
  try {
    if (!m_SpyWindow) common::Raise(common::errObjectNotSet, kProgramTitle);
    FinishCapture();  // before the window object lets go of the window (and of its count)
    if (on) {
      WatchCaptureEnd(this, nullptr);
      m_Spying = -1;
      ResetLog();
      target_ = nullptr;
      const LONG h = SelectedWindowHandle();
      // A capture of the same window with another scope starts again (the object keeps a running one).
      com_ptr<IhkCaptureScope> scope;
      m_SpyWindow->QueryInterface(IID_IhkCaptureScope, scope.put_void());
      LONG now_scope = 0;
      VARIANT_BOOL now_new = VARIANT_FALSE;
      if (scope && SUCCEEDED(scope->get_Scope(&now_scope)) && SUCCEEDED(scope->get_IncludeNewWindows(&now_new)) &&
          (now_scope != scope_ || (now_new != VARIANT_FALSE) != (scope_ && scope_new_)))
        common::Check(m_SpyWindow->put_Subclassed(VARIANT_FALSE), kProgramTitle);
      common::Check(m_SpyWindow->put_hWnd(h), kProgramTitle);
      NoteTarget(h);
      VARIANT_BOOL cannot = VARIANT_FALSE;
      common::Check(m_SpyWindow->get_CannotSubclass(&cannot), kProgramTitle);
      // The log list itself is never watched: every line would be a message of its own.
      if (cannot || IsOwnLog(h)) {
        common::Check(m_SpyWindow->putref_MessageSink(nullptr), kProgramTitle);
        common::Check(m_SpyWindow->put_hWnd(0), kProgramTitle);
      } else {
        ApplyFilter();  // AllMessages unless the user has chosen a filter
        if (scope) {
          common::Check(scope->put_Scope(scope_), scope.get(), IID_IhkCaptureScope, kProgramTitle);
          common::Check(scope->put_IncludeNewWindows(scope_ && scope_new_ ? VARIANT_TRUE : VARIANT_FALSE), scope.get(),
                        IID_IhkCaptureScope, kProgramTitle);
        } else if (scope_) {
          common::Raise(common::errInvalidArgument, kProgramTitle, L"This Hookwire cannot watch a window's family");
        }
        common::Check(m_SpyWindow->putref_MessageSink(this), kProgramTitle);
        common::Check(m_SpyWindow->put_Subclassed(VARIANT_TRUE), kProgramTitle);
        WatchCaptureEnd(this, m_SpyWindow.get());
      }
    } else {
      WatchCaptureEnd(this, nullptr);
      common::Check(m_SpyWindow->put_Subclassed(VARIANT_FALSE), kProgramTitle);
      common::Check(m_SpyWindow->putref_MessageSink(nullptr), kProgramTitle);
      if (capture_file_ && !capture_file_->Flush()) CaptureFileFailed();
      m_Spying = 0;
      MarkWatchedWindows();
      ResetLog();
      target_ = nullptr;
    }
    UpdateDetails();
  } catch (const RuntimeError& e) {
    message_box(hwnd_, SpyErrorText(e), kProgramTitle, MB_OK);
  }
}

void MainWindow::FinishCapture(bool show_in_log) {
  if (!target_ || !m_SpyWindow || !m_Spying) return;
  const long tail = UnnotedLoss();
  if (tail > 0 || (show_in_log && lost_unshown_ > 0)) NoteLoss(tail, nullptr, show_in_log);
  if (capture_file_ && !capture_file_->Flush()) CaptureFileFailed();
}

LogRecord MainWindow::LossNow(long count) const {
  LogRecord loss = LossRecord(count, reinterpret_cast<INT_PTR>(target_), 0, -1);
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  loss.ms = static_cast<double>(now.QuadPart - capture_start_.QuadPart) * 1000.0 /
            static_cast<double>(qpc_frequency_.QuadPart ? qpc_frequency_.QuadPart : 1);
  SYSTEMTIME st;
  GetLocalTime(&st);
  loss.day_ms = ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
  return loss;
}

long MainWindow::UnnotedLoss() const {
  LONG total = 0;
  if (!capture_details_ || FAILED(capture_details_->get_LostMessages(&total))) return 0;
  return std::max(static_cast<long>(total - lost_baseline_) - lost_noted_, 0L);
}

void MainWindow::CaptureFileFailed() { PostMessageW(hwnd_, kCaptureFileFailed, GetLastError(), 0); }

void MainWindow::NoteLoss(long count, const LogRecord* next, bool show_now) {
  lost_noted_ += count;
  LogRecord loss = next ? LossRecord(count, next->window, next->ms, next->day_ms) : LossNow(count);
  if (count > 0 && capture_file_ && capture_file_->open() && !capture_file_->Queue(loss)) CaptureFileFailed();
  if (paused_ || (!next && !show_now)) {
    lost_unshown_ += count;  // the log's line comes with the next line it shows
    return;
  }
  loss.lost_before = count + lost_unshown_;
  loss.line = LossLine(loss.lost_before);
  lost_unshown_ = 0;
  AddRecord(std::move(loss));
}

// --- the sink ---------------------------------------------------------------------------------

HRESULT MainWindow::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IhkMessageSink) {
    *out = static_cast<IhkMessageSink*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT MainWindow::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT MainWindow::Message(LONG Msg, LONG_PTR wParam, LONG_PTR lParam, LONG_PTR*) {
  // Messages that the logging itself causes (sent while the sink runs, or while the log
  // updates or repaints itself) are not logged: they would feed back without end.
  if (sink_depth_ > 0 || log_busy_ > 0 || !lstOut_) return S_OK;
  struct Depth {
    int& n;
    explicit Depth(int& d) : n(d) { ++n; }
    ~Depth() { --n; }
  } depth(sink_depth_);
  COM_METHOD_BEGIN
  ++message_count_;
  // The sink only records: no window is called and no text is made here. The log on screen
  // and a capture file take the records at the display rate.
  const bool to_file = capture_file_ && capture_file_->open();
  if (paused_ && !to_file) {
    // The capture goes on, the log waits; messages lost meanwhile still count.
    long lost = 0;
    VARIANT_BOOL delivering = VARIANT_FALSE;
    if (capture_details_ && SUCCEEDED(capture_details_->get_Delivering(&delivering)) && delivering &&
        SUCCEEDED(capture_details_->get_LostBefore(&lost)) && lost > 0) {
      message_count_ += static_cast<uint64_t>(lost);
      lost_noted_ += lost;
      lost_unshown_ += lost;
    }
    return S_OK;
  }
  if (Msg < 0) common::Raise(common::errSubscriptOutOfRange, kProgramTitle);  // no line has such a name
  LogRecord record = MakeRecord(Msg, wParam, lParam);
  record.decimal = decimal_;
  if (record.lost_before > 0) {
    // The numbers go on past the messages that never came.
    message_count_ += static_cast<uint64_t>(record.lost_before);
    record.index = message_count_;
    NoteLoss(record.lost_before, &record);
  } else if (lost_unshown_ > 0 && !paused_) {
    NoteLoss(0, &record);
  }
  // A family's window left out by the window filter: its loss was noted above, the line goes.
  if (record.family && !window_filter_.empty() &&
      std::find(window_filter_.begin(), window_filter_.end(), static_cast<uint32_t>(record.window)) == window_filter_.end())
    return S_OK;
  if (to_file && !capture_file_->Queue(record)) CaptureFileFailed();
  if (!paused_) AddRecord(std::move(record));
  else ScheduleLogUpdate();  // the file's records are put into words on the display tick
  // A thread kept busy by messages never gets to the display timer: now and then the log is
  // brought up to date from here (what that causes is not logged: the sink is running).
  if ((message_count_ & 255) == 0 && store_.added() != shown_end_) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (static_cast<double>(now.QuadPart - waiting_since_) * 1000.0 >
        kLogOverdueMs * static_cast<double>(qpc_frequency_.QuadPart ? qpc_frequency_.QuadPart : 1))
      UpdateLog();
  }
  COM_METHOD_END(kProgramTitle, IID_IhkMessageSink)
}

void MainWindow::AddRecord(LogRecord record) {
  if (store_.added() == shown_end_) {  // the first record the log on screen waits for
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    waiting_since_ = now.QuadPart;
  }
  store_.Add(std::move(record));
  ScheduleLogUpdate();
}

// The display timer runs while records come and stops a few ticks after the last.
void MainWindow::ScheduleLogUpdate() {
  idle_ticks_ = 0;
  log_timer_.Start(kLogUpdateMs);
}

void MainWindow::StopLogTimer() { log_timer_.Stop(); }

void MainWindow::LogTick() {
  // An update that took long (the repaint goes through the X server) waits twice as long again,
  // so the log never takes more than a third of the thread from the messages.
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  if (now.QuadPart - last_update_ < 2 * update_cost_) return;
  const bool fresh = store_.added() != shown_end_ || (capture_file_ && capture_file_->pending());
  UpdateLog();
  if (family_ && now.QuadPart - marked_at_ > qpc_frequency_.QuadPart / 2) MarkWatchedWindows();
  if (!fresh && ++idle_ticks_ >= kIdleTicks) StopLogTimer();
}

void MainWindow::ResetLog() {
  ++log_busy_;
  SendMessageW(lstOut_, LB_RESETCONTENT, 0, 0);
  --log_busy_;
  shown_.clear();
  store_.Clear();
  shown_end_ = store_.added();
}

const LogRecord* MainWindow::RecordOfLine(LRESULT line) const {
  if (line < 0) return nullptr;
  const LRESULT count = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
  if (line >= count || static_cast<size_t>(count) != shown_.size()) return nullptr;
  return &shown_[static_cast<size_t>(line)];
}

void MainWindow::UpdateLog() {
  if (!lstOut_ || !IsWindow(lstOut_)) return;
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  // Everything the log does now is its own doing: what it sends anywhere is not logged.
  ++log_busy_;
  struct Busy {
    int& n;
    ~Busy() { --n; }
  } busy{log_busy_};
  // A capture file's records are put into words here too, off the sink's path.
  if (capture_file_ && capture_file_->open() && !capture_file_->Drain()) CaptureFileFailed();
  const uint64_t end = store_.added();
  if (end == shown_end_) {
    last_update_ = start.QuadPart;
    return;
  }
  SendMessageW(lstOut_, WM_SETREDRAW, FALSE, 0);
  // The list box's own switch still lets it draw its focus rectangle and scroll its bits on a
  // selection while it has the focus; the window manager's (DefWindowProc's) stops that too.
  DefWindowProcW(lstOut_, WM_SETREDRAW, FALSE, 0);
  // The lines the seed's log would hold now: the store's. Those shown already stay; the new ones
  // go after them, and the oldest go as the length wants.
  const uint64_t first_new = std::max(shown_end_, store_.first_number());
  const LRESULT count = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
  const LRESULT keep_old = static_cast<LRESULT>(store_.size() - (end - first_new));
  if (first_new != shown_end_ || keep_old <= 0) {
    SendMessageW(lstOut_, LB_RESETCONTENT, 0, 0);
    shown_.clear();
  } else {
    for (LRESULT drop = count - keep_old; drop > 0; --drop) {
      SendMessageW(lstOut_, LB_DELETESTRING, 0, 0);
      if (!shown_.empty()) shown_.pop_front();
    }
  }
  // Room for the new lines at once, not line by line.
  SendMessageW(lstOut_, LB_INITSTORAGE, static_cast<WPARAM>(end - first_new), static_cast<LPARAM>((end - first_new) * 64));
  bool out_of_memory = false;
  for (uint64_t n = first_new; n < end && !out_of_memory; ++n) {
    const LogRecord* r = store_.Numbered(n);
    const std::wstring line = r ? LineText(*r, &names_) : std::wstring();
    const LRESULT added = SendMessageW(lstOut_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    out_of_memory = added == LB_ERR || added == LB_ERRSPACE;
    if (!out_of_memory) shown_.push_back(r ? *r : LogRecord{});
  }
  shown_end_ = end;
  const LRESULT shown = SendMessageW(lstOut_, LB_GETCOUNT, 0, 0);
  if (out_of_memory) {
    // The list box is full: it keeps what it took, and the store forgets what it could not show.
    ResetLog();
  } else if (shown > 0) {
    if (several_lines_) SelectOnlyLine(shown - 1);
    else SendMessageW(lstOut_, LB_SETCURSEL, static_cast<WPARAM>(shown - 1), 0);
  }
  DefWindowProcW(lstOut_, WM_SETREDRAW, TRUE, 0);
  SendMessageW(lstOut_, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(lstOut_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
  if (!details_of_tree_) UpdateDetails();
  LARGE_INTEGER done;
  QueryPerformanceCounter(&done);
  last_update_ = done.QuadPart;
  update_cost_ = done.QuadPart - start.QuadPart;
}

// What the records need to know about the watched window, read once per capture.
void MainWindow::NoteTarget(LONG handle) {
  target_ = reinterpret_cast<HWND>(static_cast<LONG_PTR>(handle));
  wchar_t cls[256] = {};
  if (!target_ || !RealGetWindowClassW(target_, cls, 256)) GetClassNameW(target_, cls, 256);
  target_class_ = std::make_shared<const std::wstring>(cls);
  target_own_thread_ = target_ && GetWindowThreadProcessId(target_, nullptr) == GetCurrentThreadId();
  capture_details_ = nullptr;
  if (m_SpyWindow) m_SpyWindow->QueryInterface(IID_IhkMessageDetails, capture_details_.put_void());
  message_count_ = 0;
  family_ = scope_ ? std::make_shared<FamilyClasses>() : nullptr;
  target32_ = WindowOf32BitProgram(target_);
  lost_baseline_ = 0;
  if (capture_details_) capture_details_->get_LostMessages(&lost_baseline_);
  lost_noted_ = 0;
  lost_unshown_ = 0;
  // A capture file that runs on into another window's messages says so.
  if (target_ && capture_file_ && capture_file_->open() && capture_file_->last_window() != reinterpret_cast<INT_PTR>(target_)) {
    ++log_busy_;  // reading the caption sends the window a message: no news for the log
    const LogRecord header = WindowHeader(reinterpret_cast<INT_PTR>(target_));
    --log_busy_;
    if (!capture_file_->Queue(header)) CaptureFileFailed();
  }
  QueryPerformanceCounter(&capture_start_);
  QueryPerformanceFrequency(&qpc_frequency_);
  details_of_tree_ = false;
  MarkWatchedWindows();  // the marks of an earlier family go
  marked_at_ = 0;        // the new family's come at the next look
}

void MainWindow::MarkWatchedWindows() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  marked_at_ = now.QuadPart;
  std::vector<HTREEITEM> watched;
  com_ptr<IhkCaptureScope> scope;
  LONG n = 0;
  if (family_ && m_Spying && m_SpyWindow && SUCCEEDED(m_SpyWindow->QueryInterface(IID_IhkCaptureScope, scope.put_void())) &&
      SUCCEEDED(scope->get_WatchedCount(&n)))
    for (LONG i = 0; i < n; ++i) {
      LONG h = 0;
      if (FAILED(scope->get_WatchedWindow(i, &h))) break;
      if (HTREEITEM node = FindNode(L"H" + common::Hex(h))) watched.push_back(node);
    }
  std::sort(watched.begin(), watched.end());
  auto bold = [this](HTREEITEM node, bool on) {
    TVITEMW item{};
    item.mask = TVIF_STATE;
    item.hItem = node;
    item.stateMask = TVIS_BOLD;
    item.state = on ? TVIS_BOLD : 0;
    SendMessageW(tvWindows_, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  };
  for (HTREEITEM node : marked_)
    if (!std::binary_search(watched.begin(), watched.end(), node)) bold(node, false);
  for (HTREEITEM node : watched)
    if (!std::binary_search(marked_.begin(), marked_.end(), node)) bold(node, true);
  marked_ = std::move(watched);
}

bool MainWindow::marked(HTREEITEM node) const {
  TVITEMW item{};
  item.mask = TVIF_STATE;
  item.hItem = node;
  item.stateMask = TVIS_BOLD;
  return SendMessageW(tvWindows_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) && (item.state & TVIS_BOLD);
}

}  // namespace spy
