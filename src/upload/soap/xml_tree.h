// A whole small XML document in memory, read through an XmlReader, for the
// WSDL reader: a service description refers back and forth by QName, which a
// single forward pass cannot follow.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "upload/soap/xml_reader.h"

namespace tallowin::soap {

struct QName {
  std::string namespaceUri;
  std::string localName;
};

struct XmlElement {
  std::string localName;
  std::string namespaceUri;
  // Attributes without the namespace declarations.
  std::vector<XmlAttribute> attributes;
  // The namespace declarations made on this element: prefix ("" for the
  // default namespace) and URI.
  std::vector<std::pair<std::string, std::string>> namespaces;
  std::vector<std::unique_ptr<XmlElement>> children;
  // The element's own character data (not its children's), concatenated.
  std::string text;
  const XmlElement* parent = nullptr;

  bool is(std::string_view ns, std::string_view name) const {
    return namespaceUri == ns && localName == name;
  }
  // An attribute without namespace (as all WSDL and schema attributes are).
  const std::string* attribute(std::string_view name) const;
  // The first child element with that namespace and name.
  const XmlElement* child(std::string_view ns, std::string_view name) const;
  // Resolves a QName written in an attribute value ("tns:foo", or "foo" in the
  // default namespace) against the namespaces in scope here.
  std::optional<QName> resolve(std::string_view qname) const;
};

struct XmlTree {
  std::unique_ptr<XmlElement> root;
  std::string error;  // when there is no root: why, one line
};

// Limits that keep a hostile document from exhausting the stack or memory;
// a document beyond them is refused.
inline constexpr int kMaxXmlDepth = 64;
inline constexpr size_t kMaxXmlElements = 200000;

XmlTree ReadXmlTree(XmlReader& reader);

}  // namespace tallowin::soap
