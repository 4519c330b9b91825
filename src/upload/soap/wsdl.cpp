#include "upload/soap/wsdl.h"

#include <cctype>
#include <string_view>

#include "platform/text.h"
#include "upload/soap/namespaces.h"
#include "upload/soap/xml_tree.h"

namespace tallowin::soap {

namespace {

using Elements = std::vector<const XmlElement*>;

// Thrown inside this file only, caught in ReadWsdl.
struct WsdlError {
  std::string text;
};

[[noreturn]] void Fail(std::string text) { throw WsdlError{std::move(text)}; }

std::vector<std::string> Words(std::string_view s) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    size_t j = i;
    while (j < s.size() && !(s[j] == ' ' || s[j] == '\t' || s[j] == '\n' || s[j] == '\r')) ++j;
    if (j > i) out.emplace_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// An element name we may write into the request. Non-ASCII letters are let
// through (the server's parser judges them); what could break the markup is not.
bool IsNcName(std::string_view s) {
  if (s.empty()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const bool start = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
    const bool rest = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (i == 0 ? !start : !rest) return false;
  }
  return true;
}

// A namespace we may declare in the request: printable ASCII without the
// characters a URI reference cannot hold, and only well-formed %-escapes.
// Receivers refuse a declaration of anything else.
bool IsNamespaceUri(std::string_view s) {
  constexpr std::string_view kExcluded = " \"<>\\^`{|}[]";
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c <= 0x20 || c >= 0x7F || kExcluded.find(static_cast<char>(c)) != std::string_view::npos) return false;
    if (c == '%') {
      const auto hex = [&](size_t k) {
        return k < s.size() && std::isxdigit(static_cast<unsigned char>(s[k]));
      };
      if (!hex(i + 1) || !hex(i + 2)) return false;
    }
  }
  // A colon ahead of any "/", "?" or "#" ends a scheme, which must be one:
  // a letter, then letters, digits, "+", "-" or ".".
  const size_t colon = s.find(':');
  if (colon != std::string_view::npos && colon < s.find_first_of("/?#")) {
    if (colon == 0 || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
    for (size_t i = 1; i < colon; ++i) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
  }
  return true;
}

// At most `max` bytes of `s`, cut between characters, with control
// characters blanked: texts from the document go into one-line messages.
std::string Shortened(std::string_view s, size_t max) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (out.size() >= max && (c & 0xC0) != 0x80) return out + "...";
    out += c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
  }
  return out;
}

std::string Quoted(std::string_view s) { return "\"" + Shortened(s, 120) + "\""; }

std::string Attr(const XmlElement& e, std::string_view name) {
  const std::string* v = e.attribute(name);
  return v ? *v : std::string();
}

Elements Children(const XmlElement& e, std::string_view ns, std::string_view name) {
  Elements out;
  for (const auto& c : e.children)
    if (c->is(ns, name)) out.push_back(c.get());
  return out;
}

const XmlElement* OwningSchema(const XmlElement* e) {
  for (; e; e = e->parent)
    if (e->is(kXsdNs, "schema")) return e;
  return nullptr;
}

QName Resolve(const XmlElement& e, std::string_view attribute) {
  const std::string* value = e.attribute(attribute);
  if (!value) Fail("the service description has a " + e.localName + " without " + std::string(attribute));
  auto q = e.resolve(*value);
  if (!q) Fail("the service description uses an undeclared prefix in " + Quoted(*value));
  return *q;
}

// The definition of that QName among `candidates` (all named in `targetNs`).
// A description that forgot its prefix still names its own definitions, so an
// unmatched namespace falls back to the name alone.
const XmlElement* FindNamed(const Elements& candidates, const std::string& targetNs, const QName& q) {
  if (q.namespaceUri == targetNs)
    for (const XmlElement* c : candidates)
      if (Attr(*c, "name") == q.localName) return c;
  for (const XmlElement* c : candidates)
    if (Attr(*c, "name") == q.localName) return c;
  return nullptr;
}

class Description {
 public:
  explicit Description(const XmlElement& root) {
    if (!root.is(kWsdlNs, "definitions")) Fail("the document is not a WSDL 1.1 service description");
    targetNs_ = Attr(root, "targetNamespace");
    for (const auto& c : root.children) {
      if (c->namespaceUri != kWsdlNs) continue;
      if (c->localName == "message") messages_.push_back(c.get());
      else if (c->localName == "portType") portTypes_.push_back(c.get());
      else if (c->localName == "binding") bindings_.push_back(c.get());
      else if (c->localName == "service") services_.push_back(c.get());
      else if (c->localName == "types")
        for (const XmlElement* s : Children(*c, kXsdNs, "schema")) schemas_.push_back(s);
    }
  }

  // The plan of the first operation and, in the same binding, the profile's.
  void plan(WsdlResult& result) {
    struct Candidate {
      const XmlElement* port;
      const XmlElement* binding;
      const XmlElement* operation;
      SoapVersion version;
    };
    std::vector<Candidate> soap11, soap12;
    for (const XmlElement* service : services_) {
      for (const XmlElement* port : Children(*service, kWsdlNs, "port")) {
        const std::string* ref = port->attribute("binding");
        if (!ref) continue;
        auto q = port->resolve(*ref);
        if (!q) continue;
        const XmlElement* binding = FindNamed(bindings_, targetNs_, *q);
        if (!binding) continue;
        const XmlElement* operation = BindingOperation(*binding);
        if (!operation) continue;
        if (binding->child(kSoap11BindingNs, "binding"))
          soap11.push_back({port, binding, operation, SoapVersion::Soap11});
        else if (binding->child(kSoap12BindingNs, "binding"))
          soap12.push_back({port, binding, operation, SoapVersion::Soap12});
      }
    }
    std::vector<Candidate> candidates = soap11;
    candidates.insert(candidates.end(), soap12.begin(), soap12.end());
    if (candidates.empty()) {
      bool anyOperation = false, anySoap = false;
      for (const XmlElement* b : bindings_) {
        if (!BindingOperation(*b)) continue;
        anyOperation = true;
        if (b->child(kSoap11BindingNs, "binding") || b->child(kSoap12BindingNs, "binding")) anySoap = true;
      }
      if (!anyOperation) Fail(std::string("the service description has no operation ") + operation_);
      if (!anySoap) Fail(std::string("the service description has no SOAP binding for ") + operation_);
      Fail(std::string("the service description has no port for ") + operation_);
    }
    // The most preferred port that makes a complete plan; else why the most
    // preferred one does not.
    std::string firstError;
    for (const Candidate& c : candidates) {
      try {
        result.plan = PlanFor(*c.port, *c.binding, *c.operation, c.version);
      } catch (const WsdlError& e) {
        if (firstError.empty()) firstError = e.text;
        continue;
      }
      Use(kProfileOperationName, kProfileParameterCount);
      if (const XmlElement* profile = BindingOperation(*c.binding)) {
        try {
          result.profilePlan = PlanFor(*c.port, *c.binding, *profile, c.version);
        } catch (const WsdlError& e) {
          result.profileError = e.text;
        }
      }
      return;
    }
    Fail(firstError);
  }

 private:
  // The binding's operation of that name. Automation clients called it by a
  // case-blind name, so a description that spells it in other letter case
  // still serves when no exact spelling exists.
  const XmlElement* BindingOperation(const XmlElement& binding) const {
    const Elements ops = Children(binding, kWsdlNs, "operation");
    for (const XmlElement* op : ops)
      if (Attr(*op, "name") == operation_) return op;
    for (const XmlElement* op : ops)
      if (EqualsIgnoringAsciiCase(Attr(*op, "name"), operation_)) return op;
    return nullptr;
  }

  // The operation the next plan is for, and how many parameters it takes.
  void Use(const char* operation, size_t parameters) {
    operation_ = operation;
    parameterCount_ = parameters;
  }

  CallPlan PlanFor(const XmlElement& port, const XmlElement& binding, const XmlElement& operation,
                   SoapVersion version) const {
    const std::string_view soapNs = version == SoapVersion::Soap11 ? kSoap11BindingNs : kSoap12BindingNs;
    CallPlan plan;
    plan.version = version;
    plan.operationName = Attr(operation, "name");
    plan.endpoint = Endpoint(port, version);
    ReadStyleAndAction(binding, operation, soapNs, plan);
    const XmlElement& body = ReadBody(operation, soapNs, plan);
    ReadParameters(binding, operation, body, plan);
    CheckNames(plan);
    return plan;
  }

  // The port's address location, whichever SOAP version's element gives it.
  static std::string Endpoint(const XmlElement& port, SoapVersion version) {
    const std::string_view soapNs = version == SoapVersion::Soap11 ? kSoap11BindingNs : kSoap12BindingNs;
    const XmlElement* address = port.child(soapNs, "address");
    if (!address) address = port.child(version == SoapVersion::Soap11 ? kSoap12BindingNs : kSoap11BindingNs, "address");
    const std::string* location = address ? address->attribute("location") : nullptr;
    if (!location || Trim(*location, kXmlWhitespace).empty())
      Fail("the service description's port " + Quoted(Attr(port, "name")) + " has no address location");
    std::string endpoint = Trim(*location, kXmlWhitespace);
    CheckEndpoint(endpoint);
    return endpoint;
  }

  static void ReadStyleAndAction(const XmlElement& binding, const XmlElement& operation, std::string_view soapNs,
                                 CallPlan& plan) {
    const XmlElement* soapBinding = binding.child(soapNs, "binding");
    const XmlElement* soapOperation = operation.child(soapNs, "operation");
    std::string style = soapOperation ? Attr(*soapOperation, "style") : std::string();
    if (style.empty() && soapBinding) style = Attr(*soapBinding, "style");
    if (style.empty() || style == "document") plan.style = SoapStyle::Document;
    else if (style == "rpc") plan.style = SoapStyle::Rpc;
    else Fail("the service description names an unknown SOAP style " + Quoted(style));

    plan.soapAction = soapOperation ? Trim(Attr(*soapOperation, "soapAction"), kXmlWhitespace) : std::string();
    for (const unsigned char c : plan.soapAction)
      if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\')
        Fail("the service description's soapAction " + Quoted(plan.soapAction) + " cannot be sent in a header");
  }

  // The input's SOAP body: its use and, when encoded, its encoding style.
  const XmlElement& ReadBody(const XmlElement& operation, std::string_view soapNs, CallPlan& plan) const {
    const XmlElement* input = operation.child(kWsdlNs, "input");
    const XmlElement* body = input ? input->child(soapNs, "body") : nullptr;
    if (!body) Fail(std::string("the service description gives no SOAP body for the input of ") + operation_);
    const std::string use = Attr(*body, "use");
    if (use.empty() || use == "literal") plan.use = SoapUse::Literal;
    else if (use == "encoded") plan.use = SoapUse::Encoded;
    else Fail("the service description names an unknown SOAP use " + Quoted(use));
    if (plan.use == SoapUse::Encoded) {
      const std::vector<std::string> styles = Words(Attr(*body, "encodingStyle"));
      plan.encodingStyle = !styles.empty() ? styles.front()
                           : plan.version == SoapVersion::Soap11 ? std::string(kSoap11EncodingNs)
                                                                 : std::string(kSoap12EncodingNs);
    }
    return *body;
  }

  // The body element and its five parameters, as the style lays them out.
  void ReadParameters(const XmlElement& binding, const XmlElement& operation, const XmlElement& body,
                      CallPlan& plan) const {
    const Elements parts = BodyParts(binding, operation, body);
    if (plan.style == SoapStyle::Rpc) {
      // rpc: the operation element in the body namespace; one unqualified
      // accessor per part, named after the part.
      const std::string* ns = body.attribute("namespace");
      plan.bodyNamespace = ns ? Trim(*ns, kXmlWhitespace) : targetNs_;
      plan.bodyElement = plan.operationName;
      for (const XmlElement* part : parts) plan.parameters.push_back({Attr(*part, "name"), ""});
    } else {
      if (plan.use == SoapUse::Encoded) Fail("the service description asks for document/encoded, which is not supported");
      if (parts.size() != 1 || !parts.front()->attribute("element"))
        Fail(std::string("the document-style input of ") + operation_ + " is not one wrapper element");
      const QName wrapper = Resolve(*parts.front(), "element");
      plan.bodyElement = wrapper.localName;
      plan.bodyNamespace = wrapper.namespaceUri;
      plan.parameters = WrapperChildren(wrapper);
    }
  }

  // What goes into the request as names must be names, and namespaces URIs.
  void CheckNames(const CallPlan& plan) const {
    if (plan.parameters.size() != parameterCount_)
      Fail(std::string(operation_) + " takes " + std::to_string(plan.parameters.size()) +
           " parameters in the service description, not " + std::to_string(parameterCount_));
    if (!IsNcName(plan.bodyElement)) Fail("the service description names an invalid element " + Quoted(plan.bodyElement));
    for (const CallParameter& p : plan.parameters)
      if (!IsNcName(p.name)) Fail("the service description names an invalid parameter " + Quoted(p.name));
    if (!IsNamespaceUri(plan.bodyNamespace))
      Fail("the service description names an invalid namespace " + Quoted(plan.bodyNamespace));
    for (const CallParameter& p : plan.parameters)
      if (!IsNamespaceUri(p.namespaceUri)) Fail("the service description names an invalid namespace " + Quoted(p.namespaceUri));
    if (!IsNamespaceUri(plan.encodingStyle))
      Fail("the service description names an invalid encoding style " + Quoted(plan.encodingStyle));
  }

  static void CheckEndpoint(const std::string& url) {
    const auto bad = [&] { Fail("the service's endpoint " + Quoted(url) + " is not an http or https URL"); };
    size_t schemeEnd = 0;
    if (url.size() >= 7 && EqualsIgnoringAsciiCase(url.substr(0, 7), "http://")) schemeEnd = 7;
    else if (url.size() >= 8 && EqualsIgnoringAsciiCase(url.substr(0, 8), "https://")) schemeEnd = 8;
    else bad();
    if (schemeEnd >= url.size() || url[schemeEnd] == '/' || url[schemeEnd] == '?' || url[schemeEnd] == '#' ||
        url[schemeEnd] == ':')
      bad();
    for (const unsigned char c : url)
      if (c <= 0x20 || c >= 0x7F) bad();
  }

  // The input message's parts that go into the body, in message order.
  Elements BodyParts(const XmlElement& binding, const XmlElement& operation, const XmlElement& body) const {
    const XmlElement* portType = FindNamed(portTypes_, targetNs_, Resolve(binding, "type"));
    if (!portType) Fail("the service description lacks the port type of its binding " + Quoted(Attr(binding, "name")));
    const XmlElement* abstract = nullptr;
    for (const XmlElement* op : Children(*portType, kWsdlNs, "operation"))
      if (Attr(*op, "name") == Attr(operation, "name")) abstract = op;
    const XmlElement* input = abstract ? abstract->child(kWsdlNs, "input") : nullptr;
    if (!input) Fail(std::string("the service description's port type has no input for ") + operation_);
    const XmlElement* message = FindNamed(messages_, targetNs_, Resolve(*input, "message"));
    if (!message) Fail(std::string("the service description lacks the input message of ") + operation_);

    Elements parts = Children(*message, kWsdlNs, "part");
    if (const std::string* list = body.attribute("parts")) {
      const std::vector<std::string> names = Words(*list);
      Elements chosen;
      for (const XmlElement* p : parts)
        for (const std::string& n : names)
          if (Attr(*p, "name") == n) {
            chosen.push_back(p);
            break;
          }
      parts = chosen;
    }
    return parts;
  }

  const XmlElement* GlobalSchemaItem(std::string_view kind, const QName& q) const {
    for (const XmlElement* s : schemas_)
      if (Attr(*s, "targetNamespace") == q.namespaceUri)
        for (const XmlElement* e : Children(*s, kXsdNs, kind))
          if (Attr(*e, "name") == q.localName) return e;
    return nullptr;
  }

  // The children of the wrapper element's sequence (or all), each with its
  // namespace as the schema's form rules give it.
  std::vector<CallParameter> WrapperChildren(const QName& wrapper) const {
    const XmlElement* element = GlobalSchemaItem("element", wrapper);
    if (!element) Fail("the service description's schema lacks the element " + Quoted(wrapper.localName));
    const XmlElement* type = element->child(kXsdNs, "complexType");
    if (!type) {
      const std::string* ref = element->attribute("type");
      if (!ref) Fail("the service description's element " + Quoted(wrapper.localName) + " has no type");
      type = GlobalSchemaItem("complexType", Resolve(*element, "type"));
      if (!type) Fail("the service description's element " + Quoted(wrapper.localName) + " is not of a complex type it defines");
    }
    const XmlElement* group = nullptr;
    for (const auto& c : type->children) {
      if (c->namespaceUri != kXsdNs || c->localName == "annotation" || c->localName == "attribute" ||
          c->localName == "anyAttribute" || c->localName == "attributeGroup")
        continue;
      if (group || (c->localName != "sequence" && c->localName != "all"))
        Fail("the service description's wrapper " + Quoted(wrapper.localName) + " has a content model that is not supported");
      group = c.get();
    }
    std::vector<CallParameter> out;
    if (!group) return out;
    for (const auto& c : group->children) {
      if (c->namespaceUri != kXsdNs || c->localName == "annotation") continue;
      if (c->localName != "element")
        Fail("the service description's wrapper " + Quoted(wrapper.localName) + " has a content model that is not supported");
      if (c->attribute("ref")) {
        const QName ref = Resolve(*c, "ref");
        out.push_back({ref.localName, ref.namespaceUri});
        continue;
      }
      const XmlElement* schema = OwningSchema(c.get());
      std::string form = Trim(Attr(*c, "form"), kXmlWhitespace);
      if (form.empty() && schema) form = Trim(Attr(*schema, "elementFormDefault"), kXmlWhitespace);
      const std::string ns = form == "qualified" && schema ? Attr(*schema, "targetNamespace") : std::string();
      out.push_back({Trim(Attr(*c, "name"), kXmlWhitespace), ns});
    }
    return out;
  }

  const char* operation_ = kOperationName;
  size_t parameterCount_ = kParameterCount;
  std::string targetNs_;
  Elements messages_, portTypes_, bindings_, services_, schemas_;
};

// One line, bounded, whatever the reader or the document put into it.
std::string OneLine(const std::string& text) { return Shortened(text, 300); }

}  // namespace

WsdlResult ReadWsdl(XmlReader& reader) {
  WsdlResult result;
  XmlTree tree = ReadXmlTree(reader);
  if (!tree.root) {
    result.error = OneLine("the service description is refused: " + tree.error);
    return result;
  }
  try {
    Description(*tree.root).plan(result);
  } catch (const WsdlError& e) {
    result.error = OneLine(e.text);
  }
  return result;
}

}  // namespace tallowin::soap
