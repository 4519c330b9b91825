// What the inventory service stored from an upload, read through its API
// (GET /api/records...) with the test administrator's credentials
// (TALLOWIN_TEST_PEER_AUTH, "name:password").
#pragma once

#include <string>
#include <vector>

namespace tallowin::wintest {

// The body of GET peer + path (http:// unless peer names a scheme) with the
// test administrator's credentials; empty unless the status is 200.
std::string ApiGet(const std::string& peer, const std::string& path);

// The value of the first member NAME in JSON text: a string unescaped (\uXXXX
// and \", \\, \/: the tests' texts hold no control characters), any other
// value as written. Inside a string every quote is escaped, so only a
// member's name can match.
std::string JsonMember(const std::string& json, const std::string& name);

// How many records the service holds (-1: no answer), and the newest one's
// user name, adapter address, programs, network and processor texts.
struct StoredRecord {
  int count = -1;
  std::vector<std::string> fields;
};
StoredRecord LastStoredRecord(const std::string& peer);

// The requests a misbehaving service (tests/peers) was sent; -1: no answer.
int RequestsSeen(const std::string& peer);

}  // namespace tallowin::wintest
