// One prepared menu item: what measuring and painting need, kept in the item store.
#pragma once
#include <cstdint>
#include <string>

namespace glyphary {

// An item is ours when the high word of its item data is this marker; the low word is its slot.
constexpr uint16_t kItemDataMarker = 0x8C2D;
constexpr int kItemStoreSize = 512;
// The picture sizes an image list may report, in pixels.
constexpr int32_t kMinPictureSide = 1;
constexpr int32_t kMaxPictureSide = 256;
// "No index" wherever a menu index is stored.
constexpr int32_t kNoMenuIndex = -842150451;  // 0xCDCDCDCD

struct ItemRecord {
  int32_t CommandId = 0;
  std::wstring Caption;      // full menu text: mnemonic "&", TAB and shortcut included
  int32_t ImageIndex = 0;    // -1: no picture
  int32_t ItemType = 0;      // MFT_* flags as written, MFT_OWNERDRAW included
  int16_t IsTopLevel = 0;    // 0 or -1
  int16_t HasShortcut = 0;   // 0 or -1
  std::wstring Shortcut;     // text after the first TAB when HasShortcut
};

inline int32_t MakeItemData(int16_t slot) {
  return static_cast<int32_t>((static_cast<uint32_t>(kItemDataMarker) << 16) | static_cast<uint16_t>(slot));
}
inline bool IsOwnItemData(uint32_t data) { return (data >> 16) == kItemDataMarker; }
inline int16_t ItemSlot(uint32_t data) { return static_cast<int16_t>(data & 0xFFFF); }

}  // namespace glyphary
