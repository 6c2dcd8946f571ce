#include "capture_file.h"

#include <algorithm>
#include <vector>

namespace spy {

namespace {

constexpr size_t kBlock = 64 * 1024;

BOOL PlainWrite(HANDLE file, const void* data, DWORD size, DWORD* written) {
  return WriteFile(file, data, size, written, nullptr);
}

// The open capture files of the program: a fatal error writes them out before it ends it.
// Only the user-interface thread makes and closes capture files.
std::vector<CaptureFile*>& OpenFiles() {
  static std::vector<CaptureFile*> files;
  return files;
}

}  // namespace

CaptureFile::CaptureFile() : writer_(&PlainWrite) { OpenFiles().push_back(this); }

CaptureFile::~CaptureFile() {
  Close();
  auto& files = OpenFiles();
  files.erase(std::remove(files.begin(), files.end(), this), files.end());
}

void CaptureFile::FlushAll() noexcept {
  for (CaptureFile* f : OpenFiles()) f->Flush();
}

bool CaptureFile::Open(const std::wstring& path, bool csv) {
  Close();
  file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return false;
  csv_ = csv;
  failed_ = false;
  messages_ = 0;
  last_window_ = 0;
  committed_ = 0;
  path_ = path;
  pending_.clear();
  queue_.clear();
  queue_.reserve(kMaxQueued);
  draining_.reserve(kMaxQueued);
  if (csv_) {
    pending_ = "\xEF\xBB\xBF";  // spreadsheet programs look for the byte order mark
    Put(CsvHeader() + L"\r\n");
  }
  return Flush();
}

void CaptureFile::Put(const std::wstring& text) {
  if (text.empty()) return;
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return;
  if (pending_.empty() && queue_.empty() && draining_.empty()) pending_since_ = GetTickCount64();
  const size_t at = pending_.size();
  pending_.resize(at + static_cast<size_t>(n));
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), pending_.data() + at, n, nullptr, nullptr);
}

bool CaptureFile::Queue(const LogRecord& r) {
  if (!open()) return false;
  if (r.kind == RecordKind::Message) ++messages_;
  if (r.kind != RecordKind::Loss) last_window_ = r.window;
  if (queue_.size() >= kMaxQueued && !draining_now_ && !Drain()) return false;
  if (queue_.empty() && pending_.empty()) pending_since_ = GetTickCount64();  // the oldest waiting line's time
  queue_.push_back(r);
  return true;
}

bool CaptureFile::Drain() {
  if (!open()) return !failed_;
  if (draining_now_) return true;
  // Putting a record into words may send a window a message (a handle's caption), and the sink
  // may then queue more: they wait in the queue for the next drain.
  draining_now_ = true;
  std::swap(queue_, draining_);
  for (const LogRecord& r : draining_) {
    if (!open()) break;
    Put((csv_ ? (decoder_ ? CsvLine(r, *decoder_) : CsvLine(r, RecordText{})) : LineText(r, names_)) + L"\r\n");
    if (pending_.size() >= kBlock && !Flush()) break;
  }
  draining_.clear();
  draining_now_ = false;
  return open() || !failed_;
}

bool CaptureFile::Append(const LogRecord& r, const MessageDecoder& decoder) {
  if (!decoder_) decoder_ = &decoder;
  return Queue(r) && FlushIfDue();  // FlushIfDue drains the queue first
}

bool CaptureFile::FlushIfDue() {
  if (!open()) return !failed_;
  if (!Drain()) return false;
  if (pending_.empty() || GetTickCount64() - pending_since_ < kMaxWaitMs) return true;
  return Flush();
}

void CaptureFile::Fail(DWORD error) {
  // The file ends with the last whole line that reached it.
  LARGE_INTEGER at;
  at.QuadPart = committed_;
  if (SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
  failed_ = true;
  CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  pending_.clear();
  queue_.clear();
  SetLastError(error);
}

bool CaptureFile::Flush() {
  if (!open()) return !failed_;
  if (!queue_.empty() && !Drain()) return false;
  size_t done = 0;  // bytes of pending_ in the file as whole lines
  while (done < pending_.size()) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(pending_.size() - done, 1u << 20));
    const BOOL ok = writer_(file_, pending_.data() + done, chunk, &wrote);
    const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
    wrote = std::min(wrote, chunk);
    const size_t reached = done + wrote;
    const size_t line_end = wrote ? pending_.rfind('\n', reached - 1) : std::string::npos;
    const size_t whole = line_end != std::string::npos && line_end + 1 > done ? line_end + 1 : done;
    committed_ += static_cast<LONGLONG>(whole - done);
    const bool progress = whole > done;
    done = whole;
    // A failed write, or one that took less than a line: the file ends at the last whole line.
    if (!ok || wrote == 0 || (!progress && wrote < chunk)) {
      Fail(error ? error : ERROR_WRITE_FAULT);
      return false;
    }
    if (whole != reached) {  // part of a line went out: write it again from its start
      LARGE_INTEGER at;
      at.QuadPart = committed_;
      if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) {
        Fail(GetLastError());
        return false;
      }
    }
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
