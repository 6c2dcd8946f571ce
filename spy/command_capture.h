// Capture without a window: Snoopet.exe /capture <window> /out <file> [/seconds N] [/filter list]
// [/only list] [/csv] [/decimal] [/scope window|children|thread|process] [/new]. One line per message as the log writes it (or every detail as
// CSV); and the window inspector's text of one window: Snoopet.exe /inspect <window>.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace spy {

// Exit codes of Snoopet.exe (the window's run ends with 0, or 1 after a fatal error).
enum CaptureExit : int {
  kCaptureDone = 0,        // the window was watched for the time asked
  kCaptureBadArguments = 2,  // unknown switch, missing or bad value (usage on standard error)
  kCaptureNoWindow = 3,    // no such window
  kCaptureNotWatchable = 4,  // the window exists but cannot be watched (the desktop, another bitness ...)
  kCaptureCannotWrite = 5,   // the output file cannot be written
  kCaptureNoHookwire = 6,    // Hookwire is not registered or failed
  kCaptureLostMessages = 7,  // the capture ran, but messages were lost (the file marks where)
  kOleFailed = 8,            // OLE could not be initialised
};

struct CaptureArgs {
  std::wstring window;        // "0x1A2B" / "1A2B" (a handle) or a class name ("" or "*": any class)
  std::wstring caption;       // /caption: the window's caption (a top-level window is searched)
  bool has_caption = false;
  std::wstring out;
  double seconds = 10;
  bool until_closed = false;  // /untilclosed: no time limit, the capture ends with the window
  std::wstring filter;        // groups and messages to leave out
  std::wstring only;          // groups and messages to log alone
  bool csv = false;
  bool decimal = false;       // /decimal: the lines' wParam and lParam in decimal
  int scope = 0;              // /scope: 0 window, 1 children, 2 thread, 3 process (HookwireScope)
  bool take_new = false;      // /new: windows of the family made during the capture are taken in
};

// The usage text (several lines, no "Snoopet:" prefix).
std::wstring UsageText();
// A line "Snoopet: <text>" on standard error (the parent's console when there is no handle).
void WriteError(const std::wstring& text);
// Text on standard output as it is.
void WriteOutput(const std::wstring& text);
// Whether an argument is a switch (starts with / or -) of this name, given without its sign.
bool IsSwitch(const std::wstring& arg, const wchar_t* name);

// The arguments after "/capture" (the first one is the window). Returns the error text, or
// nothing when the arguments are good.
std::optional<std::wstring> ParseCaptureArgs(const std::vector<std::wstring>& args, CaptureArgs* out);

// Runs the whole capture; the return value is the exit code. Errors go to standard error.
int RunCommandLineCapture(const std::vector<std::wstring>& args);

// Snoopet.exe /inspect <handle | class> [/caption <text>]: what the window inspector shows, on
// standard output. 0 done, 2 bad arguments, 3 no such window.
int RunCommandLineInspect(const std::vector<std::wstring>& args);

}  // namespace spy
