// What the inventory service stored from an upload, read through its API
// (GET /api/records...) with the test administrator's credentials
// (TALLOWIN_TEST_PEER_AUTH, "name:password").
#pragma once

#include <string>
#include <vector>

namespace tallowin::wintest {

// How many records the service at host:port holds (-1: no answer), and the
// user name, adapter address, programs, network and processor texts of the
// newest one.
struct StoredRecord {
  int count = -1;
  std::vector<std::string> fields;
};
StoredRecord LastStoredRecord(const std::string& peer);

}  // namespace tallowin::wintest
