// A picture of the whole screen, saved as a 24-bit .bmp file.
#pragma once
#include <string>

namespace common {

bool SaveScreen(const std::wstring& path);

}  // namespace common
