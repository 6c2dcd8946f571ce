// The platform is the oracle: one scripted application runs over generated menus twice, once as
// it is and once with Glyphary drawing its menus, and everything the application can observe must
// be the same: the commands the keyboard runs, its own WM_INITMENU / WM_INITMENUPOPUP /
// WM_MENUSELECT / WM_MENUCHAR handlers (how often, in what order, what they see of the items),
// the items read back while attached (all but the owner-draw bit), and every field of every item
// after detaching or releasing the component.
//
// --diff-cases=N (or GLYPHARY_DIFF_CASES) sets the number of generated cases (default 200),
// --diff-seed=S the first seed, --diff-verbose=1 prints each seed; a failure names the seed that
// replays it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hex.h"
#include "menu_fixture.h"

using common::com_ptr;
using namespace menu_test;

namespace {

// --- the generated application ------------------------------------------------------------------

struct ItemSpec {
  bool separator = false;
  std::wstring text;
  UINT id = 0;
  UINT type = 0;        // MFT_RADIOCHECK, MFT_MENUBREAK, MFT_MENUBARBREAK, MFT_RIGHTORDER
  UINT state = 0;       // MFS_CHECKED, MFS_GRAYED, MFS_DEFAULT
  int bitmap = 0;       // 0 none; 1, 2 the application's bitmaps; 8..11 HBMMENU_POPUP_*
  ULONG_PTR data = 0;   // the application's own item data
  int sub = -1;         // a sub-menu: index into Scenario::popups
  bool ownerdraw = false;  // the application draws it itself (WM_MEASUREITEM / WM_DRAWITEM)
};

struct PopupSpec {
  std::vector<ItemSpec> items;
  bool dynamic = false;  // the application changes it in its WM_INITMENUPOPUP
  bool sets_data = false;  // ... or gives an item its own item data there
  int copy_from = -1;      // ... or copies an item of that popup into it (once)
};

// One menu loop: on the bar (started by SC_KEYMENU, optionally with a letter) or a context menu,
// driven by keys posted one at a time whenever the menu waits for input; or a switch of the bar.
struct Session {
  enum Kind { Bar, Context, SwitchBar } kind = Bar;
  wchar_t letter = 0;
  std::vector<std::pair<bool, WPARAM>> keys;  // (is a character, code)
};

struct Scenario {
  uint32_t seed = 0;
  std::vector<PopupSpec> popups;
  std::vector<std::vector<std::pair<std::wstring, int>>> bars;  // caption and popup of each bar item
  int context = -1;                                             // the popup shown as a context menu
  std::vector<Session> sessions;
  bool release = false;  // the end: release the component (else detach it)
};

// What the generator may put in beyond text items: items and item data the application keeps
// for itself, and items it copies between menus.
struct Knobs {
  bool foreign = false;
};

const wchar_t* const kCaptions[] = {
    L"&Open",        L"Save && E&xit",   L"&\x03A9mega",        L"\x65E5\x672C&\x8A9E",     L"Plain",
    L"&Print...\tCtrl+P", L"E&xport\tCtrl+Shift+E", L"&&Literal", L"Re&do",    L"&Zoom \x00DC",
    L"Ends&",        L"&Copy",           L"&Cut",               L"&Paste",                 L"&\x0416\x0443\x043A",
    L"A&&&B",        L"&View",           L"&Options\tF9"};
const wchar_t kLetters[] = L"oxdzcpvbe&\x03C9\x8A9E\x0436q";

class Generator {
 public:
  explicit Generator(uint32_t seed, Knobs knobs = {}) : rng_(seed), knobs_(knobs) { s_.seed = seed; }

  Scenario Make() {
    const int bars = Chance(25) ? 2 : 1;
    for (int b = 0; b < bars; ++b) {
      std::vector<std::pair<std::wstring, int>> bar;
      const int n = Between(1, 4);
      for (int i = 0; i < n; ++i) bar.push_back({Caption(), Popup(0)});
      s_.bars.push_back(bar);
    }
    if (Chance(40)) s_.context = Popup(1);
    // The application copies an item of the bar's first popup into a popup it shows (often the
    // context menu, which the walk leaves alone).
    if (knobs_.foreign && Chance(50)) {
      const int target = s_.context >= 0 && Chance(70) ? s_.context : Between(0, static_cast<int>(s_.popups.size()) - 1);
      if (target != s_.bars[0][0].second) s_.popups[static_cast<size_t>(target)].copy_from = s_.bars[0][0].second;
    }
    const int sessions = Between(2, 4);
    for (int i = 0; i < sessions; ++i) {
      Session session;
      const int kind = Between(0, 9);
      if (kind < 2 && s_.context >= 0) session.kind = Session::Context;
      else if (kind < 4 && bars == 2) session.kind = Session::SwitchBar;
      if (session.kind == Session::Bar && Chance(30)) session.letter = Letter();
      const int keys = Between(1, 8);
      for (int k = 0; k < keys; ++k) {
        const int what = Between(0, 9);
        if (what < 4) session.keys.push_back({false, static_cast<WPARAM>(what == 0 ? VK_UP : what == 1 ? VK_DOWN : what == 2 ? VK_RIGHT : VK_LEFT)});
        else if (what < 7) session.keys.push_back({true, static_cast<WPARAM>(Letter())});
        else if (what < 8) session.keys.push_back({true, static_cast<WPARAM>(L'\r')});
        else session.keys.push_back({false, static_cast<WPARAM>(VK_ESCAPE)});
      }
      s_.sessions.push_back(session);
    }
    s_.release = Chance(50);
    return s_;
  }

 private:
  int Between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool Chance(int percent) { return Between(0, 99) < percent; }
  std::wstring Caption() { return kCaptions[Between(0, static_cast<int>(std::size(kCaptions)) - 1)]; }
  wchar_t Letter() { return kLetters[Between(0, static_cast<int>(std::size(kLetters)) - 2)]; }

  int Popup(int depth) {
    const int index = static_cast<int>(s_.popups.size());
    s_.popups.emplace_back();
    PopupSpec popup;
    popup.dynamic = Chance(35);
    if (knobs_.foreign && !popup.dynamic) popup.sets_data = Chance(40);
    const int n = Between(1, 7);
    bool has_default = false;
    for (int i = 0; i < n; ++i) {
      ItemSpec item;
      item.id = next_id_++;
      if (i > 0 && Chance(15)) {
        item.separator = true;
      } else {
        item.text = Caption();
        if (Chance(12)) item.type |= MFT_RADIOCHECK;
        if (i > 0 && Chance(5)) item.type |= Chance(50) ? MFT_MENUBREAK : MFT_MENUBARBREAK;
        if (Chance(4)) item.type |= MFT_RIGHTORDER;
        if (Chance(20)) item.state |= MFS_CHECKED;
        if (Chance(15)) item.state |= MFS_GRAYED;
        if (!has_default && Chance(8)) {
          item.state |= MFS_DEFAULT;
          has_default = true;
        }
        if (Chance(10)) item.bitmap = Chance(50) ? Between(1, 2) : Between(8, 11);
        if (Chance(5)) item.data = 0x1234 + static_cast<ULONG_PTR>(i);
        if (depth < 2 && Chance(12)) item.sub = Popup(depth + 1);
        if (knobs_.foreign && item.sub < 0 && Chance(15)) {
          item.ownerdraw = true;
          item.data = Chance(50) ? 0 : 0x2000 + static_cast<ULONG_PTR>(i);
        }
      }
      popup.items.push_back(item);
    }
    s_.popups[static_cast<size_t>(index)] = popup;
    return index;
  }

  std::mt19937 rng_;
  Knobs knobs_;
  Scenario s_;
  UINT next_id_ = 100;
};

// --- one run -------------------------------------------------------------------------------------

struct Observed {
  std::vector<std::wstring> events;    // what the application's handlers saw, in order
  std::vector<std::wstring> attached;  // the items read back at the end of the script
  std::vector<std::wstring> final;     // every field of every item after detach / release
};

class ScriptedRun {
 public:
  static constexpr UINT_PTR kWatchdog = 77;
  ScriptedRun(const Scenario& s, bool with_glyphary, bool verbose) : s_(s), verbose_(verbose) {
    form_ = client::FormObject::Create(L"differential");
    bitmaps_[1] = CreateBitmap(13, 13, 1, 1, nullptr);
    bitmaps_[2] = CreateBitmap(16, 16, 1, 1, nullptr);
    for (size_t p = 0; p < s.popups.size(); ++p) popups_.push_back(CreatePopupMenu());
    for (size_t p = 0; p < s.popups.size(); ++p) {
      names_[popups_[p]] = L"p" + std::to_wstring(p);
      for (const ItemSpec& item : s.popups[p].items) Append(popups_[p], item);
    }
    for (size_t b = 0; b < s.bars.size(); ++b) {
      HMENU bar = CreateMenu();
      names_[bar] = L"bar" + std::to_wstring(b);
      UINT id = 10;
      for (const auto& [caption, popup] : s.bars[b]) {
        MENUITEMINFOW mii = Info(MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU);
        mii.wID = id++;
        mii.hSubMenu = popups_[static_cast<size_t>(popup)];
        mii.dwTypeData = const_cast<LPWSTR>(caption.c_str());
        InsertMenuItemW(bar, static_cast<UINT>(GetMenuItemCount(bar)), TRUE, &mii);
      }
      bars_.push_back(bar);
    }
    SetMenu(form_->hwnd(), bars_[0]);
    names_[GetSystemMenu(form_->hwnd(), FALSE)] = L"window menu";
    app_ = std::make_unique<TopSubclass>(form_->hwnd(), [this](HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
      return Application(h, msg, wp, lp, r);
    });
    form_->Show();
    if (with_glyphary) {
      g_ = NewComponent();
      EXPECT_EQ(S_OK, SetForm(g_.get(), form_.get()));
    }
  }

  ~ScriptedRun() {
    app_.reset();
    if (IsWindow(form_->hwnd())) SetMenu(form_->hwnd(), nullptr);
    g_.reset();
    for (HMENU bar : bars_) DestroyMenu(bar);
    if (s_.context >= 0) DestroyMenu(popups_[static_cast<size_t>(s_.context)]);
    form_->Close();
    for (auto& [i, b] : bitmaps_) DeleteObject(b);
  }

  Observed Go() {
    for (const Session& session : s_.sessions) {
      if (verbose_) {
        std::printf("  %s session %d, letter %d, %d keys\n", g_ ? "with" : "without", static_cast<int>(session.kind),
                    static_cast<int>(session.letter), static_cast<int>(session.keys.size()));
        std::fflush(stdout);
      }
      if (session.kind == Session::SwitchBar) {
        bar_shown_ = 1 - bar_shown_;
        SetMenu(form_->hwnd(), bars_[static_cast<size_t>(bar_shown_)]);
        observed_.events.push_back(L"SetMenu " + names_[bars_[static_cast<size_t>(bar_shown_)]]);
        continue;
      }
      keys_.assign(session.keys.begin(), session.keys.end());
      idles_ = 0;
      SetForegroundWindow(form_->hwnd());
      SetTimer(form_->hwnd(), kWatchdog, 4000, nullptr);
      if (session.kind == Session::Bar) {
        observed_.events.push_back(L"keyboard menu " + std::to_wstring(session.letter));
        SendMessageW(form_->hwnd(), WM_SYSCOMMAND, SC_KEYMENU, session.letter);
      } else {
        observed_.events.push_back(L"context menu");
        TrackPopupMenu(popups_[static_cast<size_t>(s_.context)], TPM_LEFTALIGN, 120, 120, 0, form_->hwnd(), nullptr);
      }
      KillTimer(form_->hwnd(), kWatchdog);
      if (!measured_.empty() || !drawn_.empty()) {
        std::wstring line = L"the application measured";
        for (UINT id : measured_) line += L" " + std::to_wstring(id);
        line += L" and drew";
        for (UINT id : drawn_) line += L" " + std::to_wstring(id);
        observed_.events.push_back(line);
        measured_.clear();
        drawn_.clear();
      }
      // Commands are posted; a key the loop did not take is dropped here.
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        if (m.message == WM_KEYDOWN || m.message == WM_CHAR) continue;
        DispatchMessageW(&m);
      }
    }
    ReadAll(observed_.attached, false);
    if (g_) {
      if (s_.release) {
        g_.reset();
      } else {
        auto gone = client::FormObject::Create(L"gone");
        gone->Close();
        EXPECT_EQ(S_OK, SetForm(g_.get(), gone.get()));
      }
    }
    ReadAll(observed_.final, true);
    return observed_;
  }

 private:
  static MENUITEMINFOW Info(UINT mask) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = mask;
    return mii;
  }

  HBITMAP Bitmap(int b) const {
    if (b >= 8) return reinterpret_cast<HBITMAP>(static_cast<INT_PTR>(b));
    auto it = bitmaps_.find(b);
    return it == bitmaps_.end() ? nullptr : it->second;
  }

  std::wstring BitmapName(HBITMAP h) const {
    if (!h) return L"-";
    for (const auto& [i, b] : bitmaps_)
      if (b == h) return L"bmp" + std::to_wstring(i);
    return L"magic" + std::to_wstring(reinterpret_cast<INT_PTR>(h));
  }

  std::wstring Name(HMENU m) const {
    if (!m) return L"-";
    auto it = names_.find(m);
    return it == names_.end() ? L"menu?" : it->second;
  }

  void Append(HMENU menu, const ItemSpec& item) {
    MENUITEMINFOW mii = Info(MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_DATA);
    mii.wID = item.id;
    mii.fState = item.state;
    mii.dwItemData = item.data;
    if (item.separator) {
      mii.fType = MFT_SEPARATOR;
    } else {
      mii.fType = item.type;
      if (item.ownerdraw) {
        mii.fType |= MFT_OWNERDRAW;
      } else {
        mii.fMask |= MIIM_STRING;
        mii.dwTypeData = const_cast<LPWSTR>(item.text.c_str());
      }
      if (item.bitmap) {
        mii.fMask |= MIIM_BITMAP;
        mii.hbmpItem = Bitmap(item.bitmap);
      }
      if (item.sub >= 0) {
        mii.fMask |= MIIM_SUBMENU;
        mii.hSubMenu = popups_[static_cast<size_t>(item.sub)];
      }
    }
    InsertMenuItemW(menu, static_cast<UINT>(GetMenuItemCount(menu)), TRUE, &mii);
  }

  // What the application sees of a menu's items in its handlers: identifier, text and state.
  std::wstring Seen(HMENU menu) const {
    std::wstring out = L"[";
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      MENUITEMINFOW mii = Info(MIIM_ID | MIIM_STATE | MIIM_STRING);
      wchar_t text[256] = {};
      mii.dwTypeData = text;
      mii.cch = 256;
      GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii);
      out += std::to_wstring(mii.wID) + L":" + text + L":" + common::Hex(static_cast<int32_t>(mii.fState)) + L" ";
    }
    return out + L"]";
  }

  // One line per item of every menu of the application.
  void ReadAll(std::vector<std::wstring>& out, bool everything) const {
    std::vector<HMENU> menus(bars_.begin(), bars_.end());
    menus.insert(menus.end(), popups_.begin(), popups_.end());
    for (HMENU menu : menus) {
      for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        MENUITEMINFOW mii = Info(MIIM_ID | MIIM_STATE | MIIM_STRING | MIIM_FTYPE | MIIM_BITMAP | MIIM_SUBMENU |
                                 MIIM_DATA | MIIM_CHECKMARKS);
        wchar_t text[256] = {};
        mii.dwTypeData = text;
        mii.cch = 256;
        GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii);
        std::wostringstream line;
        line << Name(menu) << L"#" << i << L" id " << mii.wID << L" text '" << text << L"' state "
             << common::Hex(static_cast<int32_t>(mii.fState)) << L" bitmap " << BitmapName(mii.hbmpItem) << L" sub "
             << Name(mii.hSubMenu);
        // While attached an item carrying the component's item data is owner-drawn: that bit and the
        // data are the component's. Any other item keeps its type and data exactly.
        const bool taken = !everything && mii.dwItemData <= 0xFFFFFFFFu &&
                           glyphary::IsOwnItemData(static_cast<uint32_t>(mii.dwItemData));
        const bool unread = !everything && mii.dwItemData == 0;
        line << L" type " << common::Hex(static_cast<int32_t>(taken || unread ? mii.fType & ~MFT_OWNERDRAW : mii.fType));
        if (!taken && !unread) line << L" data " << common::Hex(static_cast<int32_t>(mii.dwItemData));
        if (everything)
          line << L" checkmarks " << BitmapName(mii.hbmpChecked) << L"/" << BitmapName(mii.hbmpUnchecked);
        out.push_back(line.str());
      }
    }
  }

  // The application's window procedure (below the component).
  bool Application(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
    std::vector<std::wstring>& ev = observed_.events;
    switch (msg) {
      case WM_INITMENU:
        ev.push_back(L"INITMENU " + Name(reinterpret_cast<HMENU>(wp)));
        break;
      case WM_INITMENUPOPUP: {
        const HMENU popup = reinterpret_cast<HMENU>(wp);
        ev.push_back(L"INITMENUPOPUP " + Name(popup) + L" " + common::Hex(static_cast<int32_t>(lp)) + L" sees " +
                     Seen(popup));
        if (names_.count(popup) && names_.at(popup)[0] == L'p') {
          const size_t p = static_cast<size_t>(std::stoi(names_.at(popup).substr(1)));
          if (p < s_.popups.size() && s_.popups[p].dynamic) Change(popup);
          if (p < s_.popups.size() && s_.popups[p].sets_data) SetData(popup);
          if (p < s_.popups.size() && s_.popups[p].copy_from >= 0 && !copied_.count(popup))
            Copy(popups_[static_cast<size_t>(s_.popups[p].copy_from)], popup);
        }
        break;
      }
      case WM_MEASUREITEM: {
        auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
        if (wp != 0 || mis->CtlType != ODT_MENU || !IsApplications(mis->itemData)) break;
        measured_.insert(mis->itemID);
        mis->itemWidth = 60;
        mis->itemHeight = 18;
        *r = TRUE;
        return true;
      }
      case WM_DRAWITEM: {
        const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        if (wp != 0 || dis->CtlType != ODT_MENU || !IsApplications(dis->itemData)) break;
        drawn_.insert(dis->itemID);
        FillRect(dis->hDC, &dis->rcItem, GetSysColorBrush(COLOR_INFOBK));
        *r = TRUE;
        return true;
      }
      case WM_MENUSELECT:
        ev.push_back(L"MENUSELECT " + Name(reinterpret_cast<HMENU>(lp)) + L" " + std::to_wstring(LOWORD(wp)) + L" " +
                     common::Hex(static_cast<int32_t>(HIWORD(wp) & ~MF_OWNERDRAW)));
        break;
      case WM_MENUCHAR:
        ev.push_back(L"MENUCHAR " + std::to_wstring(LOWORD(wp)) + L" " + Name(reinterpret_cast<HMENU>(lp)));
        break;
      case WM_COMMAND:
        ev.push_back(L"COMMAND " + std::to_wstring(LOWORD(wp)));
        *r = 0;
        return true;
      case WM_SYSCOMMAND:
        // Commands of the window menu are noted, not carried out (Move and Size would wait for keys).
        if ((wp & 0xFFF0) == SC_KEYMENU) break;
        ev.push_back(L"SYSCOMMAND " + common::Hex(static_cast<int32_t>(wp & 0xFFF0)));
        *r = 0;
        return true;
      case WM_ENTERIDLE:
        if (wp == MSGF_MENU) NextKey(h);
        break;
      case WM_TIMER:
        // A menu loop still open seconds after its keys: noted (both runs must agree) and ended.
        if (wp == kWatchdog) {
          KillTimer(h, kWatchdog);
          ev.push_back(L"menu loop ended by the watchdog");
          EndMenu();
          return true;
        }
        break;
      default:
        break;
    }
    return false;
  }

  // What a program does to a popup before it shows: add, remove, rename, check and enable items.
  void Change(HMENU popup) {
    const int n = GetMenuItemCount(popup);
    const UINT k = changes_++;
    switch (k % 4) {
      case 0:
        AppendMenuW(popup, MF_STRING, 5000 + k, (L"&Added " + std::to_wstring(k)).c_str());
        break;
      case 1:
        if (n > 1 && !GetSubMenu(popup, n - 1)) DeleteMenu(popup, static_cast<UINT>(n - 1), MF_BYPOSITION);
        break;
      case 2:
        for (int i = 0; i < n; ++i) {
          if (GetMenuState(popup, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) continue;
          const std::wstring text = k % 8 == 2 ? L"Re&named \x0411 " + std::to_wstring(k) : L"&Other " + std::to_wstring(k);
          if (k % 8 == 2) {
            MENUITEMINFOW mii = Info(MIIM_STRING);
            mii.dwTypeData = const_cast<LPWSTR>(text.c_str());
            SetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &mii);
          } else if (!GetSubMenu(popup, i)) {
            ModifyMenuW(popup, static_cast<UINT>(i), MF_BYPOSITION | MF_STRING, GetMenuItemID(popup, i), text.c_str());
          }
          break;
        }
        break;
      default:
        if (n > 0) {
          const UINT checked = GetMenuState(popup, 0, MF_BYPOSITION) & MF_CHECKED;
          CheckMenuItem(popup, 0, MF_BYPOSITION | (checked ? MF_UNCHECKED : MF_CHECKED));
          EnableMenuItem(popup, static_cast<UINT>(n - 1), MF_BYPOSITION | (k % 8 == 3 ? MF_GRAYED : MF_ENABLED));
        }
        break;
    }
  }

  // The application's own owner-drawn items: every item data it gave them (0 included).
  bool IsApplications(ULONG_PTR data) const {
    return data == 0 || data == 0x7777 || (data >= 0x1234 && data < 0x1234 + 8) || (data >= 0x2000 && data < 0x2000 + 8);
  }

  // A pointer of its own on the first text item (what a recent-files list keeps there).
  void SetData(HMENU popup) {
    for (int i = 0; i < GetMenuItemCount(popup); ++i) {
      MENUITEMINFOW mii = Info(MIIM_FTYPE | MIIM_SUBMENU);
      GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &mii);
      if ((mii.fType & MFT_SEPARATOR) || mii.hSubMenu) continue;
      if ((mii.fType & MFT_OWNERDRAW) && !ItemIsTaken(popup, i)) continue;  // its own owner-drawn item
      MENUITEMINFOW data = Info(MIIM_DATA);
      data.dwItemData = 0x7777;
      SetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &data);
      return;
    }
  }

  static bool ItemIsTaken(HMENU menu, int i) {
    MENUITEMINFOW mii = Info(MIIM_DATA);
    GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &mii);
    return mii.dwItemData <= 0xFFFFFFFFu && glyphary::IsOwnItemData(static_cast<uint32_t>(mii.dwItemData));
  }

  // A full copy of the first item of from without a sub-menu, appended to popup.
  void Copy(HMENU from, HMENU popup) {
    copied_.insert(popup);
    for (int i = 0; i < GetMenuItemCount(from); ++i) {
      wchar_t text[256] = {};
      MENUITEMINFOW mii = Info(MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_DATA | MIIM_STRING | MIIM_BITMAP |
                               MIIM_CHECKMARKS | MIIM_SUBMENU);
      mii.dwTypeData = text;
      mii.cch = 256;
      if (!GetMenuItemInfoW(from, static_cast<UINT>(i), TRUE, &mii) || mii.hSubMenu) continue;
      mii.fMask &= ~static_cast<UINT>(MIIM_SUBMENU);
      if (mii.fType & MFT_SEPARATOR) mii.fMask &= ~static_cast<UINT>(MIIM_STRING);
      InsertMenuItemW(popup, static_cast<UINT>(GetMenuItemCount(popup)), TRUE, &mii);
      return;
    }
  }

  // One key whenever the menu waits for input; Escape once the script is done, and the menu
  // ended outright should it still be open long after.
  void NextKey(HWND h) {
    ++idles_;
    if (!keys_.empty()) {
      const auto [is_char, code] = keys_.front();
      keys_.pop_front();
      PostMessageW(h, is_char ? WM_CHAR : WM_KEYDOWN, code, 0);
    } else if (idles_ < 40) {
      PostMessageW(h, WM_KEYDOWN, VK_ESCAPE, 0);
    } else {
      EndMenu();
    }
  }

  const Scenario& s_;
  bool verbose_;
  com_ptr<client::FormObject> form_;
  com_ptr<glyphary::CGlyphary> g_;
  std::unique_ptr<TopSubclass> app_;
  std::vector<HMENU> popups_;
  std::vector<HMENU> bars_;
  std::map<HMENU, std::wstring> names_;
  std::map<int, HBITMAP> bitmaps_;
  std::deque<std::pair<bool, WPARAM>> keys_;
  int idles_ = 0;
  int bar_shown_ = 0;
  UINT changes_ = 0;
  std::set<HMENU> copied_;
  std::set<UINT> measured_;
  std::set<UINT> drawn_;
  Observed observed_;
};

// The first difference of two lists, with the lines around it; empty when they are equal.
std::wstring FirstDifference(const wchar_t* what, const std::vector<std::wstring>& without,
                             const std::vector<std::wstring>& with) {
  size_t i = 0;
  while (i < without.size() && i < with.size() && without[i] == with[i]) ++i;
  if (i == without.size() && i == with.size()) return {};
  std::wostringstream out;
  out << what << L" differ at line " << i << L":\n";
  for (size_t k = i >= 3 ? i - 3 : 0; k < i; ++k) out << L"    " << without[k] << L"\n";
  out << L"  without: " << (i < without.size() ? without[i] : L"(end)") << L"\n";
  out << L"  with:    " << (i < with.size() ? with[i] : L"(end)") << L"\n";
  return out.str();
}

std::string Narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += c < 128 ? static_cast<char>(c) : '?';
  return s;
}

// A setting from the command line (--diff-cases=N; the test runner under Wine passes no
// environment) or from the environment (GLYPHARY_DIFF_CASES).
uint32_t Setting(const char* flag, const char* env, uint32_t fallback) {
  for (const std::string& arg : ::testing::internal::GetArgvs())
    if (arg.rfind(std::string(flag) + "=", 0) == 0)
      return static_cast<uint32_t>(std::strtoul(arg.c_str() + std::strlen(flag) + 1, nullptr, 10));
  const char* v = std::getenv(env);
  return v && *v ? static_cast<uint32_t>(std::strtoul(v, nullptr, 10)) : fallback;
}

// Runs the generated cases from first on, without and with the component, and reports the
// first difference of each failing case (at most five).
void RunCases(uint32_t first, uint32_t cases, bool verbose, Knobs knobs) {
  int failures = 0;
  for (uint32_t seed = first; seed < first + cases && failures < 5; ++seed) {
    if (verbose) {
      std::printf("seed %u\n", seed);
      std::fflush(stdout);
    }
    const Scenario scenario = Generator(seed, knobs).Make();
    Observed without, with;
    {
      ScriptedRun plain(scenario, false, verbose);
      without = plain.Go();
    }
    {
      ScriptedRun drawn(scenario, true, verbose);
      with = drawn.Go();
    }
    std::wstring diff = FirstDifference(L"the application's handlers", without.events, with.events);
    if (diff.empty()) diff = FirstDifference(L"items while attached", without.attached, with.attached);
    if (diff.empty()) diff = FirstDifference(L"items after the component let go", without.final, with.final);
    if (!diff.empty()) {
      ++failures;
      ADD_FAILURE() << "seed " << seed << " (replay: --diff-seed=" << seed << " --diff-cases=1): " << Narrow(diff);
    }
  }
}

}  // namespace

TEST(Differential, GlypharyChangesNothingTheApplicationObserves) {
  const uint32_t first = Setting("--diff-seed", "GLYPHARY_DIFF_SEED", 20261209);
  const uint32_t cases = Setting("--diff-cases", "GLYPHARY_DIFF_CASES", 200);
  const bool verbose = Setting("--diff-verbose", "GLYPHARY_DIFF_VERBOSE", 0) != 0;
  RunCases(first, cases, verbose, Knobs{});
}

// The application's own owner-drawn items, item data it sets on items the component prepared,
// and items it copies into other menus (the context menu among them) stay the application's.
TEST(Differential, ItemsAndDataTheApplicationKeepsForItselfStayItsOwn) {
  const uint32_t first = Setting("--diff-seed", "GLYPHARY_DIFF_SEED", 20261210);
  const uint32_t cases = Setting("--diff-cases", "GLYPHARY_DIFF_CASES", 120);
  const bool verbose = Setting("--diff-verbose", "GLYPHARY_DIFF_VERBOSE", 0) != 0;
  RunCases(first, cases, verbose, Knobs{true});
}

namespace {

// Two forms share one popup, each form with a component of its own (or none): the commands each
// form's mnemonics run in it, before and after the first form's component is released, and the
// popup's items once both are gone.
struct SharedObserved {
  std::vector<std::wstring> events;
  std::vector<std::wstring> final;
  bool second_still_drawn = true;  // after the first release, while the second is attached
  std::vector<std::wstring> unpainted;  // items of the open popup a component did not paint
};

SharedObserved RunSharedPopup(bool with_glyphary) {
  SharedObserved seen;
  auto one = client::FormObject::Create(L"one");
  auto two = client::FormObject::Create(L"two");
  auto popup = [](std::vector<std::pair<UINT, const wchar_t*>> items) {
    HMENU p = CreatePopupMenu();
    for (const auto& [id, text] : items) AppendMenuW(p, MF_STRING, id, text);
    return p;
  };
  HMENU shared = popup({{101, L"&Alpha"}, {102, L"&Beta"}, {103, L"&Gamma"}});
  HMENU bar1 = CreateMenu();
  HMENU bar2 = CreateMenu();
  AppendMenuW(bar1, MF_POPUP, reinterpret_cast<UINT_PTR>(popup({{1, L"&Nothing"}})), L"&Zero");
  AppendMenuW(bar1, MF_POPUP, reinterpret_cast<UINT_PTR>(shared), L"&Shared");
  AppendMenuW(bar2, MF_POPUP, reinterpret_cast<UINT_PTR>(popup({{2, L"&Nothing"}})), L"&Zero");
  AppendMenuW(bar2, MF_POPUP,
              reinterpret_cast<UINT_PTR>(popup({{201, L"&Beta two"}, {202, L"&Xray"}, {203, L"&Yankee"}, {204, L"&Alpha two"}})),
              L"&Other");
  AppendMenuW(bar2, MF_POPUP, reinterpret_cast<UINT_PTR>(shared), L"&Shared");
  SetMenu(one->hwnd(), bar1);
  SetMenu(two->hwnd(), bar2);
  one->Show();
  two->Show();
  com_ptr<glyphary::CGlyphary> g1, g2;
  if (with_glyphary) {
    g1 = NewComponent();
    g2 = NewComponent();
    EXPECT_EQ(S_OK, SetForm(g1.get(), one.get()));
    EXPECT_EQ(S_OK, SetForm(g2.get(), two.get()));
  }
  // Above each component: what its answer to the platform's WM_DRAWITEM was.
  std::vector<std::unique_ptr<TopSubclass>> above;
  const wchar_t* painting = L"";
  for (HWND h : {one->hwnd(), two->hwnd()}) {
    above.push_back(std::make_unique<TopSubclass>(h, [&](HWND w, UINT msg, WPARAM wp, LPARAM lp, LRESULT* r) {
      if (msg != WM_DRAWITEM || !with_glyphary) return false;
      *r = DefSubclassProc(w, msg, wp, lp);
      const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (*r != 1) seen.unpainted.push_back(std::wstring(painting) + L" item " + std::to_wstring(dis->itemID));
      return true;
    }));
  }
  auto press = [&](const wchar_t* form, HWND owner, wchar_t key) {
    SetForegroundWindow(owner);
    painting = form;
    const UINT command = RunPopup(owner, shared, [key](HWND h) { PressKey(h, key); });
    seen.events.push_back(std::wstring(form) + L" " + key + L" runs " + std::to_wstring(command));
  };
  for (wchar_t key : {L'a', L'b', L'g'}) {
    press(L"one", one->hwnd(), key);
    press(L"two", two->hwnd(), key);
  }
  above.clear();
  g1.reset();
  if (with_glyphary) {
    for (int i = 0; i < GetMenuItemCount(shared); ++i)
      if (!(ItemType(shared, i) & MFT_OWNERDRAW)) seen.second_still_drawn = false;
  }
  for (wchar_t key : {L'a', L'g'}) press(L"two alone", two->hwnd(), key);
  g2.reset();
  for (int i = 0; i < GetMenuItemCount(shared); ++i) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_DATA | MIIM_STRING;
    wchar_t text[64] = {};
    mii.dwTypeData = text;
    mii.cch = 64;
    GetMenuItemInfoW(shared, static_cast<UINT>(i), TRUE, &mii);
    seen.final.push_back(std::to_wstring(mii.wID) + L" '" + text + L"' type " + common::Hex(static_cast<int32_t>(mii.fType)) +
                         L" data " + common::Hex(static_cast<int32_t>(mii.dwItemData)));
  }
  SetMenu(one->hwnd(), nullptr);
  SetMenu(two->hwnd(), nullptr);
  RemoveMenu(bar1, 1, MF_BYPOSITION);  // the shared popup goes with the second bar only
  DestroyMenu(bar1);
  DestroyMenu(bar2);
  one->Close();
  two->Close();
  return seen;
}

}  // namespace

TEST(Differential, APopupSharedByTwoFormsIsEachComponentsOwnAndOutlivesEitherRelease) {
  const SharedObserved without = RunSharedPopup(false);
  const SharedObserved with = RunSharedPopup(true);
  EXPECT_EQ("", Narrow(FirstDifference(L"commands run by mnemonics", without.events, with.events)));
  EXPECT_EQ("", Narrow(FirstDifference(L"items after both let go", without.final, with.final)));
  EXPECT_TRUE(with.second_still_drawn) << "releasing the first form's component stripped the second form's items";
  EXPECT_EQ("", Narrow(FirstDifference(L"items a component left unpainted", {}, with.unpainted)));
}
