// What a window object knows of the message it is handing to its sink: the record the target
// wrote (or one made here for a window of the client's own thread), checked and bounded.
#pragma once
#include <windows.h>

#include "capture_ring.h"

namespace hookwire {

struct MessageDetails {
  ring::Record record{};
  ring::Data data{};
  LONGLONG start_time = 0;  // FILETIME (UTC) when the capture started
  bool result_known = false;
  LONG lost_before = 0;
  bool target64 = sizeof(void*) == 8;
  const wchar_t* window_class = nullptr;  // the window's class as it joined a family, when known
};

using ring::FileTimeNow;

}  // namespace hookwire
