#include "command_capture.h"

#include <windows.h>
#include <ole2.h>

#include <cwchar>
#include <cwctype>
#include <algorithm>

#include "capture_file.h"
#include "capture_record.h"
#include "com_ptr.h"
#include "hex.h"
#include "hookwire_h.h"
#include "log_record.h"
#include "main_window.h"
#include "message_names.h"
#include "runtime_error.h"

using common::com_ptr;

namespace spy {

namespace {

void WriteTo(DWORD which, const std::wstring& text) {
  HANDLE h = GetStdHandle(which);
  if (!h || h == INVALID_HANDLE_VALUE) {
    if (AttachConsole(ATTACH_PARENT_PROCESS)) h = GetStdHandle(which);
    if (!h || h == INVALID_HANDLE_VALUE) return;
  }
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

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

// Hands each message's record to the capture file, which puts the records into words and writes
// whole lines at least once a second while the capture's loop runs.
class FileSink final : public IhkMessageSink {
 public:
  FileSink(CaptureFile& file, bool csv, bool decimal, const MessageNames& names, const MessageDecoder& decoder,
           RecordSource source)
      : file_(file), csv_(csv), decimal_(decimal), names_(names), decoder_(decoder), source_(std::move(source)) {}

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
    // Only a record is made here; the file puts it into words when the pump drains it.
    if (msg < 0) common::Raise(common::errSubscriptOutOfRange, L"Snoopet");  // no line has such a name
    LogRecord r;
    if (csv_) {
      r = CaptureRecord(source_, count_, msg, wParam, lParam);
    } else {
      r.window = reinterpret_cast<INT_PTR>(source_.target);
      r.msg = static_cast<uint32_t>(msg);
      r.wParam = r.line_wParam = wParam;
      r.lParam = r.line_lParam = lParam;
      VARIANT_BOOL delivering = VARIANT_FALSE;
      long lost = 0;
      if (source_.details && SUCCEEDED(source_.details->get_Delivering(&delivering)) && delivering &&
          SUCCEEDED(source_.details->get_LostBefore(&lost)))
        r.lost_before = lost;
      if (delivering) TakeFamilyWindow(source_, r);
    }
    r.decimal = decimal_;
    if (r.lost_before > 0) {
      lost_ += r.lost_before;
      count_ += static_cast<uint64_t>(r.lost_before);  // the numbers go on past the gap
      r.index = count_;
      Put(LossRecord(r.lost_before, r.window, r.ms, r.day_ms));
    }
    Put(r);
    COM_METHOD_END(L"Snoopet", IID_IhkMessageSink)
  }

  void Put(const LogRecord& r) {
    if (!file_.open()) return;
    if (!file_.Queue(r)) {
      write_failed_ = true;
      write_error_ = GetLastError();
    }
  }
  void Flush() {
    if (file_.open() && !file_.FlushIfDue()) {
      write_failed_ = true;
      write_error_ = GetLastError();
    }
  }
  bool write_failed() const { return write_failed_; }
  DWORD write_error() const { return write_error_; }
  long lost() const { return lost_; }

 private:
  CaptureFile& file_;
  bool csv_;
  bool decimal_;
  const MessageNames& names_;
  const MessageDecoder& decoder_;
  RecordSource source_;
  uint64_t count_ = 0;
  long lost_ = 0;
  bool write_failed_ = false;
  DWORD write_error_ = 0;
  long refs_ = 1;
};

// Splits a filter list at commas (and semicolons), blanks trimmed.
std::vector<std::wstring> FilterItems(const std::wstring& list) {
  // A group's menu name may hold a comma: it is taken whole first.
  std::wstring text = list;
  for (const auto& g : MessageGroups()) {
    const std::wstring name = g.name;
    if (name.find(L',') == std::wstring::npos) continue;
    for (size_t at; (at = text.find(name)) != std::wstring::npos;) text.replace(at, name.size(), g.id);
  }
  std::vector<std::wstring> items;
  std::wstring cur;
  for (wchar_t c : text + L",") {
    if (c != L',' && c != L';') {
      cur += c;
      continue;
    }
    const size_t b = cur.find_first_not_of(L" \t"), e = cur.find_last_not_of(L" \t");
    if (b != std::wstring::npos) items.push_back(cur.substr(b, e - b + 1));
    cur.clear();
  }
  return items;
}

// What a filter item can be without the names: a group, a number, or a name's shape.
bool LooksLikeFilterItem(const std::wstring& item) {
  if (FindGroup(item)) return true;
  if (item.size() > 2 && item[0] == L'0' && (item[1] == L'x' || item[1] == L'X')) {
    for (size_t i = 2; i < item.size(); ++i)
      if (!std::iswxdigit(item[i])) return false;
    return item.size() <= 6;
  }
  for (wchar_t c : item)
    if (!(std::iswalnum(c) || c == L'_' || c == L'+')) return false;
  return !item.empty() && !std::iswdigit(item[0]);
}

// The window a command names: a handle, or a top-level window of a class (and caption). Null,
// with the reason on standard error, when there is none.
HWND FindTarget(const std::wstring& window, const std::wstring* caption) {
  if (auto h = ParseHandle(window); h && !caption) {
    if (IsWindow(*h)) return *h;
    WriteError(L"no window has the handle " + window);
    return nullptr;
  }
  const bool any_class = window.empty() || window == L"*";
  if (HWND found = FindWindowW(any_class ? nullptr : window.c_str(), caption ? caption->c_str() : nullptr)) return found;
  WriteError(L"no top-level window of class \"" + window + L"\"" +
             (caption ? L" with the caption \"" + *caption + L"\"" : std::wstring()));
  return nullptr;
}

}  // namespace

std::wstring UsageText() {
  return L"Snoopet.exe                       opens the window\r\n"
         L"Snoopet.exe /capture <handle | class> [/caption <text>] /out <file>\r\n"
         L"            [/seconds N | /untilclosed] [/filter <list> | /only <list>] [/csv] [/decimal]\r\n"
         L"            [/scope window | children | thread | process] [/new]\r\n"
         L"  <handle>     hexadecimal (0x1A02C); otherwise a top-level window of that class (* any)\r\n"
         L"  /seconds N   how long to watch: more than 0, at most 86400 (default 10); the capture\r\n"
         L"               also ends when the window closes; /untilclosed waits for that alone\r\n"
         L"  <list>       groups (Mouse, Keyboard, Paint, NonClient, Focus, Position, Menu, Clipboard,\r\n"
         L"               Text, Scrolling, Timer, Commands, Creation, User, Registered), message names\r\n"
         L"               (WM_TIMER) or numbers (0xC0A1), separated by commas\r\n"
         L"  /csv         every detail, comma separated; otherwise the log's lines\r\n"
         L"  /decimal     the lines' wParam and lParam in decimal (the CSV keeps its hexadecimal columns)\r\n"
         L"  /scope       the window alone (default), with its descendants, every window of its thread,\r\n"
         L"               or of its program; each line then starts with the window's handle and class\r\n"
         L"  /new         with a wider scope: windows made during the capture are taken in too\r\n"
         L"Snoopet.exe /inspect <handle | class> [/caption <text>]\r\n"
         L"               prints what the window inspector shows: class, styles, rectangles,\r\n"
         L"               properties, process and thread\r\n"
         L"Switches may start with / or -. Exit codes: 0 done, 2 bad arguments, 3 no such window,\r\n"
         L"4 the window cannot be watched, 5 the file cannot be written, 6 Hookwire is not registered,\r\n"
         L"7 messages were lost (the file marks where), 8 OLE failed.\r\n";
}

void WriteError(const std::wstring& text) { WriteTo(STD_ERROR_HANDLE, L"Snoopet: " + text + L"\r\n"); }
void WriteOutput(const std::wstring& text) { WriteTo(STD_OUTPUT_HANDLE, text); }

bool IsSwitch(const std::wstring& arg, const wchar_t* name) {
  return arg.size() > 1 && (arg[0] == L'/' || arg[0] == L'-') && Same(arg.substr(1), name);
}

std::optional<std::wstring> ParseCaptureArgs(const std::vector<std::wstring>& args, CaptureArgs* out) {
  CaptureArgs a;
  if (args.empty() || args[0].empty() || args[0][0] == L'/' || (args[0][0] == L'-' && args[0].size() > 1))
    return std::wstring(L"/capture needs a window: a hexadecimal handle or a class name");
  a.window = args[0];
  bool have_out = false, have_seconds = false, have_filter = false, have_only = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& s = args[i];
    if (IsSwitch(s, L"csv")) {
      a.csv = true;
      continue;
    }
    if (IsSwitch(s, L"untilclosed")) {
      a.until_closed = true;
      continue;
    }
    if (IsSwitch(s, L"decimal")) {
      a.decimal = true;
      continue;
    }
    if (IsSwitch(s, L"new")) {
      a.take_new = true;
      continue;
    }
    if (!(IsSwitch(s, L"out") || IsSwitch(s, L"caption") || IsSwitch(s, L"seconds") || IsSwitch(s, L"filter") ||
          IsSwitch(s, L"only") || IsSwitch(s, L"scope")))
      return L"unknown argument: " + s;
    if (i + 1 >= args.size()) return s + L" needs a value";
    const std::wstring& v = args[++i];
    if (IsSwitch(s, L"out")) {
      a.out = v;
      have_out = !v.empty();
    } else if (IsSwitch(s, L"caption")) {
      a.caption = v;
      a.has_caption = true;
    } else if (IsSwitch(s, L"seconds")) {
      // Decimal digits with at most one point: no hexadecimal, exponent, sign or spaces.
      const bool decimal = std::any_of(v.begin(), v.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }) &&
                           std::all_of(v.begin(), v.end(), [](wchar_t c) { return (c >= L'0' && c <= L'9') || c == L'.'; }) &&
                           std::count(v.begin(), v.end(), L'.') <= 1;
      wchar_t* end = nullptr;
      const double n = decimal ? std::wcstod(v.c_str(), &end) : 0;
      if (!decimal || (end && *end) || !(n > 0 && n <= 86400))
        return L"/seconds takes a number of seconds more than 0 and at most 86400 (such as 10 or 0.5), not " + v +
               L"; /untilclosed watches until the window closes";
      a.seconds = n;
      have_seconds = true;
    } else if (IsSwitch(s, L"scope")) {
      const wchar_t* scopes[] = {L"window", L"children", L"thread", L"process"};
      a.scope = -1;
      for (int k = 0; k < 4; ++k)
        if (Same(v, scopes[k])) a.scope = k;
      if (a.scope < 0) return L"/scope takes window, children, thread or process, not " + v;
    } else if (IsSwitch(s, L"filter")) {
      a.filter = v;
      have_filter = true;
    } else {
      a.only = v;
      have_only = true;
    }
  }
  if (!have_out) return std::wstring(L"/out <file> is missing");
  if (have_filter && have_only) return std::wstring(L"/filter and /only cannot be combined");
  if (have_seconds && a.until_closed) return std::wstring(L"/seconds and /untilclosed cannot be combined");
  if (a.take_new && a.scope == 0) return std::wstring(L"/new needs a /scope wider than the window");
  if ((have_filter && FilterItems(a.filter).empty()) || (have_only && FilterItems(a.only).empty()))
    return std::wstring(L"the filter names no message or group");
  for (const auto& item : FilterItems(a.only.empty() ? a.filter : a.only))
    if (!LooksLikeFilterItem(item)) return L"unknown message or group in the filter: " + item;
  *out = std::move(a);
  return std::nullopt;
}

int RunCommandLineCapture(const std::vector<std::wstring>& args) {
  CaptureArgs a;
  if (auto error = ParseCaptureArgs(args, &a)) {
    WriteError(*error);
    WriteTo(STD_ERROR_HANDLE, UsageText());
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

  // The filter: groups, message names and 0x numbers; every name is known before Hookwire's
  // window object is made.
  MessageFilter filter;
  filter.include_only = !a.only.empty();
  {
    std::wstring groups;
    for (const auto& item : FilterItems(a.only.empty() ? a.filter : a.only)) {
      if (const MessageGroup* g = FindGroup(item)) {
        groups += (groups.empty() ? L"" : L",") + std::wstring(g->id);
        continue;
      }
      MessageFilter probe;
      probe.SetMessages(item, [&](const std::wstring& name) -> std::optional<uint32_t> {
        for (uint32_t m = 0; m < WM_USER; ++m)
          if (Same(decoder.Name(m, L""), name.c_str())) return m;
        return std::nullopt;
      });
      if (probe.messages.empty()) {
        WriteError(L"unknown message or group in the filter: " + item);
        WriteTo(STD_ERROR_HANDLE, UsageText());
        return kCaptureBadArguments;
      }
      filter.messages.push_back(probe.messages[0]);
    }
    filter.SetGroups(groups);
  }

  HWND target = FindTarget(a.window, a.has_caption ? &a.caption : nullptr);
  if (!target) return kCaptureNoWindow;

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

  CaptureFile file;
  file.set_formatting(&decoder, &names);
  if (!file.Open(a.out, a.csv)) {
    WriteError(L"cannot write " + a.out + L" (error " + std::to_wstring(GetLastError()) + L")");
    return kCaptureCannotWrite;
  }

  wchar_t cls[256] = {};
  if (!RealGetWindowClassW(target, cls, 256)) GetClassNameW(target, cls, 256);
  RecordSource source{nullptr, target, std::make_shared<const std::wstring>(cls),
                      GetWindowThreadProcessId(target, nullptr) == GetCurrentThreadId(), {}, {},
                      WindowOf32BitProgram(target), nullptr};
  QueryPerformanceFrequency(&source.frequency);
  com_ptr<IhkMessageDetails> details;
  window->QueryInterface(IID_IhkMessageDetails, details.put_void());
  source.details = details.get();
  if (a.scope != 0) {
    com_ptr<IhkCaptureScope> scope;
    window->QueryInterface(IID_IhkCaptureScope, scope.put_void());
    if (!scope || FAILED(scope->put_Scope(a.scope)) ||
        FAILED(scope->put_IncludeNewWindows(a.take_new ? VARIANT_TRUE : VARIANT_FALSE))) {
      WriteError(L"this Hookwire cannot watch a window's family");
      return kCaptureNoHookwire;
    }
    source.family = std::make_shared<FamilyClasses>();
  }
  LONG lost_at_start = 0;
  if (details) details->get_LostMessages(&lost_at_start);
  QueryPerformanceCounter(&source.start);
  FileSink sink(file, a.csv, a.decimal, names, decoder, source);

  hr = WatchThrough(window.get(), filter);
  if (SUCCEEDED(hr)) hr = window->putref_MessageSink(&sink);
  if (SUCCEEDED(hr)) hr = window->put_Subclassed(VARIANT_TRUE);
  if (FAILED(hr)) {
    window->putref_MessageSink(nullptr);
    WriteError(L"the window cannot be watched (error 0x" + common::Hex(hr) + L")");
    return kCaptureNotWatchable;
  }

  // The messages come through this thread's message queue (the hook reports back to it).
  auto pump = [&](ULONGLONG until, bool while_window) {
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      if (now >= until || (while_window && !IsWindow(target))) break;
      MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(until - now, 100)), QS_ALLINPUT,
                                  MWMO_INPUTAVAILABLE);
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
      sink.Flush();
    }
  };
  pump(a.until_closed ? ~0ULL : GetTickCount64() + static_cast<ULONGLONG>(a.seconds * 1000), true);
  // What the target wrote just before the end is still taken.
  pump(GetTickCount64() + 250, false);
  window->put_Subclassed(VARIANT_FALSE);
  window->putref_MessageSink(nullptr);
  LONG lost_total = 0;
  if (details) details->get_LostMessages(&lost_total);
  const long lost = std::max<long>(static_cast<long>(lost_total - lost_at_start), sink.lost());
  if (lost > sink.lost()) {
    LogRecord tail = LossRecord(lost - sink.lost(), reinterpret_cast<INT_PTR>(target), 0, -1);
    sink.Put(tail);
  }
  const bool closed = file.Close();
  const DWORD close_error = closed ? 0 : GetLastError();
  if (sink.write_failed() || !closed) {
    WriteError(L"writing " + a.out + L" failed (error " +
               std::to_wstring(sink.write_failed() ? sink.write_error() : close_error) +
               L"); the file ends with the last whole line written");
    return kCaptureCannotWrite;
  }
  if (lost > 0) {
    WriteError(std::to_wstring(lost) + (lost == 1 ? L" message was" : L" messages were") +
               L" not captured (Snoopet could not take them in time); lines \"--- N messages not captured\" in " +
               a.out + L" mark where");
    return kCaptureLostMessages;
  }
  return kCaptureDone;
}

int RunCommandLineInspect(const std::vector<std::wstring>& args) {
  std::wstring caption;
  bool has_caption = false;
  std::optional<std::wstring> error;
  if (args.empty() || args[0].empty() || args[0][0] == L'/' || (args[0][0] == L'-' && args[0].size() > 1))
    error = L"/inspect needs a window: a hexadecimal handle or a class name";
  for (size_t i = 1; !error && i < args.size(); ++i) {
    if (!IsSwitch(args[i], L"caption")) error = L"unknown argument: " + args[i];
    else if (i + 1 >= args.size()) error = args[i] + L" needs a value";
    else caption = args[++i], has_caption = true;
  }
  if (error) {
    WriteError(*error);
    WriteTo(STD_ERROR_HANDLE, UsageText());
    return kCaptureBadArguments;
  }
  HWND target = FindTarget(args[0], has_caption ? &caption : nullptr);
  if (!target) return kCaptureNoWindow;
  WriteOutput(MainWindow::InspectWindow(target) + L"\r\n");
  return kCaptureDone;
}

}  // namespace spy
