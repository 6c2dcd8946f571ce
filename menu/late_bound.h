// Late-bound calls on the client's automation objects (the form, its menu controls, the
// image list), by name or by dispatch id. Every failure is raised as a run-time error.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "com_ptr.h"

namespace glyphary {

// Reads the property name of obj into result. A null obj raises error 91.
void GetProperty(IDispatch* obj, const wchar_t* name, VARIANT* result, const wchar_t* source);
// The dispatch id of member name of obj, found without regard to case; error 438 when obj has
// no such member, 91 when obj is null.
DISPID MemberId(IDispatch* obj, const wchar_t* name, const wchar_t* source);
// Calls member id of obj as a method or property get with the arguments given in order.
void Call(IDispatch* obj, DISPID id, std::initializer_list<const VARIANT*> args, VARIANT* result,
          const wchar_t* source);

// Conversions as the runtime makes them: a value that does not fit raises error 6,
// one that cannot be converted at all error 13.
int32_t ToLong(const VARIANT& v, const wchar_t* source);
std::wstring ToText(const VARIANT& v, const wchar_t* source);
common::com_ptr<IDispatch> ToObject(const VARIANT& v, const wchar_t* source);

}  // namespace glyphary
