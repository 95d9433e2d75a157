// readXml with pugixml.
#include <pugixml.hpp>

#include "import/xml_tree.h"

namespace {

std::string placeOf(std::string_view xml, ptrdiff_t offset) {
  int line = 1, column = 1;
  for (ptrdiff_t i = 0; i < offset && size_t(i) < xml.size(); ++i) {
    if (xml[size_t(i)] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

bool copyElement(pugi::xml_node from, XmlElement& to, int depth) {
  if (depth > kMaxXmlDepth) return false;
  to.name = from.name();
  for (pugi::xml_attribute a : from.attributes()) to.attributes.emplace_back(a.name(), a.value());
  for (pugi::xml_node n : from.children()) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
      to.text += n.value();
    } else if (n.type() == pugi::node_element) {
      to.children.emplace_back();
      if (!copyElement(n, to.children.back(), depth + 1)) return false;
    }
  }
  return true;
}

}  // namespace

XmlRead readXml(std::string_view bytes) {
  XmlRead out;
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed) {
    out.error = placeOf(bytes, parsed.offset) + ": not well-formed XML: " + parsed.description();
    return out;
  }
  if (!doc.document_element()) {
    out.error = "no root element";
    return out;
  }
  if (!copyElement(doc.document_element(), out.root, 1)) {
    out.error = "elements nested more than " + std::to_string(kMaxXmlDepth) + " levels deep";
    return out;
  }
  out.ok = true;
  return out;
}
