#include "capture_record.h"

#include <cmath>
#include <cwchar>

namespace spy {

std::wstring OriginText(long flags) {
  if (flags == 0) return L"posted, or sent by the window's own thread";
  std::wstring s = L"sent by another thread";
  if (flags & 2) s += L", SendNotifyMessage";
  if (flags & 4) s += L", SendMessageCallback";
  if (flags & 8) s += L", already replied";
  return s;
}

std::wstring ClockText(const SYSTEMTIME& t) {
  wchar_t buf[32];
  std::swprintf(buf, 32, L"%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  return buf;
}

LogRecord CaptureRecord(const RecordSource& source, uint64_t index, LONG msg, LONG_PTR wParam, LONG_PTR lParam,
                        const std::wstring& line) {
  LogRecord r;
  r.index = index;
  r.window = reinterpret_cast<INT_PTR>(source.target);
  r.msg = static_cast<uint32_t>(msg);
  r.wParam = wParam;
  r.lParam = lParam;
  r.line = line;
  // What Snoopet knows itself: its own clock.
  LARGE_INTEGER now, freq;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&freq);
  r.ms = static_cast<double>(now.QuadPart - source.start.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);

  CopiedData data;
  bool have_data = false;
  VARIANT_BOOL delivering = VARIANT_FALSE;
  if (source.details && SUCCEEDED(source.details->get_Delivering(&delivering)) && delivering) {
    IhkMessageDetails* d = source.details;
    double ms = 0;
    if (SUCCEEDED(d->get_Milliseconds(&ms))) r.ms = ms;
    DATE when = 0;
    if (SUCCEEDED(d->get_Time(&when)) && when >= 0) {
      // Only the time of day is shown: taken straight from the fraction of the day (the
      // platform's DATE conversion stops at whole seconds, and costs more than the message).
      const long long day_ms = std::llround(std::fmod(when, 1.0) * 86400000.0) % 86400000;
      SYSTEMTIME t{};
      t.wHour = static_cast<WORD>(day_ms / 3600000);
      t.wMinute = static_cast<WORD>(day_ms / 60000 % 60);
      t.wSecond = static_cast<WORD>(day_ms / 1000 % 60);
      t.wMilliseconds = static_cast<WORD>(day_ms % 1000);
      r.clock = ClockText(t);
    }
    long origin = 0;
    if (SUCCEEDED(d->get_Origin(&origin))) r.origin = OriginText(origin);
    VARIANT_BOOL known = VARIANT_FALSE;
    LONGLONG result = 0;
    if (SUCCEEDED(d->get_ResultKnown(&known)) && known && SUCCEEDED(d->get_Result(&result))) r.result = FullHex(result);
    LONGLONG w64 = 0, l64 = 0;
    if (SUCCEEDED(d->get_WParam64(&w64))) r.wParam = w64;
    if (SUCCEEDED(d->get_LParam64(&l64))) r.lParam = l64;
    long lost = 0;
    if (SUCCEEDED(d->get_LostBefore(&lost))) r.lost_before = lost;
    long kind = 0, count = 0;
    if (SUCCEEDED(d->get_DataKind(&kind)) && kind != kDataNone) {
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
      have_data = true;
    }
  }
  if (r.clock.empty()) {  // the window object gave no time: Snoopet's own clock
    SYSTEMTIME st;
    GetLocalTime(&st);
    r.clock = ClockText(st);
  }
  if (!delivering && source.own_thread) {
    // A window of this thread: the message is being delivered right now, here, so its origin
    // and what lParam points to can be read directly.
    r.origin = OriginText(static_cast<long>(InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK | ISMEX_REPLIED)));
    data = CopyLocalData(static_cast<uint32_t>(msg), static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    have_data = data.kind != kDataNone;
  }
  r.name = source.decoder->Name(r.msg, source.class_name);
  MessageFacts facts{r.msg, r.wParam, r.lParam, source.class_name, have_data ? &data : nullptr};
  r.details = source.decoder->Decode(facts);
  return r;
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
