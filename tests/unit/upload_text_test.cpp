// The record's section texts and the inventory server setting.
#include <gtest/gtest.h>

#include "control/report_list.h"
#include "upload/inventory_upload.h"
#include "upload/section_text.h"
#include "upload/server_setting.h"

namespace tallowin {
namespace {

ReportList ListOf(std::initializer_list<const char*> lines) {
  ReportList list;
  for (const char* l : lines) list.append(l, 500);
  return list;
}

TEST(SectionText, JoinsNonEmptyLines) {
  // Programs A, B, C set apart by empty lines, and the empty line the upload appends.
  EXPECT_EQ(SectionText(ListOf({"A", "", "B", "", "C", ""})), "A$#$B$#$C$#$");
  EXPECT_EQ(SectionText(ListOf({""})), "");
  EXPECT_EQ(SectionText(ListOf({})), "");
  // Blanks are not emptiness, a separator inside a line stays as it is.
  EXPECT_EQ(SectionText(ListOf({" ", "  Speed: 2", "x$#$y"})), " $#$  Speed: 2$#$x$#$y$#$");
}

TEST(ServerSetting, Accepted) {
  const struct {
    const char* text;
    const char* host;
    uint16_t port;
    bool ipv6;
    const char* url;
  } cases[] = {
      {"inventory", "inventory", 80, false, "http://inventory:80/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"inv-01.corp.example", "inv-01.corp.example", 80, false, "http://inv-01.corp.example:80/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"SRV_NOTES:8080", "SRV_NOTES", 8080, false, "http://SRV_NOTES:8080/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"10.1.2.3", "10.1.2.3", 80, false, "http://10.1.2.3:80/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"127.0.0.1:65535", "127.0.0.1", 65535, false, "http://127.0.0.1:65535/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"0.0.0.0:1", "0.0.0.0", 1, false, "http://0.0.0.0:1/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"[::1]", "::1", 80, true, "http://[::1]:80/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"[2001:db8::7]:8080", "2001:db8::7", 8080, true, "http://[2001:db8::7]:8080/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"[2001:DB8:0:0:0:0:0:1]", "2001:DB8:0:0:0:0:0:1", 80, true, "http://[2001:DB8:0:0:0:0:0:1]:80/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"[::ffff:192.0.2.1]", "::ffff:192.0.2.1", 80, true, "http://[::ffff:192.0.2.1]:80/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
      {"[::]:81", "::", 81, true, "http://[::]:81/Zelt/pcInventoryD.nsf/savesoftware?WSDL"},
  };
  for (const auto& c : cases) {
    const auto s = ParseServerSetting(c.text);
    ASSERT_TRUE(s) << c.text;
    EXPECT_EQ(s->host, c.host) << c.text;
    EXPECT_EQ(s->port, c.port) << c.text;
    EXPECT_EQ(s->ipv6, c.ipv6) << c.text;
    EXPECT_EQ(WsdlUrl(*s), c.url) << c.text;
  }
}

TEST(ServerSetting, Refused) {
  for (const char* text : {
           "", " ", "inventory ", " inventory", "inv entory", "inventory\t", "inventory\r\n",
           "http://inventory", "inventory/Zelt", "inventory:80/x", "user@inventory", "inventory?x", "inventory#x",
           "inventory:", "inventory:0", "inventory:65536", "inventory:99999", "inventory:-1", "inventory:+80",
           "inventory:8o", "inventory:123456", "inventory:80:81",
           ".inventory", "inventory.", "inv..x", "-inventory", "inventory-", "in%ventory", "inv\xC3\xA9ntory",
           "256.1.1.1", "1.2.3", "1.2.3.4.5", "010.1.1.1", "123", "host.123", "1.2.3.4:",
           "::1", "2001:db8::1", "[::1", "::1]", "[]", "[::1]80", "[::1]:", "[::1]:0", "[1:2:3:4:5:6:7:8:9]",
           "[1::2::3]", "[12345::]", "[fe80::1%eth0]", "[1.2.3.4]", "[::ffff:1.2.3]", "[:::]", "[g::1]",
       }) {
    EXPECT_FALSE(ParseServerSetting(text)) << "[" << text << "]";
  }
  EXPECT_FALSE(ParseServerSetting(std::string_view("inv\0x", 5)));
  EXPECT_FALSE(ParseServerSetting(std::string(64, 'a')));  // a label is at most 63 long
  EXPECT_TRUE(ParseServerSetting(std::string(63, 'a')));
  std::string longName;
  for (int i = 0; i < 64; ++i) longName += "abc.";
  EXPECT_FALSE(ParseServerSetting(longName + "x"));  // above 253 in all
}

// The first source with a setting decides, a malformed one included; the
// message names the source either way.
TEST(ServerChoice, FirstSourceWithASettingDecides) {
  const std::optional<std::string> none;
  const std::string huge(40000, 'a');
  struct Case {
    const char* name;
    std::vector<SettingSource> sources;
    const char* source;   // "" when none was used
    const char* host;     // nullptr when nothing is sent
    const char* problem;  // a part of the problem, "" when there is none
  };
  const Case cases[] = {
      {"environment first", {{"env", "a.example:81"}, {"policy", "b.example"}, {"installed", "c.example"}}, "env",
       "a.example", ""},
      {"policy before installed", {{"env", none}, {"policy", "b.example"}, {"installed", "c.example"}}, "policy",
       "b.example", ""},
      {"an empty value is no setting", {{"env", ""}, {"policy", ""}, {"installed", "c.example"}}, "installed",
       "c.example", ""},
      {"a malformed environment value is not passed over",
       {{"env", "not a host:99999"}, {"installed", "c.example"}}, "env", nullptr, "in env is not a host[:port]"},
      {"a value longer than any buffer is set and malformed", {{"env", huge}, {"installed", "c.example"}}, "env",
       nullptr, "(40000 characters)"},
      {"none at all", {{"env", none}, {"policy", none}, {"installed", none}}, "", nullptr,
       "no inventory server set (env, policy or installed)"},
  };
  for (const Case& c : cases) {
    const ServerChoice choice = ChooseServer(c.sources);
    EXPECT_EQ(choice.source, c.source) << c.name;
    EXPECT_EQ(choice.server.has_value(), c.host != nullptr) << c.name;
    if (c.host && choice.server) {
      EXPECT_EQ(choice.server->host, c.host) << c.name;
    }
    EXPECT_NE(choice.problem.find(c.problem), std::string::npos) << c.name << ": " << choice.problem;
    EXPECT_LT(choice.problem.size(), 500u) << c.name;
  }
}

}  // namespace
}  // namespace tallowin
