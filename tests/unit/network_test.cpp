// The network section through the fake platform: names, the socket layer,
// the progress line, and the interface blocks at its end.
#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using IfRow = Platform::IfRow;

uint32_t ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {  // as stored: network byte order
  return uint32_t{a} | uint32_t{b} << 8 | uint32_t{c} << 16 | uint32_t{d} << 24;
}

// A workstation with a loopback and an Ethernet interface.
void machine(FakePlatform& p) {
  p.metrics = {{63, 3}, {0x1000, 0}};
  p.computerName = "WS-ADA";
  p.userName = "ada";
  p.wsaData = {0x0101, 0x0202, "WinSock 2.0", "Running"};
  p.hostName = "ws-ada";
  p.hosts["ws-ada"] = {"ws-ada.example.org", {{192, 0, 2, 7}, {10, 1, 0, 20}}};
  p.exports.insert("iphlpapi.dll!GetIfTable");
  p.ipAddrTable = {{ipv4(192, 0, 2, 7), 2}, {ipv4(127, 0, 0, 1), 1}, {ipv4(10, 1, 0, 20), 2}};
  IfRow lo;
  lo.hasDescr = true;
  lo.descr = "Software Loopback Interface 1";
  lo.dwIndex = 1;
  lo.dwType = 24;
  lo.dwMtu = 1500;
  lo.speed = 1073741824;
  lo.dwAdminStatus = 1;
  lo.outUcastPkts = 1200;
  lo.outNUcastPkts = 300;
  lo.inUcastPkts = 1200;
  lo.inNUcastPkts = 300;
  IfRow eth;
  eth.hasDescr = true;
  eth.descr = "Intel(R) PRO/1000 MT Network Connection";
  eth.dwIndex = 2;
  eth.dwType = 6;
  eth.dwMtu = 1500;
  eth.speed = 1000000000;
  eth.dwAdminStatus = 1;
  eth.physAddr = {0x00, 0x0C, 0x29, 0x0A, 0x1B, 0xFF};
  eth.outUcastPkts = 4294967295u;  // the top bit set in a 32-bit counter
  eth.outNUcastPkts = 5;
  eth.outErrors = 3;
  eth.inUcastPkts = 7;
  eth.inNUcastPkts = 1;
  eth.inErrors = 2;
  p.ifTable = {lo, eth};
}

class NetworkSection : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  void SetUp() override { machine(p); }
  std::vector<std::string> run() {
    CollectNetwork(control);
    return test::Texts(control.list());
  }
};

TEST_F(NetworkSection, TwoInterfacesLineByLine) {
  EXPECT_EQ(run(), (std::vector<std::string>{
                       "NetBIOS Name: WS-ADA",
                       "DNS Host Name: ws-ada",
                       "Fully Qualified Domain Name: ws-ada.example.org",
                       "IP Address: 192.0.2.7",
                       "IP Address: 10.1.0.20",
                       "IP Address: 127.0.0.1",
                       "User Name: ada",
                       "Connected to Network: Yes",
                       "Winsock Present: Yes",
                       "Winsock Version: 2.2",
                       "Winsock Description: WinSock 2.0",
                       "Winsock Status: Running",
                       "Remote/Terminal Session: No",
                       "Network Interfaces: 2",
                       "",
                       "Interface: Software Loopback Interface 1",
                       "  Index: 1 (1.0.0.0)",
                       "  Type: Loopback (Diagnostic)",
                       "  MTU: 1,500 bytes",
                       "  Speed: 1,073.74 Mbps",
                       "  Admin Status: Up",
                       "  MAC Address: <none>",
                       "  IP Address: 127.0.0.1",
                       "  Packets Sent: 1,500",
                       "  Error Packets Sent: 0",
                       "  Send Error Rate: 0.000000%",
                       "  Packets Received: 1,500",
                       "  Error Packets Received: 0",
                       "  Receive Error Rate: 0.000000%",
                       "",
                       "Interface: Intel(R) PRO/1000 MT Network Connection",
                       "  Index: 2 (2.0.0.0)",
                       "  Type: Ethernet",
                       "  MTU: 1,500 bytes",
                       "  Speed: 1,000.00 Mbps",
                       "  Admin Status: Up",
                       "  MAC Address: 00-0C-29-0A-1B-FF",
                       "  IP Address: 192.0.2.7",
                       "  IP Address: 10.1.0.20",
                       "  Packets Sent: 4,294,967,300",
                       "  Error Packets Sent: 3",
                       "  Send Error Rate: 0.000000%",
                       "  Packets Received: 8",
                       "  Error Packets Received: 2",
                       "  Receive Error Rate: 25.000000%",
                   }));
  const std::vector<int32_t> block = {0, 5300, 5310, 5320, 5340, 5350, 5360, 5380};
  const std::vector<int32_t> counters = {5392, 5393, 5394, 5396, 5397, 5398};
  std::vector<int32_t> values = {5010, 5020, 5030, 5040, 5040, 5040, 5045, 5050, 5060, 5070, 5080, 5090, 5100, 5110};
  for (int addresses : {1, 2}) {
    values.insert(values.end(), block.begin(), block.end());
    values.insert(values.end(), static_cast<size_t>(addresses), 5390);
    values.insert(values.end(), counters.begin(), counters.end());
  }
  EXPECT_EQ(test::Values(control.list()), values);
  EXPECT_EQ(p.wsaRequests, std::vector<uint16_t>{0x0101});
  EXPECT_EQ(p.wsaCleanups, 1);
  EXPECT_EQ(p.resolved, std::vector<std::string>{"ws-ada"});
}

TEST_F(NetworkSection, YieldsAfterEveryLine) {
  control.list().append("before");
  run();
  EXPECT_EQ(p.yields, control.list().count() - 1);
}

TEST_F(NetworkSection, FailurePaths) {
  struct Case {
    const char* name;
    std::function<void(FakePlatform&)> setUp;
    std::vector<std::string> present;  // line prefixes that must appear
    std::vector<std::string> absent;   // ... and must not
    int cleanups;
  };
  const Case cases[] = {
      {"sockets fail", [](FakePlatform& f) { f.wsaStartupResult = 10091; },
       {"NetBIOS Name: WS-ADA", "User Name: ada", "Winsock Present: No", "Remote/Terminal Session: ",
        "Network Interfaces: 2"},
       {"DNS Host Name", "Fully Qualified", "IP Address: ", "Winsock Version", "Winsock Description",
        "Winsock Status"},
       0},
      {"gethostname fails", [](FakePlatform& f) { f.gethostnameResult = 10093; },
       {"Winsock Present: Yes", "Winsock Version: 2.2", "Winsock Status: Running"},
       {"DNS Host Name", "Fully Qualified", "IP Address: "},
       1},
      {"name does not resolve", [](FakePlatform& f) { f.hosts.clear(); },
       {"DNS Host Name: ws-ada", "Winsock Present: Yes"},
       {"Fully Qualified", "IP Address: "},
       1},
      {"empty address list", [](FakePlatform& f) { f.hosts["ws-ada"].h_addr_list.clear(); },
       {"Fully Qualified Domain Name: ws-ada.example.org", "IP Address: 127.0.0.1"},
       {"IP Address: 192"},
       1},
      {"no interface table", [](FakePlatform& f) { f.exports.clear(); },
       {"Remote/Terminal Session: No"},
       {"Network Interfaces", "Interface: ", "  Index"},
       1},
      {"interface table unreadable", [](FakePlatform& f) { f.ifTableResult = 1; },
       {"Remote/Terminal Session: No"},
       {"Network Interfaces", "  Index"},
       1},
      {"names unavailable", [](FakePlatform& f) { f.computerName = f.userName = ""; },
       {"NetBIOS Name: ", "User Name: "},
       {"NetBIOS Name: W", "User Name: a"},
       1},
  };
  for (const Case& c : cases) {
    FakePlatform f;
    machine(f);
    c.setUp(f);
    ProfileControl ctl{f};
    CollectNetwork(ctl);
    const auto lines = test::Texts(ctl.list());
    for (const auto& s : c.present) EXPECT_TRUE(test::HasPrefix(lines, s)) << c.name << ": " << s;
    for (const auto& s : c.absent) EXPECT_FALSE(test::HasPrefix(lines, s)) << c.name << ": " << s;
    EXPECT_EQ(f.wsaCleanups, c.cleanups) << c.name;
  }
}

TEST_F(NetworkSection, HostResolvingToLoopbackShowsItTwice) {
  p.hosts["ws-ada"].h_addr_list = {{127, 0, 0, 1}};
  const auto lines = run();
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[3], "IP Address: 127.0.0.1");
  EXPECT_EQ(lines[4], "IP Address: 127.0.0.1");
  EXPECT_EQ(lines[5], "User Name: ada");
}

TEST_F(NetworkSection, WinsockTexts) {
  struct Row {
    uint16_t high;
    std::string description;
    const char* version;
    const char* descriptionLine;
  };
  const Row rows[] = {
      {0x0202, "WinSock 2.0", "Winsock Version: 2.2", "Winsock Description: WinSock 2.0"},
      {0x0101, "Sockets", "Winsock Version: 1.1", "Winsock Description: Sockets"},
      {0x0102, std::string("Wine\0junk", 9), "Winsock Version: 2.1", "Winsock Description: Wine"},
  };
  for (const Row& r : rows) {
    FakePlatform f;
    machine(f);
    f.wsaData.wHighVersion = r.high;
    f.wsaData.szDescription = r.description;
    ProfileControl ctl{f};
    CollectNetwork(ctl);
    const auto lines = test::Texts(ctl.list());
    EXPECT_TRUE(test::HasLine(lines, r.version)) << r.version;
    EXPECT_TRUE(test::HasLine(lines, r.descriptionLine)) << r.descriptionLine;
  }
}

TEST_F(NetworkSection, StartedButVersionZeroStillCleansUp) {
  // Not present (version 0), yet started: the socket layer is released.
  p.wsaData.wVersion = 0;
  const auto lines = run();
  EXPECT_TRUE(test::HasLine(lines, "Winsock Present: No"));
  EXPECT_FALSE(test::HasPrefix(lines, "DNS Host Name"));
  EXPECT_EQ(p.wsaCleanups, 1);
}

TEST_F(NetworkSection, WindowClosedDuringAYieldStillCleansUp) {
  int n = 0;
  p.onYield = [&] {
    if (++n == 3) throw DispatchAborted{};  // inside the host address lines
  };
  EXPECT_THROW(run(), DispatchAborted);
  EXPECT_EQ(p.wsaCleanups, 1);
}

TEST_F(NetworkSection, MetricsAndBufferTexts) {
  p.metrics = {{63, static_cast<int32_t>(0x80000000u)}, {0x1000, 2}};
  p.computerName = std::string("  WS-ADA\0\0 ", 11);
  p.userName = std::string("\0ada  ", 6);
  p.hostName = std::string(" ws-ada\0", 8);
  const auto lines = run();
  EXPECT_EQ(lines[0], "NetBIOS Name: WS-ADA");
  EXPECT_EQ(lines[1], "DNS Host Name: ws-ada");
  EXPECT_EQ(p.resolved, std::vector<std::string>{"ws-ada"});
  EXPECT_TRUE(test::HasLine(lines, "User Name: ada"));
  EXPECT_TRUE(test::HasLine(lines, "Connected to Network: Yes"));
  EXPECT_TRUE(test::HasLine(lines, "Remote/Terminal Session: Yes"));
  p.metrics.clear();
  control.list().clear();
  EXPECT_TRUE(test::HasLine(run(), "Connected to Network: No"));
}

TEST_F(NetworkSection, ProgressLineOnAnEmptyList) {
  std::vector<std::vector<std::string>> seen;
  std::vector<bool> flags;
  p.onYield = [&] {
    seen.push_back(test::Texts(control.list()));
    flags.push_back(control.showingProgress);
  };
  run();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::vector<std::string>{"Working ..."});
  EXPECT_EQ(seen[1], std::vector<std::string>{"NetBIOS Name: WS-ADA"});
  EXPECT_FALSE(flags[1]);
  EXPECT_FALSE(control.showingProgress);
  EXPECT_EQ(control.list().text(0), "NetBIOS Name: WS-ADA");
  EXPECT_EQ(control.list().itemValue(0), 5010);
}

TEST_F(NetworkSection, NoProgressLineAfterExistingLines) {
  control.list().append("Boot Type: Normal", 270);
  bool sawProgress = false;
  p.onYield = [&] { sawProgress = sawProgress || test::HasLine(test::Texts(control.list()), "Working ..."); };
  const auto lines = run();
  EXPECT_FALSE(sawProgress);
  EXPECT_FALSE(control.showingProgress);
  EXPECT_EQ(lines[0], "Boot Type: Normal");
  EXPECT_EQ(lines[1], "NetBIOS Name: WS-ADA");
}

TEST_F(NetworkSection, AddressTableRebuiltEveryRun) {
  run();
  p.ipAddrTable = {{ipv4(192, 0, 2, 99), 2}};
  control.list().clear();
  const auto lines = run();
  EXPECT_TRUE(test::HasLine(lines, "  IP Address: 192.0.2.99"));
  EXPECT_FALSE(test::HasLine(lines, "  IP Address: 192.0.2.7"));
  ASSERT_EQ(control.interfaceAddresses.size(), 1u);
  p.ipAddrTableResult = 232;
  control.list().clear();
  const auto failed = run();
  EXPECT_TRUE(control.interfaceAddresses.empty());
  EXPECT_FALSE(test::HasPrefix(failed, "  IP Address: "));
  EXPECT_TRUE(test::HasLine(failed, "Network Interfaces: 2"));
}

}  // namespace
}  // namespace tallowin
