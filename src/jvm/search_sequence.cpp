#include "jvm/search_sequence.h"

#include "config/value_list.h"

std::vector<SearchEntry> splitSearchSequence(std::string_view sequence) {
  std::vector<SearchEntry> entries;
  for (std::string_view item : splitList(sequence, kListSeparator, EmptyItems::drop)) {
    entries.push_back({item[0], std::string(item.substr(1))});
  }
  return entries;
}

bool isAbsoluteEntryArgument(std::string_view argument) {
  if (argument.size() < 2) return false;
  return argument[1] == ':' || (argument[0] == '\\' && argument[1] == '\\');
}

bool takesPartInFallback(const SearchEntry& entry) {
  switch (entry.type) {
    case 'B': return true;
    case 'A':
    case 'R': return !isAbsoluteEntryArgument(entry.argument);
    default: return false;
  }
}

std::string_view productHomeVariable(LauncherFlavour flavour) {
  switch (flavour) {
    case LauncherFlavour::kerno: return "KERNO_JAVA_HOME";
    case LauncherFlavour::brindle: return "BRINDLE_JAVA_HOME";
    case LauncherFlavour::none: break;
  }
  return {};
}

LoadFailureMessage loadFailureMessage(JvmLocationKind kind) {
  switch (kind) {
    case JvmLocationKind::kindSearchPath: return {ConfigKey::MSG_PATH_JVM_DAMAGED, {}};
    case JvmLocationKind::kindEnvironmentVariable:
      return {ConfigKey::MSG_ENV_VAR_JVM_INVALID, kPlaceholderEnvVarName};
    case JvmLocationKind::kindDefinedPath:
      return {ConfigKey::MSG_DEFINED_JVM_DAMAGED, kPlaceholderDefinedPath};
    case JvmLocationKind::kindRegistry: return {ConfigKey::MSG_JVM_START_FAILED, {}};
    case JvmLocationKind::kindNone: break;
  }
  return {ConfigKey::MSG_NO_JVM, {}};
}

std::optional<std::string> locationFileLine(std::string_view content) {
  if (content.empty()) return std::nullopt;
  std::string_view line = content.substr(0, kLocationLineBytes - 1);
  std::size_t end = line.find('\n');
  if (end != std::string_view::npos) line = line.substr(0, end + 1);
  line = line.substr(0, line.find('\0'));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return std::string(line);
}

bool usesSystemSearchPath(std::string_view sequence) {
  for (const SearchEntry& entry : splitSearchSequence(sequence))
    if (entry.type == 'S') return true;
  return false;
}
