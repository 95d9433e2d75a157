#include "jvm/version_rules.h"

#include <algorithm>

namespace {

// The C text a view stands for: everything before its first NUL.
std::string_view cText(std::string_view text) { return text.substr(0, text.find('\0')); }

// strncmp over views, with the end of a view read as its terminator.
int prefixCompare(std::string_view a, std::string_view b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char ca = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    unsigned char cb = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == 0) return 0;
  }
  return 0;
}

constexpr std::string_view kBannerPrefixes[] = {"java version \"", "openjdk version \""};

}  // namespace

int compareVersionText(std::string_view a, std::string_view b) {
  a = cText(a);
  b = cText(b);
  return prefixCompare(a, b, std::max(a.size(), b.size()) + 1);
}

bool isBetaVersion(std::string_view version) {
  version = cText(version);
  return version.find("beta") != std::string_view::npos ||
         version.find("ea") != std::string_view::npos;
}

bool isVersionAccepted(std::string_view version, std::string_view minimum,
                       std::string_view maximum, bool allowBeta) {
  version = cText(version);
  minimum = cText(minimum);
  maximum = cText(maximum);
  if (!allowBeta && isBetaVersion(version)) return false;
  if (prefixCompare(version, minimum, minimum.size()) < 0) return false;
  if (prefixCompare(version, maximum, maximum.size()) > 0) return false;
  return true;
}

bool isVersionKeyInRange(std::string_view name, std::string_view minimum,
                         std::string_view maximum) {
  name = cText(name);
  minimum = cText(minimum);
  maximum = cText(maximum);
  if (prefixCompare(name, minimum, std::min(name.size(), minimum.size())) < 0) return false;
  if (prefixCompare(name, maximum, std::min(name.size(), maximum.size())) > 0) return false;
  return true;
}

std::vector<std::string> versionKeysToProbe(std::vector<std::string> names,
                                            std::string_view minimum, std::string_view maximum) {
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const std::string& name) {
                               return !isVersionKeyInRange(name, minimum, maximum);
                             }),
              names.end());
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return compareVersionText(a, b) > 0;
  });
  return names;
}

std::optional<std::string> parseVersionBanner(std::string_view output) {
  // The first line as fgets delivers it into the probe's line buffer.
  std::string_view line = output.substr(0, kBannerLineBytes - 1);
  std::size_t end = line.find('\n');
  if (end != std::string_view::npos) line = line.substr(0, end + 1);
  line = cText(line);

  for (std::string_view prefix : kBannerPrefixes) {
    if (line.substr(0, prefix.size()) != prefix) continue;
    std::string_view rest = line.substr(prefix.size());
    std::size_t quote = rest.find('"');
    if (quote == std::string_view::npos || quote == 0) return std::nullopt;
    return std::string(rest.substr(0, quote));
  }
  return std::nullopt;
}
