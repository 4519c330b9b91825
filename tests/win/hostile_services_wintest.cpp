// Services that attack the upload, on loopback (tests/peers/faulty_services.py,
// started by scripts/test). Each upload ends within its time-outs with a
// one-line reason, makes no request beyond the description and the one call,
// and leaves the control showing its processor lines and working on.
#include <gtest/gtest.h>

#include "win/support/activex_support.h"
#include "win/support/win_support.h"

#include "control/profile_control.h"
#include "win32/frm_main.h"
#include "win32/upload_binding.h"
#include "win32/winhttp_transport.h"

namespace tallowin {
namespace {

struct Hostile {
  const char* mode;    // TALLOWIN_TEST_<mode> holds host:port
  const char* reason;  // in the one-line message
  int requests;        // 1: the description only; 2: and the call
};

// clang-format off
const Hostile kHostile[] = {
    {"BOMB",         "document type declaration",     1},
    {"QUADRATIC",    "document type declaration",     1},
    {"XXE",          "document type declaration",     1},
    {"NESTED",       "not sent: service description", 1},
    {"HUGE",         "answer too large",              1},
    {"FILEURL",      "is not an http or https URL",   1},
    {"FTPURL",       "is not an http or https URL",   1},
    {"REDIRECT",     "HTTP status 302",               1},
    {"REDIRECTCALL", "HTTP status 307",               2},
    {"TRICKLE",      "30 s",                          1},
    {"CLOSEMID",     "no answer: the connection closed", 2},
    {"GARBAGE10",    "answer too large",              2},
};
// clang-format on

// The whole-request limit is 30 s; the slowest case ends a little after it.
constexpr DWORD kEndsWithinMs = 45000;

int requestsSeen(const std::string& addr) {
  win32::WinHttpTransport http;
  const HttpResponse r = http.Get("http://" + addr + "/requests", 64);
  if (!r.ok || r.status != 200) std::printf("requests of %s: %s (status %d)\n", addr.c_str(), r.error.c_str(), r.status);
  return r.ok && r.status == 200 ? std::atoi(r.body.c_str()) : -1;
}

class HostileService : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileService, UploadEndsWithAReasonAndTheControlWorksOn) {
  const Hostile& c = GetParam();
  const std::string addr = wintest::TestService(c.mode);
  if (addr.empty()) GTEST_SKIP() << "TALLOWIN_TEST_" << c.mode << " not set";

  HWND top = wintest::CreateHiddenHost(900, 700);
  ASSERT_NE(top, nullptr);
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  auto control = form->control();
  const int before = requestsSeen(addr);
  ASSERT_GE(before, 0) << "the service does not answer";
  DWORD start = ::GetTickCount();
  const UploadOutcome out = win32::RunInventoryUpload(*control, addr, true);
  DWORD took = ::GetTickCount() - start;
  EXPECT_FALSE(out.accepted);
  EXPECT_NE(out.message.find(c.reason), std::string::npos) << out.message;
  EXPECT_LT(took, kEndsWithinMs);
  EXPECT_EQ(requestsSeen(addr) - before, c.requests);
  const auto& list = control->list();
  ASSERT_GT(list.count(), 1);
  EXPECT_EQ(list.text(0).rfind("Processor Architecture: ", 0), 0u) << list.text(0);
  // And it works on: a tab shows its section.
  wintest::ClickTab(form->hwnd(), 0);
  const auto lines = wintest::ListLines(::GetDlgItem(form->hwnd(), win32::kIdLstInfo));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("Operating System Name: ", 0), 0u) << lines[0];
  ::DestroyWindow(top);
  control.reset();  // the control holds the module too
  EXPECT_TRUE(wintest::WaitForAbandonedRequests()) << "WinHTTP never let the request go";

  // The command line says why, on one line.
  const int beforeCli = requestsSeen(addr);
  start = ::GetTickCount();
  const auto r = wintest::RunTallowin(L"upload --server " + wintest::Wide(addr));
  took = ::GetTickCount() - start;
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.out.find(c.reason), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
  EXPECT_LT(took, kEndsWithinMs);
  EXPECT_EQ(requestsSeen(addr) - beforeCli, c.requests);
  std::printf("%s: %s (%lu ms)\n", c.mode, r.out.substr(0, r.out.size() - 1).c_str(),
              static_cast<unsigned long>(took));
}

INSTANTIATE_TEST_SUITE_P(Loopback, HostileService, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<Hostile>& i) { return std::string(i.param.mode); });

}  // namespace
}  // namespace tallowin
