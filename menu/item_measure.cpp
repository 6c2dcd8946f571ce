// WM_MEASUREITEM for the component's own items.
#include "item_measure.h"

#include <cmath>
#include <string>

#include "checked_math.h"
#include "dpi_scale.h"
#include "glyphary.h"
#include "runtime_error.h"
#include "unique_handles.h"
#include "words.h"

namespace glyphary {

namespace {
constexpr UINT kMeasureFormat = DT_CALCRECT | DT_SINGLELINE | DT_VCENTER;  // 0x424

RECT MeasureText(HDC dc, const std::wstring& text) {
  RECT r{0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, kMeasureFormat);
  return r;
}
}  // namespace

int32_t RoundHalfEven(double value) {
  const double r = common::NearestEven(value);
  if (!(r >= -2147483648.0 && r <= 2147483647.0)) common::Raise(common::errOverflow, kSource);
  return static_cast<int32_t>(r);
}

ItemSize SeparatorSize(int32_t cy_menu, uint32_t dpi) { return {ScalePixels(10, dpi), RoundHalfEven(cy_menu / 2.0)}; }

// The products below are rounded to nearest whatever mode the thread is in.
int32_t PopupItemWidth(int32_t cell_width, int32_t text_left, int32_t text_right, uint32_t dpi) {
  const common::ScopedRoundToNearest nearest;
  const int32_t gap = ScalePixels(2, dpi);
  double w = cell_width * 1.3;
  w = w + gap;
  w = w + gap;
  w = w + text_right;
  w = w - text_left;
  return RoundHalfEven(w);
}

int32_t BarItemWidth(int32_t text_width) {
  const common::ScopedRoundToNearest nearest;
  return RoundHalfEven(text_width * 0.9);
}

int32_t ItemHeight(int32_t cy_menu, int32_t text_height, int32_t cell_height) {
  const int32_t h = cy_menu > text_height ? cy_menu : text_height;
  return cell_height > h ? cell_height : h;
}

LONG CGlyphary::MeasureMenuItem(LONG_PTR lParam) {
  if (lParam == 0) return 0;
  auto* target = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
  MEASUREITEMSTRUCT mis = *target;
  // Only items whose slot holds this component's record of them; anything else is passed on.
  const int32_t slot = mis.CtlType == ODT_MENU ? SlotInUse(mis.itemData) : -1;
  if (slot < 0) return 0;
  ItemRecord& stored = Item(slot);
  if (stored.CommandId == 0) stored.CommandId = static_cast<int32_t>(mis.itemID);
  const ItemRecord record = stored;
  const int32_t cy_menu = MenuBarHeight(m_Dpi);

  if (record.ItemType & MFT_SEPARATOR) {
    const ItemSize s = SeparatorSize(cy_menu, m_Dpi);
    mis.itemWidth = static_cast<UINT>(s.width);
    mis.itemHeight = static_cast<UINT>(s.height);
  } else {
    RECT r1;
    {
      common::unique_hdc_window dc(nullptr);
      common::unique_select_object font(dc.get(), m_MenuFont);
      // The default item is drawn bold and measured so.
      common::unique_hfont bold;
      const HMENU menu = slot_owners_[static_cast<size_t>(slot)].menu;
      const UINT default_id = menu ? GetMenuDefaultItem(menu, FALSE, GMDI_USEDISABLED) : static_cast<UINT>(-1);
      LOGFONTW lf{};
      if (default_id != static_cast<UINT>(-1) && default_id == mis.itemID && m_MenuFont &&
          GetObjectW(m_MenuFont, sizeof lf, &lf)) {
        lf.lfWeight = FW_BOLD;
        bold.reset(CreateFontIndirectW(&lf));
      }
      common::unique_select_object bold_font(dc.get(), bold ? bold.get() : m_MenuFont);
      // A popup item keeps room for one more letter.
      r1 = MeasureText(dc.get(), record.IsTopLevel ? record.Caption : record.Caption + L"m");
      if (!record.IsTopLevel && record.HasShortcut) {
        const RECT r2 = MeasureText(dc.get(), record.Shortcut);
        r1.right = common::CheckedAdd(r1.right, r2.right, kSource);
      }
    }
    const int32_t text_width = common::CheckedSub(r1.right, r1.left, kSource);
    const int32_t text_height = common::CheckedSub(r1.bottom, r1.top, kSource);
    const int32_t width =
        record.IsTopLevel ? BarItemWidth(text_width) : PopupItemWidth(m_CellWidth, r1.left, r1.right, m_Dpi);
    mis.itemWidth = static_cast<UINT>(width);
    mis.itemHeight = static_cast<UINT>(ItemHeight(cy_menu, text_height, m_CellHeight));
  }
  *target = mis;
  return 1;
}

}  // namespace glyphary
