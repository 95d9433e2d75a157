// Variable expansion in configured texts (the class-path entries, the VM
// parameters, the arguments): sixteen built-in references, then ${NAME} for
// every entry of an environment snapshot. The system calls that take the
// snapshot and the built-in values are in jvm/variables_win.cpp.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An expanded text stays within this many bytes (the 8192-byte buffer of
// the configured texts, terminator excluded): a replacement that would make
// it longer is not made, and the reference stays in the text.
inline constexpr std::size_t kMaxExpandedText = 8191;

// Environment entries longer than this (NAME=VALUE, terminator excluded) are
// not used: they could not have been copied whole.
inline constexpr std::size_t kMaxEnvironmentEntry = 8191;

// The values behind the built-in references, taken at the time of a call.
struct BuiltinValues {
  std::string exeDirectory;  // with its trailing backslash
  std::string tempDirectory; // the extraction directory; empty when nothing is included
  std::string jvmHome;       // empty until a runtime was chosen
};

// Replaces every occurrence of `reference` by `value`, left to right. The
// search goes on after each inserted value, so a value that holds its own
// reference is inserted once and not expanded again. An empty reference
// replaces nothing. Stops at the first replacement that would make the text
// longer than kMaxExpandedText.
void replaceAll(std::string& text, std::string_view reference, std::string_view value);

// Expands the built-in references in their fixed order (%KERNO_EXEDIR%,
// %BRINDLE_EXEDIR%, ..., ${BRINDLE_JVM_HOME}), then, for each environment
// entry in block order (NAME=VALUE; entries without '=' are skipped), the
// reference ${NAME} and its C-locale upper-case form. The hidden per-drive
// entries (=C:=C:\dir) have an empty name: "${}" takes the rest of the
// first such entry.
void expandVariables(std::string& text, const BuiltinValues& values,
                     const std::vector<std::string>& environment);

// Whether `reference` is one of the built-in references ("%KERNO_EXEDIR%",
// "${BRINDLE_JVM_HOME}", ...), exactly as written.
bool isBuiltinReference(std::string_view reference);

// The value of an environment variable, or nothing when it is not defined.
using VariableLookup = std::function<std::optional<std::string>(const std::string& name)>;

// Replaces each %NAME% that `lookup` defines by its value, left to right, as
// the system expands a registry value: an undefined name stays as it is,
// with both '%', and a '%' without a partner is kept. Inserted values are
// not expanded again. False, with `text` unchanged, when the result would
// be longer than `maxBytes`.
bool expandPercentReferences(std::string& text, const VariableLookup& lookup, std::size_t maxBytes);

// The runtime home behind %KERNO_JVM_HOME%: the java executable's path
// without "javaw.exe" (exact case) or without its last eight characters
// (java.exe), followed by "..": c:\jre\bin\java.exe gives c:\jre\bin\.. .
std::string jvmHomeFromJavaExe(std::string_view javaExe);
