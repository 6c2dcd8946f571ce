#include "runtime_error.h"

#include "com_ptr.h"

namespace common {

RuntimeError::RuntimeError(long number, std::wstring source, std::wstring description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {
  if (description_.empty()) description_ = StandardDescription(number_);
}

HRESULT RuntimeError::hresult() const noexcept {
  if (number_ > 0 && number_ < 0x10000) return static_cast<HRESULT>(0x800A0000UL | static_cast<unsigned long>(number_));
  if (number_ < 0) return static_cast<HRESULT>(number_);
  return E_FAIL;
}

std::wstring StandardDescription(long number) {
  switch (number) {
    case errInvalidArgument: return L"Invalid procedure call or argument";
    case errOverflow: return L"Overflow";
    case errSubscriptOutOfRange: return L"Subscript out of range";
    case errObjectNotSet: return L"Object variable or With block variable not set";
    case errDuplicateKey: return L"This key is already associated with an element of this collection";
    case errObjectDoesNotSupport: return L"Object doesn't support this property or method";
    default: break;
  }
  if (number < 0) {
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(number), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring s;
    if (n && text) {
      s.assign(text, n);
      while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r' || s.back() == L' ')) s.pop_back();
    }
    if (text) LocalFree(text);
    if (!s.empty()) return s;
    wchar_t buf[32];
    wsprintfW(buf, L"Automation error 0x%08lX", static_cast<unsigned long>(number));
    return buf;
  }
  return L"Application-defined or object-defined error";
}

void Raise(long number, const std::wstring& source, const std::wstring& description) {
  throw RuntimeError(number, source, description);
}

namespace {

// The error information on the thread, taken away; with an object to ask, used only when the
// object reports through it for iid, so stale information from an earlier error is not shown.
void RaiseChecked(HRESULT hr, IUnknown* object, const IID* iid, const wchar_t* source) {
  long number = static_cast<long>(hr);
  // Errors in the control facility carry a run-time error number in their low word.
  if ((static_cast<unsigned long>(hr) & 0xFFFF0000UL) == 0x800A0000UL) number = hr & 0xFFFF;
  std::wstring src = source ? source : L"";
  std::wstring desc;
  com_ptr<IErrorInfo> info;
  const bool have_info = GetErrorInfo(0, info.put()) == S_OK && info;
  bool use_info = have_info && !iid;  // no object to ask: as before
  if (have_info && iid && object) {
    com_ptr<ISupportErrorInfo> support;
    use_info = SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, support.put_void())) && support &&
                support->InterfaceSupportsErrorInfo(*iid) == S_OK;
  }
  if (use_info) {
    BSTR b = nullptr;
    if (SUCCEEDED(info->GetDescription(&b)) && b) desc.assign(b, SysStringLen(b));
    SysFreeString(b);
    b = nullptr;
    if (SUCCEEDED(info->GetSource(&b)) && b && SysStringLen(b)) src.assign(b, SysStringLen(b));
    SysFreeString(b);
  }
  throw RuntimeError(number, src, desc);
}

}  // namespace

void Check(HRESULT hr, const wchar_t* source) {
  if (SUCCEEDED(hr)) return;
  RaiseChecked(hr, nullptr, nullptr, source);
}

void Check(HRESULT hr, IUnknown* object, REFIID iid, const wchar_t* source) {
  if (SUCCEEDED(hr)) return;
  RaiseChecked(hr, object, &iid, source);
}

HRESULT ReportError(const RuntimeError& e, REFGUID iid) noexcept {
  com_ptr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(e.source().c_str()));
    create->SetDescription(const_cast<LPOLESTR>(e.description().c_str()));
    com_ptr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())))) SetErrorInfo(0, info.get());
  }
  return e.hresult();
}

HRESULT ReportUnexpected(const wchar_t* source, REFGUID iid) noexcept {
  try {
    return ReportError(RuntimeError(static_cast<long>(E_UNEXPECTED), source, L"Unexpected failure"), iid);
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace common
