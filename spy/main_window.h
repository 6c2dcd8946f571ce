// frmMain, the one window of Snoopet: toolbar, window tree, message log, the splitter
// between tree and log, the stored placement, and the sink that logs a watched window's
// messages. Geometry is kept in twips (single precision) and converted to pixels with the
// screen's twips per pixel.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "hookwire_h.h"
#include "message_names.h"
#include "runtime_error.h"

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

// Command identifiers of the toolbar buttons.
enum ButtonId : int { kButtonExit = 1, kButtonSpy = 2 };

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

  // --- operations -----------------------------------------------------------------
  void Show(int command);
  // tbMain_ButtonClick for the button with this key (the Spy state is read from the toolbar).
  void ToolbarButtonClick(const std::wstring& key);
  // Closes the window as "Exit" and the close box do: detach, store the placement, go.
  void Close();
  // Builds the window tree anew from the desktop down (start-up does it once; the
  // benchmark times it).
  void FillWindowTree();

  // Shows the spying switch's error box; replaceable so that a test can read it.
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)> message_box;
  // Replaces the spy object (a test gives one that fails).
  void ReplaceSpyWindow(common::com_ptr<_HookwireWindow> window) { m_SpyWindow = std::move(window); }
  _HookwireWindow* SpyWindow() const { return m_SpyWindow.get(); }
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
  static void CALLBACK RedrawTimerProc(HWND, UINT, UINT_PTR id, DWORD);
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

  void SetSpying(bool on);
  LONG SelectedWindowHandle() const;
  bool IsOwnLog(LONG handle) const;
  void HoldLogRedraw();
  void ReleaseLogRedraw();

  // --- state --------------------------------------------------------------------------
  std::wstring app_;
  bool quit_on_close_;
  HWND hwnd_ = nullptr;
  HWND tbMain_ = nullptr;
  HWND tvWindows_ = nullptr;
  HWND lstOut_ = nullptr;
  WNDPROC log_proc_ = nullptr;   // the log's own procedure, below LogProc
  WNDPROC tree_proc_ = nullptr;  // the tree view's own procedure, below TreeProc
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
  UINT_PTR redraw_timer_ = 0;
  long refs_ = 1;
};

}  // namespace spy
