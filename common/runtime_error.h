// One error type for everything our components raise, and its mapping to COM.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <stdexcept>
#include <string>

namespace common {

// Error numbers raised by the components themselves (control facility HRESULTs).
enum ErrorNumber : long {
  errInvalidArgument = 5,
  errOverflow = 6,
  errSubscriptOutOfRange = 9,
  errObjectNotSet = 91,
  errDuplicateKey = 457,
  errObjectDoesNotSupport = 438,
};

// A run-time error: a number, a source and a description. Numbers below 0x10000
// are the component's own; anything else is a failure HRESULT passed through.
class RuntimeError : public std::exception {
 public:
  RuntimeError(long number, std::wstring source, std::wstring description);
  long number() const noexcept { return number_; }
  const std::wstring& source() const noexcept { return source_; }
  const std::wstring& description() const noexcept { return description_; }
  // The HRESULT a COM client sees for this error.
  HRESULT hresult() const noexcept;
  const char* what() const noexcept override { return "run-time error"; }

 private:
  long number_;
  std::wstring source_;
  std::wstring description_;
};

// The standard description of one of the numbers above ("Overflow", ...).
std::wstring StandardDescription(long number);

[[noreturn]] void Raise(long number, const std::wstring& source, const std::wstring& description = {});

// Tests an HRESULT at once: on failure raises a RuntimeError carrying the error information on
// the thread (if any) or a text from the system. Nothing asks whether that information belongs
// to this failure: for a call on an object, use the overload below.
void Check(HRESULT hr, const wchar_t* source);
// The same for a failed call of interface iid on object: the error information the object left
// is used only when the object says (ISupportErrorInfo) that this interface reports through it;
// otherwise it is taken off the thread unread, so a stale description is never shown.
void Check(HRESULT hr, IUnknown* object, REFIID iid, const wchar_t* source);

// Turns the error into error information for the current thread and returns its HRESULT.
HRESULT ReportError(const RuntimeError& e, REFGUID iid) noexcept;
// The same for anything else that reached a COM boundary.
HRESULT ReportUnexpected(const wchar_t* source, REFGUID iid) noexcept;

}  // namespace common

// Wraps the body of a COM method: every failure becomes an HRESULT with error information.
#define COM_METHOD_BEGIN try {
#define COM_METHOD_END(source, iid)                          \
  }                                                          \
  catch (const ::common::RuntimeError& e) {                  \
    return ::common::ReportError(e, iid);                    \
  }                                                          \
  catch (...) {                                              \
    return ::common::ReportUnexpected(source, iid);          \
  }                                                          \
  return S_OK;
