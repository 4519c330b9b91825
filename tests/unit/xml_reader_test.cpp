// The libxml2 reader keeps the XmlReader contract that the WSDL and answer
// readers rely on (and that the XmlLite reader must keep as well).
#ifdef TALLOWIN_HAVE_LIBXML2

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/libxml2_reader.h"
#include "upload/soap/xml_reader.h"

namespace tallowin {
namespace {

using soap::XmlEvent;
using soap::XmlEventType;
using test::Libxml2Reader;

// The events as short lines: "+{ns}name@depth", "-{ns}name@depth", "'text'".
std::vector<std::string> Events(std::string_view xml, XmlEventType* last = nullptr) {
  Libxml2Reader reader(xml);
  std::vector<std::string> out;
  XmlEvent ev;
  for (int guard = 0; guard < 1000; ++guard) {
    const XmlEventType t = reader.next(ev);
    if (t == XmlEventType::StartElement || t == XmlEventType::EndElement) {
      out.push_back(std::string(t == XmlEventType::StartElement ? "+" : "-") + "{" + ev.namespaceUri + "}" +
                    ev.localName + "@" + std::to_string(ev.depth));
    } else if (t == XmlEventType::Text) {
      out.push_back("'" + ev.text + "'");
    } else {
      if (last) *last = t;
      return out;
    }
  }
  ADD_FAILURE() << "the reader never ended";
  return out;
}

TEST(Libxml2Reader, EmptyElementsEndAndDepthsNest) {
  XmlEventType last{};
  EXPECT_EQ(Events("<a xmlns='urn:x'><b/><c>t<!--x--><?pi y?><![CDATA[<&>]]></c></a>", &last),
            (std::vector<std::string>{"+{urn:x}a@0", "+{urn:x}b@1", "-{urn:x}b@1", "+{urn:x}c@1", "'t'",
                                      "'<&>'", "-{urn:x}c@1", "-{urn:x}a@0"}));
  EXPECT_EQ(last, XmlEventType::EndOfDocument);
}

TEST(Libxml2Reader, ReferencesExpandedAndEncodingConverted) {
  EXPECT_EQ(Events("<a>&amp;&lt;&#x41;&#66;</a>"), (std::vector<std::string>{"+{}a@0", "'&<AB'", "-{}a@0"}));
  EXPECT_EQ(Events("<?xml version='1.0' encoding='ISO-8859-1'?><a>\xFC</a>"),
            (std::vector<std::string>{"+{}a@0", "'\xC3\xBC'", "-{}a@0"}));
}

TEST(Libxml2Reader, NamespaceDeclarationsComeAsAttributes) {
  Libxml2Reader reader("<p:a xmlns:p='urn:p' xmlns='urn:d' p:x='1' y='2'/>");
  XmlEvent ev;
  ASSERT_EQ(reader.next(ev), XmlEventType::StartElement);
  EXPECT_EQ(ev.prefix, "p");
  EXPECT_EQ(ev.namespaceUri, "urn:p");
  ASSERT_EQ(ev.attributes.size(), 4u);
  int declarations = 0;
  for (const auto& a : ev.attributes) {
    if (a.namespaceUri == soap::kXmlnsNamespace) {
      ++declarations;
      if (a.localName == "p") EXPECT_EQ(a.value, "urn:p");
      else EXPECT_TRUE(a.localName == "xmlns" && a.prefix.empty() && a.value == "urn:d") << a.localName;
    } else if (a.localName == "x") {
      EXPECT_EQ(a.namespaceUri, "urn:p");
      EXPECT_EQ(a.value, "1");
    } else {
      EXPECT_EQ(a.localName, "y");
      EXPECT_EQ(a.namespaceUri, "");  // unprefixed attributes are in no namespace
    }
  }
  EXPECT_EQ(declarations, 2);
  EXPECT_EQ(reader.next(ev), XmlEventType::EndElement);
  EXPECT_EQ(reader.next(ev), XmlEventType::EndOfDocument);
  EXPECT_EQ(reader.next(ev), XmlEventType::EndOfDocument);
}

TEST(Libxml2Reader, DocumentTypesAreReportedNotProcessed) {
  const char* laughs =
      "<?xml version='1.0'?><!DOCTYPE a [<!ENTITY l0 'ha'>"
      "<!ENTITY l1 '&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;'>"
      "<!ENTITY l2 '&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;'>"
      "<!ENTITY l3 '&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;'>"
      "<!ENTITY l4 '&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;'>"
      "<!ENTITY l5 '&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;'>"
      "<!ENTITY l6 '&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;'>]><a>&l6;</a>";
  const char* external = "<!DOCTYPE a SYSTEM 'file:///etc/passwd'><a>x</a>";
  const char* externalEntity = "<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><a>&e;</a>";
  for (const char* xml : {external, externalEntity, "<!DOCTYPE a><a/>"}) {
    XmlEventType last{};
    EXPECT_TRUE(Events(xml, &last).empty()) << xml;
    EXPECT_EQ(last, XmlEventType::Doctype) << xml;
  }
  // libxml2 already stops the entity bomb while reading the subset.
  XmlEventType last{};
  EXPECT_TRUE(Events(laughs, &last).empty());
  EXPECT_TRUE(last == XmlEventType::Doctype || last == XmlEventType::Error);
}

TEST(Libxml2Reader, MalformedDocumentsEndInError) {
  for (const char* xml : {"<a>", "<a></b>", "<a>&undefined;</a>", "<p:a/>", "<a>\x01</a>", "", "text",
                          "<a>&#0;</a>", "<a/><b/>", "<a>\xFF</a>"}) {
    Libxml2Reader reader(xml);
    XmlEvent ev;
    XmlEventType t;
    int guard = 0;
    while ((t = reader.next(ev)) == XmlEventType::StartElement || t == XmlEventType::EndElement ||
           t == XmlEventType::Text)
      ASSERT_LT(++guard, 100);
    EXPECT_EQ(t, XmlEventType::Error) << xml;
    EXPECT_FALSE(reader.errorText().empty()) << xml;
    EXPECT_EQ(reader.next(ev), XmlEventType::Error) << "stays ended: " << xml;
  }
}

}  // namespace
}  // namespace tallowin

#endif  // TALLOWIN_HAVE_LIBXML2
