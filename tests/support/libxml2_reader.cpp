#include "support/libxml2_reader.h"

#ifdef TALLOWIN_HAVE_LIBXML2

#include <memory>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace tallowin::test {

using soap::XmlEvent;
using soap::XmlEventType;

namespace {

std::string Str(const xmlChar* text) { return text ? reinterpret_cast<const char*>(text) : ""; }

// The nodes in document order as events; comments and processing instructions skipped.
void Walk(const xmlNode* node, int depth, std::vector<XmlEvent>& out) {
  for (; node; node = node->next) {
    XmlEvent e;
    e.depth = depth;
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      e.type = XmlEventType::Text;
      e.text = Str(node->content);
      out.push_back(std::move(e));
    } else if (node->type == XML_ELEMENT_NODE) {
      e.type = XmlEventType::StartElement;
      e.prefix = node->ns ? Str(node->ns->prefix) : "";
      e.localName = Str(node->name);
      e.namespaceUri = node->ns ? Str(node->ns->href) : "";
      // The declarations as XmlLite gives them: xmlns="..." as the local name "xmlns".
      for (const xmlNs* ns = node->nsDef; ns; ns = ns->next)
        e.attributes.push_back({ns->prefix ? "xmlns" : "", ns->prefix ? Str(ns->prefix) : "xmlns", soap::kXmlnsNamespace, Str(ns->href)});
      for (const xmlAttr* a = node->properties; a; a = a->next) {
        xmlChar* value = xmlNodeListGetString(node->doc, a->children, 1);
        e.attributes.push_back({a->ns ? Str(a->ns->prefix) : "", Str(a->name), a->ns ? Str(a->ns->href) : "", Str(value)});
        xmlFree(value);
      }
      out.push_back(e);
      Walk(node->children, depth + 1, out);
      e.type = XmlEventType::EndElement;
      e.attributes.clear();
      out.push_back(std::move(e));
    }
  }
}

}  // namespace

void Libxml2Reader::finish(XmlEventType type, std::string why) {
  if (type == XmlEventType::Error) error_ = why.empty() ? "the document is not well-formed" : std::move(why);
  events_.emplace_back().type = type;
}

void Libxml2Reader::read(std::string_view xml) {
  // Deliberately without XML_PARSE_NOENT, XML_PARSE_DTDLOAD, XML_PARSE_DTDATTR
  // and XML_PARSE_HUGE: nothing is substituted or loaded, the default limits hold.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  const std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(), xmlFreeParserCtxt);
  if (!ctxt) return finish(XmlEventType::Error, "the XML parser could not be created");
  const std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(
      xmlCtxtReadMemory(ctxt.get(), xml.data(), static_cast<int>(xml.size()), nullptr, nullptr, options), xmlFreeDoc);
  if (doc && doc->intSubset) return finish(XmlEventType::Doctype);
  // Namespace errors (an undeclared prefix) are recoverable for libxml2 but
  // not for XmlLite; both end the reading here, so the two readers agree.
  if (!doc || !ctxt->wellFormed || !ctxt->nsWellFormed) {
    const xmlError& last = ctxt->lastError;
    std::string message = Str(reinterpret_cast<const xmlChar*>(last.message));
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    return finish(XmlEventType::Error, message.empty() ? "" : "line " + std::to_string(last.line) + ": " + message);
  }
  Walk(doc->children, 0, events_);
  finish(XmlEventType::EndOfDocument);
}

}  // namespace tallowin::test

#endif  // TALLOWIN_HAVE_LIBXML2
