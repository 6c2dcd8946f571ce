#include "demo_menu.h"

#include <commctrl.h>

#include "automation.h"
#include "image_list_object.h"
#include "runtime_error.h"
#include "unique_handles.h"

namespace demo {

namespace {

constexpr COLORREF kTransparent = RGB(255, 0, 255);  // the pictures' background
constexpr int kPictureSize = 16;

struct MenuControl {
  int level;               // 0 on the menu bar, 1 in its popup, 2 in a sub-menu
  const wchar_t* name;     // the menu control's name
  int index;               // index in its control array, -1 for a single control
  const wchar_t* caption;  // "-" for a separator
  const wchar_t* shortcut; // shown after a TAB, or nullptr
  UINT command;
  const wchar_t* picture;  // bitmap resource, or nullptr
  UINT state;
};

const wchar_t* const kRecentFiles[kRecentCount] = {L"readme.txt", L"notes.txt", L"todo.txt"};

const MenuControl kMenu[] = {
    {0, L"mnuFile", -1, L"&File", nullptr, 0, nullptr, 0},
    {1, L"mnuFileNew", -1, L"&New", L"Ctrl+N", kCmdNew, L"NEW", 0},
    {1, L"mnuFileOpen", -1, L"&Open...", L"Ctrl+O", kCmdOpen, L"OPEN", 0},
    {1, L"mnuFileSave", -1, L"&Save", L"Ctrl+S", kCmdSave, L"SAVE", 0},
    {1, L"mnuFileSep1", -1, L"-", nullptr, 0, nullptr, 0},
    {1, L"mnuFilePrint", -1, L"&Print...", L"Ctrl+P", kCmdPrint, L"PRINT", 0},
    {1, L"mnuFileRecentFiles", -1, L"Recent &Files", nullptr, 0, nullptr, 0},
    {2, L"mnuRecent", 0, L"&1 readme.txt", nullptr, kCmdRecent + 0, L"DOCUMENT", 0},
    {2, L"mnuRecent", 1, L"&2 notes.txt", nullptr, kCmdRecent + 1, L"DOCUMENT", 0},
    {2, L"mnuRecent", 2, L"&3 todo.txt", nullptr, kCmdRecent + 2, L"DOCUMENT", 0},
    {1, L"mnuFileSep2", -1, L"-", nullptr, 0, nullptr, 0},
    {1, L"mnuFileExit", -1, L"E&xit", nullptr, kCmdExit, nullptr, 0},
    {0, L"mnuEdit", -1, L"&Edit", nullptr, 0, nullptr, 0},
    {1, L"mnuEditCut", -1, L"Cu&t", L"Ctrl+X", kCmdCut, L"CUT", 0},
    {1, L"mnuEditCopy", -1, L"&Copy", L"Ctrl+C", kCmdCopy, L"COPY", 0},
    {1, L"mnuEditPaste", -1, L"&Paste", L"Ctrl+V", kCmdPaste, L"PASTE", MFS_GRAYED},
    {1, L"mnuEditSep1", -1, L"-", nullptr, 0, nullptr, 0},
    {1, L"mnuEditFind", -1, L"&Find...", L"Ctrl+F", kCmdFind, L"FIND", 0},
    {0, L"mnuView", -1, L"&View", nullptr, 0, nullptr, 0},
    {1, L"mnuViewStatusBar", -1, L"&Status Bar", nullptr, kCmdStatusBar, nullptr, MFS_CHECKED},
    {1, L"mnuViewWordWrap", -1, L"&Word Wrap", nullptr, kCmdWordWrap, nullptr, 0},
    {0, L"mnuHelp", -1, L"&Help", nullptr, 0, nullptr, 0},
    {1, L"mnuHelpTopics", -1, L"&Help Topics", L"F1", kCmdHelpTopics, L"HELP", 0},
    {1, L"mnuHelpSep1", -1, L"-", nullptr, 0, nullptr, 0},
    {1, L"mnuHelpAbout", -1, L"&About Glyphary Demo...", nullptr, kCmdAbout, nullptr, 0},
};

std::wstring MenuText(const MenuControl& c) {
  std::wstring text = c.caption;
  if (c.shortcut) text += std::wstring(L"\t") + c.shortcut;
  return text;
}

// The menu text without mnemonic marks, for file names.
std::wstring Plain(const wchar_t* caption) {
  std::wstring out;
  for (const wchar_t* p = caption; *p; ++p)
    if (*p != L'&' && *p != L'.') out += *p;
  return out;
}

// The pictures in the order of the image list (1-based, as the list counts).
std::vector<std::wstring> Pictures() {
  std::vector<std::wstring> names;
  for (const MenuControl& c : kMenu) {
    if (!c.picture) continue;
    bool seen = false;
    for (const std::wstring& n : names) seen = seen || n == c.picture;
    if (!seen) names.emplace_back(c.picture);
  }
  return names;
}

LONG PictureIndex(const wchar_t* picture) {
  const std::vector<std::wstring> names = Pictures();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == picture) return static_cast<LONG>(i + 1);
  return 0;
}

// The classic pictures (24-bit, magenta transparent) or the same ones with an alpha channel.
HIMAGELIST LoadPictures(bool alpha) {
  common::unique_himagelist list(
      ImageList_Create(kPictureSize, kPictureSize, alpha ? ILC_COLOR32 : ILC_COLOR24 | ILC_MASK, 10, 4));
  for (const std::wstring& name : Pictures()) {
    const std::wstring resource = L"PICTURE_" + name + (alpha ? L"_ALPHA" : L"");
    common::unique_hbitmap bitmap(static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), resource.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    const int added = !bitmap ? -1
                      : alpha ? ImageList_Add(list.get(), bitmap.get(), nullptr)
                              : ImageList_AddMasked(list.get(), bitmap.get(), kTransparent);
    if (added < 0)
      common::Raise(common::errInvalidArgument, L"GlypharyDemo", L"Picture " + resource + L" cannot be loaded");
  }
  return list.release();
}

}  // namespace

std::wstring RecentFile(int index) { return kRecentFiles[index]; }

namespace {
WNDPROC g_previous = nullptr;
}

DemoMenu::DemoMenu(WNDPROC procedure) : form_(client::FormObject::Create(L"Glyphary Demo")) {
  HWND w = form_->hwnd();
  g_previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure)));
  SetWindowPos(w, nullptr, 0, 0, 640, 440, SWP_NOZORDER | SWP_NOACTIVATE);

  HMENU parents[3] = {nullptr, nullptr, nullptr};  // nullptr: the menu bar
  for (size_t i = 0; i < std::size(kMenu); ++i) {
    const MenuControl& c = kMenu[i];
    const bool has_children = i + 1 < std::size(kMenu) && kMenu[i + 1].level > c.level;
    const LONG index = c.index < 0 ? client::kNoIndex : c.index;
    client::MenuControl* control;
    if (std::wstring(c.caption) == L"-") {
      control = form_->AddSeparator(parents[c.level], c.name, index);
    } else if (has_children) {
      control = form_->AddPopup(parents[c.level], c.name, MenuText(c).c_str(), index);
      parents[c.level + 1] = control->SubMenu();
    } else {
      control = form_->AddItem(parents[c.level], c.name, MenuText(c).c_str(), index);
    }
    if (c.command) commands_.emplace_back(control->CommandId(), c.command);
    if (c.state & MFS_CHECKED) control->SetChecked(true);
    if (c.state & MFS_GRAYED) control->SetEnabled(false);
  }
}

HWND DemoMenu::window() const { return form_->hwnd(); }

UINT DemoMenu::CommandOf(UINT item_id) const {
  for (const auto& [id, command] : commands_)
    if (id == item_id) return command;
  return 0;
}

LRESULT DemoMenu::CallPrevious(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
  return CallWindowProcW(g_previous, w, msg, wp, lp);
}

DemoMenu::~DemoMenu() {
  // The component goes first: it stops subclassing the window before the window goes.
  component_ = nullptr;
  images_ = nullptr;
  form_ = nullptr;
}

void DemoMenu::AttachComponent(bool alpha) {
  images_ = client::NewImageListObject(LoadPictures(alpha));

  CLSID clsid{};
  common::Check(CLSIDFromProgID(L"Glyphary.CGlyphary", &clsid), L"GlypharyDemo");
  common::Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, component_.put_void()),
                L"GlypharyDemo");
  // In the documented order: the image list, the form, then one picture per menu control.
  Invoke(component_.get(), L"ImageList", DISPATCH_PROPERTYPUTREF, {ObjectArg(images_.get())});
  Invoke(component_.get(), L"Form", DISPATCH_PROPERTYPUT, {ObjectArg(static_cast<IDispatch*>(form_.get()))});
  for (const MenuControl& c : kMenu) {
    if (!c.picture) continue;
    common::unique_bstr name(c.name);
    if (c.index < 0)
      Invoke(component_.get(), L"SetItemImage", DISPATCH_METHOD, {LongArg(PictureIndex(c.picture)), TextArg(name.get())});
    else
      Invoke(component_.get(), L"SetItemImage", DISPATCH_METHOD,
             {LongArg(PictureIndex(c.picture)), TextArg(name.get()), LongArg(c.index)});
  }
}

std::wstring DemoMenu::CaptionAt(HMENU menu, int position) const {
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE;
  if (GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info) && (info.fType & MFT_SEPARATOR)) return L"-";
  const UINT id = GetMenuItemID(menu, position);
  HMENU sub = GetSubMenu(menu, position);
  for (const MenuControl& c : kMenu) {
    client::MenuControl* control = form_->Control(c.name, c.index < 0 ? client::kNoIndex : c.index);
    if (!control) continue;
    if ((sub && control->SubMenu() == sub) || (!sub && id != static_cast<UINT>(-1) && control->CommandId() == id))
      return control->Caption();
  }
  return {};
}

void DemoMenu::SetCaption(const wchar_t* control, const std::wstring& caption) {
  common::unique_bstr name(control);
  common::unique_variant item;
  InvokeId(static_cast<IDispatch*>(form_.get()), DISPID_VALUE, L"menu control", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {TextArg(name.get())},
           item.put());
  common::unique_bstr text(caption.c_str());
  common::Check(VariantChangeType(item.get(), item.get(), 0, VT_DISPATCH), L"GlypharyDemo");
  Invoke(V_DISPATCH(item.get()), L"Caption", DISPATCH_PROPERTYPUT, {TextArg(text.get())});
}

void DemoMenu::SetChecked(UINT command, bool checked) {
  for (const auto& [id, c] : commands_)
    if (c == command) CheckMenuItem(GetMenu(form_->hwnd()), id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

std::wstring DemoMenu::PopupName(const std::vector<int>& path) {
  // Walk the table the way the menu was built: positions at each level.
  std::wstring name;
  int level = 0;
  size_t start = 0;
  for (size_t depth = 0; depth < path.size(); ++depth) {
    int position = -1;
    for (size_t i = start; i < std::size(kMenu); ++i) {
      if (kMenu[i].level < level) break;
      if (kMenu[i].level != level) continue;
      if (++position == path[depth]) {
        name += (name.empty() ? L"" : L" - ") + Plain(kMenu[i].caption);
        start = i + 1;
        break;
      }
    }
    ++level;
  }
  static int counter = 0;
  wchar_t prefix[8];
  wsprintfW(prefix, L"%02d ", ++counter);
  return prefix + name;
}

HACCEL DemoMenu::Accelerators() {
  ACCEL keys[] = {
      {FCONTROL | FVIRTKEY, 'N', kCmdNew},  {FCONTROL | FVIRTKEY, 'O', kCmdOpen}, {FCONTROL | FVIRTKEY, 'S', kCmdSave},
      {FCONTROL | FVIRTKEY, 'P', kCmdPrint}, {FCONTROL | FVIRTKEY, 'F', kCmdFind}, {FVIRTKEY, VK_F1, kCmdHelpTopics},
  };
  return CreateAcceleratorTableW(keys, static_cast<int>(std::size(keys)));
}

}  // namespace demo
