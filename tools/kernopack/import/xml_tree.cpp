#include "import/xml_tree.h"

const XmlElement* XmlElement::child(std::string_view childName) const {
  for (const XmlElement& c : children) {
    if (c.name == childName) return &c;
  }
  return nullptr;
}

std::string XmlElement::childText(std::string_view childName) const {
  const XmlElement* c = child(childName);
  return c ? c->text : std::string();
}

std::string XmlElement::attribute(std::string_view attributeName, std::string fallback) const {
  for (const auto& [n, v] : attributes) {
    if (n == attributeName) return v;
  }
  return fallback;
}
