// The upload's portable half: the record and its texts, the server setting, the
// envelope written and the answer judged, the service description read; the
// scheduled run's pacing, one row a case: the settings from their sources,
// what the last runs left, the record now, and the service's answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "control/profile_control.h"
#include "sections/inventory/programs.h"
#include "support/call_plan.h"
#include "support/fake_platform.h"
#include "support/libxml2_reader.h"  // empty without libxml2
#include "upload/inventory_upload.h"
#include "upload/schedule.h"
#include "upload/section_text.h"
#include "upload/server_setting.h"
#include "upload/soap/envelope.h"
#include "upload/soap/wsdl.h"
#include "upload/soap/xml_tree.h"

namespace tallowin {
namespace {

using namespace soap;

// The record: the three sections' texts (their lines that are not empty), the
// user (or "Unknown") and the adapter address.
TEST(CollectInventory, TheRecordOfThreeSectionsAUserAndAnAddress) {
  test::FakePlatform p;
  p.userName = std::string(" \0ada", 5);
  p.setString(std::string(kUninstallPath) + "\\a", "DisplayName", "A", RegView::Bits64);
  p.setString(std::string(kUninstallPath) + "\\b", "DisplayName", "  x$#$y", RegView::Bits64);
  ProfileControl control{p};
  const UploadRecord r = CollectInventory(control);
  EXPECT_EQ(r.userName + "|" + r.adapterAddress + "|" + r.programs, "Unknown|00-00-00-00-00-00|  x$#$y$#$A$#$");
  EXPECT_EQ(r.processor.substr(0, 32), "Processor Architecture: Intel$#$");
  EXPECT_EQ(r.network.substr(0, 17), "NetBIOS Name: $#$");
}

TEST(ServerSetting, AcceptedAndRefused) {
  const std::pair<const char*, std::string> accepted[] = {
      {"inv-01.corp.example", "http://inv-01.corp.example:80"}, {"SRV_NOTES:8080", "http://SRV_NOTES:8080"},
      {"0.0.0.0:1", "http://0.0.0.0:1"}, {"127.0.0.1:65535", "http://127.0.0.1:65535"},
      {"[2001:db8::7]:8080", "http://[2001:db8::7]:8080"}, {"[1::3:4:5:6:7:8]", "http://[1::3:4:5:6:7:8]:80"},
      {"[::ffff:192.0.2.1]", "http://[::ffff:192.0.2.1]:80"}, {"http://inventory", "http://inventory:80"},
      {"HTTPS://inventory", "https://inventory:443"}, {"https://[::1]:8443", "https://[::1]:8443"},
  };
  for (const auto& [text, origin] : accepted) {
    const auto s = ParseServerSetting(text);
    ASSERT_TRUE(s) << text;
    EXPECT_EQ(WsdlUrl(*s), origin + "/Zelt/pcInventoryD.nsf/savesoftware?WSDL") << text;
  }
  // One row for each way a setting is refused.
  for (const char* text : {
           "", " inventory", "ftp://inventory", "https://", "inventory/Zelt", "inventory:", "inventory:0", "inventory:65536",
           "inventory.", "-inventory", "256.1.1.1", "1.2.3", "01.1.1.1", "::1", "[::1", "[::1]80", "[1:2:3:4:5:6:7:8:9]",
           "[1::3:4:5:6:7:8:9]", "[1::2::3]", "[12345::]", "[fe80::1%eth0]", "[::ffff:1.2.3]",
       }) {
    EXPECT_FALSE(ParseServerSetting(text)) << "[" << text << "]";
  }
  EXPECT_FALSE(ParseServerSetting(std::string(64, 'a')));  // a label is at most 63 long
  std::string longName;
  for (int i = 0; i < 64; ++i) longName += "abc.";
  EXPECT_FALSE(ParseServerSetting(longName + "x"));  // above 253 in all
}

// The first source with a setting decides, a malformed one included; the
// message names the source either way.
TEST(ServerChoice, FirstSourceWithASettingDecides) {
  const std::optional<std::string> none;
  const std::string huge(40000, 'a');
  const struct { const char* name; std::vector<SettingSource> sources; const char* source; const char* host; const char* problem; } cases[] = {
      {"environment first", {{"env", "a.example:81"}, {"policy", "b.example"}}, "env", "a.example", ""},
      {"an empty value is no setting", {{"env", ""}, {"policy", none}, {"installed", "c.example"}}, "installed", "c.example", ""},
      {"a malformed value is not passed over", {{"env", "not a host"}, {"installed", "c.example"}}, "env", nullptr,
       "in env is not a host[:port]"},
      {"a value longer than any buffer is set and malformed", {{"env", huge}, {"installed", "c.example"}}, "env", nullptr,
       "(40000 characters)"},
      {"none at all", {{"env", none}, {"policy", none}}, "", nullptr, "no inventory server set (env or policy)"},
  };
  for (const auto& c : cases) {
    const ServerChoice choice = ChooseServer(c.sources);
    EXPECT_EQ(choice.source, c.source) << c.name;
    EXPECT_EQ(choice.server ? choice.server->host : "", c.host ? c.host : "") << c.name;
    EXPECT_NE(choice.problem.find(c.problem), std::string::npos) << c.name << ": " << choice.problem;
    EXPECT_LT(choice.problem.size(), 500u) << c.name;
  }
}

constexpr int64_t kNow = 1800000000;
constexpr int64_t kHour = 3600;

// The last acceptance (with digest "old"), the record's digest now, the random
// number and the service's answer (200: accepted, else the HTTP status); the
// delay, the decision, the start of the attempt's line, the acceptance after.
struct PaceCase {
  const char* name; std::vector<ScheduleSource> sources; int64_t acceptedAt; const char* digest; uint32_t random; int answer;
  uint32_t delay; bool send; const char* outcome; int64_t acceptedAfter;
};

const ScheduleSource kPolicyOff{"policy", 0, std::nullopt, std::nullopt};
const ScheduleSource kPackageOn{"package", 1, 48, 30};

const PaceCase kCases[] = {
    {"first run sends, default delay spread", {}, 0, "old", 601, 200, 0, true, "sent", kNow},
    {"delay within ten minutes", {}, 0, "old", 599, 200, 599, true, "sent", kNow},
    {"delay 0 turns the wait off", {{"policy", std::nullopt, std::nullopt, 0}}, 0, "old", 12345, 200, 0, true, "sent", kNow},
    {"unchanged within the interval", {}, kNow - 23 * kHour, "old", 0, 200, 0, false, "not sent: the record is unchanged", kNow - 23 * kHour},
    {"unchanged, an interval old", {}, kNow - 24 * kHour, "old", 0, 200, 0, true, "sent", kNow},
    {"changed record sends at once", {}, kNow - kHour, "new", 0, 200, 0, true, "sent", kNow},
    {"clock set back sends", {}, kNow + kHour, "old", 0, 200, 0, true, "sent", kNow},
    {"package interval 48 h", {kPackageOn}, kNow - 30 * kHour, "old", 0, 200, 0, false, "not sent: the record is unchanged", kNow - 30 * kHour},
    {"policy disables over the package", {kPolicyOff, kPackageOn}, 0, "new", 1800, 200, 1800, false, "not sent: scheduled inventory is disabled by policy", 0},
    {"out-of-range policy interval ignored", {{"policy", std::nullopt, 169, 0}, kPackageOn}, kNow - 47 * kHour, "old", 0, 200, 0, false, "not sent: the record is unchanged", kNow - 47 * kHour},
    {"503: try later, acceptance kept", {}, kNow - 25 * kHour, "old", 0, 503, 0, true, "not sent, try later: the service is busy (HTTP status 503)", kNow - 25 * kHour},
    {"429: try later", {}, 0, "new", 0, 429, 0, true, "not sent, try later: the service is busy (HTTP status 429)", 0},
    {"other failure kept as it was", {}, 0, "new", 0, 500, 0, true, "failed", 0},
};

class Pacing : public ::testing::TestWithParam<PaceCase> {};

TEST_P(Pacing, DelayDecisionAndState) {
  const PaceCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const ScheduleSettings settings = ChooseSchedule(c.sources);
  EXPECT_EQ(ScheduledDelaySeconds(settings, c.random), c.delay);
  const ScheduleState before{c.acceptedAt, c.acceptedAt ? "old" : "", 0, ""};
  const SendDecision decision = DecideSend(settings, before, c.digest, kNow);
  EXPECT_EQ(decision.send, c.send);
  UploadOutcome outcome{true, c.answer == 200, c.answer == 200 ? "sent" : "failed", c.answer, false, false, ""};
  const ScheduleState after = AfterRun(before, decision, outcome, c.digest, kNow);
  EXPECT_EQ(after.attemptOutcome.rfind(c.outcome, 0), 0U) << after.attemptOutcome;
  EXPECT_EQ(after.attemptAt, kNow);
  EXPECT_EQ(after.acceptedAt, c.acceptedAfter);
  EXPECT_EQ(after.acceptedDigest, c.acceptedAfter == kNow ? c.digest : before.acceptedDigest);
}

INSTANTIATE_TEST_SUITE_P(Cases, Pacing, ::testing::ValuesIn(kCases));

TEST(RecordDigest, TrafficCountersAloneAreNoChange) {
  UploadRecord r{"ann", "00-0C-29-3A-5B-7F", "A$#$B$#$", "Interface: x$#$  Packets Sent: 1$#$", "CPU$#$"};
  const std::string digest = RecordDigest(r, "http://inv:80/");
  UploadRecord counted = r;
  counted.network = "Interface: x$#$  Packets Sent: 2,000$#$";
  EXPECT_EQ(RecordDigest(counted, "http://inv:80/"), digest);
  UploadRecord installed = r;
  installed.programs = "A$#$B$#$C$#$";
  EXPECT_NE(RecordDigest(installed, "http://inv:80/"), digest);
  EXPECT_NE(RecordDigest(r, "http://other:80/"), digest);
  // The profile counts, but not the memory in use at the moment.
  const std::string profiled = RecordDigest(r, "http://inv:80/", "Operating System Name: Windows 10$#$Memory Load: 40%$#$");
  EXPECT_NE(profiled, digest);
  EXPECT_EQ(RecordDigest(r, "http://inv:80/", "Operating System Name: Windows 10$#$Memory Load: 71%$#$"), profiled);
  EXPECT_NE(RecordDigest(r, "http://inv:80/", "Operating System Name: Windows 11$#$Memory Load: 40%$#$"), profiled);
}

TEST(ScheduleStatus, ServerAndTaskLinesFromWhatTheBindingRead) {
  StatusFacts f;
  f.server = ChooseServer({{"policy", "[::1]:8080"}});
  f.taskName = "Tallowin Scheduled inventory";
  const std::vector<std::string> lines = ScheduleStatusLines(f);
  EXPECT_EQ(lines.at(0), "inventory server: [::1]:8080 (from policy)");
  EXPECT_EQ(lines.at(1), "scheduled task: Tallowin Scheduled inventory: not registered");
  EXPECT_EQ(lines.back(), "last accepted: never");
}

#ifdef TALLOWIN_HAVE_LIBXML2

constexpr const char* kEnv11 = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kEnv12 = "http://www.w3.org/2003/05/soap-envelope";
const std::string kFffd = "\xEF\xBF\xBD";

// Texts that must arrive exactly (what XML cannot carry is XmlEscape's table and the envelope fuzzer's).
const std::array<std::string_view, kParameterCount> kTexts = {
    "J\xC3\xBCrgen & <Admin> \"x\" 'y'", "00-0C-29-3A-5B-7F", "Caf\xC3\xA9 ]]> Suite$#$\xF0\x9F\x98\x80$#$",
    "del\x7F crlf\r\n tab\t end", ""};

// Each shape of plan, as a SOAP server reads the request back.
TEST(WriteEnvelope, EveryShapeArrivesIntact) {
  CallPlan mixed = test::Plan();
  for (auto& p : mixed.parameters) p.namespaceUri.clear();
  mixed.parameters[2].namespaceUri = "urn:other";
  mixed.soapAction.clear();
  const HttpHeaders soap11 = {{"Content-Type", "text/xml; charset=utf-8"}, {"SOAPAction", "\"setSaveSoftwareInformation\""}};
  const struct { const char* name; CallPlan plan; HttpHeaders headers; } cases[] = {
      {"document/literal", test::Plan(), soap11}, {"rpc/encoded", test::Plan(true), soap11},
      {"SOAP 1.2", test::Plan(false, true), {{"Content-Type", "application/soap+xml; charset=utf-8; action=\"setSaveSoftwareInformation\""}}},
      {"mixed namespaces", mixed, {soap11[0], {"SOAPAction", "\"\""}}},
  };
  const auto AttributeNs = [](const XmlElement& e, std::string_view ns, std::string_view name) -> const std::string* {
    for (const auto& a : e.attributes)
      if (a.namespaceUri == ns && a.localName == name) return &a.value;
    return nullptr;
  };
  for (const auto& c : cases) {
    const SoapRequest request = WriteEnvelope(c.plan, kTexts);
    EXPECT_EQ(request.headers, c.headers) << c.name;
    test::Libxml2Reader reader(request.body);
    const XmlTree tree = ReadXmlTree(reader);
    ASSERT_TRUE(tree.root) << tree.error;
    const std::string env = c.plan.version == SoapVersion::Soap12 ? kEnv12 : kEnv11;
    ASSERT_TRUE(tree.root->is(env, "Envelope") && tree.root->children.size() == 1) << c.name;
    const XmlElement* body = tree.root->child(env, "Body");
    ASSERT_TRUE(body && body->children.size() == 1) << c.name;
    const XmlElement& wrapper = *body->children.front();
    EXPECT_TRUE(wrapper.is(c.plan.bodyNamespace, c.plan.bodyElement)) << c.name;
    const std::string* style = AttributeNs(wrapper, env, "encodingStyle");
    EXPECT_EQ(style ? *style : "", c.plan.encodingStyle) << c.name;
    ASSERT_EQ(wrapper.children.size(), 5u) << c.name;
    for (size_t i = 0; i < 5; ++i) {
      const XmlElement& p = *wrapper.children[i];
      EXPECT_TRUE(p.is(c.plan.parameters[i].namespaceUri, c.plan.parameters[i].name)) << c.name << i;
      EXPECT_EQ(p.text, kTexts[i]) << c.name << i;
      const std::string* type = AttributeNs(p, "http://www.w3.org/2001/XMLSchema-instance", "type");
      ASSERT_EQ(type != nullptr, c.plan.use == SoapUse::Encoded) << c.name << i;
      if (type) {
        EXPECT_EQ(p.resolve(*type)->namespaceUri + "#" + p.resolve(*type)->localName, "http://www.w3.org/2001/XMLSchema#string");
      }
    }
  }
}

TEST(WriteEnvelope, XmlEscapeReferencesAndReplacements) {
  const struct { std::string_view in; bool attribute; std::string out; } cases[] = {
      {"&<>\"']]>", false, "&amp;&lt;&gt;&quot;&apos;]]&gt;"}, {"a\tb\nc\rd", false, "a\tb\nc&#xD;d"},
      {"a\tb\nc\rd", true, "a&#x9;b&#xA;c&#xD;d"}, {std::string_view("\0\x1F", 2), false, kFffd + kFffd},
      {"\xEF\xBF\xBF\xEF\xBF\xBE\xEF\xBF\xBD", false, kFffd + kFffd + kFffd},  // U+FFFF, U+FFFE; U+FFFD stays
      {"\xF0\x90\x80\x80 \xE2\x82\xAC", false, "\xF0\x90\x80\x80 \xE2\x82\xAC"},
  };
  for (const auto& c : cases) EXPECT_EQ(XmlEscape(c.in, c.attribute), c.out) << c.in;
}

TEST(ReadResponse, FaultAcceptanceOrInvalid) {
  const std::string s11 = "<s:Envelope xmlns:s='http://schemas.xmlsoap.org/soap/envelope/'>";
  const std::string longReason(400, 'x');
  const struct { std::string xml; ResponseKind kind; std::string detail; } cases[] = {
      {s11 + "<s:Body><r:okResponse xmlns:r='urn:r'><r:okResult>OK</r:okResult></r:okResponse></s:Body></s:Envelope>",
       ResponseKind::Accepted, ""},
      {s11 + "<s:Body/></s:Envelope>", ResponseKind::Accepted, ""},
      {s11 + "<s:Body>\n <s:Fault><faultcode>s:Server</faultcode><faultstring>Database\n  is full</faultstring></s:Fault>"
       "</s:Body></s:Envelope>", ResponseKind::Fault, "s:Server: Database is full"},
      {s11 + "<s:Body><s:Fault><faultstring>" + longReason + "</faultstring></s:Fault></s:Body></s:Envelope>",
       ResponseKind::Fault, longReason.substr(0, 300)},
      {"<e:Envelope xmlns:e='http://www.w3.org/2003/05/soap-envelope'><e:Body><e:Fault><e:Code><e:Value>e:Receiver"
       "</e:Value></e:Code><e:Reason><e:Text xml:lang='en'>No space</e:Text></e:Reason></e:Fault></e:Body></e:Envelope>",
       ResponseKind::Fault, "e:Receiver: No space"},
      {"<Envelope><Body/></Envelope>", ResponseKind::Invalid, "*"},  // no SOAP namespace
      {s11.substr(0, s11.size() - 1) + "/>", ResponseKind::Invalid, "*"},
      {"<!DOCTYPE s [<!ENTITY e 'x'>]>" + s11 + "<s:Body/></s:Envelope>", ResponseKind::Invalid, "*"},
      {s11 + "<s:Body>", ResponseKind::Invalid, "*"},
  };
  for (const auto& c : cases) {
    test::Libxml2Reader reader(c.xml);
    const SoapResponse r = ReadResponse(reader);
    EXPECT_EQ(r.kind, c.kind) << c.xml;
    if (c.kind != ResponseKind::Accepted) {
      EXPECT_EQ(c.detail == "*" ? !r.detail.empty() : r.detail == c.detail, true) << c.xml << "\n" << r.detail;
    }
  }
}

std::string Fixture(const char* name) {
  std::ifstream in(std::filesystem::path(__FILE__).parent_path() / "data" / name, std::ios::binary);
  EXPECT_TRUE(in) << name;
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
  for (; at != std::string::npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
  return text;
}
std::string Doc(const std::string& from, const std::string& to) { return Edit(DocumentLiteral(), from, to); }
std::string Rpc(const std::string& from, const std::string& to) { return Edit(RpcEncoded(), from, to); }

// The plan in one line: version style/use action body-element {ns} endpoint, then the parameters.
std::string Summary(const WsdlResult& r) {
  if (!r.ok()) return "error: " + r.error;
  const CallPlan& p = *r.plan;
  std::string s = std::string(p.version == SoapVersion::Soap12 ? "1.2 " : "1.1 ") +
                  (p.style == SoapStyle::Rpc ? "rpc/" : "document/") + (p.use == SoapUse::Encoded ? "encoded " : "literal ") +
                  p.soapAction + " " + p.bodyElement + " {" + p.bodyNamespace + "} " + p.endpoint;
  for (const auto& param : p.parameters) s += " " + param.name + (param.namespaceUri.empty() ? "" : "{q}");
  return s;
}

TEST(ReadWsdl, TheShapesServersPublishAndTheirVariants) {
  const std::string doc = "1.1 document/literal setSaveSoftwareInformation setSaveSoftwareInformation {urn:tallowin:inventory} "
                          "http://127.0.0.1:8080/Zelt/pcInventoryD.nsf/savesoftware UserName{q} AdapterAddress{q} "
                          "ProgramsText{q} NetworkText{q} ProcessorText{q}";
  const std::string rpc = "1.1 rpc/encoded setSaveSoftwareInformation setSaveSoftwareInformation {urn:DefaultNamespace} "
                          "http://inventory.example.net:80/Zelt/pcInventoryD.nsf/savesoftware?OpenWebService USERNAME "
                          "ADAPTERADDRESS PROGRAMSTEXT NETWORKTEXT PROCESSORTEXT";
  const std::string part = "<wsdl:part name=\"PROCESSORTEXT\" type=\"xsd:string\"/>";
  const std::string rpcBody = "use=\"encoded\"/>\n   </wsdl:input>";
  const struct { const char* name; std::string xml; std::string summary; } cases[] = {
      {"document/literal wrapped", DocumentLiteral(), doc}, {"rpc/encoded", RpcEncoded(), rpc},
      {"unqualified by default, one qualified by its own form",
       Edit(Doc(" elementFormDefault=\"qualified\"", ""), "<xs:element name=\"NetworkText\"",
            "<xs:element form=\"qualified\" name=\"NetworkText\""),
       Edit(Edit(doc, "{q}", ""), "NetworkText", "NetworkText{q}")},
      {"a SOAP 1.2 binding only", Doc("<wsdlsoap11:", "<wsdlsoap12:"), "1.2" + doc.substr(3)},
      {"the operation in other letter case", Rpc("name=\"setSaveSoftwareInformation\"", "name=\"SETSAVESOFTWAREINFORMATION\""),
       Edit(rpc, "setSaveSoftwareInformation {", "SETSAVESOFTWAREINFORMATION {")},
      {"a sixth part bound to a header", Edit(Rpc(part, part + "<wsdl:part name=\"TICKET\" type=\"xsd:string\"/>"), rpcBody,
       "use=\"encoded\" parts=\"USERNAME ADAPTERADDRESS PROGRAMSTEXT NETWORKTEXT PROCESSORTEXT\"/>\n   </wsdl:input>"), rpc},
  };
  for (const auto& c : cases) EXPECT_EQ(Summary(Read(c.xml)), c.summary) << c.name;
  // A SOAP 1.2 port listed first and a SOAP 1.1 port without an address:
  // the complete SOAP 1.1 port is the one called.
  std::string both = DocumentLiteral();
  const size_t from = both.find("<wsdl:binding"), to = both.find("</wsdl:binding>") + 15;
  both.insert(from, Edit(Edit(both.substr(from, to - from), "wsdlsoap11:", "wsdlsoap12:"), "name=\"SaveSoftware\"", "name=\"B12\""));
  both = Edit(both, "<wsdl:port name=\"SaveSoftware\"", "<wsdl:port name=\"P12\" binding=\"tns:B12\"><wsdlsoap12:address "
              "location=\"http://h/12\"/></wsdl:port><wsdl:port name=\"P\" binding=\"tns:SaveSoftware\"><wsdlsoap11:address/>"
              "</wsdl:port><wsdl:port name=\"SaveSoftware\"");
  EXPECT_EQ(Summary(Read(both)), doc);
}

TEST(ReadWsdl, RefusesWhatCannotBeCalled) {
  const std::string part = "<wsdl:part name=\"PROCESSORTEXT\" type=\"xsd:string\"/>";
  const std::string child = "<xs:element name=\"ProcessorText\" type=\"xs:string\"/>";
  std::string nested(600, ' ');  // the tree's own limit, below the reader's
  for (int i = 0; i < 100; ++i) nested.insert(0, "<a>").append("</a>");
  const struct { const char* what; std::string xml; const char* error; /* a part of the one-line message */ } cases[] = {
      {"no such operation", Doc("<wsdl:operation name=\"setSave", "<wsdl:operation name=\"other"), "no operation setSave"},
      {"an HTTP binding only", Doc("<wsdlsoap11:binding style=\"document\"", "<http:binding verb=\"POST\""), "no SOAP binding"},
      {"no port names the binding", Rpc("impl:SaveSoftwareSoapBinding", "impl:Elsewhere"), "no port for setSave"},
      {"four rpc parts", Rpc(part, ""), "takes 4 parameters"}, {"four wrapper children", Doc(child, ""), "takes 4 parameters"},
      {"an empty wrapper", Doc("Information\"><xs:sequence>", "Information\"/><xs:complexType><xs:sequence>"), "takes 0"},
      {"two sequences", Doc("Information\"><xs:sequence>", "Information\"><xs:sequence/><xs:sequence>"), "not supported"},
      {"a choice in the wrapper", Doc(child, "<xs:choice>" + child + "</xs:choice>"), "not supported"},
      {"no location", Doc(" location=\"http://127.0.0.1", " x=\"http://127.0.0.1"), "has no address location"},
      {"a location with a blank", Rpc("?OpenWebService", " x"), "is not an http or https URL"},
      {"document/encoded", Doc("use=\"literal\"", "use=\"encoded\""), "document/encoded"},
      {"a document input of several parts", Doc("<wsdl:part name=\"setSaveSoftwareInformation\"",
                                                 "<wsdl:part name=\"a\" type=\"xs:string\"/><wsdl:part name=\"b\""),
       "is not one wrapper element"},
      {"an undefined wrapper", Doc("element=\"tns:setSaveSoftwareInformation\"", "element=\"tns:missing\""), "lacks the element"},
      {"an undefined input", Doc("message=\"tns:setSaveSoftwareInformation\"", "message=\"tns:x\""), "lacks the input message"},
      {"an undeclared prefix", Doc("element=\"tns:setSave", "element=\"nope:setSave"), "undeclared prefix"},
      {"a quote in the soapAction", Rpc("soapAction=\"setSave", "soapAction=\"a&quot;&#13;&#10;X-Evil: 1"), "cannot be sent"},
      {"a parameter name that is no XML name", Rpc("name=\"NETWORKTEXT\"", "name=\"NET&lt;WORK\""), "invalid parameter"},
      {"a blank in the body namespace", Rpc("namespace=\"urn:DefaultNamespace\"", "namespace=\"urn:Default Namespace\""),
       "invalid namespace"},
      {"a bad escape in the encoding style", Rpc("encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"",
                                                  "encodingStyle=\"http:%zz\""), "invalid encoding style"},
      {"an unknown style", Rpc("style=\"rpc\"", "style=\"chatty\""), "unknown SOAP style"},
      {"not XML", DocumentLiteral().substr(0, 1000), "not well-formed"},
      {"not a WSDL", "<html><body>Moved</body></html>", "not a WSDL 1.1 service description"},
      {"nested too deeply", nested, "nested too deeply"},
  };
  for (const auto& c : cases) {
    const WsdlResult r = Read(c.xml);
    EXPECT_FALSE(r.ok()) << c.what;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << c.what << ": " << r.error;
  }
}

// A server that serves one description and answers each POST in turn.
struct ScriptedServer : HttpTransport {
  std::string wsdl;
  std::vector<std::string> answers;  // envelopes, in the order of the POSTs
  std::vector<std::string> posted;
  HttpResponse Get(const std::string&, size_t) override { return {true, 200, wsdl, ""}; }
  HttpResponse GetWithHeaders(const std::string& url, const HttpHeaders&, size_t max) override { return Get(url, max); }
  HttpResponse Post(const std::string&, const HttpHeaders&, const std::string& body, size_t) override {
    posted.push_back(body);
    const bool ok = posted.size() <= answers.size() && answers[posted.size() - 1] == "ok";
    const std::string inBody = ok ? "" : "<s:Fault><faultcode>s:Client</faultcode><faultstring>no</faultstring></s:Fault>";
    return {true, ok ? 200 : 500, "<s:Envelope xmlns:s='" + std::string(kEnv11) + "'><s:Body>" + inBody + "</s:Body></s:Envelope>", ""};
  }
};

// The profile goes second, after an accepted record, only to a service that
// offers its operation; it is collected only then, and its fate leaves the record's.
TEST(SendInventory, TheProfileFollowsAnAcceptedRecordWhenTheServiceTakesIt) {
  // profileMessage: its beginning. WithProfile: the description as served now, with the profile's operation.
  const std::string WithProfile = Fixture("document_literal_profile.wsdl");
  const struct { const char* what; std::string wsdl; std::vector<std::string> answers; size_t posts; bool accepted, profileAccepted; const char* profileMessage; } cases[] = {
      {"both taken", WithProfile, {"ok", "ok"}, 2, true, true, "profile sent to http://127.0.0.1:8080/"},
      {"an older service", DocumentLiteral(), {"ok"}, 1, true, false, "profile not sent: the service does not take it"},
      {"the record refused", WithProfile, {"fault"}, 1, false, false, ""},
      {"the profile refused", WithProfile, {"ok", "fault"}, 2, true, false, "profile sent to "},
  };
  const UploadRecord record{"ann", "00-0C-29-3A-5B-7F", "A$#$", "NetBIOS Name: PC$#$", "CPU$#$"};
  for (const auto& c : cases) {
    ScriptedServer server;
    server.wsdl = c.wsdl;
    server.answers = c.answers;
    UploadEnvironment env;
    env.server = ParseServerSetting("127.0.0.1:8080");
    env.transport = &server;
    env.makeReader = [](const std::string& doc) { return std::make_unique<test::Libxml2Reader>(doc); };
    int collected = 0;
    const UploadOutcome out = SendInventory(record, env, [&] {
      ++collected;
      return std::string("OS: x$#$$#$P <1>$#$");
    });
    EXPECT_EQ(server.posted.size(), c.posts) << c.what;
    EXPECT_EQ(collected, c.posts == 2 ? 1 : 0) << c.what;
    EXPECT_EQ(out.accepted, c.accepted) << c.what;
    EXPECT_EQ(out.profileAccepted, c.profileAccepted) << c.what;
    EXPECT_TRUE(*c.profileMessage ? out.profileMessage.rfind(c.profileMessage, 0) == 0 : out.profileMessage.empty())
        << c.what << ": " << out.profileMessage;
    if (c.posts == 2)
      EXPECT_NE(server.posted[1].find("<m:ProfileText>OS: x$#$$#$P &lt;1&gt;$#$</m:ProfileText>"), std::string::npos)
          << server.posted[1];
    else  // the one call, as before the profile existed
      EXPECT_EQ(server.posted[0], WriteEnvelope(*Read(DocumentLiteral()).plan, {"ann", "00-0C-29-3A-5B-7F", "A$#$",
                                                "NetBIOS Name: PC$#$", "CPU$#$"}).body);
  }
}

#endif  // TALLOWIN_HAVE_LIBXML2

}  // namespace
}  // namespace tallowin
