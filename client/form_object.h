// A client form as the menu component reads it late-bound: a real top-level window with a
// real menu bar, its "hwnd", and its menu controls by name (DISPID 0), single or in control
// arrays indexed like the controls' Index. A menu control's "Caption" is its own; setting it
// changes the item's text with the platform's menu functions.
#pragma once
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "automation_object.h"
#include "com_ptr.h"

namespace client {

constexpr LONG kNoIndex = -842150451;  // a control that is no element of a control array

class MenuControl final : public AutomationObject {
 public:
  // caption may carry a TAB and a shortcut text: the shortcut goes into the menu text only.
  MenuControl(HWND form, HMENU parent, UINT id, HMENU sub, std::wstring name, LONG index, const std::wstring& caption);

  const std::wstring& Name() const { return name_; }
  LONG Index() const { return index_; }
  UINT CommandId() const { return id_; }
  HMENU SubMenu() const { return sub_; }
  HMENU Parent() const { return parent_; }
  // The item's position in its parent menu, -1 once it is gone.
  int Position() const;
  const std::wstring& Caption() const { return caption_; }
  // The item's text in the menu: the caption, then a TAB and the shortcut when there is one.
  std::wstring MenuText() const;
  void SetCaption(const std::wstring& caption);
  void SetChecked(bool checked);
  void SetEnabled(bool enabled);

 protected:
  const std::vector<Member>& Members() const override;
  void Dispatch(DISPID id, WORD flags, const std::vector<const VARIANT*>& args, VARIANT* result) override;

 private:
  UINT StateFlags() const;
  HWND form_;
  HMENU parent_;
  UINT id_;
  HMENU sub_;
  std::wstring name_;
  LONG index_;
  std::wstring caption_;
  std::wstring shortcut_;
};

class ControlArray final : public AutomationObject {
 public:
  explicit ControlArray(std::wstring name);
  void Add(const common::com_ptr<MenuControl>& control);
  MenuControl* Element(LONG index) const;

 protected:
  const std::vector<Member>& Members() const override;
  void Dispatch(DISPID id, WORD flags, const std::vector<const VARIANT*>& args, VARIANT* result) override;

 private:
  std::wstring name_;
  std::map<LONG, common::com_ptr<MenuControl>> elements_;
};

class FormObject final : public AutomationObject {
 public:
  // A new, hidden form window with the given caption and no menu yet.
  static common::com_ptr<FormObject> Create(const wchar_t* caption);
  ~FormObject() override;

  HWND hwnd() const { return hwnd_; }
  HMENU MenuBar() const { return bar_; }
  void Show();
  // Destroys the window (and its menus); the object stays.
  void Close();

  // Building the menu: parent nullptr stands for the menu bar (created on first use).
  // Each returns the new control; a popup's sub-menu is its SubMenu().
  MenuControl* AddPopup(HMENU parent, const wchar_t* name, const wchar_t* caption, LONG index = kNoIndex);
  MenuControl* AddItem(HMENU parent, const wchar_t* name, const wchar_t* caption, LONG index = kNoIndex);
  MenuControl* AddSeparator(HMENU parent, const wchar_t* name, LONG index = kNoIndex);
  MenuControl* Control(const std::wstring& name, LONG index = kNoIndex) const;

 protected:
  const std::vector<Member>& Members() const override;
  void Dispatch(DISPID id, WORD flags, const std::vector<const VARIANT*>& args, VARIANT* result) override;

 private:
  FormObject();
  MenuControl* Add(HMENU parent, const wchar_t* name, const wchar_t* caption, LONG index, UINT flags, HMENU sub);

  HWND hwnd_ = nullptr;
  HMENU bar_ = nullptr;
  UINT next_id_ = 100;
  std::map<std::wstring, common::com_ptr<MenuControl>> singles_;  // by lower-case name
  std::map<std::wstring, common::com_ptr<ControlArray>> arrays_;
};

}  // namespace client
