// Version rules of the Java runtime search. A version is the text a runtime
// reports (1.4.2_05, 1.5.0-beta, 17.0.2); it is compared byte-wise against
// the configured bounds as a prefix, never numerically, so 1.10 sorts
// before 1.4. See docs/java-search.md.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The probe reads one line of the runtime's -version output into this many
// bytes, terminator included: a banner whose closing quote lies further out
// yields no version.
inline constexpr std::size_t kBannerLineBytes = 100;

// strcmp over texts that end at their first NUL: <0, 0 or >0 with bytes
// compared as unsigned char.
int compareVersionText(std::string_view a, std::string_view b);

// Whether a version text marks a pre-release: it contains "beta" or "ea"
// anywhere (case-sensitive, so 1.4.2-realtime counts too).
bool isBetaVersion(std::string_view version);

// The rules for an exact version. Without allowBeta a pre-release is
// refused. Then the version must not sort below the minimum over the
// minimum's length, nor above the maximum over the maximum's length: both
// bounds are inclusive prefixes, and an empty bound does not restrict.
// (The caller folds key 130 into allowBeta.)
bool isVersionAccepted(std::string_view version, std::string_view minimum,
                       std::string_view maximum, bool allowBeta);

// The prefilter for registry version names: like isVersionAccepted without
// the pre-release test, but each comparison covers only the shorter of the
// two lengths, so the name 1.4 passes the minimum 1.4.2.
bool isVersionKeyInRange(std::string_view name, std::string_view minimum,
                         std::string_view maximum);

// The names that pass isVersionKeyInRange, highest first (descending byte
// order), in the order the registry search probes them.
std::vector<std::string> versionKeysToProbe(std::vector<std::string> names,
                                            std::string_view minimum, std::string_view maximum);

// The version in a runtime's -version output. Only the first line counts,
// read as fgets reads it into kBannerLineBytes (at most 99 bytes, up to and
// including the first line end, cut at a NUL byte). It must begin with
// `java version "` or `openjdk version "`; the version is the text from
// there up to the next double quote, which must exist on that line and
// enclose at least one character. Anything else gives no version.
std::optional<std::string> parseVersionBanner(std::string_view output);
