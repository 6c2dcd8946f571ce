// Check takes an object's error information only when the object reports through it for the
// interface that failed; information left from an earlier error is never shown for a later one.
#include <gtest/gtest.h>

#include <functional>

#include "com_ptr.h"
#include "runtime_error.h"

namespace {

void LeaveErrorInfo(const wchar_t* description) {
  common::com_ptr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.put()));
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetSource(const_cast<LPOLESTR>(L"Elsewhere"));
  common::com_ptr<IErrorInfo> info;
  ASSERT_EQ(S_OK, create->QueryInterface(IID_IErrorInfo, info.put_void()));
  SetErrorInfo(0, info.get());
}

// An object that reports error information for IID_IDispatch only, or for nothing.
class Reporter final : public ISupportErrorInfo {
 public:
  explicit Reporter(bool supports) : supports_(supports) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || (supports_ && iid == IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == IID_IDispatch ? S_OK : S_FALSE;
  }

 private:
  bool supports_;
};

common::RuntimeError Caught(const std::function<void()>& f) {
  try {
    f();
  } catch (const common::RuntimeError& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return common::RuntimeError(0, L"", L"");
}

}  // namespace

TEST(CheckErrorInfo, ObjectsOwnInformationOnlyAndNeverAStaleOne) {
  Reporter reporting(true), silent(false);
  const HRESULT subscript = static_cast<HRESULT>(0x800A0009);

  // The object reports through error information for the failed interface: it is used.
  LeaveErrorInfo(L"the object's own words");
  auto e = Caught([&] { common::Check(subscript, &reporting, IID_IDispatch, L"Test"); });
  EXPECT_EQ(9, e.number());
  EXPECT_EQ(L"the object's own words", e.description());
  EXPECT_EQ(L"Elsewhere", e.source());

  // Not for this interface, or no ISupportErrorInfo at all: the standard text, and the stale
  // information is gone from the thread.
  for (Reporter* object : {&reporting, &silent}) {
    LeaveErrorInfo(L"stale");
    e = Caught([&] { common::Check(subscript, object, IID_IUnknown, L"Test"); });
    EXPECT_EQ(L"Subscript out of range", e.description());
    EXPECT_EQ(L"Test", e.source());
    common::com_ptr<IErrorInfo> left;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, left.put()));
  }
}
