// One logged message with everything known about it, the bounded store of them that the log list
// shows, and the log's text and CSV forms.
//
// A record keeps the facts as they were captured; its words (name, clock, origin, the decoded
// parameters) are made only when someone reads them: the pane, a save, a CSV line. The sink runs
// for every message, and most lines are never looked at.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "message_decode.h"
#include "message_names.h"

namespace spy {

// What a line of the log stands for: a message, or messages the capture could not keep.
enum class RecordKind : uint8_t {
  Message,
  Loss,    // lost_before holds how many; no message facts
  Window,  // a capture file's header where the watched window changes; line names the window
};

struct LogRecord {
  RecordKind kind = RecordKind::Message;
  uint64_t index = 0;      // 1 for the first message of the capture (paused ones are counted too)
  double ms = 0;           // milliseconds since the capture started
  int32_t day_ms = -1;     // local clock time, milliseconds since midnight; -1 when unknown
  int64_t window = 0;      // the watched window
  uint32_t msg = 0;
  int64_t wParam = 0, lParam = 0;  // full width when the window object gives them
  int64_t line_wParam = 0, line_lParam = 0;  // as the sink was handed them: the log's line shows these
  long origin_flags = -1;  // HookwireOrigin flags; -1 when unknown
  bool result_known = false;
  int64_t result = 0;
  long lost_before = 0;    // messages the capture lost just before this one
  bool target32 = false;   // the window's program is a 32-bit one: parameters are 32 bits wide
  std::shared_ptr<const CopiedData> data;          // what the parameters pointed to; null: nothing
  std::shared_ptr<const std::wstring> class_name;  // the watched window's class (one per capture, or per window)
  bool family = false;     // watched with its family: the line names the window first
  bool decimal = false;    // the line shows wParam and lParam in decimal (as chosen when it came)
  std::wstring line;       // a loss's or a window header's line; a message's is made when shown
};

// The log's line of a record: a message's from its number and parameters (in hexadecimal, or
// decimal when the record says so), the others' as they were made. Without names, the record's
// own line. A message of a family's window starts with the window: "0x000A0B0C Button  WM_...".
std::wstring LineText(const LogRecord& r, const MessageNames* names);

// What a family's message line starts with: the window's handle and class, then two spaces.
std::wstring FamilyPrefix(const LogRecord& r);

// The line that stands where messages were lost: "--- 123 messages not captured".
std::wstring LossLine(long count);
// A loss record of `count` messages for the log, a capture file or a CSV.
LogRecord LossRecord(long count, int64_t window, double ms, int32_t day_ms);

// The header a capture file writes where the watched window changes:
// "=== 0x000A0B0C Notepad \"Untitled\" ===".
LogRecord WindowHeader(int64_t window);

// A record in words.
struct RecordText {
  std::wstring name;     // the resolved name
  std::wstring clock;    // "15:04:05.123"; empty when unknown
  std::wstring origin;   // how the window received it; empty when unknown
  std::wstring result;   // the return value; empty when unknown
  std::wstring details;  // the parameters in words
};
RecordText Describe(const LogRecord& r, const MessageDecoder& decoder);

// How a window received a message, from HookwireOrigin flags.
std::wstring OriginText(long flags);
// "15:04:05.123" of a time of day in milliseconds.
std::wstring ClockText(int32_t day_ms);

// The records of the log's lines, oldest first, never more than `cap`: a ring whose slots are
// made once and then reused, so that adding a record allocates nothing once the log is full.
// Every record added gets a number (0 for the first); the log on screen follows the store by
// these numbers.
class LogStore {
 public:
  explicit LogStore(size_t cap) : cap_(cap) {}
  // Adds a record, dropping the oldest when the store is full (as the log drops its first line).
  void Add(LogRecord r);
  // Forgets every record; the numbers go on.
  void Clear();
  size_t size() const { return count_; }
  size_t cap() const { return cap_; }
  // A new length: the newest records stay.
  void set_cap(size_t cap);
  // The i-th record, oldest first; null past the end.
  const LogRecord* At(size_t i) const { return i < count_ ? &slots_[(head_ + i) % slots_.size()] : nullptr; }
  const LogRecord* Last() const { return count_ ? At(count_ - 1) : nullptr; }
  // How many records were ever added: the number the next one gets.
  uint64_t added() const { return added_; }
  // The number of the oldest record held.
  uint64_t first_number() const { return added_ - count_; }
  // The record with this number; null when it is gone (or not there yet).
  const LogRecord* Numbered(uint64_t n) const {
    return n >= first_number() && n < added_ ? At(static_cast<size_t>(n - first_number())) : nullptr;
  }

 private:
  size_t cap_;
  std::vector<LogRecord> slots_;  // grows to cap_ while the store fills, then each slot is reused
  size_t head_ = 0;               // the oldest record's slot (0 until the store is full)
  size_t count_ = 0;
  uint64_t added_ = 0;
};

// A field as CSV writes it: quoted (quotes doubled) when it holds a comma, a quote or a line break;
// a field that a spreadsheet would take for a formula (= + - @ first) starts with an apostrophe.
std::wstring CsvField(const std::wstring& field);
// The CSV header line and one record's line (no line break at the end).
std::wstring CsvHeader();
std::wstring CsvLine(const LogRecord& r, const MessageDecoder& decoder);
// The same line of a record already in words.
std::wstring CsvLine(const LogRecord& r, const RecordText& text);
// "0x..." of a parameter at its full width; a 32-bit program's values in eight digits, zero-extended.
std::wstring FullHex(int64_t v, bool bits32 = false);
// A record's parameter as FullHex writes it for its window.
inline std::wstring ParamHex(const LogRecord& r, int64_t v) { return FullHex(v, r.target32); }

// The text of a log save: the lines as they are, each ending in CR LF.
std::wstring LogText(const std::vector<std::wstring>& lines);
// Writes text as UTF-8 (CSV with a byte order mark, which spreadsheet programs look for).
// False with GetLastError set on failure.
bool WriteUtf8File(const std::wstring& path, const std::wstring& text, bool byte_order_mark);

// The multi-line text of the details pane for one record.
std::wstring DetailsText(const LogRecord& r, const MessageDecoder& decoder);

}  // namespace spy
