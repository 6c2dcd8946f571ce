#include "log_record.h"

#include <windows.h>

#include <cwchar>

#include "message_decode.h"

namespace spy {

void LogStore::Add(LogRecord r) {
  if (cap_ == 0) return;
  while (records_.size() >= cap_) records_.pop_front();
  records_.push_back(std::move(r));
}

std::wstring CsvField(const std::wstring& field) {
  if (field.find_first_of(L",\"\r\n") == std::wstring::npos) return field;
  std::wstring out = L"\"";
  for (wchar_t c : field) {
    if (c == L'"') out += L'"';
    out += c;
  }
  return out + L"\"";
}

std::wstring FullHex(int64_t v) {
  wchar_t buf[24];
  std::swprintf(buf, 24, L"0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

namespace {

std::wstring Milliseconds(double ms) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%.3f", ms);
  return buf;
}

}  // namespace

std::wstring CsvHeader() {
  return L"Index,Time (ms),Clock time,Window,Message,Name,wParam,lParam,Origin,Result,Details";
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
  if (r.result_known) t.result = FullHex(r.result);
  MessageFacts facts{r.msg, r.wParam, r.lParam, cls, r.data.get()};
  t.details = decoder.Decode(facts);
  return t;
}

std::wstring CsvLine(const LogRecord& r, const MessageDecoder& decoder) { return CsvLine(r, Describe(r, decoder)); }

std::wstring CsvLine(const LogRecord& r, const RecordText& t) {
  const std::wstring fields[] = {std::to_wstring(r.index), Milliseconds(r.ms), t.clock, FullHex(r.window),
                                 MessageHex(r.msg), t.name, FullHex(r.wParam), FullHex(r.lParam), t.origin, t.result,
                                 t.details};
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
  const RecordText t = Describe(r, decoder);
  std::wstring s;
  s += L"Message:\t" + MessageHex(r.msg) + L" " + t.name + L"\r\n";
  s += L"Number:\t" + std::to_wstring(r.index) + L"\r\n";
  s += L"Time:\t" + Milliseconds(r.ms) + L" ms since the capture started, clock " +
       (t.clock.empty() ? std::wstring(L"(not known)") : t.clock) + L"\r\n";
  s += L"Window:\t" + MessageDecoder::DescribeWindow(r.window) + L"\r\n";
  s += L"Origin:\t" + (t.origin.empty() ? std::wstring(L"(not known)") : t.origin) + L"\r\n";
  s += L"Result:\t" + (t.result.empty() ? std::wstring(L"(not known)") : t.result) + L"\r\n";
  s += L"wParam:\t" + FullHex(r.wParam) + L"\r\n";
  s += L"lParam:\t" + FullHex(r.lParam) + L"\r\n";
  if (r.lost_before > 0) s += L"Lost before:\t" + std::to_wstring(r.lost_before) + L" messages\r\n";
  s += L"Details:\t" + (t.details.empty() ? std::wstring(L"-") : t.details);
  return s;
}

}  // namespace spy
