// Probing of one Java runtime: its java executable, its version (from the
// per-user version cache or by running it with -version) and the version
// rules; and the registry searches of the Y entry. Every step is logged.
// Out-parameters: `exe` holds the last candidate tried, also on failure;
// `version` holds the version found, or the empty text.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "common/handles_win.h"

// The configured version bounds (keys 126 and 127); empty means no bound.
struct VersionBounds {
  std::string minimum;
  std::string maximum;
};

// Registry values read into fixed sizes, terminator included: a longer value
// counts as missing.
inline constexpr std::size_t kCurrentVersionBytes = 100;
inline constexpr std::size_t kRegistryTextBytes = 8192;  // JavaHome, Version
inline constexpr std::size_t kRegistryNameBytes = 8192;  // enumerated subkey names
// How long a version probe may run.
inline constexpr DWORD kVersionProbeTimeoutMs = 10000;

// The java executable of a runtime home: home\jre\bin\java.exe when it
// exists, else home\bin\java.exe (tested later). With key 131 set, only a
// home holding lib\tools.jar counts and the answer is home\jre\bin\java.exe.
[[nodiscard]] bool javaExeFromHome(std::string& exe, const std::string& home);

// The probe: resolves exe, finds its version and applies the version rules
// (key 130 makes allowBeta true). With key 107 equal to 1, an accepted exe is
// answered as javaw.exe, which must then exist.
[[nodiscard]] bool checkJavaExe(std::string& exe, std::string& version,
                                const VersionBounds& bounds, bool allowBeta);

// The version cache entry of exe when its last-write time still matches.
[[nodiscard]] bool readVersionCache(const std::string& exe, const FILETIME& lastWrite,
                                    std::string& version);
// Stores a probed version; failures are ignored.
void writeVersionCache(const std::string& exe, const FILETIME& lastWrite,
                       const std::string& version);

// Runs exe -version (at most kVersionProbeTimeoutMs) and reads the version
// from the first line it prints on standard error, which goes to a file in
// the launcher's private directory.
[[nodiscard]] bool runJavaVersion(const std::string& exe, std::string& version);

// Names tried for a probe's output file in the launcher's private directory
// (krn_v0.tmp, krn_v1.tmp, ...): only an included file can take one.
inline constexpr unsigned kProbeOutputNameAttempts = 16;

// A new private file in the launcher's private directory, opened for reading
// and writing, whose handle a child process inherits; `name` receives its
// path. No handle on failure (`name` then says what to remove, or is empty).
UniqueHandle createProbeOutputFile(std::string& name);

// The Y entry: the JavaSoft keys and the located-JVM lists; the higher
// version wins, the located runtime on a tie.
[[nodiscard]] bool searchRegistry(std::string& exe, const VersionBounds& bounds);
[[nodiscard]] bool searchJavaSoft(std::string& exe, std::string& version,
                                  const VersionBounds& bounds);
[[nodiscard]] bool searchJavaSoftCurrentVersion(std::string& exe, std::string& version,
                                                const VersionBounds& bounds);
[[nodiscard]] bool searchJavaSoftVersions(std::string& exe, std::string& version,
                                          const VersionBounds& bounds, const char* keyName);
[[nodiscard]] bool searchLocatedJvms(std::string& exe, std::string& version,
                                     const VersionBounds& bounds);
[[nodiscard]] bool searchLocatedJvmsUnder(HKEY root, std::string& exe, std::string& version,
                                          const VersionBounds& bounds);

// Opens root\subkey for reading and reads one text value of at most
// capacity bytes, terminator included. False when anything fails or the
// value is longer.
[[nodiscard]] bool readRegistryString(HKEY root, const std::string& subkey, const char* valueName,
                                      std::size_t capacity, std::string& out);
