// What the window object reports about each delivery (IhkMessageDetails, as the type library
// declares it) reaches the records: a window object that reports chosen values stands in for
// Hookwire's.
#include "spy_fixture.h"
#include "stand_in.h"

#include <cstring>

namespace spy_test {
namespace {

using DetailsSource = SpyTest;
using testing_support::TestWindow;

// The values reported for the message being delivered.
struct Delivery {
  bool delivering = true;
  double ms = 0;
  DATE time = 0;
  long origin = 0;
  bool result_known = false;
  LONGLONG result = 0;
  LONGLONG wparam = 0, lparam = 0;
  long lost = 0;
  long kind = 0;
  std::vector<LONGLONG> values;
  std::wstring text;
  std::vector<BYTE> bytes;
};

class ReportedDetails final
    : public testing_support::StandIn<IhkMessageDetails, IID_IhkMessageDetails, IID_IhkCaptureInfo> {
 public:
  Delivery now;
  HRESULT STDMETHODCALLTYPE get_LostMessages(LONG* v) override { *v = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE get_CaptureEnded(VARIANT_BOOL* v) override { *v = VARIANT_FALSE; return S_OK; }
  HRESULT STDMETHODCALLTYPE get_EndReason(LONG* v) override { *v = 0; return S_OK; }
  HRESULT STDMETHODCALLTYPE get_Delivering(VARIANT_BOOL* v) override {
    *v = now.delivering ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  // Outside a delivery everything else is run-time error 5, as the type library says.
  HRESULT Refuse() const { return now.delivering ? S_OK : static_cast<HRESULT>(0x800A0005UL); }
  HRESULT STDMETHODCALLTYPE get_Milliseconds(double* v) override { *v = now.ms; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_Time(DATE* v) override { *v = now.time; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_Origin(LONG* v) override { *v = now.origin; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_ResultKnown(VARIANT_BOOL* v) override {
    *v = now.result_known ? VARIANT_TRUE : VARIANT_FALSE;
    return Refuse();
  }
  HRESULT STDMETHODCALLTYPE get_Result(hyper* v) override { *v = now.result; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_WParam64(hyper* v) override { *v = now.wparam; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_LParam64(hyper* v) override { *v = now.lparam; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_LostBefore(LONG* v) override { *v = now.lost; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_DataKind(LONG* v) override { *v = now.kind; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_DataCount(LONG* v) override { *v = static_cast<LONG>(now.values.size()); return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_DataValue(LONG i, hyper* v) override {
    if (i < 0 || static_cast<size_t>(i) >= now.values.size()) return static_cast<HRESULT>(0x800A0009UL);
    *v = now.values[static_cast<size_t>(i)];
    return Refuse();
  }
  HRESULT STDMETHODCALLTYPE get_DataText(BSTR* v) override {
    *v = SysAllocStringLen(now.text.data(), static_cast<UINT>(now.text.size()));
    return Refuse();
  }
  HRESULT STDMETHODCALLTYPE get_DataBytes(VARIANT* v) override {
    VariantInit(v);
    SAFEARRAY* a = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(now.bytes.size()));
    void* p = nullptr;
    SafeArrayAccessData(a, &p);
    if (!now.bytes.empty()) std::memcpy(p, now.bytes.data(), now.bytes.size());
    SafeArrayUnaccessData(a);
    v->vt = VT_ARRAY | VT_UI1;
    v->parray = a;
    return Refuse();
  }
  HRESULT STDMETHODCALLTYPE get_Target64Bit(VARIANT_BOOL* v) override { *v = VARIANT_FALSE; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_Window(LONG* v) override { *v = 0; return Refuse(); }
  HRESULT STDMETHODCALLTYPE get_WindowClass(BSTR* v) override { *v = nullptr; return Refuse(); }
};

// Takes the sink and hands it messages as a capture would.
class ReportingWindow final : public testing_support::StandInWindow {
 public:
  ReportedDetails details;
  IhkMessageSink* sink = nullptr;
  LONG hwnd = 0;

  void Deliver(UINT msg, LONG_PTR wp, LONG_PTR lp) {
    LONG_PTR result = 0;
    if (sink) sink->Message(static_cast<LONG>(msg), wp, lp, &result);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out && (iid == IID_IhkMessageDetails || iid == IID_IhkCaptureInfo)) return details.QueryInterface(iid, out);
    return StandInWindow::QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE get_hWnd(LONG* v) override { *v = hwnd; return S_OK; }
  HRESULT STDMETHODCALLTYPE put_hWnd(LONG v) override { hwnd = v; return S_OK; }
  HRESULT STDMETHODCALLTYPE putref_MessageSink(IhkMessageSink* s) override { sink = s; return S_OK; }
};

TEST_F(DetailsSource, WhatTheWindowObjectReportsFillsTheRecordAndTheDecoding) {
  TestWindow target(nullptr, L"Target");
  auto& w = Open();
  SelectNode(w.FindNode(KeyOf(target.hwnd())));
  ReportingWindow reporting;
  w.ReplaceSpyWindow(common::com_ptr<_HookwireWindow>(&reporting));
  ClickToolbar(1);
  ASSERT_NE(nullptr, reporting.sink);

  // A window position, sent by another program that has its answer already; parameters wider
  // than 32 bits, three messages lost before it.
  Delivery& d = reporting.details.now;
  SYSTEMTIME st{2026, 12, 3, 9, 10, 11, 12, 0};
  SystemTimeToVariantTime(&st, &d.time);
  d.time += 845.0 / 86400000.0;  // more than half a second: no rounding up to 12
  d.ms = 1234.5;
  d.origin = 1 | 8;
  d.result_known = true;
  d.result = 0x7F;
  d.wparam = 0x100000002LL;
  d.lparam = 0x2000000010LL;
  d.lost = 3;
  d.kind = spy::kDataWindowPos;
  d.values = {0x1234, 0, 10, 20, 300, 200, SWP_NOZORDER | SWP_NOACTIVATE};
  reporting.Deliver(WM_WINDOWPOSCHANGED, 2, 0x10);

  // The loss gets its line before the message.
  ASSERT_EQ(2u, w.store().size());
  EXPECT_EQ(spy::RecordKind::Loss, w.store().At(0)->kind);
  EXPECT_EQ(L"--- 3 messages not captured", ShownLines(w).front());
  const spy::LogRecord& r = *w.store().At(1);
  const spy::RecordText t = spy::Describe(r, w.decoder());
  EXPECT_EQ(1234.5, r.ms);
  EXPECT_EQ(L"10:11:12.845", t.clock);
  EXPECT_EQ(L"sent by another thread, already replied", t.origin);
  EXPECT_EQ(sizeof(void*) == 8 ? L"0x7F" : L"0x0000007F", t.result) << "a 32-bit program's in eight digits";
  EXPECT_EQ(0x100000002LL, r.wParam);
  EXPECT_EQ(0x2000000010LL, r.lParam);
  EXPECT_EQ(3, r.lost_before);
  EXPECT_EQ(L"WM_WINDOWPOSCHANGED", t.name);
  EXPECT_EQ(L"x=10 y=20 cx=300 cy=200, SWP_NOZORDER | SWP_NOACTIVATE, after NULL", t.details);
  EXPECT_EQ(L"WM_WINDOWPOSCHANGED, 2, 10", ShownLines(w).back()) << "the line keeps the sink's parameters";
  const std::wstring pane = spy::DetailsText(r, w.decoder());
  EXPECT_NE(std::wstring::npos, pane.find(L"Lost before:\t3 messages"));
  // Full width for this build's own window; a 32-bit program's in its eight digits.
  EXPECT_NE(std::wstring::npos, pane.find(sizeof(void*) == 8 ? L"wParam:\t0x100000002" : L"wParam:\t0x00000002"));

  // A block of data, its first bytes as an array; a text.
  d = Delivery{};
  d.kind = spy::kDataCopyData;
  d.values = {0x55, 4};
  d.bytes = {1, 2, 0xAB, 4};
  reporting.Deliver(WM_COPYDATA, 0, 0);
  EXPECT_EQ(L"NULL; dwData 0x55, 4 bytes: 01 02 AB 04", spy::Describe(*w.store().At(2), w.decoder()).details);
  d = Delivery{};
  d.kind = spy::kDataText;
  d.text = L"returned text";
  d.wparam = 64;
  reporting.Deliver(WM_GETTEXT, 64, 0);
  EXPECT_EQ(L"64; \"returned text\"", spy::Describe(*w.store().At(3), w.decoder()).details);

  // Outside a delivery nothing is taken from it: Snoopet's own clock, the rest blank.
  d = Delivery{};
  d.delivering = false;
  d.origin = 1;
  d.ms = 99999;
  reporting.Deliver(WM_USER, 0, 0);
  EXPECT_NE(99999, w.store().At(4)->ms);
  const spy::RecordText own = spy::Describe(*w.store().At(4), w.decoder());
  EXPECT_EQ(L"posted, or sent by the window's own thread", own.origin)
      << "the target is a window of this thread: Snoopet knows that much itself";
  EXPECT_FALSE(own.clock.empty());
  EXPECT_TRUE(own.result.empty());
  w.ReplaceSpyWindow(nullptr);
}

}  // namespace
}  // namespace spy_test
