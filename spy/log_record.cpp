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

std::wstring CsvLine(const LogRecord& r) {
  const std::wstring fields[] = {std::to_wstring(r.index), Milliseconds(r.ms), r.clock, FullHex(r.window),
                                 MessageHex(r.msg), r.name, FullHex(r.wParam), FullHex(r.lParam), r.origin, r.result,
                                 r.details};
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

std::wstring DetailsText(const LogRecord& r) {
  std::wstring s;
  s += L"Message:\t" + MessageHex(r.msg) + L" " + r.name + L"\r\n";
  s += L"Number:\t" + std::to_wstring(r.index) + L"\r\n";
  s += L"Time:\t" + Milliseconds(r.ms) + L" ms since the capture started, clock " + r.clock + L"\r\n";
  s += L"Window:\t" + MessageDecoder::DescribeWindow(r.window) + L"\r\n";
  s += L"Origin:\t" + (r.origin.empty() ? std::wstring(L"(not known)") : r.origin) + L"\r\n";
  s += L"Result:\t" + (r.result.empty() ? std::wstring(L"(not known)") : r.result) + L"\r\n";
  s += L"wParam:\t" + FullHex(r.wParam) + L"\r\n";
  s += L"lParam:\t" + FullHex(r.lParam) + L"\r\n";
  if (r.lost_before > 0) s += L"Lost before:\t" + std::to_wstring(r.lost_before) + L" messages\r\n";
  s += L"Details:\t" + (r.details.empty() ? std::wstring(L"-") : r.details);
  return s;
}

}  // namespace spy
