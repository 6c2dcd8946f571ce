// The menu font: built once from the user's non-client metrics and kept until the next
// settings or colour change, or until the component ends.
#include <cstddef>

#include "glyphary.h"

namespace glyphary {

namespace {
// The ANSI structure with its five fonts and without the padded border field.
constexpr UINT kMetricsSize = 340;
static_assert(offsetof(NONCLIENTMETRICSA, lfMenuFont) == 160);
static_assert(offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth) == kMetricsSize);
}  // namespace

HFONT CGlyphary::GetMenuFont() {
  if (m_MenuFont) return m_MenuFont;
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = kMetricsSize;
  SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, kMetricsSize, &metrics, 0);
  m_MenuFont = CreateFontIndirectA(&metrics.lfMenuFont);
  return m_MenuFont;
}

void CGlyphary::RebuildMenuFont() {
  DeleteObject(m_MenuFont);
  m_MenuFont = nullptr;
  GetMenuFont();
}

}  // namespace glyphary
