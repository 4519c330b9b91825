// The XmlLite reader keeps the same contract as the libxml2 one the native
// tests use: the two service descriptions read into the same plans.
#include <gtest/gtest.h>

#include "win/support/win_support.h"

#include <fstream>
#include <sstream>

#include "upload/soap/envelope.h"
#include "upload/soap/wsdl.h"
#include "win32/xmllite_reader.h"

namespace tallowin {
namespace {

std::string fixture(const std::string& name) {
  std::ifstream in("Z:" + std::string(TALLOWIN_SOURCE_DIR) + "/tests/unit/data/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<soap::XmlEvent> events(const std::string& doc) {
  auto r = win32::MakeXmlLiteReader(doc);
  std::vector<soap::XmlEvent> out;
  for (int i = 0; i < 10000; ++i) {
    soap::XmlEvent e;
    const auto t = r->next(e);
    out.push_back(e);
    if (t == soap::XmlEventType::EndOfDocument || t == soap::XmlEventType::Error || t == soap::XmlEventType::Doctype) break;
  }
  return out;
}

TEST(XmlLite, EventsOfASmallDocument) {
  const auto ev = events("<?xml version=\"1.0\"?><a xmlns=\"urn:x\" xmlns:p=\"urn:p\" p:k=\"v&amp;\"><b/><!-- c -->t&lt;<![CDATA[x]]></a>");
  ASSERT_GE(ev.size(), 5u);
  EXPECT_EQ(ev[0].type, soap::XmlEventType::StartElement);
  EXPECT_EQ(ev[0].localName, "a");
  EXPECT_EQ(ev[0].namespaceUri, "urn:x");
  EXPECT_EQ(ev[0].depth, 0);
  bool sawAttr = false, sawDefault = false;
  for (const auto& a : ev[0].attributes) {
    if (a.localName == "k" && a.namespaceUri == "urn:p" && a.value == "v&") sawAttr = true;
    if (a.namespaceUri == soap::kXmlnsNamespace && a.localName == "xmlns" && a.value == "urn:x") sawDefault = true;
  }
  EXPECT_TRUE(sawAttr);
  EXPECT_TRUE(sawDefault);
  EXPECT_EQ(ev[1].type, soap::XmlEventType::StartElement);
  EXPECT_EQ(ev[1].depth, 1);
  EXPECT_EQ(ev[2].type, soap::XmlEventType::EndElement);  // <b/> ends too
  std::string text;
  size_t i = 3;
  for (; i < ev.size() && ev[i].type == soap::XmlEventType::Text; ++i) text += ev[i].text;
  EXPECT_EQ(text, "t<x");
  EXPECT_EQ(ev[i].type, soap::XmlEventType::EndElement);
  EXPECT_EQ(ev.back().type, soap::XmlEventType::EndOfDocument);
}

TEST(XmlLite, RefusesDtdsAndBrokenDocuments) {
  const std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>";
  const auto t = events(bomb).back().type;
  EXPECT_TRUE(t == soap::XmlEventType::Doctype || t == soap::XmlEventType::Error);
  EXPECT_EQ(events("<a><b></a>").back().type, soap::XmlEventType::Error);
  // An element never closed is not refused by Wine's XmlLite, which closes it
  // itself at the end; the transport refuses a truncated answer before that.
  EXPECT_EQ(events("garbage").back().type, soap::XmlEventType::Error);
  EXPECT_EQ(events("").back().type, soap::XmlEventType::Error);
}

TEST(XmlLite, ReadsBothServiceDescriptions) {
  for (const char* name : {"document_literal_inventory.wsdl", "rpc_encoded_inventory.wsdl"}) {
    const std::string doc = fixture(name);
    ASSERT_FALSE(doc.empty()) << name;
    auto r = win32::MakeXmlLiteReader(doc);
    const soap::WsdlResult plan = soap::ReadWsdl(*r);
    ASSERT_TRUE(plan.ok()) << name << ": " << plan.error;
    EXPECT_EQ(plan.plan->parameters.size(), 5u);
    EXPECT_EQ(plan.plan->endpoint.rfind("http", 0), 0u);
  }
}

TEST(XmlLite, ReadsAnAnswer) {
  const std::string ok =
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><r>OK</r></s:Body></s:Envelope>";
  const std::string fault =
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault><faultcode>s:Server</faultcode>"
      "<faultstring>no</faultstring></s:Fault></s:Body></s:Envelope>";
  auto a = win32::MakeXmlLiteReader(ok);
  EXPECT_TRUE(soap::ReadResponse(*a).accepted());
  auto b = win32::MakeXmlLiteReader(fault);
  EXPECT_EQ(soap::ReadResponse(*b).kind, soap::ResponseKind::Fault);
}

}  // namespace
}  // namespace tallowin
