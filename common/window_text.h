// A window's text, read the way a careful client must: directly for a window of this thread;
// for another thread's or program's window through bounded messages, never waiting long on it
// and not at all once it is hung.
#pragma once
#include <windows.h>

#include <string>

namespace common {

// Empty for no window, a window without text, or one that did not answer in time.
std::wstring WindowText(HWND h);

}  // namespace common
