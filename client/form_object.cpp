#include "form_object.h"

#include <algorithm>
#include <cwctype>

#include "runtime_error.h"

using common::com_ptr;
using common::Raise;

namespace client {

namespace {

constexpr DISPID kDispCaption = 1, kDispName = 2, kDispIndex = 3, kDispChecked = 4, kDispEnabled = 5;
constexpr DISPID kDispHwnd = 1, kDispCount = 1;
constexpr long errControlNotFound = 730;
constexpr long errNoSuchElement = 340;
const wchar_t kFormClass[] = L"GlypharyClientForm";

std::string Ansi(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring Lower(std::wstring s) {
  for (wchar_t& c : s) c = static_cast<wchar_t>(std::towlower(c));
  return s;
}

bool IsGet(WORD flags) { return flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD); }
bool IsPut(WORD flags) { return flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF); }

}  // namespace

// --- MenuControl ------------------------------------------------------------------------

MenuControl::MenuControl(HWND form, HMENU parent, UINT id, HMENU sub, std::wstring name, LONG index,
                         const std::wstring& caption)
    : AutomationObject(L"MenuControl"),
      form_(form),
      parent_(parent),
      id_(id),
      sub_(sub),
      name_(std::move(name)),
      index_(index),
      caption_(caption.substr(0, caption.find(L'\t'))) {
  if (caption.find(L'\t') != std::wstring::npos) shortcut_ = caption.substr(caption.find(L'\t') + 1);
}

std::wstring MenuControl::MenuText() const { return shortcut_.empty() ? caption_ : caption_ + L"\t" + shortcut_; }

const std::vector<AutomationObject::Member>& MenuControl::Members() const {
  static const std::vector<Member> members{{L"Caption", kDispCaption}, {L"Name", kDispName},
                                           {L"Index", kDispIndex},     {L"Checked", kDispChecked},
                                           {L"Enabled", kDispEnabled}, {L"Caption", DISPID_VALUE}};
  return members;
}

int MenuControl::Position() const {
  const int count = GetMenuItemCount(parent_);
  for (int i = 0; i < count; ++i) {
    if (sub_ ? GetSubMenu(parent_, i) == sub_ : GetMenuItemID(parent_, i) == id_) return i;
  }
  return -1;
}

UINT MenuControl::StateFlags() const {
  const int pos = Position();
  if (pos < 0) return 0;
  const UINT state = GetMenuState(parent_, static_cast<UINT>(pos), MF_BYPOSITION);
  return state & (MF_CHECKED | MF_GRAYED | MF_DISABLED);
}

void MenuControl::SetCaption(const std::wstring& caption) {
  caption_ = caption;
  const int pos = Position();
  if (pos < 0) return;
  // The item becomes a text item again (an owner-drawn one included) and keeps its item data.
  const std::string text = Ansi(MenuText());
  const UINT flags = MF_BYPOSITION | MF_STRING | StateFlags() | (sub_ ? MF_POPUP : 0);
  ModifyMenuA(parent_, static_cast<UINT>(pos), flags, sub_ ? reinterpret_cast<UINT_PTR>(sub_) : id_, text.c_str());
  if (parent_ == GetMenu(form_)) DrawMenuBar(form_);
}

void MenuControl::SetChecked(bool checked) {
  const int pos = Position();
  if (pos >= 0) CheckMenuItem(parent_, static_cast<UINT>(pos), MF_BYPOSITION | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void MenuControl::SetEnabled(bool enabled) {
  const int pos = Position();
  if (pos >= 0) EnableMenuItem(parent_, static_cast<UINT>(pos), MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
}

void MenuControl::Dispatch(DISPID id, WORD flags, const std::vector<const VARIANT*>& args, VARIANT* result) {
  switch (id) {
    case DISPID_VALUE:
    case kDispCaption:
      if (IsPut(flags)) {
        RequireArgs(args, 1, source());
        SetCaption(ArgText(args[0], source()));
      } else {
        ReturnText(result, caption_);
      }
      return;
    case kDispName:
      ReturnText(result, name_);
      return;
    case kDispIndex:
      if (index_ == kNoIndex) Raise(343, source(), L"Object not an array");
      ReturnLong(result, index_);
      return;
    case kDispChecked:
      if (IsPut(flags)) {
        RequireArgs(args, 1, source());
        SetChecked(ArgBool(args[0], source()));
      } else {
        ReturnBool(result, (StateFlags() & MF_CHECKED) != 0);
      }
      return;
    case kDispEnabled:
      if (IsPut(flags)) {
        RequireArgs(args, 1, source());
        SetEnabled(ArgBool(args[0], source()));
      } else {
        ReturnBool(result, (StateFlags() & MF_GRAYED) == 0);
      }
      return;
    default:
      Raise(common::errObjectDoesNotSupport, source());
  }
}

// --- ControlArray ------------------------------------------------------------------------

ControlArray::ControlArray(std::wstring name) : AutomationObject(L"ControlArray"), name_(std::move(name)) {}

void ControlArray::Add(const com_ptr<MenuControl>& control) { elements_[control->Index()] = control; }

MenuControl* ControlArray::Element(LONG index) const {
  auto it = elements_.find(index);
  return it == elements_.end() ? nullptr : it->second.get();
}

const std::vector<AutomationObject::Member>& ControlArray::Members() const {
  static const std::vector<Member> members{{L"Item", DISPID_VALUE}, {L"Count", kDispCount}};
  return members;
}

void ControlArray::Dispatch(DISPID id, WORD flags, const std::vector<const VARIANT*>& args, VARIANT* result) {
  if (id == kDispCount) {
    ReturnLong(result, static_cast<LONG>(elements_.size()));
    return;
  }
  if (!IsGet(flags)) Raise(common::errObjectDoesNotSupport, source());
  RequireArgs(args, 1, source());
  MenuControl* c = Element(ArgLong(args[0], source()));
  if (!c) Raise(errNoSuchElement, source(), L"Control array element '" + name_ + L"' doesn't exist");
  ReturnObject(result, c);
}

// --- FormObject ------------------------------------------------------------------------------

FormObject::FormObject() : AutomationObject(L"Form") {}

com_ptr<FormObject> FormObject::Create(const wchar_t* caption) {
  static const ATOM atom = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kFormClass;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    return RegisterClassW(&wc);
  }();
  (void)atom;
  com_ptr<FormObject> form(new FormObject(), false);
  form->hwnd_ = CreateWindowExW(0, kFormClass, caption, WS_OVERLAPPEDWINDOW, 40, 40, 480, 320, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  return form;
}

FormObject::~FormObject() { Close(); }

void FormObject::Show() {
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  SetForegroundWindow(hwnd_);
}

void FormObject::Close() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  bar_ = nullptr;
}

MenuControl* FormObject::Add(HMENU parent, const wchar_t* name, const wchar_t* caption, LONG index, UINT flags,
                             HMENU sub) {
  if (!parent) {
    if (!bar_) {
      bar_ = CreateMenu();
      SetMenu(hwnd_, bar_);
    }
    parent = bar_;
  }
  const UINT id = sub ? 0 : next_id_++;
  const std::string text = Ansi(caption ? caption : L"");
  AppendMenuA(parent, flags, sub ? reinterpret_cast<UINT_PTR>(sub) : id, (flags & MF_SEPARATOR) ? nullptr : text.c_str());
  com_ptr<MenuControl> control(new MenuControl(hwnd_, parent, id, sub, name, index, caption ? caption : L""), false);
  const std::wstring key = Lower(name);
  if (index == kNoIndex) {
    singles_[key] = control;
  } else {
    com_ptr<ControlArray>& array = arrays_[key];
    if (!array) array = com_ptr<ControlArray>(new ControlArray(name), false);
    array->Add(control);
  }
  if (parent == bar_) DrawMenuBar(hwnd_);
  return control.get();
}

MenuControl* FormObject::AddPopup(HMENU parent, const wchar_t* name, const wchar_t* caption, LONG index) {
  return Add(parent, name, caption, index, MF_STRING | MF_POPUP, CreatePopupMenu());
}

MenuControl* FormObject::AddItem(HMENU parent, const wchar_t* name, const wchar_t* caption, LONG index) {
  return Add(parent, name, caption, index, MF_STRING, nullptr);
}

MenuControl* FormObject::AddSeparator(HMENU parent, const wchar_t* name, LONG index) {
  return Add(parent, name, L"-", index, MF_SEPARATOR, nullptr);
}

MenuControl* FormObject::Control(const std::wstring& name, LONG index) const {
  const std::wstring key = Lower(name);
  if (index == kNoIndex) {
    auto it = singles_.find(key);
    return it == singles_.end() ? nullptr : it->second.get();
  }
  auto it = arrays_.find(key);
  return it == arrays_.end() ? nullptr : it->second->Element(index);
}

const std::vector<AutomationObject::Member>& FormObject::Members() const {
  static const std::vector<Member> members{{L"hwnd", kDispHwnd}, {L"Controls", DISPID_VALUE}};
  return members;
}

void FormObject::Dispatch(DISPID id, WORD flags, const std::vector<const VARIANT*>& args, VARIANT* result) {
  if (id == kDispHwnd) {
    if (!IsGet(flags)) Raise(common::errObjectDoesNotSupport, source());
    ReturnLong(result, static_cast<LONG>(reinterpret_cast<LONG_PTR>(hwnd_)));
    return;
  }
  // The default member: a menu control, or a control array, by name.
  RequireArgs(args, 1, source());
  const std::wstring name = ArgText(args[0], source());
  const std::wstring key = Lower(name);
  if (auto it = singles_.find(key); it != singles_.end()) return ReturnObject(result, it->second.get());
  if (auto it = arrays_.find(key); it != arrays_.end()) return ReturnObject(result, it->second.get());
  Raise(errControlNotFound, source(), L"Control '" + name + L"' not found");
}

}  // namespace client
