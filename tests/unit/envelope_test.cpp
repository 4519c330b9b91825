// The request as a SOAP server reads it back, for each shape of plan, and the
// answer as the client judges it.
#ifdef TALLOWIN_HAVE_LIBXML2

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/libxml2_reader.h"
#include "upload/soap/envelope.h"
#include "upload/soap/xml_tree.h"

namespace tallowin {
namespace {

using namespace soap;

constexpr const char* kEnv11 = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kEnv12 = "http://www.w3.org/2003/05/soap-envelope";
const std::string kFffd = "\xEF\xBF\xBD";

CallPlan DocumentPlan() {
  CallPlan p;
  p.endpoint = "http://127.0.0.1:8080/Zelt/pcInventoryD.nsf/savesoftware";
  p.soapAction = "setSaveSoftwareInformation";
  p.operationName = p.bodyElement = "setSaveSoftwareInformation";
  p.bodyNamespace = "urn:tallowin:inventory";
  for (const char* n : {"UserName", "AdapterAddress", "ProgramsText", "NetworkText", "ProcessorText"})
    p.parameters.push_back({n, p.bodyNamespace});
  return p;
}

CallPlan RpcEncodedPlan() {
  CallPlan p = DocumentPlan();
  p.style = SoapStyle::Rpc;
  p.use = SoapUse::Encoded;
  p.encodingStyle = "http://schemas.xmlsoap.org/soap/encoding/";
  p.bodyNamespace = "urn:DefaultNamespace";
  p.parameters.clear();
  for (const char* n : {"USERNAME", "ADAPTERADDRESS", "PROGRAMSTEXT", "NETWORKTEXT", "PROCESSORTEXT"})
    p.parameters.push_back({n, ""});
  return p;
}

// Texts that must arrive exactly, and what arrives for those XML cannot carry.
const std::array<std::string_view, kParameterCount> kTexts = {
    "J\xC3\xBCrgen & <Admin> \"x\" 'y'",
    "00-0C-29-3A-5B-7F",
    "Caf\xC3\xA9 ]]> Suite$#$7-Zip 19.00 (x64)$#$\xF0\x9F\x98\x80$#$",
    std::string_view("bell\x07 nul\0 esc\x1B del\x7F", 20),  // the NUL is part of it
    "\xFF" "bad\xC3 \xED\xA0\x80 \xEF\xBF\xBE crlf\r\n tab\t end",
};
const std::vector<std::string> kArrived = {
    "J\xC3\xBCrgen & <Admin> \"x\" 'y'",
    "00-0C-29-3A-5B-7F",
    "Caf\xC3\xA9 ]]> Suite$#$7-Zip 19.00 (x64)$#$\xF0\x9F\x98\x80$#$",
    "bell" + kFffd + " nul" + kFffd + " esc" + kFffd + " del\x7F",
    kFffd + "bad" + kFffd + " " + kFffd + " " + kFffd + " crlf\r\n tab\t end",
};

std::unique_ptr<XmlElement> Parse(const std::string& xml) {
  test::Libxml2Reader reader(xml);
  XmlTree tree = ReadXmlTree(reader);
  EXPECT_TRUE(tree.root) << tree.error << "\n" << xml;
  return std::move(tree.root);
}

const std::string* AttributeNs(const XmlElement& e, std::string_view ns, std::string_view name) {
  for (const auto& a : e.attributes)
    if (a.namespaceUri == ns && a.localName == name) return &a.value;
  return nullptr;
}

// The parameter elements inside Envelope/Body/wrapper, checked on the way.
const XmlElement& Wrapper(const XmlElement& envelope, const CallPlan& plan) {
  const std::string env = plan.version == SoapVersion::Soap12 ? kEnv12 : kEnv11;
  EXPECT_TRUE(envelope.is(env, "Envelope"));
  EXPECT_EQ(envelope.children.size(), 1u);
  const XmlElement* body = envelope.child(env, "Body");
  EXPECT_TRUE(body);
  EXPECT_EQ(body->children.size(), 1u);
  const XmlElement& wrapper = *body->children.front();
  EXPECT_TRUE(wrapper.is(plan.bodyNamespace, plan.bodyElement)) << wrapper.namespaceUri << " " << wrapper.localName;
  return wrapper;
}

TEST(WriteEnvelope, DocumentLiteralArrivesIntact) {
  const CallPlan plan = DocumentPlan();
  const SoapRequest request = WriteEnvelope(plan, kTexts);
  EXPECT_EQ(request.body.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
  EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{
                                 {"Content-Type", "text/xml; charset=utf-8"},
                                 {"SOAPAction", "\"setSaveSoftwareInformation\""}}));
  auto root = Parse(request.body);
  ASSERT_TRUE(root);
  const XmlElement& wrapper = Wrapper(*root, plan);
  ASSERT_EQ(wrapper.children.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    const XmlElement& p = *wrapper.children[i];
    EXPECT_TRUE(p.is(plan.bodyNamespace, plan.parameters[i].name)) << i;
    EXPECT_EQ(p.text, kArrived[i]) << i;
    EXPECT_TRUE(p.attributes.empty()) << i;
  }
}

TEST(WriteEnvelope, RpcEncodedTypesEveryParameter) {
  const CallPlan plan = RpcEncodedPlan();
  const SoapRequest request = WriteEnvelope(plan, kTexts);
  auto root = Parse(request.body);
  ASSERT_TRUE(root);
  const XmlElement& wrapper = Wrapper(*root, plan);
  const std::string* style = AttributeNs(wrapper, kEnv11, "encodingStyle");
  ASSERT_TRUE(style);
  EXPECT_EQ(*style, "http://schemas.xmlsoap.org/soap/encoding/");
  ASSERT_EQ(wrapper.children.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    const XmlElement& p = *wrapper.children[i];
    EXPECT_TRUE(p.is("", plan.parameters[i].name)) << i;  // rpc accessors are unqualified
    EXPECT_EQ(p.text, kArrived[i]) << i;
    const std::string* type = AttributeNs(p, "http://www.w3.org/2001/XMLSchema-instance", "type");
    ASSERT_TRUE(type) << i;
    const auto q = p.resolve(*type);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->namespaceUri, "http://www.w3.org/2001/XMLSchema");
    EXPECT_EQ(q->localName, "string");
  }
}

TEST(WriteEnvelope, RpcLiteralAndMixedNamespaces) {
  CallPlan plan = RpcEncodedPlan();
  plan.use = SoapUse::Literal;
  const SoapRequest rpc = WriteEnvelope(plan, kTexts);
  auto root = Parse(rpc.body);
  ASSERT_TRUE(root);
  const XmlElement& wrapper = Wrapper(*root, plan);
  EXPECT_FALSE(AttributeNs(wrapper, kEnv11, "encodingStyle"));
  for (const auto& p : wrapper.children) EXPECT_TRUE(p->attributes.empty());

  // Document/literal with unqualified children, one child in a namespace of
  // its own, and a wrapper in no namespace at all.
  plan = DocumentPlan();
  for (auto& p : plan.parameters) p.namespaceUri.clear();
  plan.parameters[2].namespaceUri = "urn:other";
  auto mixed = Parse(WriteEnvelope(plan, kTexts).body);
  ASSERT_TRUE(mixed);
  const XmlElement& w = Wrapper(*mixed, plan);
  ASSERT_EQ(w.children.size(), 5u);
  EXPECT_TRUE(w.children[0]->is("", "UserName"));
  EXPECT_TRUE(w.children[2]->is("urn:other", "ProgramsText"));
  EXPECT_TRUE(w.children[3]->is("", "NetworkText"));
  plan.bodyNamespace.clear();
  auto bare = Parse(WriteEnvelope(plan, kTexts).body);
  ASSERT_TRUE(bare);
  Wrapper(*bare, plan);
}

TEST(WriteEnvelope, Soap12CarriesTheActionInTheContentType) {
  CallPlan plan = DocumentPlan();
  plan.version = SoapVersion::Soap12;
  const SoapRequest request = WriteEnvelope(plan, kTexts);
  EXPECT_EQ(request.headers, (std::vector<std::pair<std::string, std::string>>{
                                 {"Content-Type", "application/soap+xml; charset=utf-8; action=\"setSaveSoftwareInformation\""}}));
  auto root = Parse(request.body);
  ASSERT_TRUE(root);
  Wrapper(*root, plan);

  plan.soapAction.clear();
  EXPECT_EQ(WriteEnvelope(plan, kTexts).headers.front().second, "application/soap+xml; charset=utf-8");
  plan.version = SoapVersion::Soap11;
  EXPECT_EQ(WriteEnvelope(plan, kTexts).headers.back(), (std::pair<std::string, std::string>{"SOAPAction", "\"\""}));

  // Encoded under SOAP 1.2: the style attribute in the 1.2 envelope namespace.
  plan = RpcEncodedPlan();
  plan.version = SoapVersion::Soap12;
  plan.encodingStyle = "http://www.w3.org/2003/05/soap-encoding";
  auto encoded = Parse(WriteEnvelope(plan, kTexts).body);
  ASSERT_TRUE(encoded);
  const XmlElement& wrapper = Wrapper(*encoded, plan);
  ASSERT_TRUE(AttributeNs(wrapper, kEnv12, "encodingStyle"));
}

TEST(XmlEscape, ReferencesAndReplacements) {
  const struct {
    std::string_view in;
    bool attribute;
    std::string out;
  } cases[] = {
      {"&<>\"'", false, "&amp;&lt;&gt;&quot;&apos;"},
      {"]]>", false, "]]&gt;"},
      {"a\tb\nc\rd", false, "a\tb\nc&#xD;d"},
      {"a\tb\nc\rd", true, "a&#x9;b&#xA;c&#xD;d"},
      {std::string_view("\0\x01\x1F", 3), false, kFffd + kFffd + kFffd},
      {"\xC0\xAF", false, kFffd + kFffd},          // overlong
      {"\xF4\x90\x80\x80", false, kFffd},          // above U+10FFFF
      {"\xEF\xBF\xBF\xEF\xBF\xBD", false, kFffd + kFffd},  // U+FFFF; U+FFFD stays
      {"\xE6\x97", false, kFffd},                  // truncated at the end
      {"\xE6\x97" "a", false, kFffd + "a"},        // truncated, then resynchronised
      {"\xED\xBF\xBF", false, kFffd},              // a lone low surrogate
      {"\xF0\x90\x80\x80 \xE2\x82\xAC", false, "\xF0\x90\x80\x80 \xE2\x82\xAC"},
      {"", false, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(XmlEscape(c.in, c.attribute), c.out) << c.in;
}

SoapResponse Answer(const std::string& xml) {
  test::Libxml2Reader reader(xml);
  return ReadResponse(reader);
}

TEST(ReadResponse, FaultOrAcceptance) {
  // As the inventory service (spyne) answers.
  const SoapResponse ok = Answer(
      "<?xml version='1.0' encoding='UTF-8'?>\n<soap11env:Envelope xmlns:soap11env=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:tns=\"urn:tallowin:inventory\"><soap11env:Body><tns:setSaveSoftwareInformationResponse>"
      "<tns:setSaveSoftwareInformationResult>OK</tns:setSaveSoftwareInformationResult>"
      "</tns:setSaveSoftwareInformationResponse></soap11env:Body></soap11env:Envelope>");
  EXPECT_EQ(ok.kind, ResponseKind::Accepted);
  EXPECT_TRUE(ok.accepted());

  const SoapResponse fault11 = Answer(
      "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body>\n  <s:Fault>"
      "<faultcode>s:Server</faultcode><faultstring>Database\n  is full</faultstring></s:Fault></s:Body></s:Envelope>");
  EXPECT_EQ(fault11.kind, ResponseKind::Fault);
  EXPECT_EQ(fault11.detail, "s:Server: Database is full");

  const SoapResponse fault12 = Answer(
      "<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope'><e:Body><e:Fault><e:Code><e:Value>e:Receiver</e:Value>"
      "</e:Code><e:Reason><e:Text xml:lang='en'>No space</e:Text></e:Reason></e:Fault></e:Body></e:Envelope>");
  EXPECT_EQ(fault12.kind, ResponseKind::Fault);
  EXPECT_EQ(fault12.detail, "e:Receiver: No space");
  EXPECT_EQ(Answer("<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body><s:Fault/></s:Body></s:Envelope>").kind,
            ResponseKind::Fault);

  EXPECT_EQ(Answer("<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body/></s:Envelope>").kind,
            ResponseKind::Accepted);

  for (const char* invalid : {
           "<html><body>500 Internal Server Error</body></html>",
           "<Envelope><Body/></Envelope>",  // no SOAP namespace
           "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'/>",
           "<!DOCTYPE s [<!ENTITY e 'x'>]><s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body/></s:Envelope>",
           "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'><s:Body>",
           "",
       }) {
    const SoapResponse r = Answer(invalid);
    EXPECT_EQ(r.kind, ResponseKind::Invalid) << invalid;
    EXPECT_FALSE(r.detail.empty()) << invalid;
    EXPECT_FALSE(r.accepted());
  }
}

}  // namespace
}  // namespace tallowin

#endif  // TALLOWIN_HAVE_LIBXML2
