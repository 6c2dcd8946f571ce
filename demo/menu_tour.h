// The demo's tour: opens every popup of the window's menu bar in turn with the keyboard, as a user
// would, saves a screenshot of each, and checks that every item of every popup it opened was painted
// by the component. A hook sees each WM_DRAWITEM sent to the window; the window's own procedure,
// which the subclassing passes only what the component left unanswered, reports the rest.
#pragma once
#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace demo {

class MenuTour {
 public:
  struct Stop {
    std::vector<int> path;  // position on the menu bar, then positions of sub-menu items below it
    std::wstring name;      // file name of its screenshot, without extension
  };

  // Every popup reachable from the bar of window, depth first, named by name_of(path).
  static std::vector<Stop> AllPopups(HWND window, std::wstring (*name_of)(const std::vector<int>& path));

  MenuTour(HWND window, std::wstring folder, std::vector<Stop> stops);
  ~MenuTour();
  MenuTour(const MenuTour&) = delete;
  MenuTour& operator=(const MenuTour&) = delete;

  // Window messages the tour needs (WM_DRAWITEM, WM_ENTERIDLE, WM_TIMER, kNextStop, kOpenAgain); the window
  // procedure hands every message over and stops when this returns true.
  void Start();
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp);

  // Names the items in the report's size lines ("popup | caption | width x height").
  void SetCaptionSource(std::function<std::wstring(HMENU menu, int position)> caption_of) {
    caption_of_ = std::move(caption_of);
  }

  bool finished() const { return finished_; }
  bool passed() const { return finished_ && failures_ == 0; }
  const std::wstring& report() const { return report_; }

  static constexpr UINT kNextStop = WM_APP + 0x41;
  static constexpr UINT kOpenAgain = WM_APP + 0x42;

 private:
  static LRESULT CALLBACK HookProc(int code, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK ReturnHookProc(int code, WPARAM wp, LPARAM lp);
  void Open(size_t index);
  void Check();
  void OpenTimedOut();
  HMENU PopupOf(const std::vector<int>& path) const;
  void Log(const std::wstring& line);
  void Finish();

  HWND window_;
  std::wstring folder_;
  std::vector<Stop> stops_;
  size_t current_ = 0;
  int waits_ = 0;
  // How the current stop's opening went: the attempts, and what the window saw of the menu loop (for
  // the report when a popup does not open: a menu loop the platform cancelled at once leaves nothing).
  int attempts_ = 0;
  bool idle_seen_ = false;
  int loops_entered_ = 0;
  int cancel_modes_ = 0;
  int popups_opened_ = 0;
  bool finished_ = false;
  int failures_ = 0;
  std::wstring report_;
  HHOOK hook_ = nullptr;
  HHOOK return_hook_ = nullptr;
  // What WM_MEASUREITEM answered for each item, by item data (the platform measures a popup once).
  std::map<ULONG_PTR, std::pair<UINT, UINT>> measured_;
  std::function<std::wstring(HMENU, int)> caption_of_;
  // WM_DRAWITEM for menu items since the current stop began, by (menu, item id).
  struct Draws {
    int sent = 0;
    int unanswered = 0;
  };
  std::map<std::pair<HMENU, UINT>, Draws> drawn_;
  long unanswered_total_ = 0;

  static MenuTour* active_;
};

}  // namespace demo
