#include "win/support/service_api.h"

#include <cstdlib>

#include "platform/text.h"
#include "win/support/win_support.h"
#include "win32/winhttp_transport.h"

namespace tallowin::wintest {
namespace {

std::string Base64(const std::string& in) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    const auto byte = [&](size_t k) { return k < in.size() ? static_cast<unsigned char>(in[k]) : 0u; };
    const unsigned v = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
    for (size_t k = 0; k < 4; ++k) out += k <= in.size() - i ? table[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::string Url(const std::string& peer, const std::string& path) {
  return (peer.find("://") == std::string::npos ? "http://" : "") + peer + path;
}

}  // namespace

std::string ApiGet(const std::string& peer, const std::string& path) {
  win32::WinHttpTransport http;
  const HttpResponse r =
      http.GetWithHeaders(Url(peer, path), {{"Authorization", "Basic " + Base64(TestService("PEER_AUTH"))}}, 64 << 20);
  return r.ok && r.status == 200 ? r.body : "";
}

int RequestsSeen(const std::string& peer) {
  win32::WinHttpTransport http;
  const HttpResponse r = http.Get(Url(peer, "/requests"), 64);
  return r.ok && r.status == 200 ? std::atoi(r.body.c_str()) : -1;
}

std::string JsonMember(const std::string& json, const std::string& name) {
  size_t at = json.find("\"" + name + "\":");
  if (at == std::string::npos) return "";
  at = json.find_first_not_of(' ', at + name.size() + 3);
  if (at == std::string::npos || json[at] != '"') return json.substr(at, json.find_first_of(",}]", at) - at);
  std::string out;
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\' && json[++at] == 'u') {  // the tests' texts lie in the Basic Multilingual Plane
      AppendUtf8(out, static_cast<char32_t>(std::strtoul(json.substr(at + 1, 4).c_str(), nullptr, 16)));
      at += 4;
    } else {  // a character, or the one after a backslash (\" \\ \/): the texts hold no control characters
      out += json[at];
    }
  }
  return out;
}

StoredRecord LastStoredRecord(const std::string& peer) {
  StoredRecord s;
  const std::string page = ApiGet(peer, "/api/records?limit=1");
  if (page.empty()) return s;
  s.count = std::atoi(JsonMember(page, "total").c_str());
  const std::string id = JsonMember(page, "id");
  if (id.empty()) return s;
  const std::string record = ApiGet(peer, "/api/records/" + id);
  for (const char* field : {"user_name", "adapter_address", "programs_text", "network_text", "processor_text"})
    s.fields.push_back(JsonMember(record, field));
  return s;
}

}  // namespace tallowin::wintest
