// What the service process and its VM are given besides the class path and
// the options of key 123: the environment (key 30025) and the VM options one
// by one (key 30027). Their stored forms and the checks that the packer and
// the launcher share.
// See docs/packer.md.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Items of keys 30025 and 30027 are separated by a line feed; no item holds
// one, a carriage return or a NUL.
inline constexpr char kSettingItemSeparator = '\n';

// Bounds; a value outside them is refused by the packer and read as absent
// by the launcher.
inline constexpr std::size_t kMaxEnvironmentEntries = 1000;
inline constexpr std::size_t kMaxEnvironmentName = 255;
// The system keeps a variable's value below 32767 characters.
inline constexpr std::size_t kMaxEnvironmentValue = 32766;
inline constexpr std::size_t kMaxVmOptionCount = 1000;
inline constexpr std::size_t kMaxVmOptionBytes = 65535;

// One variable: `value` may refer to others as %NAME%; an empty value removes
// the variable.
struct EnvironmentEntry {
  std::string name;
  std::string value;
};

// A name the system can hold: 1 to kMaxEnvironmentName bytes, no '=' and no
// control character. `why` names no key (the caller does).
bool checkEnvironmentName(std::string_view name, std::string& why);
// A value or a VM option: at most `maxBytes` bytes, no line feed, carriage
// return or NUL.
bool checkSettingItem(std::string_view item, std::size_t maxBytes, std::string& why);

// Key 30025: "NAME=value" items, in the order they are applied; names
// differ from each other in more than letter case.
bool parseEnvironmentSetting(std::string_view text, std::vector<EnvironmentEntry>& out, std::string& why);
std::string environmentSettingText(const std::vector<EnvironmentEntry>& entries);

// Key 30027: one VM option per item, none empty; the empty text is no option.
bool parseVmOptionList(std::string_view text, std::vector<std::string>& out, std::string& why);
std::string vmOptionListText(const std::vector<std::string>& options);
