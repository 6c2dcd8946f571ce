#include "capture_file.h"


#include <algorithm>

namespace spy {

namespace {
constexpr size_t kBlock = 64 * 1024;
}  // namespace

bool CaptureFile::Open(const std::wstring& path, bool csv) {
  Close();
  file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return false;
  csv_ = csv;
  failed_ = false;
  messages_ = 0;
  path_ = path;
  pending_.clear();
  if (csv_) {
    pending_ = "\xEF\xBB\xBF";  // spreadsheet programs look for the byte order mark
    Put(CsvHeader() + L"\r\n");
  }
  return Flush();
}

bool CaptureFile::Put(const std::wstring& text) {
  if (text.empty()) return true;
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  const size_t at = pending_.size();
  pending_.resize(at + static_cast<size_t>(n));
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), pending_.data() + at, n, nullptr, nullptr);
  return true;
}

bool CaptureFile::Append(const LogRecord& r, const MessageDecoder& decoder) {
  if (!open()) return false;
  Put((csv_ ? CsvLine(r, decoder) : r.line) + L"\r\n");
  ++messages_;
  return pending_.size() < kBlock || Flush();
}

bool CaptureFile::Flush() {
  if (!open()) return !failed_;
  size_t done = 0;
  while (done < pending_.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(pending_.size() - done, 1u << 20));
    if (!WriteFile(file_, pending_.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
      const DWORD error = GetLastError();
      failed_ = true;
      CloseHandle(file_);
      file_ = INVALID_HANDLE_VALUE;
      pending_.clear();
      SetLastError(error);
      return false;
    }
    done += wrote;
  }
  pending_.clear();
  return true;
}

bool CaptureFile::Close() {
  if (!open()) return !failed_;
  const bool ok = Flush();
  if (open()) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  return ok;
}

}  // namespace spy
