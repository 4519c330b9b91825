// The inventory server setting: where the service description is fetched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tallowin {

struct ServerSetting {
  std::string host;  // a host name, an IPv4 address, or an IPv6 address without its brackets
  uint16_t port = 80;
  bool ipv6 = false;
};

// "host", "host:port", "192.0.2.7", "192.0.2.7:8080", "[2001:db8::1]",
// "[2001:db8::1]:8080". Refused (no value): the empty text, any blank or
// control character, a scheme, a path, user information, an IPv6 zone, a
// port outside 1..65535, a malformed address or host name.
std::optional<ServerSetting> ParseServerSetting(std::string_view text);

// "http://" + host + ":" + port + "/Zelt/pcInventoryD.nsf/savesoftware?WSDL",
// the IPv6 address in brackets.
std::string WsdlUrl(const ServerSetting& setting);

}  // namespace tallowin
