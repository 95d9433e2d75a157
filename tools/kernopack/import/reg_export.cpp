#include "import/reg_export.h"

#include <cctype>

#include "io/codepage.h"

namespace {

constexpr std::string_view kHeaderV5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeaderV4 = "REGEDIT4";

bool equalsNoCase(std::string_view a, std::string_view b) { return asciiLower(a) == asciiLower(b); }

std::string lineError(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A quoted text at the start of `s` with regedit's escapes (\\ and \");
// `s` moves past the closing quote.
bool readQuoted(std::string_view& s, std::string& out) {
  if (s.empty() || s.front() != '"') return false;
  for (size_t i = 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (s[i] == '"') {
      s.remove_prefix(i + 1);
      return true;
    } else {
      out += s[i];
    }
  }
  return false;
}

bool readHexBytes(std::string_view s, std::vector<uint8_t>& out) {
  while (!s.empty()) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    if (s.empty()) break;
    if (s.size() < 2 || hexDigit(s[0]) < 0 || hexDigit(s[1]) < 0) return false;
    out.push_back(uint8_t(hexDigit(s[0]) * 16 + hexDigit(s[1])));
    s.remove_prefix(2);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    if (!s.empty()) {
      if (s.front() != ',') return false;
      s.remove_prefix(1);
    }
  }
  return true;
}

// The texts held in hex data: UTF-16LE in a version 5 file, 8-bit in REGEDIT4.
bool hexTexts(const std::vector<uint8_t>& bytes, bool utf16, std::vector<std::string>& out) {
  std::string current;
  if (utf16) {
    if (bytes.size() % 2 != 0) return false;
    std::u16string units;
    for (size_t i = 0; i < bytes.size(); i += 2) units += char16_t(bytes[i] | (bytes[i + 1] << 8));
    std::u16string piece;
    for (size_t i = 0; i <= units.size(); ++i) {
      if (i < units.size() && units[i] != 0) {
        piece += units[i];
        continue;
      }
      size_t bad = 0;
      if (!utf16ToUtf8(piece, current, bad)) return false;
      out.push_back(current);
      current.clear();
      piece.clear();
    }
    return true;
  }
  for (size_t i = 0; i <= bytes.size(); ++i) {
    if (i < bytes.size() && bytes[i] != 0) {
      current += char(bytes[i]);
      continue;
    }
    out.push_back(current);
    current.clear();
  }
  return true;
}

bool typedHex(RegValue& v, unsigned kind, bool utf16) {
  std::vector<std::string> texts;
  switch (kind) {
    case 1:
    case 2:
      if (!hexTexts(v.bytes, utf16, texts)) return false;
      v.type = kind == 1 ? RegType::string : RegType::expandString;
      v.text = texts.empty() ? std::string() : texts.front();
      return true;
    case 7:
      if (!hexTexts(v.bytes, utf16, texts)) return false;
      v.type = RegType::multiString;
      while (!texts.empty() && texts.back().empty()) texts.pop_back();
      v.items = texts;
      return true;
    case 4:
    case 11:
      if (v.bytes.size() != (kind == 4 ? 4u : 8u)) return false;
      v.type = kind == 4 ? RegType::dword : RegType::qword;
      for (size_t i = v.bytes.size(); i-- > 0;) v.number = (v.number << 8) | v.bytes[i];
      return true;
    default:
      v.type = RegType::binary;
      return true;
  }
}

// The data after '=': a string, dword:, hex: or hex(N):.
bool readData(std::string_view data, RegValue& v, bool utf16, std::string& why) {
  if (!data.empty() && data.front() == '"') {
    if (!readQuoted(data, v.text) || !data.empty()) {
      why = "a text value without its closing quote, or with something after it";
      return false;
    }
    return true;
  }
  if (data.rfind("dword:", 0) == 0) {
    std::string_view digits = data.substr(6);
    v.type = RegType::dword;
    if (digits.empty() || digits.size() > 8) return why = "dword: needs 1 to 8 hex digits", false;
    for (char c : digits) {
      if (hexDigit(c) < 0) return why = "dword: needs hex digits", false;
      v.number = v.number * 16 + unsigned(hexDigit(c));
    }
    return true;
  }
  unsigned kind = 3;
  if (data.rfind("hex(", 0) == 0) {
    size_t close = data.find(')');
    if (close == std::string_view::npos || close == 4 || close > 6) return why = "hex(N): is malformed", false;
    kind = 0;
    for (char c : data.substr(4, close - 4)) {
      if (hexDigit(c) < 0) return why = "hex(N): is malformed", false;
      kind = kind * 16 + unsigned(hexDigit(c));
    }
    data.remove_prefix(close + 1);
  } else if (data.rfind("hex", 0) == 0) {
    data.remove_prefix(3);
  } else {
    why = "a value must be a quoted text, dword: or hex:";
    return false;
  }
  if (data.empty() || data.front() != ':' || !readHexBytes(data.substr(1), v.bytes)) {
    why = "hex data must be two-digit hex bytes separated by commas";
    return false;
  }
  if (!typedHex(v, kind, utf16)) why = "hex(" + std::to_string(kind) + ") data does not hold what its type says";
  return why.empty();
}

bool readValueLine(std::string_view line, RegKey& key, bool utf16, std::string& why) {
  RegValue v;
  if (!line.empty() && line.front() == '@') {
    line.remove_prefix(1);
  } else if (!readQuoted(line, v.name)) {
    why = "expected \"name\"=value, @=value or [key]";
    return false;
  }
  if (line.empty() || line.front() != '=') {
    why = "expected '=' after the value's name";
    return false;
  }
  line.remove_prefix(1);
  if (line == "-") {
    why = "a value deletion, which reg export never writes";
    return false;
  }
  if (!readData(line, v, utf16, why)) return false;
  key.values.push_back(std::move(v));
  return true;
}

std::vector<std::string_view> physicalLines(std::string_view text) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    pos = end + 1;
  }
  return out;
}

}  // namespace

std::string asciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

const RegValue* RegKey::find(std::string_view name) const {
  for (const RegValue& v : values) {
    if (equalsNoCase(v.name, name)) return &v;
  }
  return nullptr;
}

const RegKey* RegExport::keyEndingWith(std::string_view tail) const {
  std::string want = asciiLower(tail);
  for (const RegKey& k : keys) {
    std::string path = asciiLower(k.path);
    if (path.size() < want.size() || path.compare(path.size() - want.size(), want.size(), want) != 0) continue;
    if (path.size() == want.size() || (!want.empty() && want.front() == '\\') || path[path.size() - want.size() - 1] == '\\') return &k;
  }
  return nullptr;
}

bool decodeSourceText(std::string_view bytes, std::string& utf8, std::string& error) {
  size_t bad = 0;
  if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) return error = "UTF-16 text with an odd number of bytes (cut short?)", false;
    std::u16string units;
    for (size_t i = 2; i < bytes.size(); i += 2) {
      units += char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8));
    }
    if (utf16ToUtf8(units, utf8, bad)) return true;
    error = "malformed UTF-16 at byte " + std::to_string(2 + 2 * bad);
    return false;
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  std::u32string points;
  if (!utf8ToCodePoints(bytes, points, bad)) {
    error = "neither UTF-8 nor UTF-16 with a byte-order mark (byte " + std::to_string(bad + 1) + ")";
    return false;
  }
  utf8.assign(bytes);
  return true;
}

bool looksLikeRegExport(std::string_view bytes) {
  std::string text, error;
  if (!decodeSourceText(bytes.substr(0, std::min<size_t>(bytes.size(), 256) & ~size_t(1)), text, error)) {
    return false;
  }
  return text.rfind(kHeaderV5, 0) == 0 || text.rfind(kHeaderV4, 0) == 0;
}

RegExport parseRegExport(std::string_view bytes) {
  RegExport out;
  std::string text;
  if (!decodeSourceText(bytes, text, out.error)) return out;
  std::vector<std::string_view> lines = physicalLines(text);
  size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  if (first == lines.size() || (lines[first] != kHeaderV5 && lines[first] != kHeaderV4)) {
    out.error = "line 1: not a registry file (it starts neither with \"" + std::string(kHeaderV5) +
                "\" nor with \"REGEDIT4\")";
    return out;
  }
  bool utf16 = lines[first] == kHeaderV5;
  for (size_t i = first + 1; i < lines.size(); ++i) {
    int number = int(i + 1);
    std::string line(lines[i]);
    while (!line.empty() && line.back() == '\\') {
      if (++i >= lines.size()) return out.error = lineError(number, "the value goes on past the end of the file (is it cut short?)"), out;
      line.pop_back();
      std::string_view next = lines[i];
      while (!next.empty() && (next.front() == ' ' || next.front() == '\t')) next.remove_prefix(1);
      line += next;
    }
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return out.error = lineError(number, "a key line must end with ']'"), out;
      if (line[1] == '-') return out.error = lineError(number, "a key deletion, which reg export never writes"), out;
      out.keys.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    if (out.keys.empty()) return out.error = lineError(number, "a value before the first [key] line"), out;
    std::string why;
    if (!readValueLine(line, out.keys.back(), utf16, why)) return out.error = lineError(number, why), out;
  }
  out.ok = true;
  return out;
}
