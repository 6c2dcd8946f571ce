#include "screen_capture.h"

#include <windows.h>

#include <vector>

#include "unique_handles.h"

namespace common {

bool SaveScreen(const std::wstring& path) {
  const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
  if (cx <= 0 || cy <= 0) return false;
  common::unique_hdc_window screen(nullptr);
  common::unique_hdc memory(CreateCompatibleDC(screen.get()));
  common::unique_hbitmap picture(CreateCompatibleBitmap(screen.get(), cx, cy));
  {
    common::unique_select_object selected(memory.get(), picture.get());
    BitBlt(memory.get(), 0, 0, cx, cy, screen.get(), 0, 0, SRCCOPY);
  }
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = cx;
  info.biHeight = cy;  // bottom-up, as .bmp files store it
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const size_t stride = (static_cast<size_t>(cx) * 3 + 3) & ~size_t{3};
  std::vector<BYTE> bits(stride * static_cast<size_t>(cy));
  if (!GetDIBits(memory.get(), picture.get(), 0, static_cast<UINT>(cy), bits.data(),
                 reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS))
    return false;

  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + bits.size());
  common::unique_handle_close out(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (out.get() == INVALID_HANDLE_VALUE) {
    out.release();
    return false;
  }
  DWORD written = 0;
  bool ok = WriteFile(out.get(), &file, sizeof file, &written, nullptr) &&
            WriteFile(out.get(), &info, sizeof info, &written, nullptr) &&
            WriteFile(out.get(), bits.data(), static_cast<DWORD>(bits.size()), &written, nullptr);
  return ok;
}

}  // namespace common
