#include "upload/server_setting.h"

#include <vector>

#include "platform/text.h"

namespace tallowin {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    const size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) return out;
    start = at + 1;
  }
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!IsDigit(c)) return false;
  return true;
}

// Four decimal numbers, each from 0 to 255. A leading zero is refused: some resolvers read
// "010" as octal, so the address would be guessed, not read.
bool IsIpv4(std::string_view s) {
  const auto parts = Split(s, '.');
  if (parts.size() != 4) return false;
  for (auto p : parts) {
    if (!AllDigits(p) || p.size() > 3 || (p.size() > 1 && p[0] == '0')) return false;
    if (std::stoi(std::string(p)) > 255) return false;
  }
  return true;
}

// Labels of letters, digits, hyphens and underscores (Windows machine names
// carry underscores), none empty or longer than 63, no hyphen at either end.
// An all-digit last label makes it an IPv4 address or nothing.
bool IsHostName(std::string_view s) {
  if (s.empty() || s.size() > 253) return false;
  const auto labels = Split(s, '.');
  if (AllDigits(labels.back())) return IsIpv4(s);
  for (auto label : labels) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    for (char c : label)
      if (!IsAlnum(c) && c != '-' && c != '_') return false;
  }
  return true;
}

// Colon-separated hexadecimal groups; `count` gets their number, an IPv4 tail
// (allowed only at the very end) counting as two.
bool Ipv6Groups(std::string_view s, bool ipv4Tail, int& count) {
  count = 0;
  if (s.empty()) return true;
  const auto groups = Split(s, ':');
  for (size_t i = 0; i < groups.size(); ++i) {
    const auto g = groups[i];
    if (ipv4Tail && i + 1 == groups.size() && g.find('.') != std::string_view::npos) {
      if (!IsIpv4(g)) return false;
      count += 2;
      continue;
    }
    if (g.empty() || g.size() > 4) return false;
    for (char c : g)
      if (!IsHex(c)) return false;
    ++count;
  }
  return true;
}

bool IsIpv6(std::string_view s) {
  const size_t gap = s.find("::");
  int head = 0, tail = 0;
  if (gap == std::string_view::npos) return Ipv6Groups(s, true, head) && head == 8;
  if (s.find("::", gap + 1) != std::string_view::npos) return false;
  return Ipv6Groups(s.substr(0, gap), false, head) && Ipv6Groups(s.substr(gap + 2), true, tail) &&
         head + tail <= 7;
}

std::optional<uint16_t> ParsePort(std::string_view s) {
  if (!AllDigits(s) || s.size() > 5) return std::nullopt;
  const int port = std::stoi(std::string(s));
  if (port < 1 || port > 65535) return std::nullopt;
  return static_cast<uint16_t>(port);
}

}  // namespace

std::optional<ServerSetting> ParseServerSetting(std::string_view text) {
  ServerSetting setting;
  auto scheme = [&text](std::string_view name) {
    if (text.size() < name.size() || ToUpperAscii(text.substr(0, name.size())) != ToUpperAscii(name)) return false;
    text.remove_prefix(name.size());
    return true;
  };
  if (scheme("https://")) {
    setting.secure = true;
    setting.port = 443;
  } else {
    scheme("http://");
  }
  std::string_view host = text, port;
  bool hasPort = false;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      port = rest.substr(1);
      hasPort = true;
    }
    if (!IsIpv6(host)) return std::nullopt;
    setting.ipv6 = true;
  } else {
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      hasPort = true;
    }
    if (!IsHostName(host)) return std::nullopt;
  }
  if (hasPort) {
    const auto p = ParsePort(port);
    if (!p) return std::nullopt;
    setting.port = *p;
  }
  setting.host = std::string(host);
  return setting;
}

namespace {

std::string bareHostPort(const ServerSetting& setting) {
  const std::string host = setting.ipv6 ? "[" + setting.host + "]" : setting.host;
  return host + ":" + std::to_string(setting.port);
}

}  // namespace

std::string HostPort(const ServerSetting& setting) {
  return (setting.secure ? "https://" : "") + bareHostPort(setting);
}

std::string WsdlUrl(const ServerSetting& setting) {
  return (setting.secure ? "https://" : "http://") + bareHostPort(setting) + "/Zelt/pcInventoryD.nsf/savesoftware?WSDL";
}

ServerChoice ChooseServer(const std::vector<SettingSource>& sources) {
  ServerChoice c;
  for (const SettingSource& source : sources) {
    if (!source.value || source.value->empty()) continue;
    const std::string& text = *source.value;
    c.source = source.name;
    c.server = ParseServerSetting(text);
    if (!c.server) {
      // A host name has at most 253 characters: quote a start of anything longer.
      constexpr size_t kQuoted = 300;
      c.problem = "the inventory server setting in " + source.name + " is not a host[:port]: \"" +
                  (text.size() > kQuoted ? text.substr(0, kQuoted) + "\"... (" + std::to_string(text.size()) +
                                               " characters)"
                                         : text + "\"");
    }
    return c;
  }
  std::string names;
  for (size_t i = 0; i < sources.size(); ++i)
    names += (i == 0 ? "" : i + 1 == sources.size() ? " or " : ", ") + sources[i].name;
  c.problem = "no inventory server set" + (names.empty() ? std::string() : " (" + names + ")");
  return c;
}

}  // namespace tallowin
