// The window tree: the desktop window and all its descendants, built once at start-up
// through Hookwire window objects.
#include <cwchar>
#include <cwctype>

#include "hex.h"
#include "main_window.h"

using common::com_ptr;
using common::unique_bstr;

namespace spy {

namespace {

constexpr int kNodePicture = 3;  // the small window of imImages
constexpr long kErrKeyNotUnique = 35602;

std::wstring Text(const unique_bstr& b) { return b.get() ? std::wstring(b.get(), b.length()) : std::wstring(); }

// A caption as a node shows it: control characters written as escapes (\r, \n, \t, \x01), not
// drawn as boxes or breaking the line.
std::wstring Printable(const std::wstring& s) {
  std::wstring out;
  for (wchar_t c : s) {
    if (c >= 0x20 && c != 0x7F) {
      out += c;
    } else if (c == L'\r') {
      out += L"\\r";
    } else if (c == L'\n') {
      out += L"\\n";
    } else if (c == L'\t') {
      out += L"\\t";
    } else {
      wchar_t buf[8];
      std::swprintf(buf, 8, L"\\x%02X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

std::wstring Lower(std::wstring s) {
  for (auto& ch : s) ch = static_cast<wchar_t>(std::towlower(ch));
  return s;
}

}  // namespace

HTREEITEM MainWindow::AddNode(HTREEITEM parent, const std::wstring& key, const std::wstring& text, int picture) {
  // Keys are unique within the tree, compared without regard to case.
  if (keys_.count(Lower(key))) common::Raise(kErrKeyNotUnique, kProgramTitle, L"Key is not unique in collection");
  TVINSERTSTRUCTW insert{};
  insert.hParent = parent ? parent : TVI_ROOT;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  insert.item.pszText = const_cast<wchar_t*>(text.c_str());
  insert.item.iImage = picture - 1;
  insert.item.iSelectedImage = picture - 1;
  insert.item.lParam = static_cast<LPARAM>(nodes_.size());
  auto node = reinterpret_cast<HTREEITEM>(SendMessageW(tvWindows_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  if (!node) common::Raise(common::errInvalidArgument, kProgramTitle, L"The tree view refused a node");
  nodes_.push_back({key, L""});
  keys_.emplace(Lower(key), node);
  return node;
}

std::wstring MainWindow::NodeKey(HTREEITEM node) const {
  TVITEMW item{};
  item.mask = TVIF_PARAM;
  item.hItem = node;
  if (!node || !SendMessageW(tvWindows_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return {};
  auto i = static_cast<size_t>(item.lParam);
  return i < nodes_.size() ? nodes_[i].key : std::wstring();
}

std::wstring MainWindow::NodeTag(HTREEITEM node) const {
  TVITEMW item{};
  item.mask = TVIF_PARAM;
  item.hItem = node;
  if (!node || !SendMessageW(tvWindows_, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return {};
  auto i = static_cast<size_t>(item.lParam);
  return i < nodes_.size() ? nodes_[i].tag : std::wstring();
}

HTREEITEM MainWindow::FindNode(const std::wstring& key) const {
  auto it = keys_.find(Lower(key));
  return it == keys_.end() ? nullptr : it->second;
}

void MainWindow::FillWindowTree() {
  com_ptr<_HookwireWindow> desktop;
  common::Check(CoCreateInstance(CLSID_HookwireWindow, nullptr, CLSCTX_INPROC_SERVER, IID__HookwireWindow,
                                 desktop.put_void()),
                kProgramTitle);
  common::Check(desktop->AttachDesktop(), kProgramTitle);

  filling_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{filling_};
  SendMessageW(tvWindows_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  marked_.clear();  // those nodes are gone; the next look marks the new ones
  marked_at_ = 0;
  nodes_.clear();
  keys_.clear();

  unique_bstr caption, class_name;
  common::Check(desktop->get_Caption(caption.put()), kProgramTitle);
  common::Check(desktop->get_ClassName(class_name.put()), kProgramTitle);
  HTREEITEM root =
      AddNode(nullptr, L"root", L"\"" + Text(caption) + L"\" " + Text(class_name) + L" (Desktop)", kNodePicture);
  LONG handle = 0;
  common::Check(desktop->get_hWnd(&handle), kProgramTitle);
  nodes_.back().tag = std::to_wstring(handle);

  AddChildWindows(tvWindows_, root, desktop.get());

  auto first = reinterpret_cast<HTREEITEM>(
      SendMessageW(tvWindows_, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(root)));
  if (first) SendMessageW(tvWindows_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(first));
}

void MainWindow::AddChildWindows(HWND tree, HTREEITEM parent, _HookwireWindow* parent_window) {
  if (!tree || !parent || !parent_window) return;
  com_ptr<_HookwireWindows> children;
  common::Check(parent_window->get_Children(children.put()), kProgramTitle);
  com_ptr<IUnknown> unknown;
  common::Check(children->get__NewEnum(unknown.put()), kProgramTitle);
  com_ptr<IEnumVARIANT> items;
  common::Check(unknown->QueryInterface(IID_IEnumVARIANT, items.put_void()), kProgramTitle);
  for (;;) {
    common::unique_variant v;
    ULONG fetched = 0;
    HRESULT hr = items->Next(1, v.put(), &fetched);
    common::Check(hr, kProgramTitle);
    if (hr != S_OK || fetched == 0) break;
    if (v.get()->vt != VT_DISPATCH && v.get()->vt != VT_UNKNOWN)
      common::Raise(13, kProgramTitle, L"Type mismatch");
    com_ptr<_HookwireWindow> child;
    IUnknown* item = v.get()->vt == VT_DISPATCH ? v.get()->pdispVal : v.get()->punkVal;
    if (!item) common::Raise(common::errObjectNotSet, kProgramTitle);
    common::Check(item->QueryInterface(IID__HookwireWindow, child.put_void()), kProgramTitle);

    unique_bstr caption, class_name;
    LONG handle = 0;
    common::Check(child->get_Caption(caption.put()), kProgramTitle);
    common::Check(child->get_ClassName(class_name.put()), kProgramTitle);
    common::Check(child->get_hWnd(&handle), kProgramTitle);
    // The desktop changes while the tree is built: a window gone by now reads 0 and is left
    // out; one met a second time (moved to another parent during the walk) keeps its first node.
    if (handle == 0) continue;
    const std::wstring hex = common::Hex(handle);
    if (FindNode(L"H" + hex)) continue;
    HTREEITEM node = AddNode(parent, L"H" + hex,
                             L"\"" + Printable(Text(caption)) + L"\" " + Text(class_name) + L" (" + hex + L")", kNodePicture);
    nodes_.back().tag = std::to_wstring(handle);
    AddChildWindows(tree, node, child.get());
  }
}

}  // namespace spy
