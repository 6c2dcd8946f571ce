// The demo's menus: a menu bar described as a table of menu controls (name, control-array index,
// caption, picture), built with the platform's menu functions, and the component that draws them.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "com_ptr.h"
#include "form_object.h"

namespace demo {

enum Command : UINT {
  kCmdNew = 1001,
  kCmdOpen,
  kCmdSave,
  kCmdPrint,
  kCmdExit,
  kCmdCut,
  kCmdCopy,
  kCmdPaste,
  kCmdFind,
  kCmdStatusBar,
  kCmdWordWrap,
  kCmdHelpTopics,
  kCmdAbout,
  kCmdRecent = 1100,
};
constexpr int kRecentCount = 3;
std::wstring RecentFile(int index);

class DemoMenu {
 public:
  // Creates the form (a real window, whose procedure becomes procedure) and builds its menu bar.
  explicit DemoMenu(WNDPROC procedure);
  ~DemoMenu();
  HWND window() const;
  // The demo's command for a WM_COMMAND item id, 0 when there is none.
  UINT CommandOf(UINT item_id) const;
  DemoMenu(const DemoMenu&) = delete;
  DemoMenu& operator=(const DemoMenu&) = delete;

  // Creates the component and hands it the image list, the form, and one picture per menu control.
  // alpha: the second set of pictures, 32-bit with an alpha channel.
  void AttachComponent(bool alpha = false);
  // The caption of the menu control at position of menu, as the form's code set it; empty for none.
  std::wstring CaptionAt(HMENU menu, int position) const;
  // Menu control operations, as the form's code does them.
  void SetCaption(const wchar_t* control, const std::wstring& caption);
  void SetChecked(UINT command, bool checked);
  // The procedure the form's window had before the demo's.
  static LRESULT CallPrevious(HWND w, UINT msg, WPARAM wp, LPARAM lp);

  // The screenshot name of the popup at path (positions from the menu bar down).
  static std::wstring PopupName(const std::vector<int>& path);
  static HACCEL Accelerators();

 private:
  common::com_ptr<client::FormObject> form_;
  common::com_ptr<IDispatch> images_;
  common::com_ptr<IDispatch> component_;
  std::vector<std::pair<UINT, UINT>> commands_;  // item id -> demo command
};

}  // namespace demo
