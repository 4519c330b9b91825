// tallowin.exe upload over TLS with an enrollment secret against what
// scripts/test starts (TALLOWIN_TEST_TLS*: the service with a certificate the
// prefix trusts or not, its secret, peers whose descriptions send the call
// elsewhere); skipped without them.
#include <gtest/gtest.h>

#include <optional>

#include "win/support/service_api.h"
#include "win/support/win_support.h"

namespace tallowin {
namespace {

wintest::RunResult uploadWith(const std::string& server, const std::optional<std::string>& secret) {
  std::optional<wintest::RegFixture> policy;  // the secret as Group Policy sets it, for this run
  if (secret)
    policy.emplace(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Tallowin")
        .setString(L"", L"EnrollmentSecret", wintest::Wide(*secret));
  return wintest::RunTallowin(L"upload --server " + wintest::Wide(server));
}

// The right secret over https is accepted and the record keeps its name; each
// refusal says why, and nothing reaches the service's records.
TEST(Tls, UploadsWithASecret) {
  const std::string tls = wintest::TestService("TLS"), secret = wintest::TestService("TLS_SECRET");
  const std::string other = wintest::TestService("TLS_OTHERCA"), plain = wintest::TestService("PEER");
  if (tls.empty() || other.empty() || plain.empty()) GTEST_SKIP() << "TALLOWIN_TEST_TLS or _PEER not set";
  const std::string httpCall = "https://" + wintest::TestService("TLSHTTPCALL");
  const std::string elsewhere = "https://" + wintest::TestService("TLSELSEWHERE");
  const struct {
    std::string server;
    std::optional<std::string> secret;
    const char* said;
    std::string counted;  // whose records (or, for a peer, requests) are counted
    int added;
  } cases[] = {
      {tls, secret, "(SOAP 1.1): accepted", tls, 1},
      {other, secret, "certificate not trusted", tls, 0},
      {tls, std::string("not-the-secret-0123456789"), "refused: the enrollment secret is not accepted", tls, 0},
      {tls, std::nullopt, "refused: the service wants an enrollment secret", tls, 0},
      {plain, secret, "not sent: an enrollment secret is set (HKLM\\SOFTWARE\\Policies\\Tallowin\\EnrollmentSecret)",
       plain, 0},
      {httpCall, secret, "not to an https address", httpCall, 1},  // a peer sees the description's request only
      {elsewhere, secret, "not to 127.0.0.1", elsewhere, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server + ": " + c.said);
    const bool peer = c.counted == httpCall || c.counted == elsewhere;
    auto seen = [&] { return peer ? wintest::RequestsSeen(c.counted) : wintest::LastStoredRecord(c.counted).count; };
    const int before = seen();
    ASSERT_GE(before, 0) << "no answer (is the test CA trusted?)";
    const auto r = uploadWith(c.server, c.secret);
    EXPECT_EQ(r.exitCode, c.said[0] == '(' ? 0 : 1) << r.out << r.err;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    EXPECT_EQ(seen(), before + c.added);
  }
  EXPECT_EQ(wintest::JsonMember(wintest::ApiGet(tls, "/api/records?limit=1"), "secret"), "wintest");
}

}  // namespace
}  // namespace tallowin
