// Menu preparation over real menus: records, item data, what is skipped, when a walk happens,
// caption changes, a full store, and a Form set again.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "menu_fixture.h"
#include "runtime_error.h"
#include "words.h"

using common::com_ptr;
using glyphary::ItemRecord;
using namespace menu_test;

namespace {

int32_t SlotOf(HMENU menu, int pos) {
  ULONG_PTR d = ItemData(menu, pos);
  EXPECT_TRUE(glyphary::IsOwnItemData(static_cast<uint32_t>(d))) << "item " << pos;
  return glyphary::ItemSlot(static_cast<uint32_t>(d));
}

// The walk WM_INITMENUPOPUP makes for popup (after the application's own handler, which the
// dispatch tests cover): 0 walked, 1 skipped, -1 when it raised an error.
LONG_PTR InitPopup(glyphary::CGlyphary* g, HMENU popup, int pos, int sys = 0) {
  try {
    return g->PrepareMenu(popup, MAKELPARAM(pos, sys), false);
  } catch (const common::RuntimeError& e) {
    ADD_FAILURE() << "the walk raised error " << e.number();
    return -1;
  }
}

std::wstring MenuString(HMENU menu, int pos) {
  wchar_t buf[512] = {};
  GetMenuStringW(menu, static_cast<UINT>(pos), buf, 512, MF_BYPOSITION);
  return buf;
}

}  // namespace

TEST(PrepareMenu, RecordsAndItemDataForBarAndSubMenusInWalkOrder) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU bar = form->MenuBar(), file = GetSubMenu(bar, 0);
  // The bar's own items first, then each sub-menu depth-first.
  EXPECT_EQ(0, SlotOf(bar, 0));
  EXPECT_EQ(2, SlotOf(bar, 2));
  EXPECT_EQ(3, SlotOf(file, 0));
  EXPECT_EQ(13, g->ItemCount());
  EXPECT_EQ(static_cast<ULONG_PTR>(0x8C2D0004), ItemData(file, 1));

  const ItemRecord& top = g->ItemAt(0);
  EXPECT_EQ(L"&File", top.Caption);
  EXPECT_EQ(-1, top.IsTopLevel);
  EXPECT_EQ(-1, top.ImageIndex);
  EXPECT_EQ(static_cast<int32_t>(MFT_STRING | MFT_OWNERDRAW), top.ItemType);
  const ItemRecord& open = g->ItemAt(SlotOf(file, 1));
  EXPECT_EQ(L"&Open...\tCtrl+O", open.Caption);
  EXPECT_EQ(0, open.IsTopLevel);
  EXPECT_EQ(-1, open.HasShortcut);
  EXPECT_EQ(L"Ctrl+O", open.Shortcut);
  EXPECT_EQ(0, open.CommandId) << "filled in by measuring";
  const ItemRecord& sep = g->ItemAt(SlotOf(file, 2));
  EXPECT_EQ(L"", sep.Caption);
  EXPECT_EQ(0, sep.HasShortcut);
  EXPECT_EQ(static_cast<int32_t>(MFT_SEPARATOR | MFT_OWNERDRAW), sep.ItemType);
  EXPECT_EQ(static_cast<UINT>(MFT_SEPARATOR | MFT_OWNERDRAW), ItemType(file, 2));

  // Walked again when it opens: every slot kept, nothing added.
  EXPECT_EQ(0, InitPopup(g.get(), file, 0));
  EXPECT_EQ(4, SlotOf(file, 1));
  EXPECT_EQ(L"&Open...\tCtrl+O", g->ItemAt(4).Caption);
  EXPECT_EQ(13, g->ItemCount());
}

TEST(PrepareMenu, SystemCommandsBitmapsAndForeignItemDataAreLeftAlone) {
  auto form = client::FormObject::Create(L"skips");
  auto* pop = form->AddPopup(nullptr, L"mnuPop", L"&Pop");
  const HMENU m = pop->SubMenu();
  AppendMenuA(m, MF_STRING, 0xF060, "Close");
  AppendMenuA(m, MF_STRING, 0xEFFF, "Just below");
  HBITMAP bmp = CreateBitmap(8, 8, 1, 1, nullptr);
  AppendMenuA(m, MF_BITMAP, 300, reinterpret_cast<LPCSTR>(bmp));
  AppendMenuA(m, MF_STRING, 301, "Foreign");
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof(mii);
  mii.fMask = MIIM_DATA;
  mii.dwItemData = 0x1234;
  SetMenuItemInfoW(m, 3, TRUE, &mii);
  AppendMenuA(m, MF_STRING, 0x10000, "Above the range");
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ(0u, ItemData(m, 0));
  EXPECT_EQ(0u, ItemType(m, 0) & MFT_OWNERDRAW);
  EXPECT_TRUE(ItemType(m, 1) & MFT_OWNERDRAW);
  EXPECT_EQ(0u, ItemData(m, 2));
  EXPECT_EQ(static_cast<UINT>(MFT_BITMAP), ItemType(m, 2));
  EXPECT_EQ(0x1234u, ItemData(m, 3));
  EXPECT_EQ(0u, ItemType(m, 3) & MFT_OWNERDRAW);
  EXPECT_TRUE(ItemType(m, 4) & MFT_OWNERDRAW);
  EXPECT_EQ(3, g->ItemCount()) << "the bar item and two popup items";
  DeleteObject(bmp);
}

TEST(PrepareMenu, WindowMenuAndPopupsAtPositionZeroOtherThanTheFirstAreSkipped) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const LONG count = g->ItemCount();
  HMENU loose = CreatePopupMenu();
  AppendMenuA(loose, MF_STRING, 500, "&Loose");
  EXPECT_EQ(1, InitPopup(g.get(), loose, 0)) << "position 0, not the first popup of the bar";
  EXPECT_EQ(1, InitPopup(g.get(), loose, 3, 1)) << "the window menu";
  EXPECT_EQ(0u, ItemData(loose, 0));
  EXPECT_EQ(count, g->ItemCount());
  EXPECT_EQ(0, InitPopup(g.get(), g->FirstPopup(), 0)) << "the first popup of the bar";
  EXPECT_EQ(0, InitPopup(g.get(), loose, 2));
  EXPECT_TRUE(ItemType(loose, 0) & MFT_OWNERDRAW);
  EXPECT_EQ(count + 1, g->ItemCount());
  DestroyMenu(loose);
}

TEST(PrepareMenu, DescentEndsAtTheFirstSystemCommandAfterTheMenuItselfIsDone) {
  auto form = client::FormObject::Create(L"descent");
  auto* a = form->AddPopup(nullptr, L"mnuA", L"&A");
  auto* a1 = form->AddPopup(a->SubMenu(), L"mnuA1", L"A&1");
  form->AddItem(a1->SubMenu(), L"mnuDeep", L"&Deep");
  auto* b = form->AddPopup(nullptr, L"mnuB", L"&B");
  form->AddItem(b->SubMenu(), L"mnuB1", L"B&1");
  AppendMenuA(form->MenuBar(), MF_STRING, 0xF020, "Minimize");
  auto* c = form->AddPopup(nullptr, L"mnuC", L"&C");
  form->AddItem(c->SubMenu(), L"mnuC1", L"C&1");
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU bar = form->MenuBar();
  EXPECT_EQ(0, SlotOf(bar, 0));
  EXPECT_EQ(1, SlotOf(bar, 1));
  EXPECT_EQ(0u, ItemData(bar, 2));
  EXPECT_EQ(2, SlotOf(bar, 3)) << "the bar's items are all done before any sub-menu";
  EXPECT_EQ(3, SlotOf(a->SubMenu(), 0));
  EXPECT_EQ(4, SlotOf(a1->SubMenu(), 0)) << "depth first";
  EXPECT_EQ(5, SlotOf(b->SubMenu(), 0));
  EXPECT_EQ(0u, ItemData(c->SubMenu(), 0)) << "no descent past the system command";
  EXPECT_EQ(6, g->ItemCount());
}

TEST(PrepareMenu, PicturesFoundByCaptionWithoutRegardToCaseAndFollowCaptionChanges) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 3, L"mnuOpen"));
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 9, L"mnuFile"));
  EXPECT_EQ(-1, g->ItemAt(SlotOf(file, 1)).ImageIndex) << "shown from the next walk";
  EXPECT_EQ(0, InitPopup(g.get(), file, 0));
  EXPECT_EQ(3, g->ItemAt(SlotOf(file, 1)).ImageIndex);
  EXPECT_EQ(-1, g->ItemAt(0).ImageIndex) << "never a picture on the bar";
  EXPECT_EQ(3, g->FindImageIndex(L"&OPEN...\tanything"));
  EXPECT_EQ(-1, g->FindImageIndex(L"Open..."));

  // The client renames the control: the item is a text item again, with our item data.
  form->Control(L"mnuOpen")->SetCaption(L"&Load");
  EXPECT_EQ(0u, ItemType(file, 1) & MFT_OWNERDRAW);
  const int32_t slot = SlotOf(file, 1);
  EXPECT_EQ(0, InitPopup(g.get(), file, 0));
  EXPECT_EQ(slot, SlotOf(file, 1));
  EXPECT_TRUE(ItemType(file, 1) & MFT_OWNERDRAW);
  const ItemRecord& r = g->ItemAt(slot);
  EXPECT_EQ(L"&Load\tCtrl+O", r.Caption);
  EXPECT_EQ(3, r.ImageIndex) << "the picture follows the control";
  EXPECT_TRUE(g->CaptionKeys().Contains(L"&load"));
  EXPECT_FALSE(g->CaptionKeys().Contains(L"&Open..."));
}

// A renamed control that never had a picture, or a new caption that already names another
// control: the walk takes the new caption, leaves the keys as they are and goes on.
TEST(PrepareMenu, RenamesThatCannotBeRekeyedDoNotEndTheWalk) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 3, L"mnuOpen"));
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 4, L"mnuSave"));
  form->Control(L"mnuNew")->SetCaption(L"&Fresh");   // no picture registered
  form->Control(L"mnuOpen")->SetCaption(L"&save");   // the key of another control
  form->Control(L"mnuSave")->SetCaption(L"Save &As");
  EXPECT_EQ(0, InitPopup(g.get(), file, 0));
  EXPECT_EQ(L"&Fresh", g->ItemAt(SlotOf(file, 0)).Caption);
  EXPECT_EQ(L"&save\tCtrl+O", g->ItemAt(SlotOf(file, 1)).Caption);
  EXPECT_EQ(L"Save &As", g->ItemAt(SlotOf(file, 3)).Caption) << "the walk went on to the last item";
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(ItemType(file, i) & MFT_OWNERDRAW) << i;
  EXPECT_EQ(3, g->FindImageIndex(L"&Open...")) << "mnuOpen's key could not move and stays";
  EXPECT_EQ(4, g->FindImageIndex(L"Save &As")) << "mnuSave moved after the other item failed to";
}

TEST(PrepareMenu, TextLongerThan255CharactersIsKeptWhole) {
  auto form = client::FormObject::Create(L"long");
  auto* pop = form->AddPopup(nullptr, L"mnuPop", L"&Pop");
  const std::wstring text = L"&" + std::wstring(299, L'x');
  form->AddItem(pop->SubMenu(), L"mnuLong", text.c_str());
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ(text, g->ItemAt(SlotOf(pop->SubMenu(), 0)).Caption);
  // Set free again by a Form for another window, the item gets its whole text back.
  auto other = SampleForm();
  ASSERT_EQ(S_OK, SetForm(g.get(), other.get()));
  EXPECT_EQ(text, MenuString(pop->SubMenu(), 0));
}

TEST(PrepareMenu, FullStoreEndsTheWalkWithError9AndLaterWalksAreSkippedWhileItIsFull) {
  auto form = client::FormObject::Create(L"big");
  auto* big = form->AddPopup(nullptr, L"mnuBig", L"&Big");
  for (int i = 0; i < 520; ++i) AppendMenuA(big->SubMenu(), MF_STRING, 1000 + i, ("Item " + std::to_string(i)).c_str());
  auto* later = form->AddPopup(nullptr, L"mnuLater", L"&Later");
  form->AddItem(later->SubMenu(), L"mnuL1", L"L&1");
  auto g = NewComponent();
  EXPECT_EQ(static_cast<HRESULT>(0x800A0009), SetForm(g.get(), form.get()));
  EXPECT_EQ(512, g->ItemCount()) << "every slot in use";
  EXPECT_EQ(510, SlotOf(big->SubMenu(), 508));
  EXPECT_EQ(511, SlotOf(big->SubMenu(), 509)) << "the 512th slot is used";
  EXPECT_EQ(0u, ItemData(big->SubMenu(), 510)) << "the 513th item was not written";
  EXPECT_EQ(0u, ItemType(big->SubMenu(), 510) & MFT_OWNERDRAW);
  EXPECT_EQ(1, InitPopup(g.get(), later->SubMenu(), 1));
  EXPECT_EQ(1, InitPopup(g.get(), big->SubMenu(), 0));
  EXPECT_EQ(0u, ItemData(later->SubMenu(), 0));
}

// Form set again must not hand out slots that items prepared earlier still use.
TEST(PrepareMenu, FormAgainGivesBackTheEarlierItemsAndNeverSharesASlot) {
  auto a = SampleForm();
  auto b = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), a.get()));
  ASSERT_EQ(S_OK, SetItemImage(g.get(), 3, L"mnuOpen"));
  const HMENU file_a = GetSubMenu(a->MenuBar(), 0);
  a->Control(L"mnuOpen")->SetCaption(L"&Load");  // renamed while prepared, not yet walked
  ASSERT_EQ(S_OK, SetForm(g.get(), b.get()));
  // a's items are plain text items again, with their texts.
  for (int i = 0; i < GetMenuItemCount(file_a); ++i) {
    EXPECT_EQ(0u, ItemData(file_a, i)) << i;
    EXPECT_EQ(0u, ItemType(file_a, i) & MFT_OWNERDRAW) << i;
  }
  EXPECT_EQ(L"&New", MenuString(file_a, 0));
  EXPECT_EQ(L"&Load\tCtrl+O", MenuString(file_a, 1));
  EXPECT_EQ(L"&File", MenuString(a->MenuBar(), 0));
  EXPECT_EQ(13, g->ItemCount());

  // Back to a, twice: every prepared item has a slot of its own.
  ASSERT_EQ(S_OK, SetForm(g.get(), a.get()));
  ASSERT_EQ(S_OK, SetForm(g.get(), a.get()));
  std::set<int32_t> slots;
  int items = 0;
  std::function<void(HMENU)> collect = [&](HMENU m) {
    for (int i = 0; i < GetMenuItemCount(m); ++i) {
      slots.insert(SlotOf(m, i));
      ++items;
      if (HMENU s = GetSubMenu(m, i)) collect(s);
    }
  };
  collect(a->MenuBar());
  EXPECT_EQ(static_cast<size_t>(items), slots.size());
  EXPECT_EQ(items, g->ItemCount());
  EXPECT_EQ(3, g->ItemAt(SlotOf(file_a, 1)).ImageIndex) << "the rename was followed on the way";
}

// Popups made and destroyed one after another (a context menu per click): the list of prepared
// menus keeps the live ones only, and the form's own menus are still given back by the next Form.
TEST(PreparedMenus, DestroyedMenusAreForgotten) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const size_t form_menus = g->PreparedMenuCount();
  HMENU kept = CreatePopupMenu();
  AppendMenuW(kept, MF_STRING, 500, L"Kept");
  ASSERT_EQ(0, InitPopup(g.get(), kept, 1));
  for (int i = 0; i < 50; ++i) {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, 600 + i, L"Once");
    ASSERT_EQ(0, InitPopup(g.get(), popup, 1));
    DestroyMenu(popup);
  }
  EXPECT_LE(g->PreparedMenuCount(), form_menus + 2) << "destroyed popups are still listed";
  EXPECT_TRUE(ItemType(kept, 0) & MFT_OWNERDRAW);
  // The next Form gives every live prepared menu back as text items.
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_FALSE(ItemType(kept, 0) & MFT_OWNERDRAW) << "a live popup prepared earlier was given back";
  EXPECT_EQ(0u, ItemData(kept, 0));
  DestroyMenu(kept);
}

namespace {

// Makes every GetMenuItemInfoW of one item fail while it lives, through the test program's import
// table (the component's walk is linked into it).
class FailingItemRead {
 public:
  FailingItemRead(HMENU menu, UINT position) {
    menu_ = menu;
    position_ = position;
    real_ = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetMenuItemInfoW"));
    slot_ = FindSlot(real_);
    if (slot_) Write(reinterpret_cast<void*>(&Hook));
  }
  ~FailingItemRead() {
    if (slot_) Write(real_);
  }
  bool installed() const { return slot_ != nullptr; }

 private:
  static BOOL WINAPI Hook(HMENU m, UINT item, BOOL by_position, LPMENUITEMINFOW mii) {
    if (m == menu_ && item == position_ && by_position) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    return reinterpret_cast<decltype(&GetMenuItemInfoW)>(real_)(m, item, by_position, mii);
  }
  static void** FindSlot(void* target) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d)
      for (auto* slot = reinterpret_cast<void**>(base + d->FirstThunk); *slot; ++slot)
        if (*slot == target) return slot;
    return nullptr;
  }
  void Write(void* value) {
    DWORD old = 0;
    VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
    *slot_ = value;
    VirtualProtect(slot_, sizeof(void*), old, &old);
  }
  static inline HMENU menu_ = nullptr;
  static inline UINT position_ = 0;
  static inline void* real_ = nullptr;
  void** slot_ = nullptr;
};

}  // namespace

// An item the walk cannot read is left as it is: not written back as an empty owner-drawn item.
TEST(PreparedMenus, ItemThatCannotBeReadIsLeftAlone) {
  auto form = SampleForm();
  const HMENU file = GetSubMenu(form->MenuBar(), 0);
  const UINT open_id = GetMenuItemID(file, 1);
  auto g = NewComponent();
  {
    FailingItemRead failing(file, 1);
    ASSERT_TRUE(failing.installed());
    ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  }
  EXPECT_EQ(0u, ItemType(file, 1) & MFT_OWNERDRAW);
  EXPECT_EQ(0u, ItemData(file, 1));
  EXPECT_EQ(open_id, GetMenuItemID(file, 1));
  wchar_t text[64] = {};
  GetMenuStringW(file, 1, text, 64, MF_BYPOSITION);
  EXPECT_STREQ(L"&Open...\tCtrl+O", text);
  EXPECT_TRUE(ItemType(file, 0) & MFT_OWNERDRAW) << "the other items are prepared";
  EXPECT_TRUE(ItemType(file, 3) & MFT_OWNERDRAW);
}

// A recent-files list rebuilt before every opening: the slots of the items removed are used
// again, so the list is owner-drawn however often it opens, and no two live items share a slot.
TEST(SlotReuse, ListRebuiltBeforeEveryOpeningStaysOwnerDrawn) {
  auto form = SampleForm();
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  const HMENU recent = GetSubMenu(form->MenuBar(), 2);
  for (int opening = 0; opening < 120; ++opening) {
    while (GetMenuItemCount(recent) > 0) DeleteMenu(recent, 0, MF_BYPOSITION);
    for (int i = 0; i < 10; ++i)
      AppendMenuW(recent, MF_STRING, 2000 + i, (L"&" + std::to_wstring(i) + L" file" + std::to_wstring(opening)).c_str());
    ASSERT_EQ(0, InitPopup(g.get(), recent, 2)) << "opening " << opening;
    for (int i = 0; i < 10; ++i) {
      ASSERT_TRUE(ItemType(recent, i) & MFT_OWNERDRAW) << "opening " << opening << " item " << i;
      EXPECT_EQ(L"&" + std::to_wstring(i) + L" file" + std::to_wstring(opening), g->ItemAt(SlotOf(recent, i)).Caption);
    }
  }
  std::set<int32_t> slots;
  int items = 0;
  std::function<void(HMENU)> collect = [&](HMENU m) {
    for (int i = 0; i < GetMenuItemCount(m); ++i) {
      slots.insert(SlotOf(m, i));
      ++items;
      if (HMENU s = GetSubMenu(m, i)) collect(s);
    }
  };
  collect(form->MenuBar());
  EXPECT_EQ(static_cast<size_t>(items), slots.size()) << "no slot shared by two live items";
  EXPECT_LE(g->ItemCount(), 512);
}

// The store full of live items ends a walk with error 9; once items are gone their slots serve again.
TEST(SlotReuse, FullStoreRecoversWhenItemsAreRemoved) {
  auto form = client::FormObject::Create(L"big");
  auto* big = form->AddPopup(nullptr, L"mnuBig", L"&Big");
  for (int i = 0; i < 520; ++i) AppendMenuA(big->SubMenu(), MF_STRING, 1000 + i, ("Item " + std::to_string(i)).c_str());
  auto* later = form->AddPopup(nullptr, L"mnuLater", L"&Later");
  form->AddItem(later->SubMenu(), L"mnuL1", L"L&1");
  auto g = NewComponent();
  EXPECT_EQ(static_cast<HRESULT>(0x800A0009), SetForm(g.get(), form.get()));
  EXPECT_EQ(0u, ItemData(big->SubMenu(), 510)) << "the 513th item was not written";
  while (GetMenuItemCount(big->SubMenu()) > 100) DeleteMenu(big->SubMenu(), 100, MF_BYPOSITION);
  EXPECT_EQ(0, InitPopup(g.get(), later->SubMenu(), 1));
  EXPECT_TRUE(ItemType(later->SubMenu(), 0) & MFT_OWNERDRAW);
  EXPECT_EQ(L"L&1", g->ItemAt(SlotOf(later->SubMenu(), 0)).Caption);
}

// Captions outside the ANSI code page survive preparation, a Form set again and detaching.
TEST(PrepareMenu, UnicodeCaptionsAreKeptWhole) {
  auto form = client::FormObject::Create(L"unicode");
  auto* pop = form->AddPopup(nullptr, L"mnuPop", L"&Pop");
  const std::wstring text = L"&\x03A9mega \x65E5\x672C\x8A9E \x0416\tCtrl+\x00DC";
  AppendMenuW(pop->SubMenu(), MF_STRING, 700, text.c_str());
  auto g = NewComponent();
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ(text, g->ItemAt(SlotOf(pop->SubMenu(), 0)).Caption);
  EXPECT_EQ(L"Ctrl+\x00DC", g->ItemAt(SlotOf(pop->SubMenu(), 0)).Shortcut);
  ASSERT_EQ(S_OK, SetForm(g.get(), form.get()));
  EXPECT_EQ(text, g->ItemAt(SlotOf(pop->SubMenu(), 0)).Caption) << "after Form again";
  EXPECT_EQ(text, MenuString(pop->SubMenu(), 0)) << "the platform's item keeps it";
  // A caption changed by the application to another Unicode text is followed.
  const std::wstring renamed = L"&\x0411\x0443\x0444\x0435\x0440";
  ModifyMenuW(pop->SubMenu(), 0, MF_BYPOSITION | MF_STRING, 700, renamed.c_str());
  EXPECT_EQ(0, InitPopup(g.get(), pop->SubMenu(), 1));
  EXPECT_EQ(renamed, g->ItemAt(SlotOf(pop->SubMenu(), 0)).Caption);
  g.reset();
  EXPECT_EQ(renamed, MenuString(pop->SubMenu(), 0)) << "given back whole";
}
