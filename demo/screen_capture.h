// A picture of the whole screen, saved as a 24-bit .bmp file.
#pragma once
#include <string>

namespace demo {

bool SaveScreen(const std::wstring& path);

}  // namespace demo
