#include "support/libxml2_reader.h"

#ifdef TALLOWIN_HAVE_LIBXML2

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

namespace tallowin::test {

using soap::XmlEvent;
using soap::XmlEventType;

struct Libxml2Reader::State {
  xmlTextReaderPtr reader = nullptr;
  // The end of an empty element (<a/>), which xmlTextReader does not report.
  bool pendingEnd = false;
  XmlEvent pending;
  XmlEventType final = XmlEventType::EndOfDocument;
  bool finished = false;
  std::string firstError;
};

namespace {

std::string Str(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }

// Namespace errors (an undeclared prefix) are recoverable for libxml2 but not
// for XmlLite; both end the reading here, so the two readers agree.
void OnError(void* arg, xmlErrorPtr error) {
  auto* state = static_cast<Libxml2Reader::State*>(arg);
  if (!error || error->level < XML_ERR_ERROR || !state->firstError.empty()) return;
  std::string message = Str(reinterpret_cast<const xmlChar*>(error->message));
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  state->firstError = "line " + std::to_string(error->line) + ": " + message;
}

}  // namespace

Libxml2Reader::Libxml2Reader(std::string_view xml) : xml_(xml), state_(std::make_unique<State>()) {
  xmlInitParser();
  // Deliberately without XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_DTDATTR
  // and XML_PARSE_HUGE: nothing is substituted or loaded, the default limits hold.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  state_->reader = xmlReaderForMemory(xml_.data(), static_cast<int>(xml_.size()), nullptr, nullptr, options);
  if (state_->reader) {
    xmlTextReaderSetStructuredErrorHandler(state_->reader, OnError, state_.get());
  } else {
    state_->finished = true;
    state_->final = XmlEventType::Error;
    error_ = "the XML reader could not be created";
  }
}

Libxml2Reader::~Libxml2Reader() {
  if (state_->reader) xmlFreeTextReader(state_->reader);
}

XmlEventType Libxml2Reader::next(XmlEvent& event) {
  State& s = *state_;
  event = XmlEvent{};
  if (s.pendingEnd) {
    s.pendingEnd = false;
    event = std::move(s.pending);
    return event.type;
  }
  auto finish = [&](XmlEventType type, std::string why) {
    s.finished = true;
    s.final = type;
    if (type == XmlEventType::Error) error_ = why.empty() ? "the document is not well-formed" : std::move(why);
    event.type = type;
    return type;
  };
  if (s.finished) {
    event.type = s.final;
    return s.final;
  }
  for (;;) {
    const int rc = xmlTextReaderRead(s.reader);
    // The parser reads ahead: an entity bomb in the internal subset may have
    // raised errors already, but the document type is what refuses it.
    if (rc == 1 && xmlTextReaderNodeType(s.reader) == XML_READER_TYPE_DOCUMENT_TYPE)
      return finish(XmlEventType::Doctype, {});
    if (rc < 0 || !s.firstError.empty()) return finish(XmlEventType::Error, s.firstError);
    if (rc == 0) return finish(XmlEventType::EndOfDocument, {});
    xmlTextReaderPtr r = s.reader;
    event.depth = xmlTextReaderDepth(r);
    switch (xmlTextReaderNodeType(r)) {
      case XML_READER_TYPE_ELEMENT: {
        event.type = XmlEventType::StartElement;
        event.prefix = Str(xmlTextReaderConstPrefix(r));
        event.localName = Str(xmlTextReaderConstLocalName(r));
        event.namespaceUri = Str(xmlTextReaderConstNamespaceUri(r));
        const bool empty = xmlTextReaderIsEmptyElement(r) == 1;
        if (xmlTextReaderMoveToFirstAttribute(r) == 1) {
          do {
            soap::XmlAttribute a;
            a.prefix = Str(xmlTextReaderConstPrefix(r));
            a.localName = Str(xmlTextReaderConstLocalName(r));
            a.namespaceUri = Str(xmlTextReaderConstNamespaceUri(r));
            a.value = Str(xmlTextReaderConstValue(r));
            event.attributes.push_back(std::move(a));
          } while (xmlTextReaderMoveToNextAttribute(r) == 1);
          xmlTextReaderMoveToElement(r);
        }
        if (empty) {
          s.pendingEnd = true;
          s.pending.type = XmlEventType::EndElement;
          s.pending.prefix = event.prefix;
          s.pending.localName = event.localName;
          s.pending.namespaceUri = event.namespaceUri;
          s.pending.depth = event.depth;
        }
        return event.type;
      }
      case XML_READER_TYPE_END_ELEMENT:
        event.type = XmlEventType::EndElement;
        event.prefix = Str(xmlTextReaderConstPrefix(r));
        event.localName = Str(xmlTextReaderConstLocalName(r));
        event.namespaceUri = Str(xmlTextReaderConstNamespaceUri(r));
        return event.type;
      case XML_READER_TYPE_TEXT:
      case XML_READER_TYPE_CDATA:
      case XML_READER_TYPE_WHITESPACE:
      case XML_READER_TYPE_SIGNIFICANT_WHITESPACE:
        event.type = XmlEventType::Text;
        event.text = Str(xmlTextReaderConstValue(r));
        return event.type;
      case XML_READER_TYPE_DOCUMENT_TYPE:
        return finish(XmlEventType::Doctype, {});
      case XML_READER_TYPE_ENTITY_REFERENCE:
      case XML_READER_TYPE_ENTITY:
        // Only possible with declared entities, which a DTD would have brought.
        return finish(XmlEventType::Error, "an entity reference was not expanded");
      default:
        continue;  // comments, processing instructions
    }
  }
}

}  // namespace tallowin::test

#endif  // TALLOWIN_HAVE_LIBXML2
