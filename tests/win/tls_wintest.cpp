// tallowin.exe upload over TLS with an enrollment secret, under Wine, against
// what scripts/test starts on loopback: the inventory service with TLS and one
// secret (TALLOWIN_TEST_TLS, its certificate from a test CA the Wine prefix
// trusts; TALLOWIN_TEST_TLS_OTHERCA, the same with a certificate from a CA
// nobody trusts; TALLOWIN_TEST_TLS_SECRET), the plain service (PEER) and two
// peers over TLS whose descriptions send the call elsewhere. Without them the
// tests skip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "win/support/service_api.h"
#include "win/support/win_support.h"
#include "win32/winhttp_transport.h"

namespace tallowin {
namespace {

// The secret as Group Policy sets it, for one run.
struct PolicySecret {
  wintest::RegFixture key{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Tallowin"};
  explicit PolicySecret(const std::string& secret) {
    key.setString(L"", L"EnrollmentSecret", wintest::Wide(secret));
  }
};

wintest::RunResult uploadWith(const std::string& server, const std::optional<std::string>& secret) {
  std::optional<PolicySecret> set;
  if (secret) set.emplace(*secret);
  return wintest::RunTallowin(L"upload --server " + wintest::Wide(server));
}

int requestsSeen(const std::string& url) {
  win32::WinHttpTransport http;
  const HttpResponse r = http.Get(url + "/requests", 64);
  return r.ok && r.status == 200 ? std::atoi(r.body.c_str()) : -1;
}

TEST(Tls, TheRightSecretOverHttpsIsAcceptedAndNamedInTheRecord) {
  const std::string tls = wintest::TestService("TLS"), secret = wintest::TestService("TLS_SECRET");
  if (tls.empty() || secret.empty()) GTEST_SKIP() << "TALLOWIN_TEST_TLS not set";
  const int before = wintest::LastStoredRecord(tls).count;
  ASSERT_GE(before, 0) << "the API over https does not answer (is the test CA trusted?)";
  const auto r = uploadWith(tls, secret);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("sent to " + tls + "/Zelt/pcInventoryD.nsf/savesoftware (SOAP 1.1): accepted"),
            std::string::npos) << r.out;
  const wintest::Json page = wintest::ApiGet(tls, "/api/records?limit=1");
  EXPECT_EQ(page["total"].number, before + 1);
  EXPECT_EQ(page["records"][0]["secret"].text, "wintest");
}

// Each refusal says why, and nothing reaches the service's records.
TEST(Tls, RefusalsSayWhyAndStoreNothing) {
  const std::string tls = wintest::TestService("TLS"), secret = wintest::TestService("TLS_SECRET");
  const std::string other = wintest::TestService("TLS_OTHERCA"), plain = wintest::TestService("PEER");
  if (tls.empty() || other.empty() || plain.empty()) GTEST_SKIP() << "TALLOWIN_TEST_TLS or _PEER not set";
  const std::string httpCall = "https://" + wintest::TestService("TLSHTTPCALL");
  const std::string elsewhere = "https://" + wintest::TestService("TLSELSEWHERE");
  const std::optional<std::string> none;
  const struct {
    std::string server;
    std::optional<std::string> secret;
    const char* said;
    std::string counted;  // whose records (or requests, for a peer) must not grow
  } cases[] = {
      {other, secret, "certificate not trusted", tls},
      {tls, std::string("not-the-secret-0123456789"), "refused: the enrollment secret is not accepted", tls},
      {tls, none, "refused: the service wants an enrollment secret", tls},
      {plain, secret, "not sent: an enrollment secret is set (HKLM\\SOFTWARE\\Policies\\Tallowin\\EnrollmentSecret)",
       plain},
      {httpCall, secret, "not to an https address", httpCall},
      {elsewhere, secret, "not to 127.0.0.1", elsewhere},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server + ": " + c.said);
    const bool peer = c.counted == httpCall || c.counted == elsewhere;
    const int before = peer ? requestsSeen(c.counted) : wintest::LastStoredRecord(c.counted).count;
    ASSERT_GE(before, 0) << "the service does not answer";
    const auto r = uploadWith(c.server, c.secret);
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    // A peer sees the description's request only.
    EXPECT_EQ(peer ? requestsSeen(c.counted) : wintest::LastStoredRecord(c.counted).count, before + (peer ? 1 : 0));
  }
}

}  // namespace
}  // namespace tallowin
