// The menu font: built once from the user's non-client metrics and kept until the next
// settings or colour change, or until the component ends.
#include <cstddef>

#include "dpi_scale.h"
#include "glyphary.h"

namespace glyphary {

namespace {
// The ANSI structure with its five fonts and without the padded border field.
constexpr UINT kMetricsSize = 340;
static_assert(offsetof(NONCLIENTMETRICSA, lfMenuFont) == 160);
static_assert(offsetof(NONCLIENTMETRICSA, iPaddedBorderWidth) == kMetricsSize);

using SystemParametersInfoForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);

// The menu font the platform gives for dpi where it can give one for any DPI; else the system's
// scaled from the system DPI.
HFONT MenuFontForDpi(uint32_t dpi) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  const auto for_dpi = user32 ? reinterpret_cast<SystemParametersInfoForDpiFn>(reinterpret_cast<void*>(
                                    GetProcAddress(user32, "SystemParametersInfoForDpi")))
                              : nullptr;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (for_dpi && for_dpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
    return CreateFontIndirectW(&metrics.lfMenuFont);
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  metrics.lfMenuFont.lfHeight =
      MulDiv(metrics.lfMenuFont.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
  return CreateFontIndirectW(&metrics.lfMenuFont);
}
}  // namespace

HFONT CGlyphary::GetMenuFont() {
  if (m_MenuFont) return m_MenuFont;
  if (m_Dpi != SystemDpi()) {
    m_MenuFont = MenuFontForDpi(m_Dpi);
    return m_MenuFont;
  }
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
