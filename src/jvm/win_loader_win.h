// The Java runtime search: LoadDLL finds a runtime whose version lies within
// the configured bounds (searchJvm), loads its JVM library and resolves the
// VM creation entry point, or shows the one message that fits the failure.
// The order of the search is described in docs/java-search.md.
#pragma once

#include <string>

#include "jvm/java_probe_win.h"
#include "jvm/search_sequence.h"

// The location files, relative to the installation directory (key 10003).
inline constexpr const char* kPreferredLocationFile = "\\.brindle\\pref_jre.cfg";
inline constexpr const char* kInstallerLocationFile = "\\.brindle\\inst_jre.cfg";

// Environment values longer than this cannot name a runtime home; such a
// variable fails its entry.
inline constexpr std::size_t kMaxEnvironmentValue = 8191;

// True: the library is loaded and JNI_CreateJavaVM is kept for the launch.
// False: one message has been shown (the log says why).
[[nodiscard]] bool LoadDLL();

// The whole search. On success `exe` is the accepted java executable and
// `location` says where it was found (for the message placeholders).
JvmLocationKind searchJvm(std::string& exe, std::string& location);

// The first line of a location file; false when the file is missing,
// unreadable or empty.
[[nodiscard]] bool readLocationFile(std::string& line, const char* fileName);

// One runtime home directory (relative ones are taken from the executable's
// directory). With skipProbe the candidate executable is only named, not
// tested.
[[nodiscard]] bool testLocation(std::string& exe, const std::string& directory,
                                const VersionBounds& bounds, bool skipProbe);

// The runtime home held by an environment variable (forward slashes allowed).
[[nodiscard]] bool testEnvironmentVariable(std::string& exe, const std::string& name,
                                           const VersionBounds& bounds);

// The java.exe that the system's standard search order finds.
[[nodiscard]] bool testSearchPath(std::string& exe, const VersionBounds& bounds);
