// Mnemonic keys: the platform cannot see the texts of owner-drawn items, so a pressed
// letter is matched here against the "&" letters of the records of the open menu.
#include <cstddef>
#include <string>
#include <vector>

#include "caption.h"
#include "glyphary.h"
#include "words.h"

namespace glyphary {

namespace {

constexpr int16_t kWindowMenuFlag = 0x2000;  // MF_SYSMENU
constexpr UINT kCharMask = MIIM_ID | MIIM_STATE | MIIM_FTYPE | MIIM_DATA;

wchar_t UpperCase(wchar_t c) {
  wchar_t s[2] = {c, 0};
  CharUpperBuffW(s, 1);
  return s[0];
}

}  // namespace

int32_t CGlyphary::HandleMenuChar(LONG_PTR wParam, LONG_PTR lParam) {
  const auto w = static_cast<int32_t>(wParam);
  // The code comes in the form window's own character set.
  const auto code = static_cast<uint16_t>(LoWord(w));
  wchar_t pressed = static_cast<wchar_t>(code);
  if (code > 0x7F && !IsWindowUnicode(FormWindow())) {
    const char byte = static_cast<char>(code & 0xFF);
    MultiByteToWideChar(CP_ACP, 0, &byte, 1, &pressed, 1);
  }
  const wchar_t key = UpperCase(pressed);
  if (HiWord(w) == kWindowMenuFlag) return 0;

  const HMENU menu = reinterpret_cast<HMENU>(lParam);
  std::vector<int> matches;
  int highlighted = -1;
  const int count = GetMenuItemCount(menu);
  for (int item = 0; item < count; ++item) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof mii;
    mii.fMask = kCharMask;
    const int32_t slot =
        GetMenuItemInfoW(menu, static_cast<UINT>(item), TRUE, &mii) ? SlotInUse(mii.dwItemData) : -1;
    if (slot >= 0 && (mii.fType & MFT_OWNERDRAW)) {
      const ItemRecord& record = Item(slot);
      const wchar_t letter = MnemonicLetter(record.Caption);
      if (letter && UpperCase(letter) == key) matches.push_back(item);
    }
    if (mii.fState & MFS_HILITE) highlighted = item;
  }
  if (matches.empty()) return 0;
  if (matches.size() == 1) return MakeLong(static_cast<int16_t>(matches[0]), MNC_EXECUTE);
  int chosen = matches[0];
  for (int m : matches) {
    if (m > highlighted) {
      chosen = m;
      break;
    }
  }
  return MakeLong(static_cast<int16_t>(chosen), MNC_SELECT);
}

}  // namespace glyphary
