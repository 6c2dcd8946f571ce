// Capture without a window: Snoopet.exe /capture <window> /out <file> [/seconds N] [/filter list]
// [/only list] [/csv]. One line per message as the log writes it (or every detail as CSV).
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace spy {

// Exit codes of a capture from the command line.
enum CaptureExit : int {
  kCaptureDone = 0,        // the window was watched for the time asked
  kCaptureBadArguments = 2,
  kCaptureNoWindow = 3,    // no such window
  kCaptureNotWatchable = 4,  // the window exists but cannot be watched (the desktop, another bitness ...)
  kCaptureCannotWrite = 5,   // the output file cannot be written
  kCaptureNoHookwire = 6,    // Hookwire is not registered or failed
};

struct CaptureArgs {
  std::wstring window;        // "0x1A2B" / "1A2B" (a handle) or a class name ("" or "*": any class)
  std::wstring caption;       // /caption: the window's caption (a top-level window is searched)
  bool has_caption = false;
  std::wstring out;
  double seconds = 10;
  std::wstring filter;        // groups and messages to leave out
  std::wstring only;          // groups and messages to log alone
  bool csv = false;
};

// The arguments after "/capture" (the first one is the window). Returns the error text, or
// nothing when the arguments are good.
std::optional<std::wstring> ParseCaptureArgs(const std::vector<std::wstring>& args, CaptureArgs* out);

// Runs the whole capture; the return value is the exit code. Errors go to standard error.
int RunCommandLineCapture(const std::vector<std::wstring>& args);

}  // namespace spy
