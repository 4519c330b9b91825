// The XmlLite reader refuses what Wine's XmlLite lets through: end tags that
// do not match and a missing root element (the reader checks them itself),
// besides any DTD. Reading real descriptions and answers is the upload tests'.
#include <gtest/gtest.h>

#include "upload/soap/xml_reader.h"
#include "win32/xmllite_reader.h"

namespace tallowin {
namespace {

soap::XmlEventType lastEvent(const std::string& doc) {
  auto r = win32::MakeXmlLiteReader(doc);
  soap::XmlEvent e;
  soap::XmlEventType t = soap::XmlEventType::Error;
  for (int i = 0; i < 1000; ++i) {
    t = r->next(e);
    if (t == soap::XmlEventType::EndOfDocument || t == soap::XmlEventType::Error || t == soap::XmlEventType::Doctype)
      break;
  }
  return t;
}

TEST(XmlLite, RefusesDtdsAndBrokenDocuments) {
  const auto dtd = lastEvent("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>");
  EXPECT_TRUE(dtd == soap::XmlEventType::Doctype || dtd == soap::XmlEventType::Error);
  EXPECT_EQ(lastEvent("<a><b></a>"), soap::XmlEventType::Error);
  EXPECT_EQ(lastEvent("garbage"), soap::XmlEventType::Error);
  EXPECT_EQ(lastEvent(""), soap::XmlEventType::Error);
  EXPECT_EQ(lastEvent("<a><b/>text</a>"), soap::XmlEventType::EndOfDocument);
}

}  // namespace
}  // namespace tallowin
