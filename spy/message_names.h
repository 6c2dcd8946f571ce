// The message-name table (one upper-case name per message number below 1024, read from
// the WinMsg enumeration of the Hookwire type library) and the text of one log line.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstdint>
#include <string>

namespace spy {

class MessageNames {
 public:
  static constexpr int32_t kCount = 1024;

  // Reads the registered Hookwire type library (1.0, locale 0) and fills the table from
  // its enumeration "WinMsg". Raises a run-time error when any of that fails.
  void LoadRegistered();
  // Fills the table from the enumeration "WinMsg" of the given library, in member order:
  // a later member with the same value replaces an earlier one; values of 1024 and up are
  // skipped; a negative value raises error 9.
  void Load(ITypeLib* library);

  // The log line: the name (or, from 1024 up, the hexadecimal number), ", ", wParam, ", ",
  // lParam. A negative msg raises error 9 (subscript out of range).
  std::wstring FormatLine(int32_t msg, LONG_PTR wParam, LONG_PTR lParam) const;
  // The same line with wParam and lParam as signed decimal numbers ("WM_SIZE, 0, 31457920").
  std::wstring FormatDecimalLine(int32_t msg, LONG_PTR wParam, LONG_PTR lParam) const;

  const std::wstring& Name(int32_t msg) const;

 private:
  std::array<std::wstring, kCount> names_;
};

}  // namespace spy
