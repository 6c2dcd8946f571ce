// Menu preparation: every suitable item of a walked menu becomes an owner-drawn item whose
// item data carry its slot in the item store and the marker. The item keeps its text (read and
// written with the wide functions), so the platform, screen readers and GetMenuString still see
// its caption; detaching or releasing the component gives every item its text item back.
#include <algorithm>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "caption.h"
#include "checked_math.h"
#include "glyphary.h"
#include "runtime_error.h"
#include "words.h"

using common::unique_variant;

namespace glyphary {

namespace {

constexpr UINT kReadMask = MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE | MIIM_DATA | MIIM_STRING | MIIM_BITMAP;

bool IsSystemCommand(UINT id) {
  const auto v = static_cast<int32_t>(id);
  return v >= 0xF000 && v <= 0xFFFF;
}

// Item data are 32-bit values; wider ones are never ours.
bool IsOwn(ULONG_PTR data) { return data <= 0xFFFFFFFFu && IsOwnItemData(static_cast<uint32_t>(data)); }

MENUITEMINFOW ItemInfo(UINT mask) {
  MENUITEMINFOW mii{};
  mii.cbSize = sizeof mii;
  mii.fMask = mask;
  return mii;
}

// The whole text of an item whose length a first read reported.
std::wstring ReadItemText(HMENU menu, int item, UINT length) {
  if (length == 0) return {};
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
  MENUITEMINFOW full = ItemInfo(MIIM_STRING);
  full.dwTypeData = buffer.data();
  full.cch = length + 1;
  if (!GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &full)) return {};
  return std::wstring(buffer.data(), std::min<UINT>(full.cch, length));
}

}  // namespace

LONG CGlyphary::PrepareMenu(HMENU menu, int32_t position, bool descend) {
  // While a screen reader runs, the platform draws the menus itself.
  if (m_PlatformDrawn) return 1;
  const int16_t pos = LoWord(position);
  const int16_t sys = HiWord(position);
  const HMENU bar = WindowMenu();
  // The first popup of the bar the window has now (SetMenu and MDI switch bars at any time).
  m_FirstPopup = bar ? GetSubMenu(bar, 0) : nullptr;
  if (sys == 1 || (pos == 0 && !SameMenu(menu, m_FirstPopup))) {
    ClaimPopup(menu);
    return 1;
  }
  if (m_ItemCount >= kItemStoreSize && free_slots_.empty()) {
    ReclaimSlots();
    if (free_slots_.empty()) return 1;
  }

  const int count = GetMenuItemCount(menu);
  if (count > 0) Remember(menu);
  for (int item = 0; item < count; ++item) PrepareItem(menu, item, bar);

  if (descend) {
    for (int item = 0; item < count; ++item) {
      MENUITEMINFOW mii = ItemInfo(MIIM_ID | MIIM_SUBMENU);
      if (!GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii)) continue;
      if (IsSystemCommand(mii.wID)) break;
      if (mii.hSubMenu) PrepareMenu(mii.hSubMenu, position, true);
    }
  }
  return 0;
}

void CGlyphary::PrepareItem(HMENU menu, int item, HMENU bar) {
  MENUITEMINFOW mii = ItemInfo(kReadMask);
  // An item that cannot be read is left as it is.
  if (!GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii)) return;
  const bool marked = IsOwn(mii.dwItemData);
  if (!marked) {
    if (!(mii.fType & MFT_OWNERDRAW)) {
      if (mii.dwItemData != 0) return;  // somebody else's item data
    } else {
      // Owner-drawn with item data not ours: the application's own item, or one we prepared whose
      // item data the application has set since. The latter gets its text item back, keeping the
      // application's data; the former is never touched.
      const int32_t slot = SlotRecordedFor(menu, mii.wID);
      if (slot >= 0 && !SlotHeldIn(menu, slot)) GiveBack(menu, item, slot, true);
      return;
    }
  }
  const std::wstring text = ReadItemText(menu, item, mii.cch);
  // Bitmap items (a picture and no text) and system commands stay the platform's.
  if (mii.fType == MFT_BITMAP || (mii.hbmpItem && text.empty() && !(mii.fType & MFT_SEPARATOR)) ||
      IsSystemCommand(mii.wID))
    return;
  int32_t slot = marked ? ItemSlot(static_cast<uint32_t>(mii.dwItemData)) : -1;
  // Our item data on an item whose record is not ours (an item moved or copied by the application,
  // or prepared by another form's component): a record of its own, the one this item had if any.
  bool own = slot >= 0 && slot < kItemStoreSize && OwnSlot(mii.dwItemData, mii.wID) == slot &&
             SameMenu(slot_owners_[static_cast<size_t>(slot)].menu, menu);
  if (marked && !own) {
    slot = SlotRecordedFor(menu, mii.wID);
    if (slot >= 0 && SlotHeldIn(menu, slot)) slot = -1;
  } else if (!own) {
    slot = -1;
  }

  ItemRecord record;
  if (own) {
    const ItemRecord& stored = Item(slot);
    // An owner-drawn item whose text cannot be read keeps the caption it had.
    const bool unchanged = text == stored.Caption || ((mii.fType & MFT_OWNERDRAW) && text.empty());
    if (unchanged) {
      record.Caption = stored.Caption;
    } else {
      // Renamed since the last walk: the picture follows the menu control to its new caption.
      Rekey(CaptionText(stored.Caption), CaptionText(text));
      record.Caption = text;
    }
    record.CommandId = stored.CommandId;
  } else {
    record.Caption = text;
    record.CommandId = 0;
  }
  record.IsTopLevel = bar && SameMenu(menu, bar) ? -1 : 0;
  record.HasShortcut = record.Caption.find(L'\t') != std::wstring::npos ? -1 : 0;
  if (record.HasShortcut) record.Shortcut = CaptionShortcut(record.Caption);
  const UINT type = (mii.fType & ~static_cast<UINT>(MFT_BITMAP)) | MFT_OWNERDRAW;
  record.ItemType = static_cast<int32_t>(type);
  record.ImageIndex = -1;
  if (!record.IsTopLevel) record.ImageIndex = FindImageIndex(record.Caption);
  if (slot == -1) slot = NewSlot();  // error 9 when every slot is held by a live item
  Item(slot) = std::move(record);
  slot_owners_[static_cast<size_t>(slot)] = {menu, mii.wID, true};

  // Type and item data only: text, identifier, sub-menu and the item's bitmap stay as they are.
  MENUITEMINFOW write = ItemInfo(MIIM_FTYPE | MIIM_DATA);
  write.fType = type;
  write.dwItemData = static_cast<ULONG_PTR>(static_cast<uint32_t>(MakeItemData(static_cast<int16_t>(slot))));
  SetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &write);
}

void CGlyphary::ClaimPopup(HMENU menu) {
  if (m_PlatformDrawn || !menu) return;
  const int count = GetMenuItemCount(menu);
  bool holds_ours = false;
  for (int item = 0; item < count; ++item) {
    MENUITEMINFOW mii = ItemInfo(MIIM_ID | MIIM_FTYPE | MIIM_DATA);
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii)) continue;
    if (!IsOwn(mii.dwItemData)) {
      // One of ours whose item data the application has set since: its text item back.
      if ((mii.fType & MFT_OWNERDRAW) && !IsSystemCommand(mii.wID)) {
        const int32_t slot = SlotRecordedFor(menu, mii.wID);
        if (slot >= 0 && !SlotHeldIn(menu, slot)) GiveBack(menu, item, slot, true);
      }
      continue;
    }
    holds_ours = true;
    // Our own record (a copy of an item of ours paints as the item it was copied from).
    if (OwnSlot(mii.dwItemData, mii.wID) >= 0) continue;
    if (m_ItemCount >= kItemStoreSize && free_slots_.empty()) ReclaimSlots();
    if (m_ItemCount >= kItemStoreSize && free_slots_.empty()) continue;
    PrepareItem(menu, item, nullptr);
  }
  if (holds_ours) Remember(menu);
}

int32_t CGlyphary::SlotInUse(ULONG_PTR data) const {
  if (!IsOwn(data)) return -1;
  const int32_t slot = ItemSlot(static_cast<uint32_t>(data));
  if (slot < 0 || slot >= kItemStoreSize || slot >= m_ItemCount) return -1;
  return slot_owners_[static_cast<size_t>(slot)].used ? slot : -1;
}

int32_t CGlyphary::OwnSlot(ULONG_PTR data, UINT id) const {
  const int32_t slot = SlotInUse(data);
  return slot >= 0 && slot_owners_[static_cast<size_t>(slot)].id == id ? slot : -1;
}

int32_t CGlyphary::SlotRecordedFor(HMENU menu, UINT id) const {
  const int32_t n = std::min(m_ItemCount, kItemStoreSize);
  for (int32_t slot = 0; slot < n; ++slot) {
    const SlotOwner& owner = slot_owners_[static_cast<size_t>(slot)];
    if (owner.used && SameMenu(owner.menu, menu) && owner.id == id) return slot;
  }
  return -1;
}

bool CGlyphary::SlotHeldIn(HMENU menu, int32_t slot) {
  const ULONG_PTR data = static_cast<ULONG_PTR>(static_cast<uint32_t>(MakeItemData(static_cast<int16_t>(slot))));
  const int count = GetMenuItemCount(menu);
  for (int item = 0; item < count; ++item) {
    MENUITEMINFOW mii = ItemInfo(MIIM_DATA);
    if (GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii) && mii.dwItemData == data) return true;
  }
  return false;
}

void CGlyphary::GiveBack(HMENU menu, int item, int32_t slot, bool keep_data) {
  MENUITEMINFOW mii = ItemInfo(MIIM_FTYPE | MIIM_STRING);
  if (!GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii)) return;
  const std::wstring& caption = m_Items[static_cast<size_t>(slot)].Caption;
  std::wstring text = ReadItemText(menu, item, mii.cch);
  if (text.empty() && (mii.fType & MFT_OWNERDRAW)) text = caption;
  else if (text != caption) Rekey(CaptionText(caption), CaptionText(text));  // renamed since the walk
  MENUITEMINFOW write = ItemInfo(MIIM_FTYPE);
  write.fType = mii.fType & ~static_cast<UINT>(MFT_OWNERDRAW);
  if (!keep_data) {
    write.fMask |= MIIM_DATA;
    write.dwItemData = 0;
  }
  if (!text.empty() && !(mii.fType & MFT_SEPARATOR)) {
    write.fMask |= MIIM_STRING;
    write.dwTypeData = text.data();
    write.cch = static_cast<UINT>(text.size());
  }
  SetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &write);
}

void CGlyphary::Remember(HMENU menu) {
  if (std::any_of(prepared_menus_.begin(), prepared_menus_.end(), [menu](HMENU m) { return SameMenu(m, menu); }))
    return;
  // Menus destroyed since they were walked (a context menu per click) have nothing to give
  // back: the list keeps live menus only, so it does not grow with every popup ever shown.
  std::erase_if(prepared_menus_, [](HMENU m) { return !IsMenu(m); });
  prepared_menus_.push_back(menu);
}

int32_t CGlyphary::NewSlot() {
  if (m_ItemCount < kItemStoreSize) return m_ItemCount++;
  if (free_slots_.empty()) ReclaimSlots();
  if (free_slots_.empty()) common::Raise(common::errSubscriptOutOfRange, kSource);
  const int32_t slot = free_slots_.back();
  free_slots_.pop_back();
  return slot;
}

// The slots that no item of a live menu holds any more (items deleted, menus destroyed) become free.
void CGlyphary::ReclaimSlots() {
  std::erase_if(prepared_menus_, [](HMENU m) { return !IsMenu(m); });
  std::vector<bool> used(kItemStoreSize, false);
  for (HMENU menu : prepared_menus_) {
    const int count = GetMenuItemCount(menu);
    for (int item = 0; item < count; ++item) {
      MENUITEMINFOW mii = ItemInfo(MIIM_DATA);
      if (!GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii) || !IsOwn(mii.dwItemData)) continue;
      const int32_t slot = ItemSlot(static_cast<uint32_t>(mii.dwItemData));
      if (slot >= 0 && slot < kItemStoreSize) used[static_cast<size_t>(slot)] = true;
    }
  }
  free_slots_.clear();
  for (int32_t slot = std::min(m_ItemCount, kItemStoreSize) - 1; slot >= 0; --slot) {
    if (used[static_cast<size_t>(slot)]) continue;
    slot_owners_[static_cast<size_t>(slot)].used = false;
    free_slots_.push_back(slot);
  }
}

// The menu key registered under the old caption moves to the new caption. A caption that
// never had a picture, or a new caption that already names another control, is left as it is:
// the walk takes the new caption and goes on.
void CGlyphary::Rekey(const std::wstring& old_caption, const std::wstring& new_caption) {
  if (!m_CaptionKeys.Contains(old_caption)) return;
  const bool same_key = common::KeyedCollection::Fold(old_caption) == common::KeyedCollection::Fold(new_caption);
  if (!same_key && m_CaptionKeys.Contains(new_caption)) return;
  unique_variant key;
  m_CaptionKeys.Item(old_caption, key.get());
  m_CaptionKeys.Remove(old_caption);
  m_CaptionKeys.Add(*key.get(), new_caption);
}

int32_t CGlyphary::FindImageIndex(const std::wstring& text) noexcept {
  try {
    if (m_CaptionKeys.Count() == 0) return -1;
    unique_variant key;
    m_CaptionKeys.Item(CaptionText(text), key.get());
    unique_variant text_key;
    if (FAILED(VariantChangeType(text_key.get(), key.get(), 0, VT_BSTR))) return -1;
    if (!V_BSTR(text_key.get()) || SysStringLen(V_BSTR(text_key.get())) == 0) return -1;
    const std::wstring k(V_BSTR(text_key.get()), SysStringLen(V_BSTR(text_key.get())));
    unique_variant index;
    m_ImageIndexes.Item(k, index.get());
    unique_variant value;
    if (FAILED(VariantChangeType(value.get(), index.get(), 0, VT_I4))) return -1;
    return V_I4(value.get());
  } catch (...) {
    return -1;
  }
}

// Every item a walk made ours becomes a plain text item again: its type without MFT_OWNERDRAW,
// its text (the record's caption where the platform kept none), item data 0. Only items whose
// item data is a slot of ours in use for that item are touched; an item another component of this
// thread prepared as well is handed back to it; one of ours whose item data the application has
// set since keeps that data. Used when another Form is set, on detach, on release and while a
// screen reader runs; every slot is free after it.
void CGlyphary::ReleasePreparedItems() {
  for (HMENU menu : prepared_menus_) {
    if (!IsMenu(menu)) continue;
    const int count = GetMenuItemCount(menu);
    for (int item = 0; item < count; ++item) {
      MENUITEMINFOW mii = ItemInfo(MIIM_ID | MIIM_FTYPE | MIIM_DATA);
      if (!GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii)) continue;
      if (!IsOwn(mii.dwItemData)) {
        if (!(mii.fType & MFT_OWNERDRAW)) continue;
        const int32_t slot = SlotRecordedFor(menu, mii.wID);
        if (slot >= 0 && !SlotHeldIn(menu, slot)) GiveBack(menu, item, slot, true);
        continue;
      }
      const int32_t slot = OwnSlot(mii.dwItemData, mii.wID);
      if (slot < 0) continue;  // another component's item
      ULONG_PTR theirs = 0;
      if (HandOver(menu, mii.wID, &theirs)) {
        MENUITEMINFOW write = ItemInfo(MIIM_DATA);
        write.dwItemData = theirs;
        SetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &write);
        continue;
      }
      GiveBack(menu, item, slot, false);
    }
  }
  prepared_menus_.clear();
  free_slots_.clear();
  for (SlotOwner& owner : slot_owners_) owner = SlotOwner{};
  m_ItemCount = 0;
}

namespace {
std::mutex g_components_lock;
std::vector<CGlyphary*> g_components;
}  // namespace

void CGlyphary::Enlist(CGlyphary* component, bool live) {
  const std::lock_guard<std::mutex> lock(g_components_lock);
  std::erase(g_components, component);
  if (live) g_components.push_back(component);
}

bool CGlyphary::HandOver(HMENU menu, UINT id, ULONG_PTR* data) const {
  const std::lock_guard<std::mutex> lock(g_components_lock);
  for (const CGlyphary* other : g_components) {
    if (other == this || other->m_Thread != m_Thread || other->m_PlatformDrawn) continue;
    const int32_t slot = other->SlotRecordedFor(menu, id);
    if (slot < 0) continue;
    *data = static_cast<ULONG_PTR>(static_cast<uint32_t>(MakeItemData(static_cast<int16_t>(slot))));
    return true;
  }
  return false;
}

}  // namespace glyphary
