// The inventory server setting: where the service description is fetched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowin {

struct ServerSetting {
  std::string host;  // a host name, an IPv4 address, or an IPv6 address without its brackets
  uint16_t port = 80;
  bool ipv6 = false;
  bool secure = false;  // https: TLS, and the call only to https on this host
};

// "host", "host:port", "192.0.2.7", "192.0.2.7:8080", "[2001:db8::1]",
// "[2001:db8::1]:8080", each optionally after "http://" (the same) or
// "https://" (port 443 unless given). Refused (no value): the empty text, any
// blank or control character, another scheme, a path, user information, an
// IPv6 zone, a port outside 1..65535, a malformed address or host name.
std::optional<ServerSetting> ParseServerSetting(std::string_view text);

// scheme + "://" + host + ":" + port + "/Zelt/pcInventoryD.nsf/savesoftware?WSDL",
// the IPv6 address in brackets.
std::string WsdlUrl(const ServerSetting& setting);
// HOST:PORT as a user writes it ([HOST]:PORT for an IPv6 address), after
// "https://" for a secure setting.
std::string HostPort(const ServerSetting& setting);

// One place the server setting may come from: its name as a user would look
// for it, and its text when it is set there (an empty text is no setting).
struct SettingSource {
  std::string name;
  std::optional<std::string> value;
};

// The setting from the first source that has one, in the order given (on
// Windows: the Group Policy value, TALLOWIN_INVENTORY_SERVER in the
// environment, the installed value). A malformed setting is a problem, not a reason
// to look further: the administrator meant that source to count.
struct ServerChoice {
  std::optional<ServerSetting> server;
  std::string source;  // the name of the source used; empty when none had a setting
  std::string problem;
};
ServerChoice ChooseServer(const std::vector<SettingSource>& sources);

}  // namespace tallowin
