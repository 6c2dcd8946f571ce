// Arguments for late-bound calls: VARIANTs that borrow what they carry (nothing to clear).
#pragma once
#include <windows.h>
#include <oaidl.h>

namespace common {

inline VARIANT LongArg(LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

inline VARIANT DoubleArg(double value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_R8;
  V_R8(&v) = value;
  return v;
}

// Does not take ownership of the string.
inline VARIANT TextArg(BSTR value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = value;
  return v;
}

// Does not add a reference.
inline VARIANT ObjectArg(IDispatch* value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = value;
  return v;
}

// A by-reference argument: the callee reads and may change *value.
inline VARIANT RefArg(VARIANT* value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&v) = value;
  return v;
}

}  // namespace common
