// An XML document as a tree of elements, read by Debian's pugixml on the
// build machine and by Windows' own XmlLite in kernopack.exe (which has no
// pugixml build).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct XmlElement {
  std::string name;
  std::string text;  // its own character data (and CDATA), child elements' not included
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<XmlElement> children;

  const XmlElement* child(std::string_view childName) const;
  std::string childText(std::string_view childName) const;  // empty when there is no such child
  std::string attribute(std::string_view attributeName, std::string fallback = {}) const;
};

struct XmlRead {
  bool ok = false;
  XmlElement root;
  std::string error;  // "line 3, column 21: ..."
};

// Elements nested deeper than this are refused; a WinSW configuration needs four levels.
inline constexpr int kMaxXmlDepth = 32;

// Reads a document (UTF-8, or UTF-16 with a byte-order mark).
XmlRead readXml(std::string_view bytes);
