#include "automation.h"

#include "runtime_error.h"

namespace demo {

void Invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
  if (!object) common::Raise(common::errObjectNotSet, L"GlypharyDemo");
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
    common::Raise(common::errObjectDoesNotSupport, std::wstring(L"GlypharyDemo (") + name + L")");
  InvokeId(object, id, name, flags, std::move(args), result);
}

void InvokeId(IDispatch* object, DISPID id, const wchar_t* name, WORD flags, std::vector<VARIANT> args,
              VARIANT* result) {
  if (!object) common::Raise(common::errObjectNotSet, L"GlypharyDemo");
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  EXCEPINFO excep{};
  HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &excep, nullptr);
  if (hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn) excep.pfnDeferredFillIn(&excep);
    std::wstring description = excep.bstrDescription ? excep.bstrDescription : L"";
    std::wstring source = excep.bstrSource ? excep.bstrSource : L"GlypharyDemo";
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    long number = excep.scode;
    if ((static_cast<unsigned long>(excep.scode) & 0xFFFF0000UL) == 0x800A0000UL) number = excep.scode & 0xFFFF;
    common::Raise(number, source + L" (" + name + L")", description);
  }
  common::Check(hr, name);
}

}  // namespace demo
