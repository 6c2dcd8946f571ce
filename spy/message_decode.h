// What a logged message means: its resolved name (the window class's own messages, registered
// messages, WM_USER+n / WM_APP+n) and its parameters in words. Pure: the caller hands in the
// target's class name, the WinMsg names and, when there is any, the data copied with the message.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace spy {

// What the parameters pointed to, in the layout of HookwireDataKind (kind 0: nothing copied).
struct CopiedData {
  long kind = 0;
  std::vector<int64_t> values;
  std::wstring text;
  std::vector<uint8_t> bytes;
};

// HookwireDataKind values, as the type library numbers them.
enum DataKind : long {
  kDataNone = 0, kDataText = 1, kDataCreate = 2, kDataWindowPos = 3, kDataRect = 4, kDataNcCalcSize = 5,
  kDataMinMaxInfo = 6, kDataMeasureItem = 7, kDataDrawItem = 8, kDataCopyData = 9, kDataStyle = 10,
  kDataNotify = 11,
};

struct MessageFacts {
  uint32_t msg = 0;
  int64_t wParam = 0;
  int64_t lParam = 0;
  std::wstring class_name;          // the target's class (RealGetWindowClass)
  const CopiedData* data = nullptr;  // null or kind 0: nothing copied
};

// "0x000F": the number, four (or more) upper-case hex digits.
std::wstring MessageHex(uint32_t msg);

class MessageDecoder {
 public:
  // names(msg) gives the WinMsg name of a message below WM_USER (empty when there is none).
  using BaseNames = std::function<std::wstring(uint32_t)>;
  // How a window handle reads in a decoded line: "0x1234 Edit \"caption\"" by default.
  using WindowText = std::function<std::wstring(int64_t)>;

  explicit MessageDecoder(BaseNames names, WindowText window_text = DescribeWindow);

  // The resolved name: the class's own message, the WinMsg name, the registered name,
  // WM_USER+n, WM_APP+n, or the hex number when nothing else fits.
  std::wstring Name(uint32_t msg, const std::wstring& class_name) const;
  // The parameters in words ("x=10 y=20, MK_LBUTTON"); empty when there is nothing to say.
  std::wstring Decode(const MessageFacts& m) const;

  // "0x000A0B0C Button \"OK\"" of a live window; "0x..." alone for a handle that is no window.
  static std::wstring DescribeWindow(int64_t handle);

 private:
  std::wstring DecodeData(const MessageFacts& m) const;
  BaseNames names_;
  WindowText window_text_;
};

// Names of flag bits and codes, shared with the filter and the details pane.
std::wstring SwpFlagNames(uint32_t flags);
std::wstring MouseKeyNames(uint32_t keys);
std::wstring VirtualKeyName(uint32_t vk);
std::wstring QuotedText(const std::wstring& text, size_t limit = 200);

// Copies what lParam points to for the messages whose data HookwireDataKind describes, when
// the pointer is valid in this process (the window belongs to this thread and the message is
// being delivered). Returns kind 0 for any other message.
CopiedData CopyLocalData(uint32_t msg, WPARAM wParam, LPARAM lParam);

}  // namespace spy
