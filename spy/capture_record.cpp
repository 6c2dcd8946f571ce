#include "capture_record.h"

#include <cmath>
#include <utility>

namespace spy {

LogRecord CaptureRecord(const RecordSource& source, uint64_t index, LONG msg, LONG_PTR wParam, LONG_PTR lParam) {
  LogRecord r;
  r.index = index;
  r.window = reinterpret_cast<INT_PTR>(source.target);
  r.msg = static_cast<uint32_t>(msg);
  r.wParam = r.line_wParam = wParam;
  r.lParam = r.line_lParam = lParam;
  r.class_name = source.class_name;
  r.target32 = source.target32;
  VARIANT_BOOL delivering = VARIANT_FALSE;
  if (source.details && SUCCEEDED(source.details->get_Delivering(&delivering)) && delivering) {
    IhkMessageDetails* d = source.details;
    double ms = 0;
    bool timed = SUCCEEDED(d->get_Milliseconds(&ms));
    if (timed) r.ms = ms;
    DATE when = 0;
    if (SUCCEEDED(d->get_Time(&when)) && when >= 0) {
      // Only the time of day is shown: taken straight from the fraction of the day (the
      // platform's DATE conversion stops at whole seconds, and costs more than the message).
      r.day_ms = static_cast<int32_t>(std::llround(std::fmod(when, 1.0) * 86400000.0) % 86400000);
    }
    long origin = 0;
    if (SUCCEEDED(d->get_Origin(&origin))) r.origin_flags = origin;
    VARIANT_BOOL known = VARIANT_FALSE;
    LONGLONG result = 0;
    if (SUCCEEDED(d->get_ResultKnown(&known)) && known && SUCCEEDED(d->get_Result(&result))) {
      r.result_known = true;
      r.result = result;
    }
    LONGLONG w64 = 0, l64 = 0;
    if (SUCCEEDED(d->get_WParam64(&w64))) r.wParam = w64;
    if (SUCCEEDED(d->get_LParam64(&l64))) r.lParam = l64;
    long lost = 0;
    if (SUCCEEDED(d->get_LostBefore(&lost))) r.lost_before = lost;
    long kind = 0, count = 0;
    if (SUCCEEDED(d->get_DataKind(&kind)) && kind != kDataNone) {
      auto copied = std::make_shared<CopiedData>();
      CopiedData& data = *copied;
      data.kind = kind;
      if (SUCCEEDED(d->get_DataCount(&count)))
        for (long i = 0; i < count && i < 64; ++i) {
          LONGLONG v = 0;
          if (FAILED(d->get_DataValue(i, &v))) break;
          data.values.push_back(v);
        }
      BSTR text = nullptr;
      if (SUCCEEDED(d->get_DataText(&text)) && text) data.text.assign(text, SysStringLen(text));
      SysFreeString(text);
      if (kind == kDataCopyData) {
        VARIANT bytes;
        VariantInit(&bytes);
        if (SUCCEEDED(d->get_DataBytes(&bytes)) && bytes.vt == (VT_ARRAY | VT_UI1) && bytes.parray) {
          void* raw = nullptr;
          LONG lo = 0, hi = -1;
          SafeArrayGetLBound(bytes.parray, 1, &lo);
          SafeArrayGetUBound(bytes.parray, 1, &hi);
          if (hi >= lo && SUCCEEDED(SafeArrayAccessData(bytes.parray, &raw))) {
            data.bytes.assign(static_cast<uint8_t*>(raw), static_cast<uint8_t*>(raw) + (hi - lo + 1));
            SafeArrayUnaccessData(bytes.parray);
          }
        }
        VariantClear(&bytes);
      }
      r.data = std::move(copied);
    }
    TakeFamilyWindow(source, r);
    if (timed && r.day_ms >= 0) return r;
  }
  // What the window object did not tell: Snoopet's own clocks.
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  r.ms = static_cast<double>(now.QuadPart - source.start.QuadPart) * 1000.0 /
         static_cast<double>(source.frequency.QuadPart ? source.frequency.QuadPart : 1);
  if (r.day_ms < 0) {
    SYSTEMTIME st;
    GetLocalTime(&st);
    r.day_ms = ((st.wHour * 60 + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
  }
  if (!delivering && source.own_thread) {
    // A window of this thread: the message is being delivered right now, here, so its origin
    // and what lParam points to can be read directly.
    r.origin_flags = static_cast<long>(InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK | ISMEX_REPLIED));
    CopiedData data = CopyLocalData(static_cast<uint32_t>(msg), static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    if (data.kind != kDataNone) r.data = std::make_shared<const CopiedData>(std::move(data));
  }
  return r;
}

void TakeFamilyWindow(const RecordSource& source, LogRecord& r) {
  if (!source.family || !source.details) return;
  r.family = true;
  LONG w = 0;
  if (FAILED(source.details->get_Window(&w))) return;
  const auto key = static_cast<uint32_t>(w);
  r.window = static_cast<int64_t>(key);
  auto& known = source.family->by_window[key];
  if (!known) {
    BSTR cls = nullptr;
    std::wstring name;
    if (SUCCEEDED(source.details->get_WindowClass(&cls)) && cls) name.assign(cls, SysStringLen(cls));
    SysFreeString(cls);
    known = std::make_shared<const std::wstring>(std::move(name));
  }
  r.class_name = known;
}

bool WindowOf32BitProgram(HWND window) {
  if (sizeof(void*) == 4) {
    // This program is a 32-bit one: its own windows are too, and so is everything on a 32-bit system.
    BOOL self_wow = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &self_wow) || !self_wow) return true;
  }
  DWORD pid = 0;
  if (!window || !GetWindowThreadProcessId(window, &pid)) return sizeof(void*) == 4;
  if (pid == GetCurrentProcessId()) return sizeof(void*) == 4;
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return false;
  BOOL wow = FALSE;
  const bool is32 = IsWow64Process(p, &wow) && wow;
  CloseHandle(p);
  return is32;
}

HRESULT WatchThrough(_HookwireWindow* window, const MessageFilter& filter) {
  constexpr LONG kAll = 0xFFFF;
  if (!filter.Active()) return window->put_WatchMessage(kAll, VARIANT_TRUE);
  HRESULT hr = window->put_WatchMessage(kAll, VARIANT_FALSE);
  for (uint32_t m = 0; m < 0xFFFF && SUCCEEDED(hr); ++m)
    if (filter.Watches(m)) hr = window->put_WatchMessage(static_cast<LONG>(m), VARIANT_TRUE);
  return hr;
}

}  // namespace spy
