// Fuzzes what the runtime search reads from outside: the -version banner of
// a runtime, version texts from the registry against configured bounds, and
// the first line of a location file.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "jvm/search_sequence.h"
#include "jvm/version_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);

  if (auto version = parseVersionBanner(input)) {
    // A version is never empty and never reaches past its quotes or its line.
    if (version->empty() || version->size() >= kBannerLineBytes) std::abort();
    if (version->find_first_of(std::string_view("\"\n\0", 3)) != std::string::npos) std::abort();
    if (!isVersionAccepted(*version, "", "", true)) std::abort();
    if (!isVersionAccepted(*version, *version, *version, true)) std::abort();
  }

  // Three texts separated by '|': version, minimum, maximum.
  size_t first = input.find('|');
  size_t second = first == std::string_view::npos ? first : input.find('|', first + 1);
  if (second != std::string_view::npos) {
    std::string_view version = input.substr(0, first);
    std::string_view minimum = input.substr(first + 1, second - first - 1);
    std::string_view maximum = input.substr(second + 1);
    bool exact = isVersionAccepted(version, minimum, maximum, true);
    // The prefilter lets through every version the exact rules accept.
    if (exact && !isVersionKeyInRange(version, minimum, maximum)) std::abort();
    if (isVersionAccepted(version, minimum, maximum, false) && !exact) std::abort();
  }

  if (auto line = locationFileLine(input)) {
    if (line->size() >= kLocationLineBytes) std::abort();
    if (!line->empty() && (line->back() == '\n' || line->back() == '\r')) std::abort();
  }
  for (const SearchEntry& entry : splitSearchSequence(input)) {
    if (entry.argument.find(';') != std::string::npos) std::abort();
  }
  return 0;
}
