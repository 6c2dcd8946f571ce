#include "message_filter.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace spy {

namespace {

std::vector<std::wstring> SplitList(const std::wstring& text) {
  std::vector<std::wstring> out;
  std::wstring cur;
  auto flush = [&] {
    size_t b = cur.find_first_not_of(L" \t"), e = cur.find_last_not_of(L" \t");
    if (b != std::wstring::npos) out.push_back(cur.substr(b, e - b + 1));
    cur.clear();
  };
  for (wchar_t c : text) {
    if (c == L',' || c == L';') flush();
    else cur += c;
  }
  flush();
  return out;
}

bool SameName(const std::wstring& a, const wchar_t* b) {
  return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

const std::vector<MessageGroup>& MessageGroups() {
  static const std::vector<MessageGroup> groups{
      // The pointer over the frame too: hit tests and the non-client mouse messages.
      {L"Mouse", L"Mouse",
       {{WM_MOUSEFIRST, WM_MOUSELAST}, {WM_MOUSEHOVER, WM_MOUSEHOVER}, {WM_MOUSELEAVE, WM_MOUSELEAVE},
        {WM_SETCURSOR, WM_SETCURSOR}, {WM_MOUSEACTIVATE, WM_MOUSEACTIVATE}, {WM_CAPTURECHANGED, WM_CAPTURECHANGED},
        {WM_NCHITTEST, WM_NCHITTEST}, {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}, {0x02A0 /*WM_NCMOUSEHOVER*/, 0x02A0},
        {0x02A2 /*WM_NCMOUSELEAVE*/, 0x02A2}}},
      {L"Keyboard", L"Keyboard",
       {{WM_KEYFIRST, WM_KEYLAST}, {WM_HOTKEY, WM_HOTKEY}, {WM_GETDLGCODE, WM_GETDLGCODE},
        {WM_CHANGEUISTATE, WM_QUERYUISTATE}}},
      {L"Paint", L"Paint",
       {{WM_PAINT, WM_PAINT}, {WM_ERASEBKGND, WM_ERASEBKGND}, {WM_NCPAINT, WM_NCPAINT},
        {WM_SYNCPAINT, WM_SYNCPAINT}, {WM_PRINT, WM_PRINTCLIENT}, {WM_CTLCOLORMSGBOX, WM_CTLCOLORSTATIC},
        {WM_DRAWITEM, WM_DRAWITEM}, {WM_MEASUREITEM, WM_MEASUREITEM}, {WM_SETREDRAW, WM_SETREDRAW}}},
      {L"NonClient", L"Non-client",
       {{WM_NCCREATE, WM_NCACTIVATE}, {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}, {0x02A0 /*WM_NCMOUSEHOVER*/, 0x02A0},
        {0x02A2 /*WM_NCMOUSELEAVE*/, 0x02A2}}},
      {L"Focus", L"Focus and activation",
       {{WM_SETFOCUS, WM_KILLFOCUS}, {WM_ACTIVATE, WM_ACTIVATE}, {WM_ACTIVATEAPP, WM_ACTIVATEAPP},
        {WM_NCACTIVATE, WM_NCACTIVATE}, {WM_MOUSEACTIVATE, WM_MOUSEACTIVATE}, {WM_CHILDACTIVATE, WM_CHILDACTIVATE}}},
      {L"Position", L"Window position",
       {{WM_MOVE, WM_MOVE}, {WM_SIZE, WM_SIZE}, {WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED},
        {WM_GETMINMAXINFO, WM_GETMINMAXINFO}, {WM_SIZING, WM_SIZING}, {WM_MOVING, WM_MOVING},
        {WM_ENTERSIZEMOVE, WM_EXITSIZEMOVE}, {WM_SHOWWINDOW, WM_SHOWWINDOW}}},
      {L"Menu", L"Menu",
       {{WM_INITMENU, WM_INITMENUPOPUP}, {WM_MENUSELECT, WM_MENUCHAR}, {WM_ENTERIDLE, WM_ENTERIDLE},
        {WM_MENURBUTTONUP, WM_UNINITMENUPOPUP}, {WM_MENUCOMMAND, WM_MENUCOMMAND},
        {WM_ENTERMENULOOP, WM_EXITMENULOOP}, {WM_NEXTMENU, WM_NEXTMENU}, {WM_CONTEXTMENU, WM_CONTEXTMENU}}},
      {L"Clipboard", L"Clipboard",
       {{WM_CUT, WM_UNDO}, {WM_RENDERFORMAT, WM_HSCROLLCLIPBOARD}, {WM_CLIPBOARDUPDATE, WM_CLIPBOARDUPDATE}}},
      {L"Text", L"Text", {{WM_SETTEXT, WM_GETTEXTLENGTH}}},
      {L"Scrolling", L"Scrolling", {{WM_HSCROLL, WM_VSCROLL}}},
      {L"Timer", L"Timer", {{WM_TIMER, WM_TIMER}, {0x0118 /*the platform's caret timer*/, 0x0118}}},
      {L"Commands", L"Commands and notifications",
       {{WM_COMMAND, WM_SYSCOMMAND}, {WM_NOTIFY, WM_NOTIFY}, {WM_PARENTNOTIFY, WM_PARENTNOTIFY}}},
      {L"Creation", L"Creation and destruction",
       {{WM_CREATE, WM_DESTROY}, {WM_NCCREATE, WM_NCDESTROY}, {WM_CLOSE, WM_CLOSE}, {WM_QUIT, WM_QUIT}}},
      {L"User", L"User and application (WM_USER+n, WM_APP+n)", {{WM_USER, 0xBFFF}}},
      {L"Registered", L"Registered", {{0xC000, 0xFFFF}}},
  };
  return groups;
}

const MessageGroup* FindGroup(const std::wstring& id_or_name) {
  for (const auto& g : MessageGroups())
    if (SameName(id_or_name, g.id) || SameName(id_or_name, g.name)) return &g;
  return nullptr;
}

bool MessageFilter::HasGroup(const std::wstring& id_or_name) const {
  const MessageGroup* group = FindGroup(id_or_name);
  return group && std::any_of(groups.begin(), groups.end(), [&](const std::wstring& g) { return g == group->id; });
}

void MessageFilter::ToggleGroup(const std::wstring& id_or_name) {
  const MessageGroup* group = FindGroup(id_or_name);
  if (!group) return;
  auto it = std::find(groups.begin(), groups.end(), std::wstring(group->id));
  if (it != groups.end()) groups.erase(it);
  else groups.push_back(group->id);
}

bool MessageFilter::Chosen(uint32_t msg) const {
  if (std::find(messages.begin(), messages.end(), msg) != messages.end()) return true;
  for (const auto& g : MessageGroups()) {
    if (std::find(groups.begin(), groups.end(), std::wstring(g.id)) == groups.end()) continue;
    for (const auto& [first, last] : g.ranges)
      if (first <= msg && msg <= last) return true;
  }
  return false;
}

std::wstring MessageFilter::GroupsText() const {
  std::wstring out;
  for (const auto& g : groups) out += (out.empty() ? L"" : L",") + g;
  return out;
}

std::wstring MessageFilter::MessagesText(const std::function<std::wstring(uint32_t)>& name_of) const {
  std::wstring out;
  for (uint32_t m : messages) {
    std::wstring n = name_of ? name_of(m) : std::wstring();
    if (n.empty() || n.find(L',') != std::wstring::npos || n.find(L'+') != std::wstring::npos) {
      wchar_t buf[16];
      std::swprintf(buf, 16, L"0x%04X", m);
      n = buf;
    }
    out += (out.empty() ? L"" : L",") + n;
  }
  return out;
}

void MessageFilter::SetGroups(const std::wstring& text) {
  groups.clear();
  // Earlier versions stored the names, and a name may hold a comma: such a name is taken whole first.
  std::wstring rest = text;
  for (const auto& g : MessageGroups()) {
    const std::wstring name = g.name;
    if (name.find(L',') == std::wstring::npos) continue;
    for (size_t at; (at = rest.find(name)) != std::wstring::npos;) rest.replace(at, name.size(), g.id);
  }
  for (const auto& item : SplitList(rest))
    if (const MessageGroup* g = FindGroup(item))
      if (std::find(groups.begin(), groups.end(), std::wstring(g->id)) == groups.end()) groups.push_back(g->id);
}

void MessageFilter::SetMessages(const std::wstring& text,
                                const std::function<std::optional<uint32_t>(const std::wstring&)>& number_of) {
  messages.clear();
  for (const auto& item : SplitList(text)) {
    std::optional<uint32_t> n;
    if (item.size() > 2 && item[0] == L'0' && (item[1] == L'x' || item[1] == L'X')) {
      wchar_t* end = nullptr;
      const unsigned long v = std::wcstoul(item.c_str() + 2, &end, 16);
      if (end && !*end && v <= 0xFFFF) n = static_cast<uint32_t>(v);
    } else if (number_of) {
      n = number_of(item);
    }
    if (n && *n <= 0xFFFF && std::find(messages.begin(), messages.end(), *n) == messages.end()) messages.push_back(*n);
  }
}

}  // namespace spy
