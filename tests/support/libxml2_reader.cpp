#include "support/libxml2_reader.h"

#ifdef TALLOWIN_HAVE_LIBXML2

#include <memory>

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

namespace tallowin::test {

using soap::XmlEvent;
using soap::XmlEventType;

namespace {

std::string Str(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }

// Namespace errors (an undeclared prefix) are recoverable for libxml2 but not
// for XmlLite; both end the reading here, so the two readers agree.
void OnError(void* arg, xmlErrorPtr error) {
  auto* first = static_cast<std::string*>(arg);
  if (!error || error->level < XML_ERR_ERROR || !first->empty()) return;
  std::string message = Str(reinterpret_cast<const xmlChar*>(error->message));
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  *first = "line " + std::to_string(error->line) + ": " + message;
}

// The name of the element or attribute the reader stands on.
template <typename Named>
void ReadName(xmlTextReaderPtr r, Named& n) {
  n.prefix = Str(xmlTextReaderConstPrefix(r));
  n.localName = Str(xmlTextReaderConstLocalName(r));
  n.namespaceUri = Str(xmlTextReaderConstNamespaceUri(r));
}

}  // namespace

void Libxml2Reader::finish(XmlEventType type, std::string why) {
  if (type == XmlEventType::Error) error_ = why.empty() ? "the document is not well-formed" : std::move(why);
  events_.emplace_back().type = type;
}

void Libxml2Reader::read(std::string_view xml) {
  xmlInitParser();
  // Deliberately without XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_DTDATTR
  // and XML_PARSE_HUGE: nothing is substituted or loaded, the default limits hold.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  xmlTextReaderPtr r = xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, options);
  if (!r) return finish(XmlEventType::Error, "the XML reader could not be created");
  const std::unique_ptr<xmlTextReader, void (*)(xmlTextReaderPtr)> owner(r, xmlFreeTextReader);
  std::string firstError;
  xmlTextReaderSetStructuredErrorHandler(r, OnError, &firstError);
  for (;;) {
    const int rc = xmlTextReaderRead(r);
    const int type = rc == 1 ? xmlTextReaderNodeType(r) : -1;
    // The parser reads ahead: an entity bomb in the internal subset may have
    // raised errors already, but the document type is what refuses it.
    if (type == XML_READER_TYPE_DOCUMENT_TYPE) return finish(XmlEventType::Doctype);
    if (rc < 0 || !firstError.empty()) return finish(XmlEventType::Error, firstError);
    if (rc == 0) return finish(XmlEventType::EndOfDocument);
    XmlEvent e;
    e.depth = xmlTextReaderDepth(r);
    if (type == XML_READER_TYPE_ELEMENT || type == XML_READER_TYPE_END_ELEMENT) {
      e.type = type == XML_READER_TYPE_ELEMENT ? XmlEventType::StartElement : XmlEventType::EndElement;
      ReadName(r, e);
      // xmlTextReader reports no end for an empty element (<a/>).
      const bool empty = type == XML_READER_TYPE_ELEMENT && xmlTextReaderIsEmptyElement(r) == 1;
      for (int more = type == XML_READER_TYPE_ELEMENT ? xmlTextReaderMoveToFirstAttribute(r) : 0; more == 1;
           more = xmlTextReaderMoveToNextAttribute(r)) {
        ReadName(r, e.attributes.emplace_back());
        e.attributes.back().value = Str(xmlTextReaderConstValue(r));
      }
      xmlTextReaderMoveToElement(r);
      events_.push_back(e);
      if (empty) {
        e.type = XmlEventType::EndElement;
        e.attributes.clear();
        events_.push_back(std::move(e));
      }
    } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA || type == XML_READER_TYPE_WHITESPACE ||
               type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE) {
      e.type = XmlEventType::Text;
      e.text = Str(xmlTextReaderConstValue(r));
      events_.push_back(std::move(e));
    }  // comments, processing instructions: skipped
  }
}

}  // namespace tallowin::test

#endif  // TALLOWIN_HAVE_LIBXML2
