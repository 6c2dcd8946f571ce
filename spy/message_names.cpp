#include "message_names.h"

#include <cwctype>

#include "com_ptr.h"
#include "hex.h"
#include "hookwire_h.h"
#include "runtime_error.h"

using common::com_ptr;
using common::unique_bstr;

namespace spy {

namespace {

constexpr const wchar_t* kSource = L"Snoopet";

// Releases what ITypeInfo lends out.
struct TypeAttrHolder {
  ITypeInfo* info;
  TYPEATTR* attr = nullptr;
  ~TypeAttrHolder() {
    if (attr) info->ReleaseTypeAttr(attr);
  }
};
struct VarDescHolder {
  ITypeInfo* info;
  VARDESC* desc = nullptr;
  ~VarDescHolder() {
    if (desc) info->ReleaseVarDesc(desc);
  }
};

bool SameTextIgnoringCase(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

// The enumeration with this name among the library's type descriptions.
com_ptr<ITypeInfo> FindEnumeration(ITypeLib* library, const wchar_t* name) {
  UINT count = library->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    TYPEKIND kind;
    if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_ENUM) continue;
    unique_bstr n;
    common::Check(library->GetDocumentation(static_cast<INT>(i), n.put(), nullptr, nullptr, nullptr), kSource);
    if (n.get() && SameTextIgnoringCase(n.get(), name)) {
      com_ptr<ITypeInfo> info;
      common::Check(library->GetTypeInfo(i, info.put()), kSource);
      return info;
    }
  }
  common::Raise(common::errSubscriptOutOfRange, kSource, std::wstring(L"The type library has no enumeration ") + name);
}

}  // namespace

namespace {

// Appends a parameter as the log writes it: the 32-bit rules (upper case, no prefix, no leading
// zeros, a negative value as eight digits); a 64-bit value that is not a sign-extended 32-bit one
// keeps all its significant digits. No string of its own: the log's line is made for every message.
void AppendParamHex(std::wstring& out, LONG_PTR value) {
  static const wchar_t digits[] = L"0123456789ABCDEF";
  const bool narrow = value == static_cast<LONG_PTR>(static_cast<int32_t>(value));
  auto v = narrow ? static_cast<unsigned long long>(static_cast<uint32_t>(value)) : static_cast<unsigned long long>(value);
  wchar_t buf[16];
  size_t i = 16;
  do {
    buf[--i] = digits[v & 0xF];
    v >>= 4;
  } while (v);
  out.append(buf + i, 16 - i);
}

}  // namespace

void MessageNames::LoadRegistered() {
  com_ptr<ITypeLib> library;
  common::Check(LoadRegTypeLib(LIBID_Hookwire, 1, 0, 0, library.put()), kSource);
  Load(library.get());
}

void MessageNames::Load(ITypeLib* library) {
  com_ptr<ITypeInfo> winmsg = FindEnumeration(library, L"WinMsg");
  TypeAttrHolder attr{winmsg.get()};
  common::Check(winmsg->GetTypeAttr(&attr.attr), kSource);
  for (WORD i = 0; i < attr.attr->cVars; ++i) {
    VarDescHolder var{winmsg.get()};
    common::Check(winmsg->GetVarDesc(i, &var.desc), kSource);
    if (var.desc->varkind != VAR_CONST || !var.desc->lpvarValue)
      common::Raise(13, kSource, L"Type mismatch");
    // The value is compared as a number first, converted to a 32-bit integer second.
    VARIANT number;
    VariantInit(&number);
    common::Check(VariantChangeType(&number, var.desc->lpvarValue, 0, VT_R8), kSource);
    if (!(number.dblVal < kCount)) continue;
    VARIANT value;
    VariantInit(&value);
    common::Check(VariantChangeType(&value, var.desc->lpvarValue, 0, VT_I4), kSource);
    const int32_t n = value.lVal;
    unique_bstr name;
    UINT got = 0;
    common::Check(winmsg->GetNames(var.desc->memid, name.put(), 1, &got), kSource);
    std::wstring upper(name.get() ? name.get() : L"", name.length());
    for (auto& ch : upper) ch = static_cast<wchar_t>(std::towupper(ch));
    if (n < 0) common::Raise(common::errSubscriptOutOfRange, kSource);
    names_[static_cast<size_t>(n)] = std::move(upper);
  }
}

const std::wstring& MessageNames::Name(int32_t msg) const {
  if (msg < 0 || msg >= kCount) common::Raise(common::errSubscriptOutOfRange, kSource);
  return names_[static_cast<size_t>(msg)];
}

std::wstring MessageNames::FormatLine(int32_t msg, LONG_PTR wParam, LONG_PTR lParam) const {
  std::wstring line;
  if (msg < kCount) {
    const std::wstring& name = Name(msg);  // raises for a negative number, as the table read does
    line.reserve(name.size() + 36);
    line += name;
  } else {
    line.reserve(44);
    AppendParamHex(line, msg);
  }
  line += L", ";
  AppendParamHex(line, wParam);
  line += L", ";
  AppendParamHex(line, lParam);
  return line;
}

std::wstring MessageNames::FormatDecimalLine(int32_t msg, LONG_PTR wParam, LONG_PTR lParam) const {
  // The same first field; the parameters as signed decimal numbers of their width.
  std::wstring line = FormatLine(msg, 0, 0);
  line.resize(line.size() - 6);  // ", 0, 0"
  return line + L", " + std::to_wstring(static_cast<long long>(wParam)) + L", " +
         std::to_wstring(static_cast<long long>(lParam));
}

}  // namespace spy
