#include "menu_tour.h"

#include "screen_capture.h"

namespace demo {

namespace {

constexpr UINT_PTR kRetryTimer = 0x7A01;
constexpr UINT_PTR kWatchdogTimer = 0x7A02;
constexpr UINT_PTR kOpenTimer = 0x7A03;
constexpr UINT kOpenMs = 5000;         // a popup not open by then is opened again
constexpr int kMaxAttempts = 3;
constexpr UINT kRetryMs = 50;
constexpr int kMaxWaits = 60;          // three seconds per popup
constexpr UINT kWatchdogMs = 120000;   // the whole tour

void Key(HWND window, WPARAM key) { PostMessageW(window, WM_KEYDOWN, key, 0); }

bool IsSeparator(HMENU menu, int position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE;
  return GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info) && (info.fType & MFT_SEPARATOR);
}

ULONG_PTR ItemData(HMENU menu, int position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info);
  return info.dwItemData;
}

UINT ItemId(HMENU menu, int position) {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_ID;
  GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info);
  return info.wID;
}

void Collect(HMENU menu, std::vector<int>& path, std::vector<MenuTour::Stop>& stops,
             std::wstring (*name_of)(const std::vector<int>&)) {
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    HMENU sub = GetSubMenu(menu, i);
    if (!sub) continue;
    path.push_back(i);
    stops.push_back({path, name_of(path)});
    Collect(sub, path, stops, name_of);
    path.pop_back();
  }
}

}  // namespace

MenuTour* MenuTour::active_ = nullptr;

std::vector<MenuTour::Stop> MenuTour::AllPopups(HWND window, std::wstring (*name_of)(const std::vector<int>&)) {
  std::vector<Stop> stops;
  std::vector<int> path;
  Collect(GetMenu(window), path, stops, name_of);
  return stops;
}

MenuTour::MenuTour(HWND window, std::wstring folder, std::vector<Stop> stops)
    : window_(window), folder_(std::move(folder)), stops_(std::move(stops)) {
  active_ = this;
  hook_ = SetWindowsHookExW(WH_CALLWNDPROC, HookProc, nullptr, GetCurrentThreadId());
  return_hook_ = SetWindowsHookExW(WH_CALLWNDPROCRET, ReturnHookProc, nullptr, GetCurrentThreadId());
}

MenuTour::~MenuTour() {
  if (hook_) UnhookWindowsHookEx(hook_);
  if (return_hook_) UnhookWindowsHookEx(return_hook_);
  active_ = nullptr;
}

LRESULT CALLBACK MenuTour::HookProc(int code, WPARAM wp, LPARAM lp) {
  // Every WM_DRAWITEM on its way to the window, before anyone has answered it.
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lp);
  if (code == HC_ACTION && active_ && sent->hwnd == active_->window_ && sent->message == WM_DRAWITEM) {
    const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(sent->lParam);
    if (dis && dis->CtlType == ODT_MENU) ++active_->drawn_[{reinterpret_cast<HMENU>(dis->hwndItem), dis->itemID}].sent;
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

LRESULT CALLBACK MenuTour::ReturnHookProc(int code, WPARAM wp, LPARAM lp) {
  // Every WM_MEASUREITEM on its way back from the window: the size the component answered.
  const auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(lp);
  // (This platform reports lResult 0 here whatever the window answered: the structure itself tells.)
  if (code == HC_ACTION && active_ && sent->hwnd == active_->window_ && sent->message == WM_MEASUREITEM) {
    const auto* mis = reinterpret_cast<const MEASUREITEMSTRUCT*>(sent->lParam);
    if (mis && mis->CtlType == ODT_MENU) active_->measured_[mis->itemData] = {mis->itemWidth, mis->itemHeight};
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

HMENU MenuTour::PopupOf(const std::vector<int>& path) const {
  HMENU menu = GetMenu(window_);
  for (int position : path) menu = GetSubMenu(menu, position);
  return menu;
}

void MenuTour::Start() {
  Log(L"Menu tour: " + std::to_wstring(stops_.size()) + L" popups, screenshots in " + folder_);
  SetTimer(window_, kWatchdogTimer, kWatchdogMs, nullptr);
  if (stops_.empty()) {
    ++failures_;
    Log(L"FAIL: the window has no popups to open");
    Finish();
    return;
  }
  current_ = 0;
  attempts_ = 0;
  Open(0);
}

// Opens the popup at the stop's path as a user does: F10 (the bar, first title selected), Right
// to the title, Down to open it, then Down to each sub-menu item and Right to open it.
void MenuTour::Open(size_t index) {
  const Stop& stop = stops_[index];
  drawn_.clear();
  waits_ = 0;
  ++attempts_;
  idle_seen_ = false;
  loops_entered_ = cancel_modes_ = popups_opened_ = 0;
  SetTimer(window_, kOpenTimer, kOpenMs, nullptr);
  SetForegroundWindow(window_);
  PostMessageW(window_, WM_SYSCOMMAND, SC_KEYMENU, 0);
  for (int i = 0; i < stop.path[0]; ++i) Key(window_, VK_RIGHT);
  Key(window_, VK_DOWN);
  HMENU menu = GetSubMenu(GetMenu(window_), stop.path[0]);
  for (size_t level = 1; level < stop.path.size(); ++level) {
    // The first item that is not a separator is selected when a popup opens; Down skips separators.
    int presses = -1;
    for (int i = 0; i <= stop.path[level]; ++i) presses += IsSeparator(menu, i) ? 0 : 1;
    for (int i = 0; i < presses; ++i) Key(window_, VK_DOWN);
    Key(window_, VK_RIGHT);
    menu = GetSubMenu(menu, stop.path[level]);
  }
}

// The stop's menu loop never went idle: the platform may have ended it at once (the window lost the
// focus while it opened, say) and the keys that should have opened the popup went to the window.
// Says what the window saw, then opens the stop again, or gives up on it after the last attempt.
void MenuTour::OpenTimedOut() {
  KillTimer(window_, kOpenTimer);
  wchar_t what[200];
  wsprintfW(what, L": not open after %u ms (menu loops entered %d, WM_CANCELMODE %d, popups opened %d, foreground %s)",
            kOpenMs, loops_entered_, cancel_modes_, popups_opened_,
            GetForegroundWindow() == window_ ? L"this window" : L"another window");
  const Stop& stop = stops_[current_];
  EndMenu();
  if (attempts_ < kMaxAttempts) {
    Log(L"note  " + stop.name + what + L"; opening it again");
    PostMessageW(window_, kOpenAgain, 0, 0);
  } else {
    ++failures_;
    Log(L"FAIL  " + stop.name + what + L"; gave up after " + std::to_wstring(attempts_) + L" attempts");
    PostMessageW(window_, kNextStop, 0, 0);
  }
}

void MenuTour::Check() {
  const Stop& stop = stops_[current_];
  HMENU popup = PopupOf(stop.path);
  const int count = GetMenuItemCount(popup);
  std::wstring missing;
  for (int i = 0; i < count; ++i) {
    auto it = drawn_.find({popup, ItemId(popup, i)});
    const bool ok = it != drawn_.end() && it->second.sent > 0 && it->second.unanswered == 0;
    if (!ok) missing += L" " + std::to_wstring(i);
  }
  if (!missing.empty() && ++waits_ <= kMaxWaits) {
    SetTimer(window_, kRetryTimer, kRetryMs, nullptr);  // the menu loop dispatches the timer to us
    return;
  }
  const std::wstring file = folder_ + L"\\" + stop.name + L".bmp";
  const bool saved = common::SaveScreen(file);
  if (missing.empty() && saved) {
    Log(L"ok    " + stop.name + L": " + std::to_wstring(count) + L" items painted by the component");
    const std::wstring name = stop.name.size() > 3 ? stop.name.substr(3) : stop.name;  // without "NN "
    for (int i = 0; i < count; ++i) {
      const auto size = measured_.find(ItemData(popup, i));
      const std::wstring caption = caption_of_ ? caption_of_(popup, i) : std::wstring();
      if (size == measured_.end()) {
        ++failures_;
        Log(L"FAIL  " + name + L" | " + caption + L" | painted but never measured by the component");
      } else {
        Log(name + L" | " + caption + L" | " + std::to_wstring(size->second.first) + L" x " +
            std::to_wstring(size->second.second));
      }
    }
  } else {
    ++failures_;
    if (!missing.empty()) Log(L"FAIL  " + stop.name + L": items not painted by the component at positions" + missing);
    if (!saved) Log(L"FAIL  " + stop.name + L": the screenshot could not be written to " + file);
  }
  EndMenu();
  PostMessageW(window_, kNextStop, 0, 0);
}

bool MenuTour::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  if (finished_) return false;
  switch (msg) {
    case WM_DRAWITEM: {
      // The window's own procedure runs only for what the component left unanswered.
      const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (dis && dis->CtlType == ODT_MENU) {
        ++drawn_[{reinterpret_cast<HMENU>(dis->hwndItem), dis->itemID}].unanswered;
        ++unanswered_total_;
      }
      return false;
    }
    case WM_ENTERIDLE:
      if (wp == MSGF_MENU && !idle_seen_) {
        idle_seen_ = true;
        KillTimer(window_, kOpenTimer);
        Check();
      }
      return true;
    case WM_ENTERMENULOOP:
      ++loops_entered_;
      return false;
    case WM_CANCELMODE:
      ++cancel_modes_;
      return false;
    case WM_INITMENUPOPUP:
      ++popups_opened_;
      return false;
    case WM_TIMER:
      if (wp == kRetryTimer) {
        KillTimer(window_, kRetryTimer);
        Check();
        return true;
      }
      if (wp == kOpenTimer) {
        OpenTimedOut();
        return true;
      }
      if (wp == kWatchdogTimer) {
        ++failures_;
        Log(L"FAIL: the tour stalled");
        EndMenu();
        Finish();
        return true;
      }
      return false;
    case kNextStop:
      attempts_ = 0;
      if (++current_ < stops_.size())
        Open(current_);
      else
        Finish();
      return true;
    case kOpenAgain:
      Open(current_);
      return true;
    default:
      return false;
  }
}

void MenuTour::Log(const std::wstring& line) {
  report_ += line + L"\r\n";
}

void MenuTour::Finish() {
  finished_ = true;
  KillTimer(window_, kWatchdogTimer);
  KillTimer(window_, kRetryTimer);
  KillTimer(window_, kOpenTimer);
  if (unanswered_total_) {
    ++failures_;
    Log(L"FAIL: " + std::to_wstring(unanswered_total_) + L" WM_DRAWITEM messages for menu items were left to the window's own procedure");
  }
  Log(failures_ ? L"Tour failed" : L"Every popup was painted by the component");
  PostMessageW(window_, WM_CLOSE, 0, 0);
}

}  // namespace demo
