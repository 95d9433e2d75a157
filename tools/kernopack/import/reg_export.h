// The registry files `reg export` and regedit write (.reg): UTF-16LE with a
// byte-order mark ("Windows Registry Editor Version 5.00"), or 8-bit text
// ("REGEDIT4", or version 5 saved as UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class RegType { string, expandString, multiString, dword, qword, binary };

struct RegValue {
  std::string name;  // empty for the default value ("@")
  RegType type = RegType::string;
  std::string text;                // string and expandString (UTF-8)
  std::vector<std::string> items;  // multiString (UTF-8)
  uint64_t number = 0;             // dword and qword
  std::vector<uint8_t> bytes;      // binary, and the raw data of other hex types
};

struct RegKey {
  std::string path;  // as written between the brackets
  std::vector<RegValue> values;
  const RegValue* find(std::string_view name) const;  // case-insensitive
};

struct RegExport {
  bool ok = false;
  std::vector<RegKey> keys;
  std::string error;  // "line 12: ..." (lines of the decoded text)
  // The key whose path ends with `tail` (case-insensitive, at a '\' boundary).
  const RegKey* keyEndingWith(std::string_view tail) const;
};

// True when the bytes look like a registry file (either header, any encoding).
bool looksLikeRegExport(std::string_view bytes);

// Parses a registry file. Refuses what `reg export` cannot have written:
// a missing header, a value outside a key, a line it cannot read, data that
// stops in the middle (a truncated file), hex(2)/hex(7) data of odd length.
RegExport parseRegExport(std::string_view bytes);

// Decodes text that may be UTF-16LE with a byte-order mark or UTF-8 (with
// or without its mark) into UTF-8; false with `error` for malformed text.
bool decodeSourceText(std::string_view bytes, std::string& utf8, std::string& error);

// Lower-case ASCII copy, for comparing registry and file names.
std::string asciiLower(std::string_view s);
