#include "config/config_store.h"

#include <climits>

#include "config/config_state.h"

int parseConfigInt(std::string_view text) {
  size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

namespace {
template <typename Map, typename Str>
Str lookup(const Map& map, int32_t key) {
  auto it = map.find(key);
  if (it == map.end()) return Str();
  const Str& value = it->second;
  size_t nul = value.find(typename Str::value_type(0));
  return nul == Str::npos ? value : value.substr(0, nul);
}
}  // namespace

std::string getConfigString(const ConfigTables& store, ConfigKey key) {
  return lookup<decltype(store.narrow), std::string>(store.narrow, static_cast<int32_t>(key));
}

std::u16string getConfigWString(const ConfigTables& store, WideKey key) {
  return lookup<decltype(store.wide), std::u16string>(store.wide, static_cast<int32_t>(key));
}

int getConfigInt(const ConfigTables& store, ConfigKey key) {
  return parseConfigInt(getConfigString(store, key));
}

std::string getConfigString(ConfigKey key) { return getConfigString(configTables(), key); }
std::u16string getConfigWString(WideKey key) { return getConfigWString(configTables(), key); }
int getConfigInt(ConfigKey key) { return getConfigInt(configTables(), key); }
