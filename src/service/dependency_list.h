// Pure rules of the service registration: the dependency list in the form
// the service control manager takes, and the binary path as registered.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Turns the text of key 149 (serviceDependencies), service names separated by
// commas, into the service control manager's list: every name followed by a
// NUL, the whole list followed by one more NUL ("a,,b" gives "a\0b\0\0").
// Empty pieces vanish; names are kept as they are, spaces included. A text
// without any name (empty, or commas only) gives no list at all. Any length.
std::optional<std::string> buildDependencyList(std::string_view names);

// The binary path to register for the executable at `executablePath`: in
// double quotes when it contains a space, unchanged otherwise. Without the
// quotes the service control manager would try the path's leading words as
// programs of their own (c:\program.exe for c:\program files\...).
std::string serviceBinaryPath(std::string_view executablePath);
