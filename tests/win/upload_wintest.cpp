// The upload end to end against the services scripts/test starts on loopback
// (TALLOWIN_TEST_*; without them the tests skip), and the XmlLite reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "control/profile_control.h"
#include "upload/soap/xml_reader.h"
#include "win/support/service_api.h"
#include "win/support/win_support.h"
#include "win32/frm_main.h"
#include "win32/module.h"
#include "win32/upload_binding.h"
#include "win32/win_platform.h"
#include "win32/winhttp_transport.h"
#include "win32/xmllite_reader.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

#define NEED(var)                                          \
  const std::string var##Addr = wintest::TestService(#var); \
  if (var##Addr.empty()) GTEST_SKIP() << "TALLOWIN_TEST_" #var " not set"

std::string joined(const std::string& output) {
  std::string out;
  for (const auto& l : wintest::SplitLines(output))
    if (!l.empty()) out += l + "$#$";
  return out;
}

// tallowin.exe upload, with an enrollment secret as Group Policy sets it if given.
wintest::RunResult upload(const std::string& server, const std::optional<std::string>& secret = std::nullopt) {
  std::optional<RegFixture> policy;
  if (secret)
    policy.emplace(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Tallowin")
        .setString(L"", L"EnrollmentSecret", wintest::Wide(*secret));
  return wintest::RunTallowin(L"upload --server " + wintest::Wide(server));
}

// The value of the first line of `output` that begins with `label`.
std::string valueOf(const std::string& output, const std::string& label) {
  for (const std::string& line : wintest::SplitLines(output))
    if (line.rfind(label, 0) == 0) return line.substr(label.size());
  return "(no " + label + "line)";
}

// Both calls are made; the record holds the texts the sections show, and the
// machine the Windows and memory facts `show` prints (the texts' characters
// are the envelope fuzzer's and the service's tests').
TEST(Upload, TheRecordAndProfileArriveAsTheSectionsShowThem) {
  NEED(PEER);
  const auto progs = wintest::RunTallowin(L"show PROGS");
  const auto cpu = wintest::RunTallowin(L"show CPU");
  const auto net = wintest::RunTallowin(L"show NETWORK");
  const auto mac = wintest::RunTallowin(L"mac");
  const auto os = wintest::RunTallowin(L"show OS");
  const auto memory = wintest::RunTallowin(L"show MEMORY");
  const int before = wintest::LastStoredRecord(PEERAddr).count;
  const auto r = upload(PEERAddr);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  const std::vector<std::string> said = wintest::SplitLines(r.out);
  ASSERT_GE(said.size(), 2u) << r.out;
  EXPECT_NE(said[0].find(": accepted"), std::string::npos) << r.out;
  EXPECT_EQ(said[1].rfind("profile sent to http://" + PEERAddr, 0), 0u) << r.out;
  EXPECT_NE(said[1].find(": accepted"), std::string::npos) << r.out;
  const wintest::StoredRecord s = wintest::LastStoredRecord(PEERAddr);
  ASSERT_EQ(s.count, before + 1) << "no record through the API (TALLOWIN_TEST_PEER_AUTH set?)";
  ASSERT_EQ(s.fields.size(), 5u);
  wchar_t user[257] = {};
  DWORD n = 257;
  ::GetUserNameW(user, &n);
  EXPECT_EQ(s.fields[0], wintest::Utf8(user));
  EXPECT_EQ(s.fields[1] + "\n", mac.out);
  EXPECT_EQ(s.fields[2], joined(progs.out));
  EXPECT_EQ(s.fields[4], joined(cpu.out));
  // Counters move between runs: the network text up to the first interface block.
  const std::string netJoined = joined(net.out);
  const size_t stable = netJoined.find("Interface: ");
  ASSERT_NE(stable, std::string::npos);
  EXPECT_EQ(s.fields[3].substr(0, stable), netJoined.substr(0, stable));

  const std::string key = wintest::JsonMember(wintest::ApiGet(PEERAddr, "/api/records?limit=1"), "machine");
  const std::string m = wintest::ApiGet(PEERAddr, "/api/machines/" + key);  // an address: nothing to escape
  ASSERT_FALSE(m.empty()) << key;
  EXPECT_EQ(wintest::JsonMember(m, "os_name"), valueOf(os.out, "Operating System Name: "));
  EXPECT_EQ(wintest::JsonMember(m, "os_build"), valueOf(os.out, "Operating System Build Number: "));
  const std::string bytes = valueOf(memory.out, "Total Physical Memory: ");
  std::string digits;
  for (const char c : bytes.substr(0, bytes.find(" bytes")))
    if (c >= '0' && c <= '9') digits += c;
  EXPECT_EQ(wintest::JsonMember(m, "memory_bytes"), digits);
}

// A service whose description has the record's operation alone: that one
// call, accepted, and no profile call.
TEST(Upload, AServiceWithOneOperationGetsTheOneCall) {
  NEED(SINGLE);
  const int before = wintest::RequestsSeen(SINGLEAddr);
  ASSERT_GE(before, 0);
  const auto r = upload(SINGLEAddr);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("profile not sent: the service does not take it"), std::string::npos) << r.out;
  EXPECT_EQ(wintest::RequestsSeen(SINGLEAddr) - before, 2);  // the description and the one call
}

// Where tallowin.exe upload takes its server from, in order: Group Policy,
// the environment, the installed value (either view); it names the one used.
TEST(ServerSetting, TheFirstPlaceWithASettingIsUsedAndNamed) {
  NEED(PEER);
  const std::wstring good = wintest::Wide(PEERAddr);
  const wchar_t* wrong = L"wrong.invalid:0";  // refused by the parser: nothing would be sent
  const std::wstring longText = std::wstring(5000, L'a') + L".example:80";
  struct Case {
    const wchar_t* environment;  // nullptr: unset
    const wchar_t* policy64;
    const wchar_t* installed64;
    const wchar_t* installed32;
    const char* said;  // a part of the line; accepted when it names a source
  };
  const Case cases[] = {
      {wrong, good.c_str(), wrong, wrong, "accepted (server setting from HKLM\\SOFTWARE\\Policies\\Tallowin\\InventoryServer)"},
      {good.c_str(), nullptr, wrong, nullptr, "accepted (server setting from TALLOWIN_INVENTORY_SERVER)"},
      {nullptr, nullptr, nullptr, good.c_str(),
       "accepted (server setting from HKLM\\SOFTWARE\\Tallowin\\InventoryServer (32-bit view))"},
      // Longer than any buffer: set, so malformed, not absent.
      {longText.c_str(), nullptr, good.c_str(), nullptr,
       "not sent: the inventory server setting in TALLOWIN_INVENTORY_SERVER is not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    std::vector<std::unique_ptr<RegFixture>> keys;
    auto put = [&](const wchar_t* path, REGSAM view, const wchar_t* value) {
      if (!value) return;
      keys.push_back(std::make_unique<RegFixture>(HKEY_LOCAL_MACHINE, path, view));
      keys.back()->setString(L"", L"InventoryServer", value);
    };
    put(L"SOFTWARE\\Policies\\Tallowin", KEY_WOW64_64KEY, c.policy64);
    put(L"SOFTWARE\\Tallowin", KEY_WOW64_64KEY, c.installed64);
    put(L"SOFTWARE\\Tallowin", KEY_WOW64_32KEY, c.installed32);
    ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", c.environment);
    const bool accepted = std::string(c.said).rfind("accepted", 0) == 0;
    const int before = wintest::LastStoredRecord(PEERAddr).count;
    const auto r = wintest::RunTallowin(L"upload");
    ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
    EXPECT_EQ(r.exitCode, accepted ? 0 : 1) << r.out;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    EXPECT_EQ(wintest::LastStoredRecord(PEERAddr).count, before + (accepted ? 1 : 0));
  }
}

// ---- services that misbehave ----

struct Hostile {
  const char* mode;    // TALLOWIN_TEST_<mode> holds host:port; REFUSED: nobody listens
  const char* reason;  // in the one-line message, with either time limits
  int requests;        // counted by the service: 1 the description, 2 and the call; -1 not counted
};

// clang-format off
const Hostile kHostile[] = {
    {"REFUSED",      "not sent",                           -1},
    {"SILENT",       "timed out",                          -1},  // the command line waits the real 15 s
    {"FAULT500",     "fault",                               2},
    {"BOMB",         "document type declaration",           1},
    {"NESTED",       "not sent: service description",       1},
    {"HUGE",         "answer too large",                    1},
    {"REDIRECTCALL", "HTTP status 307",                     2},
    {"TRICKLE",      "no answer within",                    1},  // the command line waits the real 30 s
    {"CLOSEMID",     "no answer: the connection closed",    2},
    {"GARBAGE10",    "answer too large",                    2},
};
// clang-format on

int ticks = 0;
void CALLBACK countTick(HWND, UINT, UINT_PTR, DWORD) { ++ticks; }

class HostileService : public ::testing::TestWithParam<Hostile> {};

// The window's upload (short limits) and tallowin.exe upload (the product's)
// at once: each ends with the reason on one line, no request beyond the
// description and the call; the window answers its messages meanwhile and
// works on; WinHTTP lets its request go.
TEST_P(HostileService, UploadEndsWithAReasonAndTheControlWorksOn) {
  const Hostile& c = GetParam();
  const std::string addr = std::string(c.mode) == "REFUSED" ? "127.0.0.1:9" : wintest::TestService(c.mode);
  if (addr.empty()) GTEST_SKIP() << "TALLOWIN_TEST_" << c.mode << " not set";
  const int before = c.requests < 0 ? 0 : wintest::RequestsSeen(addr);
  ASSERT_GE(before, 0) << "the service does not answer";
  wintest::RunResult cli;
  std::thread console([&] { cli = upload(addr); });

  HWND top = wintest::CreateHiddenHost();
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  auto control = form->control();
  ticks = 0;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, countTick);
  const DWORD start = ::GetTickCount();
  const UploadOutcome out = win32::RunInventoryUpload(*control, addr, true, {}, wintest::kShortLimits);
  const DWORD took = ::GetTickCount() - start;
  ::KillTimer(nullptr, timer);
  EXPECT_FALSE(out.accepted);
  EXPECT_NE(out.message.find(c.reason), std::string::npos) << out.message;
  if (took > 1000) EXPECT_GT(ticks, 0) << "the thread did not answer its messages during the exchange";
  const auto& list = control->list();
  ASSERT_GT(list.count(), 1);
  EXPECT_EQ(list.text(0).rfind("Processor Architecture: ", 0), 0u) << list.text(0);
  wintest::ClickTab(form->hwnd(), 0);
  EXPECT_EQ(wintest::ListLines(::GetDlgItem(form->hwnd(), win32::kIdLstInfo)).at(0).rfind("Operating System Name: ", 0),
            0u);
  ::DestroyWindow(top);
  control.reset();  // the control holds the module too
  EXPECT_TRUE(wintest::WaitForAbandonedRequests()) << "WinHTTP never let the request go";

  console.join();
  EXPECT_EQ(cli.exitCode, 1) << cli.out;
  EXPECT_NE(cli.out.find(c.reason), std::string::npos) << cli.out;
  EXPECT_EQ(cli.out.find('\n'), cli.out.size() - 1) << "one line: " << cli.out;
  if (c.requests >= 0) EXPECT_EQ(wintest::RequestsSeen(addr) - before, 2 * c.requests);
}

INSTANTIATE_TEST_SUITE_P(Loopback, HostileService, ::testing::ValuesIn(kHostile),
                         [](const ::testing::TestParamInfo<Hostile>& i) { return std::string(i.param.mode); });

// ---- the binding's own guards ----

// A request holds the module from its start until WinHTTP's last notice for
// it, also when the caller gave up on it long before.
TEST(Upload, AnOutstandingRequestHoldsTheModuleUntilItsLastNotice) {
  NEED(SILENT);
  ASSERT_TRUE(wintest::WaitForAbandonedRequests()) << "earlier requests still hold the module";
  win32::WinHttpTransport http(wintest::kShortLimits);
  HttpResponse r;
  std::thread caller([&] { r = http.Get("http://" + SILENTAddr + "/", 1 << 20); });
  const bool held = wintest::PumpUntil([] { return win32::ModuleInUse(); }, 10000);
  ::Sleep(300);
  const bool stillHeld = win32::ModuleInUse();
  http.Cancel();
  caller.join();
  EXPECT_TRUE(held);
  EXPECT_TRUE(stillHeld) << "the module was given back while the request waited";
  EXPECT_EQ(r.error, "cancelled");
  EXPECT_TRUE(wintest::WaitForAbandonedRequests()) << "the last notice did not give the module back";
}

// Wine answers 0 from GetProcessHandleCount: the handle values in use, probed.
long openHandles() {
  long n = 0;
  DWORD flags = 0;
  for (uintptr_t h = 4; h < 4 * 16384; h += 4) n += ::GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) ? 1 : 0;
  return n;
}

// No thread for the exchange (a system out of threads): nothing is sent, the
// outcome says why, and the event made for the worker is closed again.
TEST(Upload, NoWorkerThreadSendsNothingAndSaysWhy) {
  ProfileControl control(win32::SystemPlatform());
  const win32::StartWorker noThread = [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  const std::string server = "127.0.0.1:9";
  (void)win32::RunInventoryUpload(control, server, true, noThread);  // what the first run sets up stays
  const long before = openHandles();
  constexpr int kRuns = 25;
  for (int i = 0; i < kRuns; ++i) {
    const UploadOutcome out = win32::RunInventoryUpload(control, server, true, noThread);
    EXPECT_FALSE(out.sent);
    EXPECT_EQ(out.message.rfind("not sent: the exchange's worker thread could not be started: ", 0), 0u)
        << out.message;
  }
  EXPECT_LT(openHandles() - before, kRuns / 2) << "an event per failed start leaks";
}

// ---- over TLS with an enrollment secret ----
// Against the service with a certificate the prefix trusts or not, its
// secret (TALLOWIN_TEST_TLS*), peers whose descriptions send the call elsewhere.
// Run alone by scripts/test: the secret is set machine-wide.

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
    const auto r = upload(c.server, c.secret);
    EXPECT_EQ(r.exitCode, c.said[0] == '(' ? 0 : 1) << r.out;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    EXPECT_EQ(seen(), before + c.added);
  }
  EXPECT_EQ(wintest::JsonMember(wintest::ApiGet(tls, "/api/records?limit=1"), "secret"), "wintest");
}


// The XmlLite reader refuses what Wine's XmlLite lets through: end tags that
// do not match, a missing root element (a DTD is the BOMB row's).
soap::XmlEventType lastEvent(const std::string& doc) {
  auto r = win32::MakeXmlLiteReader(doc);
  soap::XmlEvent e;
  soap::XmlEventType t = soap::XmlEventType::Error;
  for (int i = 0; i < 1000; ++i) {
    t = r->next(e);
    if (t == soap::XmlEventType::EndOfDocument || t == soap::XmlEventType::Error || t == soap::XmlEventType::Doctype)
      break;
  }
  return t;
}

TEST(XmlLite, RefusesBrokenDocuments) {
  EXPECT_EQ(lastEvent("<a><b></a>"), soap::XmlEventType::Error);
  EXPECT_EQ(lastEvent("garbage"), soap::XmlEventType::Error);
  EXPECT_EQ(lastEvent(""), soap::XmlEventType::Error);
  EXPECT_EQ(lastEvent("<a><b/>text</a>"), soap::XmlEventType::EndOfDocument);
}

}  // namespace
}  // namespace tallowin
