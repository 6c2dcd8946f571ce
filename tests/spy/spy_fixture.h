// A real Snoopet main window in the test's thread, with settings of its own.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "main_window.h"
#include "test_window.h"

namespace spy_test {

// Removes every stored setting of an application name.
void DeleteSettings(const std::wstring& app);
// Writes one setting as text.
void StoreSetting(const std::wstring& app, const wchar_t* key, const std::wstring& value);
// The stored text, or "<absent>".
std::wstring StoredSetting(const std::wstring& app, const wchar_t* key);

// The lines of a list box, in order.
std::vector<std::wstring> ListLines(HWND list);
// The log's lines once it is up to date (what the display timer would show next).
std::vector<std::wstring> ShownLines(spy::MainWindow& w);
// The tooltip text of a toolbar button.
std::wstring ToolTip(HWND toolbar, UINT_PTR id);
// The text of a tree node.
std::wstring NodeText(HWND tree, HTREEITEM node);
HTREEITEM Next(HWND tree, HTREEITEM node, UINT relation);
std::wstring KeyOf(HWND h);  // "H" + hexadecimal handle

// An independent CSV reader: fields split at commas outside quotes, "" inside quotes is one quote.
std::vector<std::vector<std::wstring>> ParseCsv(const std::wstring& text);
// A UTF-8 file's text; had_bom tells whether it starts with a byte order mark.
std::wstring ReadUtf8(const std::wstring& path, bool* had_bom);
// A file name in the temporary folder.
std::wstring TempPath(const wchar_t* name);

// Dispatches this thread's messages for about `ms` milliseconds.
void PumpFor(DWORD ms);

// A window on a thread of its own that sends itself messages when asked: its program's side of a
// capture runs while the test's thread (the watcher's) is busy elsewhere.
class SelfTalkingWindow {
 public:
  SelfTalkingWindow();
  ~SelfTalkingWindow();
  HWND hwnd() const { return hwnd_; }
  // Sends `count` messages `msg` (wParam 0, 1, ...) to the window from its own thread; returns
  // when the last one has been handled.
  void Send(UINT msg, int count);
  // Destroys the window (its thread goes on until the object goes).
  void Destroy();

 private:
  HWND hwnd_ = nullptr;
  DWORD thread_id_ = 0;
  HANDLE done_ = nullptr;
  std::thread thread_;
};

class SpyTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the main window (settings under app_), optionally shown.
  spy::MainWindow& Open(bool show = true);
  void CloseAndForget();  // "Exit": placement stored, window gone

  // Real mouse messages to the form, in twips of its client area.
  void Mouse(UINT msg, float x_twips, float y_twips, WPARAM keys = 0);
  // A real click on toolbar button `index` (0 Exit, 1 Spy).
  void ClickToolbar(int index);
  void SelectNode(HTREEITEM node);
  bool SpyPressed();
  // Sets the form's client area size in pixels.
  void SetClientSize(int width, int height);

  std::wstring app_;
  std::unique_ptr<spy::MainWindow> w_;
  std::vector<std::wstring> boxes_;  // texts of the message boxes shown
  std::vector<long> fatal_;          // numbers of the unhandled errors
};

}  // namespace spy_test
