// Menu preparation: every suitable item of a walked menu becomes an owner-drawn item whose
// item data carry its slot in the item store and the marker.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "ansi_text.h"
#include "caption.h"
#include "checked_math.h"
#include "glyphary.h"
#include "runtime_error.h"
#include "words.h"

using common::unique_variant;

namespace glyphary {

namespace {

constexpr UINT kReadMask = MIIM_ID | MIIM_SUBMENU | MIIM_TYPE | MIIM_DATA;  // 0x36
// The structure without its trailing bitmap field (44 bytes in a 32-bit process).
constexpr UINT kItemInfoSize = offsetof(MENUITEMINFOA, hbmpItem);

bool IsSystemCommand(UINT id) {
  const auto v = static_cast<int32_t>(id);
  return v >= 0xF000 && v <= 0xFFFF;
}

// Item data are 32-bit values; wider ones are never ours.
bool IsOwn(ULONG_PTR data) { return data <= 0xFFFFFFFFu && IsOwnItemData(static_cast<uint32_t>(data)); }

MENUITEMINFOA ItemInfo(UINT mask) {
  MENUITEMINFOA mii{};
  mii.cbSize = kItemInfoSize;
  mii.fMask = mask;
  return mii;
}

// The whole text of a text item whose length a first read reported.
std::string ReadItemText(HMENU menu, int item, UINT length) {
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  MENUITEMINFOA full = ItemInfo(MIIM_TYPE);
  full.dwTypeData = buffer.data();
  full.cch = length + 1;
  if (!GetMenuItemInfoA(menu, static_cast<UINT>(item), TRUE, &full)) return {};
  return std::string(buffer.data(), std::min<UINT>(full.cch, length));
}

}  // namespace

LONG CGlyphary::PrepareMenu(HMENU menu, int32_t position, bool descend) {
  if (m_ItemCount >= kItemStoreSize) return 1;
  const int16_t pos = LoWord(position);
  const int16_t sys = HiWord(position);
  if (sys == 1 || (pos == 0 && menu != m_FirstPopup)) return 1;

  const int count = GetMenuItemCount(menu);
  if (count > 0 && std::find(prepared_menus_.begin(), prepared_menus_.end(), menu) == prepared_menus_.end()) {
    // Menus destroyed since they were walked (a context menu per click) have nothing to give
    // back: the list keeps live menus only, so it does not grow with every popup ever shown.
    std::erase_if(prepared_menus_, [](HMENU m) { return !IsMenu(m); });
    prepared_menus_.push_back(menu);
  }
  const HMENU bar = WindowMenu();
  for (int item = 0; item < count; ++item) {
    MENUITEMINFOA mii = ItemInfo(kReadMask);
    // An item that cannot be read is left as it is: writing it back would empty it.
    if (!GetMenuItemInfoA(menu, static_cast<UINT>(item), TRUE, &mii)) continue;
    // The text is read while the item is still a text item; the whole text, however long.
    std::string text;
    if (mii.cch > 0 && !(mii.fType & MFT_OWNERDRAW)) text = ReadItemText(menu, item, mii.cch);
    if (mii.fType == MFT_BITMAP || IsSystemCommand(mii.wID)) continue;
    const bool own = IsOwn(mii.dwItemData);
    int32_t slot = own ? ItemSlot(static_cast<uint32_t>(mii.dwItemData)) : -1;
    if (mii.dwItemData != 0 && !own) continue;  // somebody else's item data

    ItemRecord record;
    const std::wstring read = FromAnsi(text.data(), static_cast<int>(text.size()));
    if (own && (mii.fType & MFT_OWNERDRAW)) {
      const ItemRecord& stored = Item(slot);
      record.Caption = stored.Caption;
      record.CommandId = stored.CommandId;
    } else if (own) {
      // Set back to a text item since the last walk, by a caption change for instance.
      const ItemRecord& stored = Item(slot);
      Rekey(CaptionText(stored.Caption), CaptionText(read));
      record.Caption = read;
      record.CommandId = stored.CommandId;
    } else {
      record.Caption = read;
      record.CommandId = 0;
    }
    record.IsTopLevel = menu == bar ? -1 : 0;
    record.HasShortcut = record.Caption.find(L'\t') != std::wstring::npos ? -1 : 0;
    if (record.HasShortcut) record.Shortcut = CaptionShortcut(record.Caption);
    const UINT type = mii.fType | MFT_OWNERDRAW;
    record.ItemType = static_cast<int32_t>(type);
    record.ImageIndex = -1;
    if (!record.IsTopLevel) record.ImageIndex = FindImageIndex(record.Caption);
    if (slot == -1) {
      slot = m_ItemCount;
      m_ItemCount = common::CheckedAdd(m_ItemCount, 1, kSource);
    }
    Item(slot) = std::move(record);  // a slot past the store ends the walk with error 9

    MENUITEMINFOA write = ItemInfo(kReadMask);
    write.fType = type;
    write.wID = mii.wID;
    write.hSubMenu = mii.hSubMenu;
    write.dwItemData = static_cast<ULONG_PTR>(static_cast<uint32_t>(MakeItemData(static_cast<int16_t>(slot))));
    write.dwTypeData = text.data();
    write.cch = static_cast<UINT>(text.size());
    SetMenuItemInfoA(menu, static_cast<UINT>(item), TRUE, &write);
  }

  if (descend) {
    for (int item = 0; item < count; ++item) {
      MENUITEMINFOA mii = ItemInfo(MIIM_ID | MIIM_SUBMENU);
      if (!GetMenuItemInfoA(menu, static_cast<UINT>(item), TRUE, &mii)) continue;
      if (IsSystemCommand(mii.wID)) break;
      if (mii.hSubMenu) PrepareMenu(mii.hSubMenu, position, true);
    }
  }
  return 0;
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

// Every item an earlier walk made ours becomes a plain text item again, with the text its
// record holds and no item data; its slot can then be handed out anew.
void CGlyphary::ReleasePreparedItems() {
  for (HMENU menu : prepared_menus_) {
    if (!IsMenu(menu)) continue;
    const int count = GetMenuItemCount(menu);
    for (int item = 0; item < count; ++item) {
      MENUITEMINFOA mii = ItemInfo(kReadMask);
      if (!GetMenuItemInfoA(menu, static_cast<UINT>(item), TRUE, &mii) || !IsOwn(mii.dwItemData)) continue;
      const int32_t slot = ItemSlot(static_cast<uint32_t>(mii.dwItemData));
      if (slot < 0 || slot >= kItemStoreSize) continue;
      MENUITEMINFOA write = ItemInfo(MIIM_DATA);
      std::string text;
      if (!(mii.fType & MFT_OWNERDRAW)) {
        // Its text was changed since the walk: the picture follows the new caption.
        const std::string now = mii.cch ? ReadItemText(menu, item, mii.cch) : std::string();
        Rekey(CaptionText(m_Items[static_cast<size_t>(slot)].Caption),
              CaptionText(FromAnsi(now.data(), static_cast<int>(now.size()))));
      } else {
        text = ToAnsi(m_Items[static_cast<size_t>(slot)].Caption);
        write.fMask = kReadMask;
        write.fType = mii.fType & ~static_cast<UINT>(MFT_OWNERDRAW);
        write.wID = mii.wID;
        write.hSubMenu = mii.hSubMenu;
        write.dwTypeData = text.data();
        write.cch = static_cast<UINT>(text.size());
      }
      write.dwItemData = 0;
      SetMenuItemInfoA(menu, static_cast<UINT>(item), TRUE, &write);
    }
  }
  prepared_menus_.clear();
}

}  // namespace glyphary
