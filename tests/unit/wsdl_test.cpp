// Reading service descriptions into call plans: the two shapes servers really
// publish, and the ways a description can fail to offer the call.
#ifdef TALLOWIN_HAVE_LIBXML2

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/libxml2_reader.h"
#include "upload/soap/wsdl.h"

namespace tallowin {
namespace {

using namespace soap;

std::string Fixture(const char* name) {
  const auto path = std::filesystem::path(__FILE__).parent_path() / "data" / name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// What service/tallowin-service serves (GET ...?WSDL with Host 127.0.0.1:8080).
std::string DocumentLiteral() { return Fixture("document_literal_inventory.wsdl"); }
// The shape document-database servers publish: rpc/encoded, urn:DefaultNamespace.
std::string RpcEncoded() { return Fixture("rpc_encoded_inventory.wsdl"); }

WsdlResult Read(const std::string& xml) {
  test::Libxml2Reader reader(xml);
  return ReadWsdl(reader);
}

// `text` with every `from` replaced by `to`; fails the test when `from` is absent.
std::string Edit(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << "fixture lacks: " << from;
  while (at != std::string::npos) {
    text.replace(at, from.size(), to);
    at = text.find(from, at + to.size());
  }
  return text;
}

std::vector<std::string> Names(const CallPlan& plan) {
  std::vector<std::string> out;
  for (const auto& p : plan.parameters) out.push_back(p.name + "|" + p.namespaceUri);
  return out;
}

TEST(ReadWsdl, DocumentLiteralWrappedAsSpyneWritesIt) {
  const WsdlResult r = Read(DocumentLiteral());
  ASSERT_TRUE(r.ok()) << r.error;
  const CallPlan& p = *r.plan;
  EXPECT_EQ(p.endpoint, "http://127.0.0.1:8080/Zelt/pcInventoryD.nsf/savesoftware");
  EXPECT_EQ(p.version, SoapVersion::Soap11);
  EXPECT_EQ(p.soapAction, "setSaveSoftwareInformation");
  EXPECT_EQ(p.style, SoapStyle::Document);
  EXPECT_EQ(p.use, SoapUse::Literal);
  EXPECT_EQ(p.operationName, "setSaveSoftwareInformation");
  EXPECT_EQ(p.bodyElement, "setSaveSoftwareInformation");
  EXPECT_EQ(p.bodyNamespace, "urn:tallowin:inventory");
  EXPECT_EQ(Names(p), (std::vector<std::string>{"UserName|urn:tallowin:inventory", "AdapterAddress|urn:tallowin:inventory",
                                                "ProgramsText|urn:tallowin:inventory", "NetworkText|urn:tallowin:inventory",
                                                "ProcessorText|urn:tallowin:inventory"}));
}

TEST(ReadWsdl, RpcEncodedAsDocumentDatabaseServersWriteIt) {
  const WsdlResult r = Read(RpcEncoded());
  ASSERT_TRUE(r.ok()) << r.error;
  const CallPlan& p = *r.plan;
  EXPECT_EQ(p.endpoint, "http://inventory.example.net:80/Zelt/pcInventoryD.nsf/savesoftware?OpenWebService");
  EXPECT_EQ(p.version, SoapVersion::Soap11);
  EXPECT_EQ(p.soapAction, "setSaveSoftwareInformation");
  EXPECT_EQ(p.style, SoapStyle::Rpc);
  EXPECT_EQ(p.use, SoapUse::Encoded);
  EXPECT_EQ(p.encodingStyle, "http://schemas.xmlsoap.org/soap/encoding/");
  EXPECT_EQ(p.bodyElement, "setSaveSoftwareInformation");
  EXPECT_EQ(p.bodyNamespace, "urn:DefaultNamespace");
  EXPECT_EQ(Names(p), (std::vector<std::string>{"USERNAME|", "ADAPTERADDRESS|", "PROGRAMSTEXT|", "NETWORKTEXT|",
                                                "PROCESSORTEXT|"}));
}

// Variants of the two shapes that still give a plan, and what changes in it.
TEST(ReadWsdl, VariantsThatStillServe) {
  const std::string part = "<wsdl:part name=\"PROCESSORTEXT\" type=\"xsd:string\"/>";
  const std::string ns = "urn:tallowin:inventory";
  {  // elements unqualified by the schema's default, one qualified by its own form
    const WsdlResult r = Read(Edit(Edit(DocumentLiteral(), " elementFormDefault=\"qualified\"", ""),
                                   "<xs:element name=\"NetworkText\"", "<xs:element form=\"qualified\" name=\"NetworkText\""));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(Names(*r.plan), (std::vector<std::string>{"UserName|", "AdapterAddress|", "ProgramsText|",
                                                        "NetworkText|" + ns, "ProcessorText|"}));
    EXPECT_EQ(r.plan->bodyNamespace, ns);  // a global element is always qualified
  }
  {  // the wrapper's type inline, one child by reference to a global element
    std::string xml = Edit(DocumentLiteral(), "<xs:element name=\"setSaveSoftwareInformation\" type=\"tns:setSaveSoftwareInformation\"/>",
                           "<xs:element name=\"setSaveSoftwareInformation\"><xs:complexType><xs:sequence>"
                           "<xs:element name=\"A\" type=\"xs:string\"/><xs:element ref=\"tns:B\"/><xs:element name=\"C\" type=\"xs:string\"/>"
                           "<xs:element name=\"D\" type=\"xs:string\"/><xs:element name=\"E\" type=\"xs:string\"/>"
                           "</xs:sequence></xs:complexType></xs:element><xs:element name=\"B\" type=\"xs:string\"/>");
    xml = Edit(xml, "elementFormDefault=\"qualified\"", "elementFormDefault=\"unqualified\"");
    const WsdlResult r = Read(xml);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(Names(*r.plan), (std::vector<std::string>{"A|", "B|" + ns, "C|", "D|", "E|"}));
  }
  {  // a SOAP 1.2 binding only
    const WsdlResult r = Read(Edit(DocumentLiteral(), "<wsdlsoap11:", "<wsdlsoap12:"));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.plan->version, SoapVersion::Soap12);
    EXPECT_EQ(r.plan->soapAction, "setSaveSoftwareInformation");
  }
  {  // an https endpoint
    const WsdlResult r = Read(Edit(RpcEncoded(), "location=\"http://", "location=\"HTTPS://"));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.plan->endpoint.substr(0, 8), "HTTPS://");
  }
  {  // the operation spelt in other letter case, as automation clients matched it
    const WsdlResult r = Read(Edit(RpcEncoded(), "name=\"setSaveSoftwareInformation\"", "name=\"SETSAVESOFTWAREINFORMATION\""));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.plan->bodyElement, "SETSAVESOFTWAREINFORMATION");
  }
  {  // rpc/literal, no body namespace (the target namespace serves), no soapAction, style from the binding
    std::string xml = Edit(RpcEncoded(), "encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" namespace=\"urn:DefaultNamespace\" use=\"encoded\"", "use=\"literal\"");
    xml = Edit(xml, "<wsdlsoap:operation soapAction=\"setSaveSoftwareInformation\"/>", "<wsdlsoap:operation/>");
    const WsdlResult r = Read(xml);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.plan->use, SoapUse::Literal);
    EXPECT_EQ(r.plan->style, SoapStyle::Rpc);
    EXPECT_EQ(r.plan->bodyNamespace, "urn:DefaultNamespace");
    EXPECT_EQ(r.plan->soapAction, "");
  }
  {  // a sixth part bound to a header: soap:body parts= names the five of the body
    std::string xml = Edit(RpcEncoded(), part, part + "<wsdl:part name=\"TICKET\" type=\"xsd:string\"/>");
    xml = Edit(xml, "namespace=\"urn:DefaultNamespace\" use=\"encoded\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE",
               "namespace=\"urn:DefaultNamespace\" use=\"encoded\" parts=\"USERNAME ADAPTERADDRESS PROGRAMSTEXT NETWORKTEXT PROCESSORTEXT\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE");
    const WsdlResult r = Read(xml);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.plan->parameters.back().name, "PROCESSORTEXT");
  }
}

TEST(ReadWsdl, PrefersSoap11PortsAndSkipsIncompleteOnes) {
  // Ports in order: SOAP 1.2, SOAP 1.1 without location, SOAP 1.1 complete.
  const std::string xml = R"(<definitions xmlns="http://schemas.xmlsoap.org/wsdl/" xmlns:t="urn:t"
      xmlns:s="http://schemas.xmlsoap.org/wsdl/soap/" xmlns:s12="http://schemas.xmlsoap.org/wsdl/soap12/"
      xmlns:xsd="http://www.w3.org/2001/XMLSchema" targetNamespace="urn:t">
    <message name="in"><part name="a" type="xsd:string"/><part name="b" type="xsd:string"/>
      <part name="c" type="xsd:string"/><part name="d" type="xsd:string"/><part name="e" type="xsd:string"/></message>
    <portType name="pt"><operation name="setSaveSoftwareInformation"><input message="t:in"/></operation></portType>
    <binding name="b12" type="t:pt"><s12:binding style="rpc"/><operation name="setSaveSoftwareInformation">
      <s12:operation soapAction="urn:act12"/><input><s12:body use="literal" namespace="urn:b12"/></input></operation></binding>
    <binding name="b11" type="t:pt"><s:binding style="rpc"/><operation name="setSaveSoftwareInformation">
      <s:operation soapAction="urn:act11"/><input><s:body use="literal" namespace="urn:b11"/></input></operation></binding>
    <service name="svc">
      <port name="p12" binding="t:b12"><s12:address location="http://h/12"/></port>
      <port name="p11a" binding="t:b11"><s:address/></port>
      <port name="p11b" binding="t:b11"><s:address location="http://h/11"/></port>
    </service></definitions>)";
  const WsdlResult r = Read(xml);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.plan->version, SoapVersion::Soap11);
  EXPECT_EQ(r.plan->endpoint, "http://h/11");
  EXPECT_EQ(r.plan->soapAction, "urn:act11");
  EXPECT_EQ(r.plan->bodyNamespace, "urn:b11");

  // Without the 1.1 ports the 1.2 one serves.
  const WsdlResult only12 = Read(Edit(Edit(xml, "<port name=\"p11a\" binding=\"t:b11\"><s:address/></port>", ""),
                                      "<port name=\"p11b\" binding=\"t:b11\"><s:address location=\"http://h/11\"/></port>", ""));
  ASSERT_TRUE(only12.ok()) << only12.error;
  EXPECT_EQ(only12.plan->version, SoapVersion::Soap12);
  EXPECT_EQ(only12.plan->endpoint, "http://h/12");

  // Only the incomplete 1.1 port and the 1.2 one: the 1.2 port still serves.
  const WsdlResult incomplete = Read(Edit(xml, "<port name=\"p11b\" binding=\"t:b11\"><s:address location=\"http://h/11\"/></port>", ""));
  ASSERT_TRUE(incomplete.ok()) << incomplete.error;
  EXPECT_EQ(incomplete.plan->endpoint, "http://h/12");
}

TEST(ReadWsdl, RefusesWhatCannotBeCalled) {
  const std::string part = "<wsdl:part name=\"PROCESSORTEXT\" type=\"xsd:string\"/>";
  const std::string child = "<xs:element name=\"ProcessorText\" type=\"xs:string\"/>";
  const struct {
    const char* what;
    std::string xml;
    const char* error;  // a part of the one-line message
  } cases[] = {
      {"no such operation", Edit(DocumentLiteral(), "<wsdl:operation name=\"setSaveSoftwareInformation\">", "<wsdl:operation name=\"other\">"),
       "no operation setSaveSoftwareInformation"},
      {"an HTTP binding only", Edit(DocumentLiteral(), "<wsdlsoap11:binding style=\"document\" transport=\"http://schemas.xmlsoap.org/soap/http\"/>",
                                    "<http:binding verb=\"POST\"/>"),
       "no SOAP binding for setSaveSoftwareInformation"},
      {"no port names the binding", Edit(RpcEncoded(), "binding=\"impl:SaveSoftwareSoapBinding\"", "binding=\"impl:Elsewhere\""),
       "no port for setSaveSoftwareInformation"},
      {"four rpc parts", Edit(RpcEncoded(), part, ""), "takes 4 parameters"},
      {"six rpc parts", Edit(RpcEncoded(), part, part + part), "takes 6 parameters"},
      {"four wrapper children", Edit(DocumentLiteral(), child, ""), "takes 4 parameters"},
      {"an empty wrapper", Edit(DocumentLiteral(), "<xs:complexType name=\"setSaveSoftwareInformation\">", "<xs:complexType name=\"setSaveSoftwareInformation\"/><xs:complexType name=\"unused\">"),
       "takes 0 parameters"},
      {"two sequences in the wrapper", Edit(DocumentLiteral(), "<xs:complexType name=\"setSaveSoftwareInformation\"><xs:sequence>", "<xs:complexType name=\"setSaveSoftwareInformation\"><xs:sequence/><xs:sequence>"),
       "not supported"},
      {"a choice in the wrapper", Edit(DocumentLiteral(), child, "<xs:choice>" + child + "</xs:choice>"), "not supported"},
      {"no location", Edit(DocumentLiteral(), " location=\"http://127.0.0.1:8080/Zelt/pcInventoryD.nsf/savesoftware\"", ""),
       "has no address location"},
      {"no address", Edit(DocumentLiteral(), "<wsdlsoap11:address location=\"http://127.0.0.1:8080/Zelt/pcInventoryD.nsf/savesoftware\"/>", ""),
       "has no address location"},
      {"an ftp location", Edit(RpcEncoded(), "location=\"http://", "location=\"ftp://"), "is not an http or https URL"},
      {"a file location", Edit(RpcEncoded(), "location=\"http://inventory.example.net:80", "location=\"file://"), "is not an http or https URL"},
      {"a relative location", Edit(RpcEncoded(), "location=\"http://inventory.example.net:80", "location=\""), "is not an http or https URL"},
      {"a location with a blank", Edit(RpcEncoded(), "savesoftware?OpenWebService", "save software"), "is not an http or https URL"},
      {"document/encoded", Edit(DocumentLiteral(), "<wsdlsoap11:body use=\"literal\"/>", "<wsdlsoap11:body use=\"encoded\"/>"),
       "document/encoded"},
      {"a document input of several parts", Edit(DocumentLiteral(), "<wsdl:part name=\"setSaveSoftwareInformation\" element=\"tns:setSaveSoftwareInformation\"/>",
                                                 "<wsdl:part name=\"a\" type=\"xs:string\"/><wsdl:part name=\"b\" type=\"xs:string\"/>"),
       "is not one wrapper element"},
      {"an undefined wrapper element", Edit(DocumentLiteral(), "element=\"tns:setSaveSoftwareInformation\"", "element=\"tns:missing\""),
       "lacks the element \"missing\""},
      {"an undefined input message", Edit(DocumentLiteral(), "message=\"tns:setSaveSoftwareInformation\"", "message=\"tns:missing\""),
       "lacks the input message"},
      {"an undeclared prefix", Edit(DocumentLiteral(), "element=\"tns:setSaveSoftwareInformation\"", "element=\"nope:setSaveSoftwareInformation\""),
       "undeclared prefix"},
      {"a quote in the soapAction", Edit(RpcEncoded(), "soapAction=\"setSaveSoftwareInformation\"", "soapAction=\"a&quot;&#13;&#10;X-Evil: 1\""),
       "cannot be sent in a header"},
      {"a parameter name that is no XML name", Edit(RpcEncoded(), "name=\"NETWORKTEXT\"", "name=\"NET&lt;WORK\""), "invalid parameter"},
      {"a blank in the body namespace", Edit(RpcEncoded(), "namespace=\"urn:DefaultNamespace\" use=\"encoded\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE",
                                             "namespace=\"urn:Default Namespace\" use=\"encoded\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE"),
       "invalid namespace"},
      {"a body namespace with a bad scheme", Edit(RpcEncoded(), "namespace=\"urn:DefaultNamespace\" use=\"encoded\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE",
                                                  "namespace=\"ur@:DefaultNamespace\" use=\"encoded\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE"),
       "invalid namespace"},
      {"a bad escape in the encoding style", Edit(RpcEncoded(), "<wsdlsoap:body encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" namespace=\"urn:DefaultNamespace\" use=\"encoded\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE",
                                              "<wsdlsoap:body encodingStyle=\"http:%zz\" namespace=\"urn:DefaultNamespace\" use=\"encoded\"/>\n   </wsdl:input>\n   <wsdl:output name=\"SETSAVE"),
       "invalid encoding style"},
      {"an unknown style", Edit(RpcEncoded(), "style=\"rpc\"", "style=\"chatty\""), "unknown SOAP style"},
      {"a DTD", "<!DOCTYPE definitions [<!ENTITY x 'y'>]>" + DocumentLiteral().substr(DocumentLiteral().find("<wsdl:definitions")),
       "document type declaration"},
      {"not XML", DocumentLiteral().substr(0, 1000), "not well-formed"},
      {"not a WSDL", "<html><body>Moved</body></html>", "not a WSDL 1.1 service description"},
      {"nested too deeply", std::string(200 * 3, ' ').replace(0, 0, [] {
         std::string s;
         for (int i = 0; i < 100; ++i) s += "<a>";
         for (int i = 0; i < 100; ++i) s += "</a>";
         return s;
       }()),
       "nested too deeply"},
  };
  for (const auto& c : cases) {
    const WsdlResult r = Read(c.xml);
    EXPECT_FALSE(r.ok()) << c.what;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << c.what << ": " << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << c.what;
  }
}

}  // namespace
}  // namespace tallowin

#endif  // TALLOWIN_HAVE_LIBXML2
