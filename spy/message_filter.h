// Which messages the log asks for: groups (mouse, keyboard, paint ...) and single messages,
// included or excluded. The window object is told through WatchMessage, so a message that is
// filtered out never leaves the watched window.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace spy {

struct MessageGroup {
  const wchar_t* id;    // stored in the settings, taken by /filter: one word, never changes
  const wchar_t* name;  // as shown in the menu (and stored by earlier versions)
  // Message numbers and inclusive ranges: {first, last}.
  std::vector<std::pair<uint32_t, uint32_t>> ranges;
};

// The groups, in menu order.
const std::vector<MessageGroup>& MessageGroups();
// The group of an identifier or a name (either letter case); null when there is none.
const MessageGroup* FindGroup(const std::wstring& id_or_name);

struct MessageFilter {
  bool include_only = false;        // false: the chosen ones are left out
  std::vector<std::wstring> groups;  // identifiers from MessageGroups()
  std::vector<uint32_t> messages;   // single messages

  // Nothing chosen: every message is watched (AllMessages), as without a filter.
  bool Active() const { return !groups.empty() || !messages.empty(); }
  bool Chosen(uint32_t msg) const;
  bool Watches(uint32_t msg) const { return !Active() || Chosen(msg) == include_only; }
  bool HasGroup(const std::wstring& name) const;
  void ToggleGroup(const std::wstring& name);

  // Settings text: "Mouse,Paint" (identifiers) and "WM_TIMER,0xC123" (names or numbers).
  std::wstring GroupsText() const;
  std::wstring MessagesText(const std::function<std::wstring(uint32_t)>& name_of) const;
  // Identifiers or names, as stored now or by earlier versions; unknown ones are dropped.
  void SetGroups(const std::wstring& text);
  // Names are resolved with number_of (empty: unknown, dropped); hex "0x..." numbers as they are.
  void SetMessages(const std::wstring& text, const std::function<std::optional<uint32_t>(const std::wstring&)>& number_of);
};

}  // namespace spy
