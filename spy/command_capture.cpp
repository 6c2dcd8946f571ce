#include "command_capture.h"

#include <windows.h>
#include <ole2.h>

#include <cwchar>
#include <cwctype>

#include "capture_record.h"
#include "com_ptr.h"
#include "hex.h"
#include "hookwire_h.h"
#include "log_record.h"
#include "message_names.h"
#include "runtime_error.h"

using common::com_ptr;

namespace spy {

namespace {

void WriteError(const std::wstring& text) {
  const std::wstring line = L"Snoopet: " + text + L"\r\n";
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  if (!h || h == INVALID_HANDLE_VALUE) {
    if (AttachConsole(ATTACH_PARENT_PROCESS)) h = GetStdHandle(STD_ERROR_HANDLE);
    if (!h || h == INVALID_HANDLE_VALUE) return;
  }
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Utf8Line(const std::wstring& text) { return text + L"\r\n"; }

bool Same(const std::wstring& a, const wchar_t* b) { return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL; }

// A handle written as hex digits (with or without 0x).
std::optional<HWND> ParseHandle(const std::wstring& text) {
  std::wstring digits = text;
  if (digits.size() > 2 && digits[0] == L'0' && (digits[1] == L'x' || digits[1] == L'X')) digits = digits.substr(2);
  if (digits.empty() || digits.size() > 16) return std::nullopt;
  for (wchar_t c : digits)
    if (!std::iswxdigit(c)) return std::nullopt;
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoull(digits.c_str(), nullptr, 16)));
}

// Writes each message as it comes: nothing is lost when the capture is ended early.
class FileSink final : public IhkMessageSink {
 public:
  FileSink(HANDLE file, bool csv, const MessageNames& names, const MessageDecoder& decoder, RecordSource source)
      : file_(file), csv_(csv), names_(names), decoder_(decoder), source_(std::move(source)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IhkMessageSink) {
      *out = static_cast<IhkMessageSink*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (!n) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Message(LONG msg, LONG_PTR wParam, LONG_PTR lParam, LONG_PTR*) override {
    COM_METHOD_BEGIN
    ++count_;
    const std::wstring line = names_.FormatLine(msg, wParam, lParam);
    Write(csv_ ? CsvLine(CaptureRecord(source_, count_, msg, wParam, lParam, line), decoder_) : line);
    COM_METHOD_END(L"Snoopet", IID_IhkMessageSink)
  }

  void Write(const std::wstring& text) {
    const std::wstring line = Utf8Line(text);
    const int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
    DWORD written = 0;
    if (!WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written != bytes.size())
      write_failed_ = true;
  }
  bool write_failed() const { return write_failed_; }
  uint64_t count() const { return count_; }

 private:
  HANDLE file_;
  bool csv_;
  const MessageNames& names_;
  const MessageDecoder& decoder_;
  RecordSource source_;
  uint64_t count_ = 0;
  bool write_failed_ = false;
  long refs_ = 1;
};

struct FileHandle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~FileHandle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

}  // namespace

std::optional<std::wstring> ParseCaptureArgs(const std::vector<std::wstring>& args, CaptureArgs* out) {
  CaptureArgs a;
  if (args.empty() || args[0].empty() || args[0][0] == L'/')
    return std::wstring(L"/capture needs a window: a hexadecimal handle or a class name");
  a.window = args[0];
  bool have_out = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& s = args[i];
    auto value = [&](const wchar_t* what) -> std::optional<std::wstring> {
      if (i + 1 >= args.size()) return std::nullopt;
      (void)what;
      return args[++i];
    };
    if (Same(s, L"/csv")) {
      a.csv = true;
    } else if (Same(s, L"/out") || Same(s, L"/caption") || Same(s, L"/seconds") || Same(s, L"/filter") ||
               Same(s, L"/only")) {
      auto v = value(s.c_str());
      if (!v) return s + L" needs a value";
      if (Same(s, L"/out")) {
        a.out = *v;
        have_out = !v->empty();
      } else if (Same(s, L"/caption")) {
        a.caption = *v;
        a.has_caption = true;
      } else if (Same(s, L"/seconds")) {
        wchar_t* end = nullptr;
        const double n = std::wcstod(v->c_str(), &end);
        if (v->empty() || (end && *end) || !(n > 0 && n <= 86400)) return L"/seconds takes a number from 0 to 86400: " + *v;
        a.seconds = n;
      } else if (Same(s, L"/filter")) {
        a.filter = *v;
      } else {
        a.only = *v;
      }
    } else {
      return L"unknown argument: " + s;
    }
  }
  if (!have_out) return std::wstring(L"/out <file> is missing");
  if (!a.filter.empty() && !a.only.empty()) return std::wstring(L"/filter and /only cannot be combined");
  *out = std::move(a);
  return std::nullopt;
}

int RunCommandLineCapture(const std::vector<std::wstring>& args) {
  CaptureArgs a;
  if (auto error = ParseCaptureArgs(args, &a)) {
    WriteError(*error);
    WriteError(L"usage: Snoopet.exe /capture <handle | class> [/caption <text>] /out <file> [/seconds N] "
               L"[/filter <groups and messages> | /only <groups and messages>] [/csv]");
    return kCaptureBadArguments;
  }

  MessageNames names;
  try {
    names.LoadRegistered();
  } catch (const common::RuntimeError& e) {
    WriteError(L"Hookwire's type library cannot be read: " + e.description());
    return kCaptureNoHookwire;
  }
  MessageDecoder decoder([&names](uint32_t m) {
    return m < static_cast<uint32_t>(MessageNames::kCount) ? names.Name(static_cast<int32_t>(m)) : std::wstring();
  });

  // The filter: group names, message names and 0x numbers.
  MessageFilter filter;
  const std::wstring& list = a.only.empty() ? a.filter : a.only;
  filter.include_only = !a.only.empty();
  {
    std::wstring groups, messages, cur;
    auto take = [&] {
      size_t b = cur.find_first_not_of(L" "), e = cur.find_last_not_of(L" ");
      if (b == std::wstring::npos) return true;
      const std::wstring item = cur.substr(b, e - b + 1);
      cur.clear();
      for (const auto& g : MessageGroups())
        if (Same(item, g.name)) {
          groups += (groups.empty() ? L"" : L",") + item;
          return true;
        }
      MessageFilter probe;
      probe.SetMessages(item, [&](const std::wstring& name) -> std::optional<uint32_t> {
        for (uint32_t m = 0; m < WM_USER; ++m)
          if (Same(decoder.Name(m, L""), name.c_str())) return m;
        return std::nullopt;
      });
      if (probe.messages.empty()) {
        WriteError(L"unknown message or group in the filter: " + item);
        return false;
      }
      filter.messages.push_back(probe.messages[0]);
      return true;
    };
    for (wchar_t c : list + L",") {
      if (c == L',' || c == L';') {
        if (!take()) return kCaptureBadArguments;
      } else {
        cur += c;
      }
    }
    filter.SetGroups(groups);
  }

  // The window.
  HWND target = nullptr;
  if (auto h = ParseHandle(a.window); h && !a.has_caption) {
    target = IsWindow(*h) ? *h : nullptr;
    if (!target) {
      WriteError(L"no window has the handle " + a.window);
      return kCaptureNoWindow;
    }
  } else {
    const bool any_class = a.window.empty() || a.window == L"*";
    target = FindWindowW(any_class ? nullptr : a.window.c_str(), a.has_caption ? a.caption.c_str() : nullptr);
    if (!target) {
      WriteError(L"no top-level window of class \"" + a.window + L"\"" +
                 (a.has_caption ? L" with the caption \"" + a.caption + L"\"" : std::wstring()));
      return kCaptureNoWindow;
    }
  }

  com_ptr<_HookwireWindow> window;
  HRESULT hr = CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow,
                                window.put_void());
  if (FAILED(hr)) {
    WriteError(L"Hookwire is not available (error 0x" + common::Hex(hr) + L")");
    return kCaptureNoHookwire;
  }
  VARIANT_BOOL cannot = VARIANT_TRUE;
  if (FAILED(window->put_hWnd(static_cast<LONG>(reinterpret_cast<LONG_PTR>(target)))) ||
      FAILED(window->get_CannotSubclass(&cannot)) || cannot) {
    WriteError(L"the window " + MessageDecoder::DescribeWindow(reinterpret_cast<INT_PTR>(target)) +
               L" cannot be watched");
    return kCaptureNotWatchable;
  }

  FileHandle file;
  file.h = CreateFileW(a.out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file.h == INVALID_HANDLE_VALUE) {
    WriteError(L"cannot write " + a.out + L" (error " + std::to_wstring(GetLastError()) + L")");
    return kCaptureCannotWrite;
  }

  wchar_t cls[256] = {};
  if (!RealGetWindowClassW(target, cls, 256)) GetClassNameW(target, cls, 256);
  RecordSource source{nullptr, target, std::make_shared<const std::wstring>(cls),
                      GetWindowThreadProcessId(target, nullptr) == GetCurrentThreadId(), {}, {}};
  QueryPerformanceFrequency(&source.frequency);
  com_ptr<IhkMessageDetails> details;
  window->QueryInterface(IID_IhkMessageDetails, details.put_void());
  source.details = details.get();
  QueryPerformanceCounter(&source.start);
  FileSink sink(file.h, a.csv, names, decoder, source);
  if (a.csv) {
    static const char bom[] = "\xEF\xBB\xBF";
    DWORD written = 0;
    WriteFile(file.h, bom, 3, &written, nullptr);
    sink.Write(CsvHeader());
  }

  hr = WatchThrough(window.get(), filter);
  if (SUCCEEDED(hr)) hr = window->putref_MessageSink(&sink);
  if (SUCCEEDED(hr)) hr = window->put_Subclassed(VARIANT_TRUE);
  if (FAILED(hr)) {
    window->putref_MessageSink(nullptr);
    WriteError(L"the window cannot be watched (error 0x" + common::Hex(hr) + L")");
    return kCaptureNotWatchable;
  }

  // The messages come through this thread's message queue (the hook reports back to it).
  const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(a.seconds * 1000);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    if (now >= end || !IsWindow(target)) break;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 100)), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
  }
  window->put_Subclassed(VARIANT_FALSE);
  window->putref_MessageSink(nullptr);
  if (sink.write_failed()) {
    WriteError(L"writing " + a.out + L" failed");
    return kCaptureCannotWrite;
  }
  return kCaptureDone;
}

}  // namespace spy
