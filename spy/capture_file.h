// A capture file: every logged message streamed to disk while the capture runs, as the log's
// lines or as CSV, unbounded by the log's 501 lines. Writes are gathered and go out in blocks.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "log_record.h"

namespace spy {

class CaptureFile {
 public:
  // Creates (or empties) the file; false with GetLastError set when it cannot be written.
  bool Open(const std::wstring& path, bool csv);
  // Adds one message; false once a write failed (the file is then closed, nothing more is taken).
  bool Append(const LogRecord& r, const MessageDecoder& decoder);
  // Writes out what is gathered; false when that failed.
  bool Flush();
  // Flushes and closes; false when the last write failed.
  bool Close();
  ~CaptureFile() { Close(); }

  bool open() const { return file_ != INVALID_HANDLE_VALUE; }
  bool csv() const { return csv_; }
  uint64_t messages() const { return messages_; }
  const std::wstring& path() const { return path_; }

 private:
  bool Put(const std::wstring& text);

  HANDLE file_ = INVALID_HANDLE_VALUE;
  bool csv_ = false;
  bool failed_ = false;
  uint64_t messages_ = 0;
  std::wstring path_;
  std::string pending_;  // UTF-8 not yet written
};

}  // namespace spy
