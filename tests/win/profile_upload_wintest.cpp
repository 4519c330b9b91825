// The complete profile's second call under Wine: against the inventory
// service (TALLOWIN_TEST_PEER) both calls are made and the service's facts
// are what `tallowin.exe show` prints; a service with the one operation (the
// rpc test peer) gets the one call. Skipped without the services.
#include <gtest/gtest.h>

#include <cstdlib>

#include "win/support/service_api.h"
#include "win/support/win_support.h"
#include "win32/winhttp_transport.h"

namespace tallowin {
namespace {

// The value of the first line of `output` that begins with `label`.
std::string valueOf(const std::string& output, const std::string& label) {
  for (const std::string& line : wintest::SplitLines(output))
    if (line.rfind(label, 0) == 0) return line.substr(label.size());
  return "(no " + label + "line)";
}

std::string digitsOf(const std::string& text) {
  std::string out;
  for (const char c : text.substr(0, text.find(" bytes")))
    if (c >= '0' && c <= '9') out += c;
  return out;
}

TEST(ProfileUpload, TheServiceKnowsTheWindowsAndMemoryThatShowPrints) {
  const std::string peer = wintest::TestService("PEER");
  if (peer.empty()) GTEST_SKIP() << "TALLOWIN_TEST_PEER not set";
  const auto os = wintest::RunTallowin(L"show OS");
  const auto memory = wintest::RunTallowin(L"show MEMORY");
  const auto r = wintest::RunTallowin(L"upload --server " + wintest::Wide(peer));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::vector<std::string> said = wintest::SplitLines(r.out);
  ASSERT_GE(said.size(), 2u) << r.out;
  EXPECT_NE(said[0].find(": accepted"), std::string::npos) << r.out;
  EXPECT_EQ(said[1].rfind("profile sent to http://" + peer, 0), 0u) << r.out;
  EXPECT_NE(said[1].find(": accepted"), std::string::npos) << r.out;

  const std::string key = wintest::JsonMember(wintest::ApiGet(peer, "/api/records?limit=1"), "machine");
  const std::string m = wintest::ApiGet(peer, "/api/machines/" + key);  // an address: nothing to escape
  ASSERT_FALSE(m.empty()) << key;
  EXPECT_EQ(wintest::JsonMember(m, "os_name"), valueOf(os.out, "Operating System Name: "));
  EXPECT_EQ(wintest::JsonMember(m, "os_build"), valueOf(os.out, "Operating System Build Number: "));
  EXPECT_EQ(wintest::JsonMember(m, "memory_bytes"), digitsOf(valueOf(memory.out, "Total Physical Memory: ")));
}

TEST(ProfileUpload, AServiceWithTheOneOperationGetsTheOneCall) {
  const std::string rpc = wintest::TestService("RPC");
  if (rpc.empty()) GTEST_SKIP() << "TALLOWIN_TEST_RPC not set";
  const auto requests = [&rpc] {
    win32::WinHttpTransport http;
    const HttpResponse r = http.Get("http://" + rpc + "/requests", 64);
    return r.ok && r.status == 200 ? std::atoi(r.body.c_str()) : -1;
  };
  const int before = requests();
  ASSERT_GE(before, 0);
  const auto r = wintest::RunTallowin(L"upload --server " + wintest::Wide(rpc));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("profile not sent: the service does not take it"), std::string::npos) << r.out;
  EXPECT_EQ(requests() - before, 2);  // the description and the one call
}

}  // namespace
}  // namespace tallowin
