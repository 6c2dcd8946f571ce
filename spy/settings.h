// The per-user settings store: text values by application name, section and key,
// under HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<application>\<section>.
#pragma once
#include <optional>
#include <string>

namespace spy {

// The program's application name: its executable file name without the extension.
std::wstring ApplicationName();

// The registry path (below HKEY_CURRENT_USER) of one section of one application.
std::wstring SettingsPath(const std::wstring& app, const std::wstring& section);

// The stored text, or `fallback` when the key (or the section) is absent.
std::wstring GetSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key,
                        const std::wstring& fallback);
// Writes the text (REG_SZ), creating the section as needed; raises a run-time error on failure.
void SaveSetting(const std::wstring& app, const std::wstring& section, const std::wstring& key,
                 const std::wstring& value);

// Text of a single-precision number as it is stored: plain decimal (no exponent), no leading
// blank, the fewest significant digits that read back to the same number.
std::wstring SingleText(float value);
// The number a stored text holds, plain or with an exponent; empty when the text is not a
// (finite) number.
std::optional<float> ParseSingle(const std::wstring& text);

}  // namespace spy
