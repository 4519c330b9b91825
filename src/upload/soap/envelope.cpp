#include "upload/soap/envelope.h"

#include <algorithm>

#include "platform/text.h"
#include "upload/soap/namespaces.h"
#include "upload/soap/xml_tree.h"

namespace tallowin::soap {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool XmlChar(long c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

struct Element {
  std::string open;   // start tag
  std::string close;  // end tag
};

}  // namespace

std::string XmlEscape(std::string_view text, bool forAttribute) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  size_t i = 0;
  while (i < text.size()) {
    size_t len = 1;
    const long c = DecodeUtf8(text, i, len);
    if (c < 0 || !XmlChar(c)) {
      out += kReplacement;
    } else {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;  // "]]>" may not appear in content
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\r': out += "&#xD;"; break;
        case '\t': out += forAttribute ? "&#x9;" : "\t"; break;
        case '\n': out += forAttribute ? "&#xA;" : "\n"; break;
        default: out.append(text.substr(i, len));
      }
    }
    i += len;
  }
  return out;
}

SoapRequest WriteEnvelope(const CallPlan& plan, std::span<const std::string_view> texts) {
  const bool soap12 = plan.version == SoapVersion::Soap12;
  const bool encoded = plan.use == SoapUse::Encoded;
  const std::string_view envNs = soap12 ? kSoap12EnvelopeNs : kSoap11EnvelopeNs;
  const auto attr = [](std::string_view name, std::string_view value) {
    return " " + std::string(name) + "=\"" + XmlEscape(value, true) + "\"";
  };

  std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  body += "<soap:Envelope" + attr("xmlns:soap", envNs);
  if (encoded) body += attr("xmlns:xsi", kXsiNs) + attr("xmlns:xsd", kXsdNs);
  body += "><soap:Body>";

  // The body element in prefix "m"; a parameter in the same namespace shares
  // the prefix, one in another declares its own, an unqualified one has none
  // (no default namespace is ever declared, so it stays in no namespace).
  const bool bodyQualified = !plan.bodyNamespace.empty();
  const std::string bodyName = (bodyQualified ? "m:" : "") + plan.bodyElement;
  body += "<" + bodyName;
  if (bodyQualified) body += attr("xmlns:m", plan.bodyNamespace);
  if (encoded) body += attr("soap:encodingStyle", plan.encodingStyle);
  body += ">";
  const size_t n = std::min(plan.parameters.size(), texts.size());
  for (size_t i = 0; i < n; ++i) {
    const CallParameter& p = plan.parameters[i];
    std::string name = p.name, declaration;
    if (!p.namespaceUri.empty()) {
      if (bodyQualified && p.namespaceUri == plan.bodyNamespace) {
        name = "m:" + p.name;
      } else {
        name = "p:" + p.name;
        declaration = attr("xmlns:p", p.namespaceUri);
      }
    }
    body += "<" + name + declaration;
    if (encoded) body += " xsi:type=\"xsd:string\"";
    body += ">" + XmlEscape(texts[i]) + "</" + name + ">";
  }
  body += "</" + bodyName + "></soap:Body></soap:Envelope>";

  SoapRequest request;
  request.body = std::move(body);
  if (soap12) {
    std::string type = "application/soap+xml; charset=utf-8";
    if (!plan.soapAction.empty()) type += "; action=\"" + plan.soapAction + "\"";
    request.headers.emplace_back("Content-Type", std::move(type));
  } else {
    request.headers.emplace_back("Content-Type", "text/xml; charset=utf-8");
    request.headers.emplace_back("SOAPAction", "\"" + plan.soapAction + "\"");
  }
  return request;
}

namespace {

const XmlElement* FirstChildNamed(const XmlElement& e, std::string_view name) {
  for (const auto& c : e.children)
    if (c->localName == name) return c.get();
  return nullptr;
}

std::string CollapsedText(std::string_view s) {
  std::string out;
  bool blank = false;
  for (const char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F) {
      blank = !out.empty();
      continue;
    }
    if (out.size() >= 300 && (c & 0xC0) != 0x80) break;  // cut between characters
    if (blank) out += ' ';
    blank = false;
    out += ch;
  }
  return out;
}

}  // namespace

SoapResponse ReadResponse(XmlReader& reader) {
  SoapResponse response;
  XmlTree tree = ReadXmlTree(reader);
  if (!tree.root) {
    response.detail = CollapsedText("the answer is refused: " + tree.error);
    return response;
  }
  const XmlElement& envelope = *tree.root;
  const std::string_view ns = envelope.namespaceUri;
  if (envelope.localName != "Envelope" || (ns != kSoap11EnvelopeNs && ns != kSoap12EnvelopeNs)) {
    response.detail = "the answer is not a SOAP envelope";
    return response;
  }
  const XmlElement* body = envelope.child(ns, "Body");
  if (!body) {
    response.detail = "the answer has no SOAP body";
    return response;
  }
  const XmlElement* first = body->children.empty() ? nullptr : body->children.front().get();
  if (!first || !first->is(ns, "Fault")) {
    response.kind = ResponseKind::Accepted;
    return response;
  }
  response.kind = ResponseKind::Fault;
  std::string code, reason;
  if (ns == kSoap11EnvelopeNs) {
    if (const XmlElement* c = FirstChildNamed(*first, "faultcode")) code = c->text;
    if (const XmlElement* r = FirstChildNamed(*first, "faultstring")) reason = r->text;
  } else {
    if (const XmlElement* c = first->child(ns, "Code"))
      if (const XmlElement* v = c->child(ns, "Value")) code = v->text;
    if (const XmlElement* r = first->child(ns, "Reason"))
      if (const XmlElement* t = r->child(ns, "Text")) reason = t->text;
  }
  code = CollapsedText(code);
  reason = CollapsedText(reason);
  response.detail = code.empty() ? reason : reason.empty() ? code : code + ": " + reason;
  if (response.detail.empty()) response.detail = "the service answered with a fault";
  return response;
}

}  // namespace tallowin::soap
