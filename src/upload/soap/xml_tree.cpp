#include "upload/soap/xml_tree.h"

#include "platform/text.h"

namespace tallowin::soap {

const std::string* XmlElement::attribute(std::string_view name) const {
  for (const auto& a : attributes)
    if (a.namespaceUri.empty() && a.localName == name) return &a.value;
  return nullptr;
}

const XmlElement* XmlElement::child(std::string_view ns, std::string_view name) const {
  for (const auto& c : children)
    if (c->is(ns, name)) return c.get();
  return nullptr;
}

std::optional<QName> XmlElement::resolve(std::string_view qname) const {
  // Surrounding whitespace is allowed in QName-typed attributes.
  const std::string trimmed = Trim(qname, kXmlWhitespace);
  qname = trimmed;
  const size_t colon = qname.find(':');
  const std::string_view prefix = colon == std::string_view::npos ? std::string_view{} : qname.substr(0, colon);
  const std::string_view local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
  if (local.empty() || local.find(':') != std::string_view::npos) return std::nullopt;
  if (prefix == "xml") return QName{"http://www.w3.org/XML/1998/namespace", std::string(local)};
  for (const XmlElement* e = this; e; e = e->parent)
    for (const auto& [p, uri] : e->namespaces)
      if (p == prefix) return QName{uri, std::string(local)};
  if (prefix.empty()) return QName{"", std::string(local)};
  return std::nullopt;
}

namespace {

// A start tag's element with its attributes; the xmlns ones become its
// namespace declarations.
std::unique_ptr<XmlElement> elementOf(XmlEvent& ev) {
  auto element = std::make_unique<XmlElement>();
  element->localName = std::move(ev.localName);
  element->namespaceUri = std::move(ev.namespaceUri);
  for (auto& a : ev.attributes) {
    if (a.namespaceUri == kXmlnsNamespace) {
      // xmlns="..." comes as local name "xmlns" without prefix.
      const bool isDefault = a.prefix.empty() && a.localName == "xmlns";
      element->namespaces.emplace_back(isDefault ? std::string() : a.localName, std::move(a.value));
    } else {
      element->attributes.push_back(std::move(a));
    }
  }
  return element;
}

}  // namespace

XmlTree ReadXmlTree(XmlReader& reader) {
  XmlTree tree;
  std::vector<XmlElement*> open;
  size_t count = 0;
  XmlEvent ev;
  for (;;) {
    switch (reader.next(ev)) {
      case XmlEventType::StartElement: {
        if (open.empty() && tree.root) {
          tree.error = "the document has more than one root element";
          tree.root.reset();
          return tree;
        }
        if (static_cast<int>(open.size()) >= kMaxXmlDepth || ++count > kMaxXmlElements) {
          tree.error = "the document is nested too deeply or has too many elements";
          tree.root.reset();
          return tree;
        }
        auto element = elementOf(ev);
        XmlElement* raw = element.get();
        if (open.empty()) {
          tree.root = std::move(element);
        } else {
          raw->parent = open.back();
          open.back()->children.push_back(std::move(element));
        }
        open.push_back(raw);
        break;
      }
      case XmlEventType::EndElement:
        if (!open.empty()) open.pop_back();
        break;
      case XmlEventType::Text:
        if (!open.empty()) open.back()->text += ev.text;
        break;
      case XmlEventType::Doctype:
        tree.error = "the document has a document type declaration";
        tree.root.reset();
        return tree;
      case XmlEventType::Error: {
        std::string why = reader.errorText();
        tree.error = "the document is not well-formed XML" + (why.empty() ? std::string() : ": " + why);
        tree.root.reset();
        return tree;
      }
      case XmlEventType::EndOfDocument:
        if (!tree.root) tree.error = "the document has no root element";
        if (!open.empty()) {
          tree.error = "the document ended inside an element";
          tree.root.reset();
        }
        return tree;
    }
  }
}

}  // namespace tallowin::soap
