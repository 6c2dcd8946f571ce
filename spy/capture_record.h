// One logged message's record, from what the window object tells about the delivery now going
// on (IhkMessageDetails) or, where it tells nothing, from what Snoopet knows itself.
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "hookwire_h.h"
#include "log_record.h"
#include "message_decode.h"
#include "message_filter.h"

namespace spy {

// The classes of a family's windows, one string per window for all its records.
struct FamilyClasses {
  std::map<uint32_t, std::shared_ptr<const std::wstring>> by_window;
};

struct RecordSource {
  IhkMessageDetails* details;  // null: the window object has none
  HWND target;
  std::shared_ptr<const std::wstring> class_name;
  bool own_thread;             // the target belongs to the calling thread
  LARGE_INTEGER start;         // QueryPerformanceCounter when the capture started
  LARGE_INTEGER frequency;     // QueryPerformanceFrequency
  bool target32 = false;       // the window's program is a 32-bit one
  std::shared_ptr<FamilyClasses> family;  // set when the window is watched with its family
};

// For a family: the window the message being delivered went to, and its class, into the record.
void TakeFamilyWindow(const RecordSource& source, LogRecord& r);

// Whether a window belongs to a 32-bit program (its parameters are 32 bits wide).
bool WindowOf32BitProgram(HWND window);

// Called while the sink's Message runs: takes what is known now, and copies nothing it need not.
LogRecord CaptureRecord(const RecordSource& source, uint64_t index, LONG msg, LONG_PTR wParam, LONG_PTR lParam);

// Tells the window object which messages to watch: AllMessages without a filter, otherwise
// each message that passes on its own (before the capture starts, so that one table is published).
HRESULT WatchThrough(_HookwireWindow* window, const MessageFilter& filter);

}  // namespace spy
