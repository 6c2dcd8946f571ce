#include "log_record.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "message_decode.h"

namespace spy {

void LogStore::Add(LogRecord r) {
  ++added_;
  if (cap_ == 0) return;
  if (count_ < cap_) {
    // Filling: the oldest is in slot 0, the new one goes after the last.
    if (count_ < slots_.size()) slots_[count_] = std::move(r);
    else slots_.push_back(std::move(r));
    ++count_;
    return;
  }
  slots_[head_] = std::move(r);  // the oldest's slot takes the newest
  head_ = (head_ + 1) % slots_.size();
}

void LogStore::Clear() {
  for (size_t i = 0; i < count_; ++i) slots_[(head_ + i) % slots_.size()] = LogRecord{};  // what they held goes
  head_ = 0;
  count_ = 0;
}

void LogStore::set_cap(size_t cap) {
  const size_t keep = std::min(count_, cap);
  std::vector<LogRecord> slots;
  slots.reserve(keep);
  for (size_t i = count_ - keep; i < count_; ++i) slots.push_back(std::move(slots_[(head_ + i) % slots_.size()]));
  slots_ = std::move(slots);
  head_ = 0;
  count_ = keep;
  cap_ = cap;
}

std::wstring LineText(const LogRecord& r, const MessageNames* names) {
  if (r.kind != RecordKind::Message || !names) return r.line;
  const auto msg = static_cast<int32_t>(r.msg);
  const auto wp = static_cast<LONG_PTR>(r.line_wParam), lp = static_cast<LONG_PTR>(r.line_lParam);
  std::wstring line = r.decimal ? names->FormatDecimalLine(msg, wp, lp) : names->FormatLine(msg, wp, lp);
  if (!r.family) return line;
  return FamilyPrefix(r) + line;
}

std::wstring FamilyPrefix(const LogRecord& r) {
  return FullHex(r.window, true) + L" " + (r.class_name ? *r.class_name : std::wstring()) + L"  ";
}

std::wstring CsvField(const std::wstring& text) {
  std::wstring field = text;
  if (!field.empty() && (field[0] == L'=' || field[0] == L'+' || field[0] == L'-' || field[0] == L'@' ||
                         field[0] == L'\t' || field[0] == L'\r'))
    field.insert(field.begin(), L'\'');
  if (field.find_first_of(L",\"\r\n") == std::wstring::npos) return field;
  std::wstring out = L"\"";
  for (wchar_t c : field) {
    if (c == L'"') out += L'"';
    out += c;
  }
  return out + L"\"";
}

std::wstring FullHex(int64_t v, bool bits32) {
  wchar_t buf[24];
  if (bits32) std::swprintf(buf, 24, L"0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(v)));
  else std::swprintf(buf, 24, L"0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::wstring LossLine(long count) {
  return L"--- " + std::to_wstring(count) + (count == 1 ? L" message not captured" : L" messages not captured");
}

LogRecord LossRecord(long count, int64_t window, double ms, int32_t day_ms) {
  LogRecord r;
  r.kind = RecordKind::Loss;
  r.lost_before = count;
  r.window = window;
  r.ms = ms;
  r.day_ms = day_ms;
  r.line = LossLine(count);
  return r;
}

namespace {

std::wstring Milliseconds(double ms) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%.3f", ms);
  return buf;
}

}  // namespace

std::wstring CsvHeader() {
  return L"Index,Time (ms),Clock time,Window,Message,Name,wParam,lParam,Origin,Result,Details,LostBefore";
}

std::wstring OriginText(long flags) {
  if (flags < 0) return {};
  if (flags == 0) return L"posted, or sent by the window's own thread";
  std::wstring s = L"sent by another thread";
  if (flags & 2) s += L", SendNotifyMessage";
  if (flags & 4) s += L", SendMessageCallback";
  if (flags & 8) s += L", already replied";
  return s;
}

std::wstring ClockText(int32_t day_ms) {
  if (day_ms < 0) return {};
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%02d:%02d:%02d.%03d", day_ms / 3600000, day_ms / 60000 % 60, day_ms / 1000 % 60,
                day_ms % 1000);
  return buf;
}

RecordText Describe(const LogRecord& r, const MessageDecoder& decoder) {
  static const std::wstring no_class;
  const std::wstring& cls = r.class_name ? *r.class_name : no_class;
  RecordText t;
  t.name = decoder.Name(r.msg, cls);
  t.clock = ClockText(r.day_ms);
  t.origin = OriginText(r.origin_flags);
  if (r.result_known) t.result = FullHex(r.result, r.target32);
  MessageFacts facts{r.msg, r.wParam, r.lParam, cls, r.data.get()};
  t.details = decoder.Decode(facts);
  return t;
}

LogRecord WindowHeader(int64_t window) {
  LogRecord r;
  r.kind = RecordKind::Window;
  r.window = window;
  SYSTEMTIME st;
  GetLocalTime(&st);
  r.day_ms = ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
  r.line = L"=== " + MessageDecoder::DescribeWindow(window) + L" ===";
  return r;
}

std::wstring CsvLine(const LogRecord& r, const MessageDecoder& decoder) {
  if (r.kind != RecordKind::Message) return CsvLine(r, RecordText{});
  return CsvLine(r, Describe(r, decoder));
}

std::wstring CsvLine(const LogRecord& r, const RecordText& t) {
  if (r.kind != RecordKind::Message) {
    // A row of its own where messages went missing (the count in words and in the LostBefore
    // column; rows of messages carry 0 there, so the column adds up) or the window changes.
    const bool loss = r.kind == RecordKind::Loss;
    const std::wstring fields[] = {L"", loss ? Milliseconds(r.ms) : L"", ClockText(r.day_ms), FullHex(r.window),
                                   L"", L"", L"", L"", L"", L"", r.line, loss ? std::to_wstring(r.lost_before) : L""};
    std::wstring out;
    for (const auto& f : fields) {
      if (&f != fields) out += L',';
      out += CsvField(f);
    }
    return out;
  }
  const std::wstring fields[] = {std::to_wstring(r.index), Milliseconds(r.ms), t.clock, FullHex(r.window),
                                 MessageHex(r.msg), t.name, ParamHex(r, r.wParam), ParamHex(r, r.lParam), t.origin,
                                 t.result, t.details, L"0"};
  std::wstring out;
  for (const auto& f : fields) {
    if (&f != fields) out += L',';
    out += CsvField(f);
  }
  return out;
}

std::wstring LogText(const std::vector<std::wstring>& lines) {
  std::wstring out;
  for (const auto& l : lines) out += l + L"\r\n";
  return out;
}

bool WriteUtf8File(const std::wstring& path, const std::wstring& text, bool byte_order_mark) {
  std::string bytes;
  if (byte_order_mark) bytes = "\xEF\xBB\xBF";
  if (!text.empty()) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    const size_t at = bytes.size();
    bytes.resize(at + static_cast<size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data() + at, n, nullptr, nullptr);
  }
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(f);
  if (!ok || written != bytes.size()) {
    SetLastError(ok ? ERROR_WRITE_FAULT : error);
    return false;
  }
  return true;
}

std::wstring DetailsText(const LogRecord& r, const MessageDecoder& decoder) {
  if (r.kind == RecordKind::Window) return r.line;
  if (r.kind == RecordKind::Loss)
    return r.line + L"\r\nThe watched program could not hand these messages over: Snoopet did not take them in "
                    L"time. Clock " + (r.day_ms >= 0 ? ClockText(r.day_ms) : std::wstring(L"(not known)"));
  const RecordText t = Describe(r, decoder);
  std::wstring s;
  s += L"Message:\t" + MessageHex(r.msg) + L" " + t.name + L"\r\n";
  s += L"Number:\t" + std::to_wstring(r.index) + L"\r\n";
  s += L"Time:\t" + Milliseconds(r.ms) + L" ms since the capture started, clock " +
       (t.clock.empty() ? std::wstring(L"(not known)") : t.clock) + L"\r\n";
  s += L"Window:\t" + MessageDecoder::DescribeWindow(r.window) + L"\r\n";
  s += L"Origin:\t" + (t.origin.empty() ? std::wstring(L"(not known)") : t.origin) + L"\r\n";
  s += L"Result:\t" + (t.result.empty() ? std::wstring(L"(not known)") : t.result) + L"\r\n";
  s += L"wParam:\t" + ParamHex(r, r.wParam) + L"\r\n";
  s += L"lParam:\t" + ParamHex(r, r.lParam) + L"\r\n";
  if (r.lost_before > 0) s += L"Lost before:\t" + std::to_wstring(r.lost_before) + L" messages\r\n";
  s += L"Details:\t" + (t.details.empty() ? std::wstring(L"-") : t.details);
  return s;
}

}  // namespace spy
