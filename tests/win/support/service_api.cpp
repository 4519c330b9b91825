#include "win/support/service_api.h"

#include <cstdlib>

#include "platform/text.h"
#include "win/support/win_support.h"
#include "win32/winhttp_transport.h"

namespace tallowin::wintest {
namespace {

const Json kNull;

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool parse(Json& out) {
    if (!value(out, 0)) return false;
    blanks();
    return at_ == s_.size();
  }

 private:
  void blanks() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t')) ++at_;
  }
  bool literal(const char* word) {
    const std::string w = word;
    if (s_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  bool hex4(unsigned long& v) {
    if (at_ + 4 > s_.size()) return false;
    char* end = nullptr;
    const std::string digits = s_.substr(at_, 4);
    v = std::strtoul(digits.c_str(), &end, 16);
    if (end != digits.c_str() + 4) return false;
    at_ += 4;
    return true;
  }
  bool string(std::string& out) {
    if (at_ >= s_.size() || s_[at_] != '"') return false;
    ++at_;
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      const char e = s_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned long c1 = 0;
          if (!hex4(c1)) return false;
          if (c1 >= 0xD800 && c1 < 0xDC00 && s_.compare(at_, 2, "\\u") == 0) {
            at_ += 2;
            unsigned long c2 = 0;
            if (!hex4(c2) || c2 < 0xDC00 || c2 > 0xDFFF) return false;
            c1 = 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00);
          }
          AppendUtf8(out, static_cast<char32_t>(c1));
          break;
        }
        default: return false;
      }
    }
    return false;
  }
  bool value(Json& out, int depth) {
    if (depth > 64) return false;
    blanks();
    if (at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') {
      ++at_;
      out.kind = Json::Kind::Object;
      blanks();
      if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
      for (;;) {
        blanks();
        std::pair<std::string, Json> member;
        if (!string(member.first)) return false;
        blanks();
        if (at_ >= s_.size() || s_[at_++] != ':') return false;
        if (!value(member.second, depth + 1)) return false;
        out.members.push_back(std::move(member));
        blanks();
        if (at_ >= s_.size()) return false;
        if (s_[at_] == ',') { ++at_; continue; }
        if (s_[at_] == '}') return ++at_, true;
        return false;
      }
    }
    if (c == '[') {
      ++at_;
      out.kind = Json::Kind::Array;
      blanks();
      if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
      for (;;) {
        Json item;
        if (!value(item, depth + 1)) return false;
        out.items.push_back(std::move(item));
        blanks();
        if (at_ >= s_.size()) return false;
        if (s_[at_] == ',') { ++at_; continue; }
        if (s_[at_] == ']') return ++at_, true;
        return false;
      }
    }
    if (c == '"') {
      out.kind = Json::Kind::String;
      return string(out.text);
    }
    if (literal("true")) { out.kind = Json::Kind::Bool; out.boolean = true; return true; }
    if (literal("false")) { out.kind = Json::Kind::Bool; return true; }
    if (literal("null")) return true;
    char* end = nullptr;
    out.number = std::strtod(s_.c_str() + at_, &end);
    if (end == s_.c_str() + at_) return false;
    at_ = static_cast<size_t>(end - s_.c_str());
    out.kind = Json::Kind::Number;
    return true;
  }

  const std::string& s_;
  size_t at_ = 0;
};

std::string Base64(const std::string& in) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8) |
                       static_cast<unsigned char>(in[i + 2]);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i + 1 == in.size()) {
    const unsigned v = static_cast<unsigned char>(in[i]) << 16;
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace

const Json& Json::operator[](const std::string& name) const {
  for (const auto& [key, value] : members)
    if (key == name) return value;
  return kNull;
}

const Json& Json::operator[](size_t index) const { return index < items.size() ? items[index] : kNull; }

std::vector<std::string> Json::texts() const {
  std::vector<std::string> out;
  for (const auto& item : items) out.push_back(item.text);
  return out;
}

Json ParseJson(const std::string& text, bool* ok) {
  Json out;
  const bool parsed = Parser(text).parse(out);
  if (ok) *ok = parsed;
  return parsed ? out : Json{};
}

std::string UrlEncode(const std::string& text) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

Json ApiGet(const std::string& peer, const std::string& path) {
  const std::string credentials = TestService("PEER_AUTH");
  win32::WinHttpTransport http;
  const HttpResponse r =
      http.GetWithHeaders((peer.find("://") == std::string::npos ? "http://" : "") + peer + path, {{"Authorization", "Basic " + Base64(credentials)}}, 64 << 20);
  if (!r.ok || r.status != 200) return Json{};
  return ParseJson(r.body);
}

StoredRecord LastStoredRecord(const std::string& peer) {
  StoredRecord s;
  const Json page = ApiGet(peer, "/api/records?limit=1");
  if (page.isNull()) return s;
  s.count = static_cast<int>(page["total"].number);
  const Json& newest = page["records"][0];
  if (newest.isNull()) return s;
  const Json record = ApiGet(peer, "/api/records/" + std::to_string(static_cast<long long>(newest["id"].number)));
  for (const char* field : {"user_name", "adapter_address", "programs_text", "network_text", "processor_text"})
    s.fields.push_back(record[field].text);
  s.machine = record["machine"].text;
  return s;
}

}  // namespace tallowin::wintest
