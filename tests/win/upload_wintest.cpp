// The upload end to end under Wine, against the inventory service (service/)
// and the misbehaving ones that scripts/test starts on loopback (their
// addresses come in TALLOWIN_TEST_* variables; without them the tests skip).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "win/support/activex_support.h"
#include "win/support/win_support.h"
#include "win/support/service_api.h"

#include <system_error>
#include <thread>

#include "control/profile_control.h"
#include "win32/frm_main.h"
#include "win32/win_platform.h"
#include "win32/module.h"
#include "win32/upload_binding.h"
#include "win32/winhttp_transport.h"

namespace tallowin {
namespace {

#define NEED(var)                                                   \
  const std::string var##Addr = wintest::TestService(#var);          \
  if (var##Addr.empty()) GTEST_SKIP() << "TALLOWIN_TEST_" #var " not set"

using Stored = wintest::StoredRecord;
Stored lastRecord(const std::string& peer) { return wintest::LastStoredRecord(peer); }

std::string joined(const std::string& output) {
  std::string out;
  for (const auto& l : wintest::SplitLines(output))
    if (!l.empty()) out += l + "$#$";
  return out;
}

TEST(Upload, RecordArrivesAsTheSectionsShowIt) {
  NEED(PEER);
  const auto progs = wintest::RunTallowin(L"show PROGS");
  const auto cpu = wintest::RunTallowin(L"show CPU");
  const auto net = wintest::RunTallowin(L"show NETWORK");
  const auto mac = wintest::RunTallowin(L"mac");
  const int before = lastRecord(PEERAddr).count;
  const auto r = wintest::RunTallowin(L"upload --server " + wintest::Wide(PEERAddr));
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("accepted"), std::string::npos) << r.out;
  const Stored s = lastRecord(PEERAddr);
  ASSERT_EQ(s.count, before + 1);
  ASSERT_EQ(s.fields.size(), 5u);
  wchar_t user[257] = {};
  DWORD n = 257;
  ::GetUserNameW(user, &n);
  EXPECT_EQ(s.fields[0], wintest::Utf8(user));
  EXPECT_EQ(s.fields[1] + "\n", mac.out);
  EXPECT_EQ(s.fields[2], joined(progs.out));
  EXPECT_EQ(s.fields[4], joined(cpu.out));
  // Counters move between runs: the network text has the section's lines up to
  // the first interface block, in order.
  const std::string netJoined = joined(net.out);
  const size_t stable = netJoined.find("Interface: ");
  ASSERT_NE(stable, std::string::npos);
  EXPECT_EQ(s.fields[3].substr(0, stable), netJoined.substr(0, stable));
}

// The service files the record under this machine, with the programs the
// section shows; after one program is added and one removed, the next upload
// shows exactly those two changes.
TEST(Upload, ServiceKnowsTheMachineAndItsProgramChanges) {
  NEED(PEER);
  const std::wstring base = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TallowinTest-Change";
  auto leaving = std::make_unique<wintest::RegFixture>(HKEY_LOCAL_MACHINE, base + L"Old");
  leaving->setString(L"", L"DisplayName", L"Tallowin Test Leaving \u00e9dition");
  ASSERT_EQ(wintest::RunTallowin(L"upload --server " + wintest::Wide(PEERAddr)).exitCode, 0);
  const Stored first = lastRecord(PEERAddr);
  ASSERT_FALSE(first.machine.empty()) << "no record through the API (TALLOWIN_TEST_PEER_AUTH set?)";
  const std::string machinePath = "/api/machines/" + wintest::UrlEncode(first.machine);

  const wintest::Json machine = wintest::ApiGet(PEERAddr, machinePath);
  std::vector<std::string> shown;
  for (const auto& line : wintest::SplitLines(wintest::RunTallowin(L"show PROGS").out))
    if (!line.empty()) shown.push_back(line);
  std::vector<std::string> current = machine["current_programs"].texts();
  std::sort(shown.begin(), shown.end());
  std::sort(current.begin(), current.end());
  shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
  EXPECT_EQ(current, shown);
  EXPECT_NE(std::find(current.begin(), current.end(), "Tallowin Test Leaving \xC3\xA9" "dition"), current.end());
  EXPECT_EQ(machine["last_user"].text, first.fields[0]);

  leaving.reset();
  wintest::RegFixture arriving(HKEY_LOCAL_MACHINE, base + L"New");
  arriving.setString(L"", L"DisplayName", L"Tallowin Test Arriving & <Co>");
  ASSERT_EQ(wintest::RunTallowin(L"upload --server " + wintest::Wide(PEERAddr)).exitCode, 0);
  const wintest::Json records = wintest::ApiGet(PEERAddr, machinePath + "/records?limit=2");
  ASSERT_EQ(records["records"].items.size(), 2u);
  const wintest::Json& latest = records["records"][0];
  EXPECT_EQ(latest["added"].texts(), std::vector<std::string>{"Tallowin Test Arriving & <Co>"});
  EXPECT_EQ(latest["removed"].texts(), std::vector<std::string>{"Tallowin Test Leaving \xC3\xA9" "dition"});
}

// Program names that XML must escape, letters outside ASCII, and a control
// character (the one character that arrives replaced).
TEST(Upload, OddProgramNamesArriveIntact) {
  NEED(PEER);
  const std::wstring base = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TallowinTest-Upload";
  wintest::RegFixture a(HKEY_LOCAL_MACHINE, base + L"A");
  a.setString(L"", L"DisplayName", L"Tom & Jerry <Deluxe> \"quoted\" 'single' ]]> end");
  wintest::RegFixture b(HKEY_LOCAL_MACHINE, base + L"B");
  b.setString(L"", L"DisplayName", L"Gr\u00fc\u00dfe \u65e5\u672c\u8a9e \u0416");
  wintest::RegFixture c(HKEY_LOCAL_MACHINE, base + L"C");
  c.setString(L"", L"DisplayName", L"Bell\x0007Ring");
  const auto r = wintest::RunTallowin(L"upload --server " + wintest::Wide(PEERAddr));
  ASSERT_EQ(r.exitCode, 0) << r.out;
  const Stored s = lastRecord(PEERAddr);
  ASSERT_EQ(s.fields.size(), 5u);
  const std::string& programs = s.fields[2];
  EXPECT_NE(programs.find("Tom & Jerry <Deluxe> \"quoted\" 'single' ]]> end$#$"), std::string::npos) << programs;
  EXPECT_NE(programs.find("Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xD0\x96$#$"), std::string::npos);
  EXPECT_NE(programs.find("Bell\xEF\xBF\xBDRing$#$"), std::string::npos) << "only the control character is replaced";
}

TEST(Upload, SettingFromTheEnvironment) {
  NEED(PEER);
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", wintest::Wide(PEERAddr).c_str());
  const auto r = wintest::RunTallowin(L"upload");
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", L"not a host:99999");
  const auto bad = wintest::RunTallowin(L"upload");
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.out.find("not sent"), std::string::npos) << bad.out;
}

TEST(Upload, NobodyListening) {
  const DWORD start = ::GetTickCount();
  const auto r = wintest::RunTallowin(L"upload --server 127.0.0.1:9");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("not sent"), std::string::npos) << r.out;
  EXPECT_LT(::GetTickCount() - start, 10000u) << "a refused connection must end at once";
}

struct FaultCase {
  const char* service;  // TALLOWIN_TEST_<service>
  const char* expect;   // in the one-line message
};

TEST(Upload, MisbehavingServicesAreRefused) {
  const FaultCase cases[] = {
      {"FAULT500", "fault"},
      {"GARBAGE", "not sent"},
      {"ENTITY", "not sent"},
  };
  int ran = 0;
  for (const auto& c : cases) {
    const std::string addr = wintest::TestService(c.service);
    if (addr.empty()) continue;
    ++ran;
    const auto r = wintest::RunTallowin(L"upload --server " + wintest::Wide(addr));
    EXPECT_EQ(r.exitCode, 1) << c.service << ": " << r.out;
    EXPECT_NE(r.out.find(c.expect), std::string::npos) << c.service << ": " << r.out;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
  }
  if (ran == 0) GTEST_SKIP() << "no misbehaving services";
}

TEST(Upload, RpcEncodedServiceGetsAnEncodedCall) {
  NEED(RPC);
  const auto r = wintest::RunTallowin(L"upload --server " + wintest::Wide(RPCAddr));
  EXPECT_EQ(r.exitCode, 0) << r.out;
  win32::WinHttpTransport http;
  const HttpResponse got = http.Get("http://" + RPCAddr + "/received", 64 << 20);
  ASSERT_TRUE(got.ok);
  EXPECT_NE(got.body.find("urn:DefaultNamespace"), std::string::npos);
  EXPECT_NE(got.body.find("xsi:type=\"xsd:string\""), std::string::npos) << got.body.substr(0, 600);
  EXPECT_NE(got.body.find("http://schemas.xmlsoap.org/soap/encoding/"), std::string::npos);
  EXPECT_EQ(got.body.rfind("SOAPAction: \"", 0), 0u) << got.body.substr(0, 80);
}

// A service that never answers: the upload ends within its time-outs, the
// window's thread answers its messages meanwhile, and the list ends with the
// processor lines.
int ticks = 0;
void CALLBACK countTick(HWND, UINT, UINT_PTR, DWORD) { ++ticks; }

TEST(Upload, SilentServiceKeepsTheWindowAnswering) {
  NEED(SILENT);
  HWND top = wintest::CreateHiddenHost();
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  auto control = form->control();
  ticks = 0;
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, countTick);
  const DWORD start = ::GetTickCount();
  const UploadOutcome out = win32::RunInventoryUpload(*control, SILENTAddr, true);
  const DWORD took = ::GetTickCount() - start;
  ::KillTimer(nullptr, timer);
  EXPECT_FALSE(out.accepted);
  EXPECT_LT(took, 60000u);
  EXPECT_GT(ticks, 10) << "the thread did not answer its messages during the exchange";
  const auto& list = control->list();
  ASSERT_GT(list.count(), 1);
  EXPECT_EQ(list.text(0).rfind("Processor Architecture: ", 0), 0u) << list.text(0);
  EXPECT_EQ(list.text(list.count() - 1), "");
  ::DestroyWindow(top);
}

// A request's notices hold the module (DllCanUnloadNow answers S_FALSE)
// from its start until WinHTTP's last notice for it, also when the caller
// gave up on it long before.
TEST(Upload, AnOutstandingRequestHoldsTheModuleUntilItsLastNotice) {
  NEED(SILENT);
  ASSERT_TRUE(wintest::WaitForAbandonedRequests()) << "earlier requests still hold the module";
  win32::WinHttpTransport http;
  HttpResponse r;
  std::thread caller([&] { r = http.Get("http://" + SILENTAddr + "/", 1 << 20); });
  // The service never answers: the request waits for its headers meanwhile.
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

// No thread for the exchange (a system out of threads): nothing is sent, the
// outcome says why (the line tallowin.exe upload prints), and the event made
// for the worker is closed again.
TEST(Upload, NoWorkerThreadSendsNothingAndSaysWhy) {
  ProfileControl control(win32::SystemPlatform());
  const win32::StartWorker noThread = [](std::function<void()>) -> std::thread {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
  };
  const std::string server = "127.0.0.1:9";
  (void)win32::RunInventoryUpload(control, server, true, noThread);  // what the first run sets up stays
  const wintest::ProcessResources before = wintest::MeasureResources();
  constexpr int kRuns = 25;
  for (int i = 0; i < kRuns; ++i) {
    const UploadOutcome out = win32::RunInventoryUpload(control, server, true, noThread);
    EXPECT_FALSE(out.sent);
    EXPECT_FALSE(out.accepted);
    EXPECT_EQ(out.message.rfind("not sent: the exchange's worker thread could not be started: ", 0), 0u)
        << out.message;
  }
  const wintest::ProcessResources after = wintest::MeasureResources();
  EXPECT_LT(after.handles - before.handles, kRuns / 2) << "an event per failed start leaks; " << after.sources;
  // A starter that gives back no thread at all is refused the same way.
  const UploadOutcome empty =
      win32::RunInventoryUpload(control, server, true, [](std::function<void()>) { return std::thread(); });
  EXPECT_FALSE(empty.sent);
  EXPECT_NE(empty.message.find("worker thread could not be started"), std::string::npos) << empty.message;
}

}  // namespace
}  // namespace tallowin
