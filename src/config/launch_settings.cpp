#include "config/launch_settings.h"

#include "config/service_settings.h"
#include "config/value_list.h"

namespace {

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// The items of a stored list; the empty text has none.
std::vector<std::string_view> items(std::string_view text) {
  if (text.empty()) return {};
  return splitList(text, kSettingItemSeparator, EmptyItems::keep);
}

std::string itemLabel(size_t index) { return "item " + std::to_string(index + 1); }

}  // namespace

bool checkEnvironmentName(std::string_view name, std::string& why) {
  if (name.empty() || name.size() > kMaxEnvironmentName) {
    why = "a variable name must be 1 to " + std::to_string(kMaxEnvironmentName) + " bytes long";
    return false;
  }
  for (char c : name) {
    if (c == '=' || isControl(c)) {
      why = "the variable name \"" + std::string(name) + "\" holds " +
            (c == '=' ? std::string("'='") : std::string("a control character")) +
            ", which no environment variable's name can";
      return false;
    }
  }
  return true;
}

bool checkSettingItem(std::string_view item, std::size_t maxBytes, std::string& why) {
  if (item.size() > maxBytes) {
    why = "longer than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  size_t bad = item.find_first_of(std::string_view("\n\r\0", 3));
  if (bad != std::string_view::npos) {
    why = std::string("holds a ") + (item[bad] == '\0' ? "NUL" : "line break") + " at byte " +
          std::to_string(bad + 1);
    return false;
  }
  return true;
}

bool parseEnvironmentSetting(std::string_view text, std::vector<EnvironmentEntry>& out, std::string& why) {
  std::vector<EnvironmentEntry> entries;
  std::vector<std::string_view> list = items(text);
  if (list.size() > kMaxEnvironmentEntries) {
    why = "more than " + std::to_string(kMaxEnvironmentEntries) + " variables";
    return false;
  }
  for (size_t i = 0; i < list.size(); ++i) {
    size_t equals = list[i].find('=');
    std::string_view name = list[i].substr(0, equals);
    std::string_view value = equals == std::string_view::npos ? std::string_view() : list[i].substr(equals + 1);
    std::string detail;
    if (equals == std::string_view::npos || !checkEnvironmentName(name, detail) ||
        !checkSettingItem(value, kMaxEnvironmentValue, detail)) {
      why = itemLabel(i) + ": " + (detail.empty() ? "is not NAME=value" : detail);
      return false;
    }
    for (const EnvironmentEntry& e : entries) {
      if (equalsIgnoringCase(e.name, name)) {
        why = "the variable \"" + std::string(name) + "\" is given twice (names are compared without case)";
        return false;
      }
    }
    entries.push_back(EnvironmentEntry{std::string(name), std::string(value)});
  }
  out = std::move(entries);
  return true;
}

std::string environmentSettingText(const std::vector<EnvironmentEntry>& entries) {
  std::string text;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) text += kSettingItemSeparator;
    text += entries[i].name + "=" + entries[i].value;
  }
  return text;
}

bool parseVmOptionList(std::string_view text, std::vector<std::string>& out, std::string& why) {
  std::vector<std::string_view> list = items(text);
  if (list.size() > kMaxVmOptionCount) {
    why = "more than " + std::to_string(kMaxVmOptionCount) + " options";
    return false;
  }
  std::vector<std::string> options;
  for (size_t i = 0; i < list.size(); ++i) {
    std::string detail;
    if (list[i].empty()) detail = "is empty";
    if (!detail.empty() || !checkSettingItem(list[i], kMaxVmOptionBytes, detail)) {
      why = itemLabel(i) + ": " + detail;
      return false;
    }
    options.emplace_back(list[i]);
  }
  out = std::move(options);
  return true;
}

std::string vmOptionListText(const std::vector<std::string>& options) {
  std::string text;
  for (size_t i = 0; i < options.size(); ++i) {
    if (i > 0) text += kSettingItemSeparator;
    text += options[i];
  }
  return text;
}
