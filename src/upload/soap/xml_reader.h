// A small pull reader over one XML document, the only way the SOAP client
// reads XML. Windows' XmlLite implements it in the binding; libxml2 implements
// it for the native tests and fuzzers.
//
// What an implementation guarantees:
// - Texts are UTF-8. Names are split into prefix, local name and namespace URI
//   (namespaces resolved).
// - Every StartElement is matched by an EndElement, for an empty element
//   (<a/>) too.
// - Text is the character data of text, CDATA and whitespace nodes (entity and
//   character references expanded); adjacent pieces may come as several events.
//   Comments, processing instructions and the XML declaration are skipped.
// - A document type declaration (and so any entity declaration) is reported as
//   Doctype and never processed: no external DTD is loaded, no entity is
//   declared or expanded. Nothing from the network or the file system is read.
//   (A parser that finds fault with the declaration itself may report Error
//   instead; either way the document is refused.)
// - After Doctype, Error or EndOfDocument, next() keeps returning that kind.
#pragma once

#include <string>
#include <vector>

namespace tallowin::soap {

inline constexpr const char* kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

struct XmlAttribute {
  std::string prefix;
  std::string localName;
  std::string namespaceUri;
  std::string value;
};

enum class XmlEventType {
  StartElement,
  EndElement,
  Text,
  Doctype,        // the document has a DTD: the caller refuses it
  EndOfDocument,  // the document ended well-formed
  Error,          // not well-formed, or the reader failed; see errorText()
};

struct XmlEvent {
  XmlEventType type = XmlEventType::EndOfDocument;
  // StartElement and EndElement.
  std::string prefix;
  std::string localName;
  std::string namespaceUri;
  // StartElement: the attributes in document order. Namespace declarations are
  // included, with namespaceUri kXmlnsNamespace and localName the declared
  // prefix ("xmlns" for the default namespace), so that a caller can resolve
  // prefixes inside attribute values (QNames such as type="xsd:string").
  std::vector<XmlAttribute> attributes;
  // Text: the characters.
  std::string text;
  // The nesting depth: the root element (and its end) is 0, its children and
  // its text 1, and so on.
  int depth = 0;
};

class XmlReader {
 public:
  virtual ~XmlReader() = default;
  // Reads the next event into `event` (all its fields overwritten) and
  // returns its type.
  virtual XmlEventType next(XmlEvent& event) = 0;
  // Why the last Error happened, one line, for messages.
  virtual std::string errorText() const = 0;
};

}  // namespace tallowin::soap
