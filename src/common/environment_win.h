// Reading the process environment: the one reader of single variables.
#pragma once

#include <string>

// Reads an environment variable at any length (the system keeps values below
// 32767 characters). False when it is not defined; a defined variable may
// have an empty value. A value that keeps changing while it is read counts
// as not defined.
bool readEnvironmentVariable(const std::string& name, std::string& value);

// The value, or the empty text when the variable is not defined.
inline std::string environmentValue(const std::string& name) {
  std::string value;
  readEnvironmentVariable(name, value);
  return value;
}
