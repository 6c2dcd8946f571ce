// frmMain, the one window of Snoopet: toolbar, window tree, message log, the splitter
// between tree and log, the stored placement, and the sink that logs a watched window's
// messages. Geometry is kept in twips (single precision) and converted to pixels with the
// screen's twips per pixel.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <map>
#include <string>
#include <vector>

#include "capture_record.h"
#include "com_ptr.h"
#include "hookwire_h.h"
#include "capture_file.h"
#include "log_record.h"
#include "message_decode.h"
#include "message_filter.h"
#include "message_names.h"
#include "runtime_error.h"
#include "thread_timer.h"

namespace spy {

inline constexpr const wchar_t kProgramTitle[] = L"Snoopet";
inline constexpr const wchar_t kCaption[] = L"Hookwire - Message Spy Sample";
inline constexpr const wchar_t kWindowClass[] = L"SnoopetMainWindow";

// Resource identifiers of the pictures (bitmaps of imImages) and the icon.
enum ResourceId : int {
  kIconId = 1,
  kPictureExit = 101,
  kPictureSpy = 102,
  kPictureWindow = 103,
};

// Command identifiers of the toolbar buttons; Refresh and Details are there only with the finder.
enum ButtonId : int { kButtonExit = 1, kButtonSpy = 2, kButtonRefresh = 3, kButtonDetails = 4 };

// Commands of the log's menu (right click on the log, or the context-menu key).
enum LogCommand : int {
  kCmdPause = 200,
  kCmdClear,
  kCmdSave,
  kCmdCopy,
  kCmdCopyAll,
  kCmdDetails,
  kCmdRefreshTree,
  kCmdFilterExclude,      // the chosen messages are left out
  kCmdFilterInclude,      // only the chosen messages are logged
  kCmdFilterAddSelected,  // the selected line's message joins the chosen ones
  kCmdFilterForget,       // nothing chosen: every message is logged
  kCmdFinder,             // shows or hides the toolbar's tools: Refresh, Details and the finder
  kCmdCaptureFile,        // starts or stops streaming every message to a file
  kCmdSeveralLines,       // lets the log select several lines at once (for Copy)
  kCmdInspect,            // the window inspector for the selected node
  kCmdFindWindow,         // finds a window in the tree by caption, class, handle or process id
  kCmdFindInLog,          // finds text in the log's lines
  kCmdHighlight,          // flashes the selected node's window's outline on the screen
  kCmdOnTop,              // keeps Snoopet's window above the others
  kCmdDecimal,            // new lines show wParam and lParam in decimal
  kCmdScopeNew,           // a wider scope takes in windows made while it is watched
  kCmdFilterWindow,       // a family's lines: only those of the selected line's window (and others so chosen)
  kCmdFilterAllWindows,   // a family's lines: every window's
  kCmdScope = 250,        // + HookwireScope: which windows Spy watches
  kCmdLogLength = 260,    // + the index in LogLengths()
  kCmdFilterGroup = 300,  // + the group's index in MessageGroups()
};
// The lengths the log can be given (lines); the first is the seed's 501.
inline constexpr int kLogLengths[] = {501, 2000, 10000, 50000};

// The system menu's item that opens the log's menu (below 0xF000, low four bits clear).
inline constexpr UINT kSysCmdLogMenu = 0x0EF0;
// Posted when writing the capture file failed (wParam: the error); the box shows outside the sink.
inline constexpr UINT kCaptureFileFailed = WM_APP + 2;

enum class Pointer { Arrow, SizeWE };

struct MainWindowOptions {
  std::wstring app_name;       // settings group; empty: the executable's name
  bool quit_on_close = false;  // post WM_QUIT once the window is gone (the program)
};

// A rectangle of a control in twips, relative to the form's client area.
struct TwipsRect {
  float left, top, width, height;
};

class MainWindow final : public IhkMessageSink {
 public:
  static constexpr float kDesignScaleWidth = 7365;
  static constexpr float kDesignScaleHeight = 5910;
  static constexpr int kLogCap = 500;  // the log grows to kLogCap + 1 lines

  // Creates the window with its controls (hidden) and runs the start-up.
  explicit MainWindow(MainWindowOptions options = {});
  virtual ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // --- attributes ---------------------------------------------------------------
  HWND hwnd() const noexcept { return hwnd_; }
  HWND toolbar() const noexcept { return tbMain_; }
  HWND tree() const noexcept { return tvWindows_; }
  HWND log() const noexcept { return lstOut_; }
  HIMAGELIST images() const noexcept { return imImages_; }
  const std::wstring& app_name() const noexcept { return app_; }
  bool closed() const noexcept { return unloaded_; }

  float gap() const noexcept { return m_Gap; }
  float splitter_pos() const noexcept { return m_SplitterPos; }
  float splitter_right() const noexcept { return m_SplitterRight; }
  float splitter_top() const noexcept { return m_SplitterTop; }
  float splitter_bottom() const noexcept { return m_SplitterBottom; }
  int32_t splitter_state() const noexcept { return m_SplitterState; }
  bool spying() const noexcept { return m_Spying != 0; }
  Pointer pointer() const noexcept { return pointer_; }

  float twips_per_pixel_x() const noexcept { return tppx_; }
  float twips_per_pixel_y() const noexcept { return tppy_; }
  float ScaleWidth() const;
  float ScaleHeight() const;
  TwipsRect ControlRect(HWND control) const;
  // The form's outer rectangle on the screen, in twips.
  TwipsRect FormRect() const;

  // Tree nodes: key and tag of a node, and the node of a key (nullptr when absent).
  std::wstring NodeKey(HTREEITEM node) const;
  std::wstring NodeTag(HTREEITEM node) const;
  HTREEITEM FindNode(const std::wstring& key) const;

  // The log line of one message (message-name table of the window).
  std::wstring FormatMessageLine(int32_t msg, LONG_PTR wParam, LONG_PTR lParam) const {
    return names_.FormatLine(msg, wParam, lParam);
  }
  MessageNames& message_names() noexcept { return names_; }
  const MessageDecoder& decoder() const noexcept { return decoder_; }

  // The tools beyond the seed's window; each is off until the user turns it on.
  HWND details() const noexcept { return txtDetails_; }
  HWND finder() const noexcept { return finder_; }
  bool finder_visible() const noexcept { return finder_visible_; }
  HWND finder_outlined() const noexcept { return outlined_; }  // the window outlined during a drag
  bool details_visible() const noexcept { return details_visible_; }
  bool paused() const noexcept { return paused_; }
  // The caption's note that the capture ended by itself, and why; "" takes it away.
  void ShowCaptureEnd(std::wstring why);
  const LogStore& store() const noexcept { return store_; }
  // The record a line of the log stands for; null when there is none.
  const LogRecord* RecordOfLine(LRESULT line) const;
  // Brings the log on screen up to date with the records: the new lines added in one batch with
  // redraw held off, the oldest trimmed to the length, the newest selected, one repaint. The
  // display timer does this at most about 60 times a second while messages come.
  void UpdateLog();
  const MessageFilter& filter() const noexcept { return filter_; }
  _HookwireWindow* spy_window() const noexcept { return m_SpyWindow.get(); }
  // The log's menu as it would open now (the caller destroys it).
  HMENU BuildLogMenu() const;

  // --- operations -----------------------------------------------------------------
  void Show(int command);
  // tbMain_ButtonClick for the button with this key (the Spy state is read from the toolbar).
  void ToolbarButtonClick(const std::wstring& key);
  // Closes the window as "Exit" and the close box do: detach, store the placement, go.
  void Close();
  // Builds the window tree anew from the desktop down (start-up does it once; the
  // benchmark times it).
  void FillWindowTree();

  // Runs one command of the log's menu.
  void RunLogCommand(int id);
  void SetPaused(bool on);
  // Streams every message from now on to a file (the log's lines, or CSV), paused or not, until
  // StopCaptureFile; raises a run-time error when the file cannot be written.
  void StartCaptureFile(const std::wstring& path, bool csv);
  void StopCaptureFile();
  const CaptureFile* capture_file() const noexcept { return capture_file_.get(); }
  void ClearLog();
  // Writes the log's lines as text, or every record as CSV. Raises a run-time error on failure.
  void SaveLog(const std::wstring& path, bool csv) const;
  // Puts the selected lines (or every line) on the clipboard as text.
  bool CopyLines(bool all) const;
  // The log selects several lines at once (shift and control clicks) when on; the list box is
  // made anew with its lines. False when it cannot be now (Snoopet is watching its own log).
  bool SetSeveralLines(bool on);
  bool several_lines() const noexcept { return several_lines_; }
  void ShowDetails(bool on);
  void ShowFinder(bool on);
  // Selects a window's node, building the tree anew when the window is not in it yet. False
  // when the window is not in the tree even then.
  bool SelectWindow(HWND h);
  // Changes the filter, stores it in the settings and tells the window object.
  void SetFilter(MessageFilter filter);
  // Builds the tree anew, keeping the selected window selected (without restarting the spying).
  void RefreshTree();
  // The opt-in tools of the window: inspector, finding, highlight, on top, decimal, log length.
  // Everything known about a window, as text (the inspector shows it).
  static std::wstring InspectWindow(HWND h);
  HWND inspector() const noexcept { return inspector_; }
  void ShowInspector();
  // Selects the next (or previous) node after the selected one whose text, handle or process id
  // matches; false when none does.
  bool FindWindowNode(const std::wstring& what, bool forward);
  // Selects the next (or previous) line of the log holding the text; false when none does.
  bool FindLogLine(const std::wstring& what, bool forward);
  // Opens the find box for the tree or the log.
  void ShowFindBox(bool in_log);
  HWND find_box() const noexcept { return find_box_; }
  // Flashes the outline of the selected node's window a few times.
  void HighlightSelectedWindow();
  bool highlighting() const noexcept { return flash_left_ > 0; }
  void SetOnTop(bool on);
  bool on_top() const noexcept { return on_top_; }
  void SetDecimal(bool on);
  bool decimal() const noexcept { return decimal_; }
  // Which windows Spy watches (HookwireScope) and whether windows made meanwhile are taken in: a
  // capture running goes on with the new choice.
  void SetScope(int scope, bool take_new);
  int scope() const noexcept { return scope_; }
  // With a wider scope, the tree shows the windows watched now in bold (brought up to date about twice
  // a second while Spy is on); otherwise no node is bold.
  void MarkWatchedWindows();
  // A family's lines of these windows only (their handles' low 32 bits); empty: every window's.
  void SetWindowFilter(std::vector<uint32_t> windows);
  const std::vector<uint32_t>& window_filter() const noexcept { return window_filter_; }
  bool marked(HTREEITEM node) const;
  bool scope_new() const noexcept { return scope_new_; }
  void SetLogLength(int lines);
  int log_length() const noexcept { return log_cap_ + 1; }

  // The details pane's text for the selected log line or tree node.
  std::wstring DetailsOfLine(int line) const;
  std::wstring DetailsOfWindow(HWND h) const;

  // Asks for the file of a save; empty when the user cancels. Replaceable for the tests.
  std::function<std::wstring(HWND owner, bool* csv)> choose_save_path;

  // Shows the spying switch's error box; replaceable so that a test can read it.
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)> message_box;
  // Replaces the spy object (a test gives one that fails).
  void ReplaceSpyWindow(common::com_ptr<_HookwireWindow> window) {
    capture_details_ = nullptr;  // what the old object reported about its deliveries goes with it
    m_SpyWindow = std::move(window);
  }
  // The text of the spying switch's error box for an error.
  static std::wstring SpyErrorText(const common::RuntimeError& e);
  // What an unhandled failure in an event handler does: by default an error box and the end
  // of the program. Tests replace it.
  static std::function<void(const common::RuntimeError&)>& FatalErrorHandler();
  static std::wstring FatalErrorText(const common::RuntimeError& e);

  // --- IhkMessageSink ---------------------------------------------------------------
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Message(LONG Msg, LONG_PTR wParam, LONG_PTR lParam, LONG_PTR* result) override;

 private:
  struct Node {
    std::wstring key;
    std::wstring tag;
  };

  // --- message handlers -------------------------------------------------------------
  static LRESULT CALLBACK WndProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK TreeProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK LogProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK DetailsProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK FinderProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ToolbarProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ToolWindowProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK FindEditProc(HWND h, UINT msg, WPARAM wp, LPARAM lp);
  void FlashTick();
  void FindFromBox(bool forward);
  // The log line of a message in the chosen base.
  std::wstring LineOf(LONG msg, LONG_PTR wParam, LONG_PTR lParam) const;
  // The keys of the whole window, pressed in one of its controls: Tab and Shift+Tab go round tree,
  // log, details and toolbar; F8 presses or releases Spy, Ctrl+D turns the details on or off.
  // True when the key was taken.
  bool WindowKey(HWND from, WPARAM key);
  void FocusNext(HWND from, bool back);
  void FinderMove(POINT screen);
  void FinderDrop();
  void DrawOutline(HWND h);
  void RestoreFocusAfterFinding();
  void LogTick();
  LRESULT HandleMessage(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT OnNotify(const NMHDR* header);
  LRESULT TreeButtonDown(WPARAM wp, LPARAM lp);
  void CreateControls();

  void Form_Load();
  void Form_Resize();
  void Form_MouseDown(float x, float y);
  void Form_MouseMove(float x, float y);
  void Form_MouseUp(float x, float y);
  void Form_QueryUnload();
  void Form_Unload();
  void tvWindows_NodeClick();

  // --- internal helpers -------------------------------------------------------------
  void MoveSplitter(float x);
  bool InSplitterBand(float x, float y) const;
  void SetPointer(Pointer p);
  void SetControl(HWND control, int field, float twips);  // field: 0 left, 1 top, 2 width, 3 height
  void SetFormField(int field, float twips);
  void KeepTitleBarOnScreen();
  RECT RestoredWindowRect() const;
  float ReadSetting(const wchar_t* key, float fallback) const;

  void AddChildWindows(HWND tree, HTREEITEM parent, _HookwireWindow* parent_window);
  HTREEITEM AddNode(HTREEITEM parent, const std::wstring& key, const std::wstring& text, int picture);
  void LoadMessageNames();

  // --- the tools (log_tools.cpp) ---
  void LoadToolSettings();
  void LoadLogStyle();
  void LayoutDetails();
  void UpdateDetails();
  void ShowLogMenu(LPARAM at);
  // Runs a step of a command; a run-time error it raises is told in a box (the program goes on).
  void TellFailure(const std::function<void()>& step);
  // Asks for a file (and whether CSV) and hands it to `use`; nothing when the user cancels.
  void WithChosenFile(const std::function<void(const std::wstring& path, bool csv)>& use);
  int CurrentLine() const;           // the line the pane and the menu speak of; -1 for none
  void SelectOnlyLine(LRESULT line);  // several lines selectable: this one alone
  std::wstring LogLine(LRESULT i) const;  // the text of one line of the log
  void ApplyFilter();
  void NoteTarget(LONG handle);
  LogRecord MakeRecord(LONG msg, LONG_PTR wParam, LONG_PTR lParam);
  // Keeps one record for the log (the oldest goes past the length); the log on screen shows it
  // with the next update.
  void AddRecord(LogRecord record);
  void ScheduleLogUpdate();
  void StopLogTimer();
  // Empties the log and its records at once.
  void ResetLog();
  // The end of a capture: messages lost since the last one delivered get their line in the
  // capture file, and in the log too when `show_in_log` (no next line will bring it).
  void FinishCapture(bool show_in_log = false);
  // Messages the capture lost that no line has counted yet.
  long UnnotedLoss() const;
  // A loss record of `count` messages at this moment of the capture.
  LogRecord LossNow(long count) const;
  // A loss of `count` messages: the capture file's line at once, the log's with the next line it
  // shows (`next`), or at once when `show_now`; a paused log's always later.
  void NoteLoss(long count, const LogRecord* next, bool show_now = false);
  void CaptureFileFailed();
  void UpdateCaption();
  void StartFlushTimer();
  void StopFlushTimer();
  void FlushTick();

  void SetSpying(bool on);
  LONG SelectedWindowHandle() const;
  bool IsOwnLog(LONG handle) const;

  // --- state --------------------------------------------------------------------------
  std::wstring app_;
  bool quit_on_close_;
  HWND hwnd_ = nullptr;
  HWND tbMain_ = nullptr;
  HWND tvWindows_ = nullptr;
  HWND lstOut_ = nullptr;
  WNDPROC log_proc_ = nullptr;   // the log's own procedure, below LogProc
  WNDPROC tree_proc_ = nullptr;  // the tree view's own procedure, below TreeProc
  WNDPROC toolbar_proc_ = nullptr;
  HWND focus_child_ = nullptr;    // the control that had the focus when the window was last active
  HIMAGELIST imImages_ = nullptr;
  HFONT tree_font_ = nullptr;
  float tppx_ = 15, tppy_ = 15;

  common::com_ptr<_HookwireWindow> m_SpyWindow;
  float m_Gap = 30;
  float m_SplitterPos = 4500;
  float m_SplitterRight = 4560;
  float m_SplitterTop = 0;
  float m_SplitterBottom = 0;
  int32_t m_SplitterState = 0;
  int16_t m_Spying = 0;
  MessageNames names_;
  MessageDecoder decoder_;

  // The tools: the details pane (hidden until turned on), the records of the log's lines,
  // pause, the filter, what is known about the watched window.
  HWND txtDetails_ = nullptr;
  HWND finder_ = nullptr;  // the finder tool: a cross hair on the toolbar, dragged over a window
  WNDPROC finder_proc_ = nullptr;
  bool finder_visible_ = false;
  bool finding_ = false;
  HWND outlined_ = nullptr;
  HWND focus_before_finding_ = nullptr;
  HICON finder_icon_ = nullptr;
  WNDPROC details_proc_ = nullptr;
  bool details_visible_ = false;
  bool details_of_tree_ = false;  // the pane shows the selected tree node, not a log line
  bool paused_ = false;
  std::wstring capture_end_;
  bool several_lines_ = false;
  LogStore store_{static_cast<size_t>(kLogCap) + 1};
  std::unique_ptr<CaptureFile> capture_file_;
  MessageFilter filter_;
  common::com_ptr<IhkMessageDetails> capture_details_;  // null when the window object has none
  std::shared_ptr<const std::wstring> target_class_ = std::make_shared<const std::wstring>();
  HWND target_ = nullptr;
  bool target_own_thread_ = false;
  uint64_t message_count_ = 0;
  bool target32_ = false;
  LONG lost_baseline_ = 0;  // the window object's lost count when the capture started
  long lost_noted_ = 0;     // lost messages that have had their line
  long lost_unshown_ = 0;   // lost while the log was paused: the log's line comes when it goes on
  LARGE_INTEGER capture_start_{};
  LARGE_INTEGER qpc_frequency_{};

  Pointer pointer_ = Pointer::Arrow;
  bool loading_ = false;  // Form_Load has set the layout's members: resizes lay out
  bool filling_ = false;  // the tree is being rebuilt: selection changes are no clicks
  bool unloaded_ = false;
  bool shown_once_ = false;
  bool selection_changed_ = false;  // a TVN_SELCHANGED came while the tree handled a press
  std::vector<Node> nodes_;
  std::map<std::wstring, HTREEITEM> keys_;  // lower-case key -> node

  // Feedback bound: messages that reach the sink while it runs, or while the log is busy
  // with its own updates and repaints, are consequences of the logging and are dropped.
  int sink_depth_ = 0;
  int log_busy_ = 0;
  ThreadTimer log_timer_{[this] { LogTick(); }};  // the display timer, while records wait to be shown
  uint64_t shown_end_ = 0;     // the number of the record after the log's last line
  // The records of the lines on screen, line by line: the store may drop them for newer records
  // before the next display update, while the lines are still there to be read, saved and selected.
  std::deque<LogRecord> shown_;
  LONGLONG last_update_ = 0;   // QueryPerformanceCounter at the end of the last update
  LONGLONG update_cost_ = 0;   // how long it took (counter ticks)
  LONGLONG waiting_since_ = 0;  // QueryPerformanceCounter when the oldest record not yet shown came
  int idle_ticks_ = 0;         // display ticks with nothing new
  ThreadTimer flush_timer_{[this] { FlushTick(); }};  // a capture file's waiting lines go out at least once a second
  HWND inspector_ = nullptr;       // the inspector's window (its text in an edit)
  HWND find_box_ = nullptr;        // the find box: an edit, Next and Previous
  HWND find_edit_ = nullptr;
  WNDPROC find_edit_proc_ = nullptr;
  bool find_in_log_ = false;
  HWND flash_window_ = nullptr;
  int flash_left_ = 0;
  ThreadTimer flash_timer_{[this] { FlashTick(); }};
  bool on_top_ = false;
  bool decimal_ = false;
  int scope_ = 0;  // HookwireScope
  bool scope_new_ = false;
  std::shared_ptr<FamilyClasses> family_;  // the classes of the family watched now (a wider scope)
  std::vector<HTREEITEM> marked_;          // the nodes shown bold
  std::vector<uint32_t> window_filter_;    // a family's windows whose lines are logged; empty: all
  LONGLONG marked_at_ = 0;                 // QueryPerformanceCounter when they were brought up to date
  int log_cap_ = kLogCap;  // the log grows to log_cap_ + 1 lines
  long refs_ = 1;
};

}  // namespace spy
