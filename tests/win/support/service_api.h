// The inventory service's JSON API as the Wine tests read it: what the
// service stored from an upload, through GET /api/... with the test
// administrator's credentials (TALLOWIN_TEST_PEER_AUTH, "name:password").
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tallowin::wintest {

// A parsed JSON value; a missing member or index reads as null.
struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json& operator[](const std::string& name) const;
  const Json& operator[](size_t index) const;
  bool isNull() const { return kind == Kind::Null; }
  // The texts of an array of strings.
  std::vector<std::string> texts() const;
};

// Parses JSON text; ok is false (and the value null) on any error.
Json ParseJson(const std::string& text, bool* ok = nullptr);

// GET http://peer + path (peer + path when it names its scheme) with basic
// authentication; null when the request fails or the status is not 200.
Json ApiGet(const std::string& peer, const std::string& path);

// A path segment or query value with everything but unreserved characters
// percent-encoded.
std::string UrlEncode(const std::string& text);

// How many records the service at host:port holds, and the five texts of
// the newest one (count -1: no answer).
struct StoredRecord {
  int count = -1;
  std::vector<std::string> fields;
  std::string machine;  // the key the service filed it under
};
StoredRecord LastStoredRecord(const std::string& peer);

}  // namespace tallowin::wintest
