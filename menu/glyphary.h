// CGlyphary: owner-draws the menus of a client form, with a picture beside each popup item.
// A client creates it, sets ImageList and Form and names a picture per menu control with
// SetItemImage; from then on the form's window hands its menu messages to Message.
#pragma once
#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "com_server.h"
#include "glyphary_h.h"
#include "item_record.h"
#include "keyed_collection.h"
#include "picture_cache.h"

namespace glyphary {

// The window messages the component registers, in the order it registers them.
constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED: the form moved to a monitor of another DPI
constexpr UINT kWatchedMessages[] = {WM_MEASUREITEM, WM_MENUCHAR,      WM_DRAWITEM, WM_SYSCOLORCHANGE,
                                     WM_SETTINGCHANGE, WM_INITMENUPOPUP, WM_INITMENU, kDpiChanged};
constexpr DISPID kDispidSetItemImage = 0x60030002;
constexpr const wchar_t* kSource = L"Glyphary.CGlyphary";

// Both dual interfaces of the component derive from IDispatch, and one set of IDispatch members
// would serve them both with one type description. Each gets its own here: the component's
// interface through its own Invoke (InvokeComponent), the sink through the sink interface's
// type information.
class ComponentDispatch : public _CGlyphary {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) final { return dispatch_.GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) final {
    return dispatch_.GetTypeInfo(index, lcid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) final {
    return dispatch_.GetIDsOfNames(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) final {
    return InvokeComponent(id, flags, params, result, excep, arg_err);
  }

 protected:
  virtual HRESULT InvokeComponent(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                                  UINT* arg_err) = 0;
  common::TypeInfoDispatch dispatch_{IID__CGlyphary};
};

class SinkDispatch : public IhkMessageSink {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) final { return sink_dispatch_.GetTypeInfoCount(count); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) final {
    return sink_dispatch_.GetTypeInfo(index, lcid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) final {
    return sink_dispatch_.GetIDsOfNames(names, count, ids);
  }
  // Variants passed by reference (a script's variables) are handed on as the values they hold
  // and get back what Message left in them (glyphary.cpp).
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* arg_err) final;

 private:
  common::TypeInfoDispatch sink_dispatch_{IID_IhkMessageSink};
};

class CGlyphary final : public ComponentDispatch, public SinkDispatch, public ISupportErrorInfo, public common::RefCounted {
 public:
  CGlyphary();            // class initialisation: creates the subclassing object
  ~CGlyphary() override;  // class termination

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  // _CGlyphary
  HRESULT STDMETHODCALLTYPE putref_ImageList(IDispatch** img) override;
  HRESULT STDMETHODCALLTYPE put_Form(IDispatch** frm) override;
  HRESULT STDMETHODCALLTYPE SetItemImage(LONG* ImageIndex, BSTR* sMenuName, LONG* MenuIndex) override;

  // IhkMessageSink
  HRESULT STDMETHODCALLTYPE Message(LONG msg, LONG_PTR wParam, LONG_PTR lParam, LONG_PTR* result) override;

  // --- attributes (read by the tests; no COM client reaches them) -------------------
  const ItemRecord& ItemAt(int32_t slot) const { return m_Items.at(static_cast<size_t>(slot)); }
  int32_t ItemCount() const { return m_ItemCount; }
  HFONT MenuFont() const { return m_MenuFont; }
  HMENU FirstPopup() const { return m_FirstPopup; }
  int32_t CellWidth() const { return m_CellWidth; }
  int32_t CellHeight() const { return m_CellHeight; }
  const common::KeyedCollection& ImageIndexes() const { return m_ImageIndexes; }
  const common::KeyedCollection& CaptionKeys() const { return m_CaptionKeys; }
  size_t PreparedMenuCount() const { return prepared_menus_.size(); }
  uint32_t Dpi() const { return m_Dpi; }
  const PictureCache& Pictures() const { return m_Pictures; }

  // --- operations (menu_prep.cpp, menu_font.cpp, menu_char.cpp, item_measure.cpp) ----
  // Turns the suitable items of menu into owner-drawn items with records; 0 walked, 1 skipped.
  LONG PrepareMenu(HMENU menu, int32_t position, bool descend);
  // The image index registered for a caption, or -1; never fails.
  int32_t FindImageIndex(const std::wstring& text) noexcept;
  HFONT GetMenuFont();
  int32_t HandleMenuChar(LONG_PTR wParam, LONG_PTR lParam);
  LONG MeasureMenuItem(LONG_PTR lParam);
  // Draws and measures at dpi from now on: cell, gaps and font follow it (dpi_scale.h). Attaching
  // reads the form window's DPI; WM_DPICHANGED brings the new one.
  void ApplyDpi(uint32_t dpi);
  // Reads the system's keyboard-cue and flat-menu settings again.
  void ReadMenuSettings();

 protected:
  // IDispatch::Invoke of _CGlyphary
  HRESULT InvokeComponent(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                          UINT* arg_err) override;

 private:
  // --- internal helpers ---------------------------------------------------------------
  void Attach();
  void Detach();
  void RebuildMenuFont();
  // The picture size and the cell at the current DPI, from the image list's picture size.
  void UpdateCell();
  // The form's menu bar as the subclassing object reports it.
  HMENU WindowMenu();
  HWND FormWindow();
  LONG_PTR PassOn(LONG msg, LONG_PTR wParam, LONG_PTR lParam);
  LONG DrawItem(LONG_PTR lParam);
  // The record in slot; a slot outside the store raises error 9.
  ItemRecord& Item(int32_t slot);
  // Follows a caption change: the menu key under the old caption moves to the new one.
  void Rekey(const std::wstring& old_caption, const std::wstring& new_caption);
  // Turns every prepared item back into a plain text item and frees every slot (menu_prep.cpp).
  void ReleasePreparedItems();
  // A slot for a new record: the next unused one, else one no item of a live menu holds any more;
  // error 9 when every slot is held.
  int32_t NewSlot();
  void ReclaimSlots();
  // The walk's work on one item of menu (menu_prep.cpp).
  void PrepareItem(HMENU menu, int item, HMENU bar);
  // A popup the walk leaves alone: items carrying another component's slots are taken over (this
  // form paints them now), and a popup holding item data of ours is remembered for release.
  void ClaimPopup(HMENU menu);
  // The slot whose record this component holds for the item data on the item identified by id,
  // or -1: item data that are not ours, a slot not in use, a record of another item.
  int32_t OwnSlot(ULONG_PTR data, UINT id) const;
  // The slot named by item data of ours when this component has it in use, or -1. Measuring,
  // painting and mnemonics go by this: the walk has made every item of an opening popup ours.
  int32_t SlotInUse(ULONG_PTR data) const;
  // The slot in use whose record is the item id of menu (-1: none), and whether an item of menu
  // still carries that slot's item data.
  int32_t SlotRecordedFor(HMENU menu, UINT id) const;
  static bool SlotHeldIn(HMENU menu, int32_t slot);
  // Gives the item at item its text item back: its type without MFT_OWNERDRAW, its text (the
  // record's caption where the platform kept none), item data 0 unless keep_data. The slot stays
  // in use (copies of the item may still name it) until the store runs full and it is reclaimed.
  void GiveBack(HMENU menu, int item, int32_t slot, bool keep_data);
  void Remember(HMENU menu);
  // Every live component of the process; on release an item another component of this thread
  // also prepared is handed to it (its item data written back) instead of becoming plain.
  static void Enlist(CGlyphary* component, bool live);
  bool HandOver(HMENU menu, UINT id, ULONG_PTR* data) const;

  // Members in storage order.
  common::com_ptr<_HookwireWindow> m_Window;
  common::com_ptr<IDispatch> m_Form;
  HFONT m_MenuFont = nullptr;
  std::array<ItemRecord, kItemStoreSize> m_Items{};
  int32_t m_ItemCount = 0;
  HMENU m_FirstPopup = nullptr;
  common::KeyedCollection m_ImageIndexes{kSource};
  common::KeyedCollection m_CaptionKeys{kSource};
  int32_t m_ImageWidth = 10;
  int32_t m_ImageHeight = 10;
  int32_t m_CellWidth = 16;
  int32_t m_CellHeight = 16;
  common::com_ptr<IDispatch> m_ImageList;

  // Every menu a walk has written item data into, so that detaching can give its items back.
  std::vector<HMENU> prepared_menus_;
  // Slots below m_ItemCount that no live item holds (found when the store runs full).
  std::vector<int32_t> free_slots_;
  // The item each slot was last given to: item data found on another item is not taken as its own.
  struct SlotOwner {
    HMENU menu = nullptr;
    UINT id = 0;
    bool used = false;  // the record is this item's until the item is given back or gone
  };
  std::array<SlotOwner, kItemStoreSize> slot_owners_{};
  // A screen reader runs: the menus stay as the platform draws them.
  bool m_PlatformDrawn = false;
  // The thread the component was created on: components of one thread may share menus.
  DWORD m_Thread = 0;

  // High DPI, alpha pictures, keyboard cues and flat menus.
  uint32_t m_Dpi = 96;
  PictureCache m_Pictures;
  bool m_KeyboardCues = true;
  bool m_FlatMenus = false;
};

// A handle kept as a 32-bit value by the platform's conventions.
template <typename H>
H HandleFromLong(LONG v) {
  return reinterpret_cast<H>(static_cast<LONG_PTR>(v));
}

// Only a menu handle's low 32 bits name the menu. Once bit 31 is set, a 64-bit process gets the
// same menu sign-extended in one place (WM_INITMENUPOPUP, WM_DRAWITEM) and zero-extended in
// another (GetSubMenu): handles are compared by those 32 bits.
inline bool SameMenu(HMENU a, HMENU b) {
  return static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(a)) == static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(b));
}

}  // namespace glyphary
