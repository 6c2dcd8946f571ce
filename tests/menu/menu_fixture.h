// Shared by the menu component's tests: a component created in-process (its records can be
// read) or through COM from the registered DLL, a client form, and running real menus.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "com_ptr.h"
#include "form_object.h"
#include "glyphary.h"
#include "glyphary_h.h"

namespace menu_test {

// A component of the component library, as class initialisation leaves it.
common::com_ptr<glyphary::CGlyphary> NewComponent();
// A component of the registered Glyphary.dll.
common::com_ptr<_CGlyphary> CreateRegistered();

// The calls a client makes; each returns the HRESULT.
HRESULT SetForm(_CGlyphary* g, IDispatch* form);
HRESULT SetImageList(_CGlyphary* g, IDispatch* images);
HRESULT SetItemImage(_CGlyphary* g, LONG image, const wchar_t* name, LONG* index = nullptr);
// The run-time error number of a failure HRESULT of ours (0x800A0000 | n), else the HRESULT.
long ErrorNumber(HRESULT hr);

// An image list object that reports the sizes it is given.
common::com_ptr<IDispatch> FakeImageList(LONG width, LONG height);

// The form used by most tests: File (&New, &Open...<TAB>Ctrl+O, separator, &Save), Edit
// (&Copy, &Cut, &Paste) and Recent (array mnuRecent 0..2) on its menu bar.
common::com_ptr<client::FormObject> SampleForm();

// Item data and type of the item at a position.
ULONG_PTR ItemData(HMENU menu, int pos);
UINT ItemType(HMENU menu, int pos);
UINT ItemState(HMENU menu, int pos);

// Installs a subclass on top of every other one (called first) until destroyed.
class TopSubclass {
 public:
  using Handler = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)>;
  TopSubclass(HWND h, Handler handler);
  ~TopSubclass();
  Handler handler;

 private:
  static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  HWND hwnd_;
};

// Opens popup with TrackPopupMenu (owner: the form); on_open runs once the menu is shown
// (its first WM_ENTERIDLE) and may post keys; an Escape follows them. Returns what
// TrackPopupMenu returned (TPM_RETURNCMD): the chosen command, or 0.
UINT RunPopup(HWND owner, HMENU popup, const std::function<void(HWND owner)>& on_open = {});
// Creates and destroys a menu until the platform hands out a menu handle with bit 31 set; the next
// menu made on this thread gets that handle's place (a 32-bit handle of a later generation).
// False when no such handle came within 70,000 tries.
bool AgeNextMenuHandle();
// Posts the character of a key press to the owner of an open menu.
void PressKey(HWND owner, wchar_t c);

}  // namespace menu_test
