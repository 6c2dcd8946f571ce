// Late-bound calls by name, as a script or a Basic client makes them.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include <vector>

#include "com_ptr.h"
#include "variant_args.h"

namespace demo {

// Calls member name of object with args in call order (flags: DISPATCH_METHOD, DISPATCH_PROPERTYGET,
// DISPATCH_PROPERTYPUT or DISPATCH_PROPERTYPUTREF). Raises a RuntimeError carrying the object's error.
void Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result = nullptr);

// The same for a member known by its dispatch id (DISPID_VALUE: the default member).
void InvokeId(IDispatch* object, DISPID id, const wchar_t* what, WORD flags, std::vector<VARIANT> args,
              VARIANT* result = nullptr);

using common::LongArg;
using common::ObjectArg;
using common::TextArg;

}  // namespace demo
