// A capture file: every logged message streamed to disk while the capture runs, as the log's
// lines or as CSV, unbounded by the log's 501 lines. Lines are gathered and written out whole:
// when 64 KiB have built up, when the oldest waiting line is a second old (the owner's timer
// calls Flush), and at every way out (Close, and FlushAll before a fatal error ends the
// program). A write that fails leaves the file ending at a line boundary.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "log_record.h"

namespace spy {

class CaptureFile {
 public:
  // How the bytes reach the file; WriteFile unless a test puts another in.
  using Writer = BOOL (*)(HANDLE file, const void* data, DWORD size, DWORD* written);
  static constexpr DWORD kMaxWaitMs = 1000;  // no line waits longer than this for a write

  CaptureFile();
  ~CaptureFile();
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Creates (or empties) the file; false with GetLastError set when it cannot be written.
  bool Open(const std::wstring& path, bool csv);
  // Adds one line (a message, a loss or a window header); false once a write failed (the file
  // is then closed, nothing more is taken).
  bool Append(const LogRecord& r, const MessageDecoder& decoder);
  // Writes out what is gathered; false when that failed.
  bool Flush();
  // Flushes when the oldest waiting line has waited kMaxWaitMs or more.
  bool FlushIfDue();
  // Flushes and closes; false when the last write failed.
  bool Close();
  // Writes out what every open capture file holds (a fatal error is about to end the program).
  static void FlushAll() noexcept;

  bool open() const { return file_ != INVALID_HANDLE_VALUE; }
  bool csv() const { return csv_; }
  bool pending() const { return !pending_.empty(); }
  uint64_t messages() const { return messages_; }
  const std::wstring& path() const { return path_; }
  int64_t last_window() const { return last_window_; }
  void set_writer(Writer w) { writer_ = w; }

 private:
  void Put(const std::wstring& text);
  void Fail(DWORD error);

  HANDLE file_ = INVALID_HANDLE_VALUE;
  Writer writer_;
  bool csv_ = false;
  bool failed_ = false;
  uint64_t messages_ = 0;
  int64_t last_window_ = 0;  // the window of the last message written
  std::wstring path_;
  std::string pending_;      // UTF-8 not yet written, whole lines only
  ULONGLONG pending_since_ = 0;
  LONGLONG committed_ = 0;   // bytes in the file, every one of them part of a whole line
};

}  // namespace spy
