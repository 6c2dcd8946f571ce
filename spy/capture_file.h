// A capture file: every logged message streamed to disk while the capture runs, as the log's
// lines or as CSV, unbounded by the log's 501 lines. The sink only queues each record; the
// owner's timers put the queued records into words (Drain) and write whole lines out: when
// 64 KiB have built up, when the oldest waiting line is a second old (FlushIfDue), and at every
// way out (Close, and FlushAll before a fatal error ends the program). A write that fails
// leaves the file ending at a line boundary.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log_record.h"

namespace spy {

class CaptureFile {
 public:
  // How the bytes reach the file; WriteFile unless a test puts another in.
  using Writer = BOOL (*)(HANDLE file, const void* data, DWORD size, DWORD* written);
  static constexpr DWORD kMaxWaitMs = 1000;  // no line waits longer than this for a write
  static constexpr size_t kMaxQueued = 4096;  // records waiting to be put into words

  CaptureFile();
  ~CaptureFile();
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Creates (or empties) the file; false with GetLastError set when it cannot be written.
  bool Open(const std::wstring& path, bool csv);
  // How records are put into words: the decoder for CSV, the names for the log's lines (without
  // names a record's own line is written). Both must outlive the file.
  void set_formatting(const MessageDecoder* decoder, const MessageNames* names) {
    decoder_ = decoder;
    names_ = names;
  }
  // Takes a record to be written after the ones before it; no text is made now. Past
  // kMaxQueued waiting records they are put into words at once. False once a write failed (the
  // file is then closed, nothing more is taken).
  bool Queue(const LogRecord& r);
  // Puts the queued records into words; their bytes go out with the next write. False when a
  // write failed.
  bool Drain();
  // Adds one line (a message, a loss or a window header) after everything queued, in words at
  // once; false once a write failed.
  bool Append(const LogRecord& r, const MessageDecoder& decoder);
  // Writes out what is queued and gathered; false when that failed.
  bool Flush();
  // Flushes when the oldest waiting line has waited kMaxWaitMs or more.
  bool FlushIfDue();
  // Flushes and closes; false when the last write failed.
  bool Close();
  // Writes out what every open capture file holds (a fatal error is about to end the program).
  static void FlushAll() noexcept;

  bool open() const { return file_ != INVALID_HANDLE_VALUE; }
  bool csv() const { return csv_; }
  bool pending() const { return !pending_.empty() || !queue_.empty(); }
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
  const MessageDecoder* decoder_ = nullptr;
  const MessageNames* names_ = nullptr;
  std::vector<LogRecord> queue_;    // taken, not yet in words (room made once, at Open)
  std::vector<LogRecord> draining_;  // the records being put into words (the sink may queue meanwhile)
  bool draining_now_ = false;
  std::string pending_;      // UTF-8 not yet written, whole lines only
  ULONGLONG pending_since_ = 0;
  LONGLONG committed_ = 0;   // bytes in the file, every one of them part of a whole line
};

}  // namespace spy
