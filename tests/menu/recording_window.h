// While a RecordedWindows lives, CoCreateInstance of the subclassing object gives a real
// HookwireWindow behind a layer that writes down every call the component makes on it and,
// through the sink it sets, every message it answers: "WatchMessage 2C True",
// "Subclassed True", "MessageSink set", "Message 2B -> 1", "CallPrevWndProc 116", ...
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace menu_test {

class RecordedWindows {
 public:
  RecordedWindows();
  ~RecordedWindows();
  RecordedWindows(const RecordedWindows&) = delete;
  RecordedWindows& operator=(const RecordedWindows&) = delete;

  std::vector<std::wstring> log;
  // Entries from index `from` that start with prefix.
  std::vector<std::wstring> Matching(const std::wstring& prefix, size_t from = 0) const;

 private:
  DWORD cookie_ = 0;
  void* factory_ = nullptr;
};

}  // namespace menu_test
