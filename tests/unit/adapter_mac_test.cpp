// The adapter address sent with the inventory: NetBIOS first, then the
// interface table, then six zero pairs.
#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "upload/adapter_mac.h"

#include <optional>

namespace tallowin {
namespace {

using test::FakePlatform;
using IfRow = Platform::IfRow;

constexpr uint32_t kOperational = 5;  // MIB_IFROW's numbering
constexpr uint32_t kUp = 1;           // MIB_IF_ROW2's

IfRow nic(uint32_t index, std::vector<uint8_t> mac, uint32_t type = 6, uint32_t admin = 1,
          uint32_t oper = kOperational) {
  IfRow r;
  r.dwIndex = index;
  r.dwType = type;
  r.dwAdminStatus = admin;
  r.operStatus = oper;
  r.physAddr = std::move(mac);
  return r;
}

// A row of the 64-bit table: its own numbering of the states, and the flag
// that tells a hardware adapter from a virtual one.
IfRow nic2(uint32_t index, std::vector<uint8_t> mac, uint32_t oper = kUp, std::optional<bool> hardware = true,
           uint32_t type = 6) {
  IfRow r = nic(index, std::move(mac), type, 1, oper);
  r.hardwareInterface = hardware;
  return r;
}

TEST(AdapterMac, NetbiosStatusFormats) {
  const std::pair<std::vector<uint8_t>, const char*> rows[] = {
      {{0x00, 0x0C, 0xAB, 0x3A, 0x5B, 0x7F}, "00-0C-AB-3A-5B-7F"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "FF-FF-FF-FF-FF-FF"},
      {{0x01, 0, 0, 0, 0, 0, 0x99, 0x98}, "01-00-00-00-00-00"},  // only the first six bytes
  };
  for (const auto& [status, text] : rows) {
    FakePlatform p;
    p.adapterStatus = status;
    p.ifTable = {nic(2, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55})};
    EXPECT_EQ(GetAdapterMac(p), text);
  }
}

TEST(AdapterMac, ResetThenStatusOnAdapterZero) {
  FakePlatform p;
  p.adapterStatus = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(GetAdapterMac(p), "01-02-03-04-05-06");
  EXPECT_EQ(GetAdapterMac(p), "01-02-03-04-05-06");
  ASSERT_EQ(p.netbiosCalls.size(), 4u);  // each call resets on its own
  for (size_t i : {0u, 2u}) {
    EXPECT_EQ(p.netbiosCalls[i].command, 0x32);
    EXPECT_EQ(p.netbiosCalls[i].lana, 0);
    EXPECT_EQ(p.netbiosCalls[i].callname, "");
    EXPECT_EQ(p.netbiosCalls[i].length, 0u);
    EXPECT_EQ(p.netbiosCalls[i + 1].command, 0x33);
    EXPECT_EQ(p.netbiosCalls[i + 1].lana, 0);
    EXPECT_EQ(p.netbiosCalls[i + 1].callname, "*               ");
    EXPECT_EQ(p.netbiosCalls[i + 1].length, 680u);
  }
}

TEST(AdapterMac, PartialStatusStillGivesTheAddress) {
  FakePlatform p;
  p.netbiosStatusResult = Platform::kNrcIncomplete;
  p.adapterStatus = {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0x01};
  p.ifTable = {nic(2, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55})};
  EXPECT_EQ(GetAdapterMac(p), "AA-BB-CC-DD-EE-01");
}

TEST(AdapterMac, FallbackToTheFirstUsableInterface) {
  // Given out of index order; every row before index 7 is unusable.
  const std::vector<IfRow> table = {
      nic(9, {0x02, 0x99, 0x99, 0x99, 0x99, 0x99}),
      nic(1, {}, 24),                                              // loopback
      nic(2, {0x02, 0x22, 0x22, 0x22, 0x22, 0x22}, 24),            // loopback with an address
      nic(3, {0x02, 0x33, 0x33, 0x33, 0x33, 0x33}, 131),           // tunnel
      nic(4, {0x02, 0x44, 0x44, 0x44, 0x44, 0x44}, 6, 2),          // down
      nic(5, {0x02, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}),    // eight bytes
      nic(6, {0, 0, 0, 0, 0, 0}),                                  // no address
      nic(7, {0x00, 0x0C, 0x29, 0x0A, 0x1B, 0xFF}, 71),            // wireless
  };
  struct Case {
    const char* name;
    uint8_t netbios;
    std::vector<uint8_t> status;
  };
  const Case cases[] = {
      {"NetBIOS fails", 0x34, {0x02, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
      {"NetBIOS gives zeros", Platform::kNrcGoodRet, {}},
  };
  for (const Case& c : cases) {
    FakePlatform p;
    p.netbiosStatusResult = c.netbios;
    p.adapterStatus = c.status;
    p.ifTable = table;
    EXPECT_EQ(GetAdapterMac(p), "00-0C-29-0A-1B-FF") << c.name;
    p.ifTable2Result = 0;  // the 64-bit table when there is one
    p.ifTable2 = {nic2(4, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F})};
    EXPECT_EQ(GetAdapterMac(p), "0A-0B-0C-0D-0E-0F") << c.name;
  }
}

// An adapter listed first that is switched on but carries no traffic (cable
// out, radio off), or that is virtual, must not become the machine's key.
TEST(AdapterMac, TheFallbackTakesOnlyAnOperationalHardwareAdapter) {
  const std::vector<uint8_t> first = {0x02, 0x01, 0x01, 0x01, 0x01, 0x01};
  const std::vector<uint8_t> second = {0x00, 0x0C, 0x29, 0x0A, 0x1B, 0xFF};
  struct Case {
    const char* name;
    bool table2;  // the row comes from GetIfTable2, else from GetIfTable
    IfRow firstRow;
    const char* expected;
  };
  const Case cases[] = {
      // GetIfTable: dwOperStatus 5 is operational; 1 there is NON_OPERATIONAL.
      {"old table, operational", false, nic(1, first), "02-01-01-01-01-01"},
      {"old table, connected but not operational", false, nic(1, first, 6, 1, 4), "00-0C-29-0A-1B-FF"},
      {"old table, unreachable", false, nic(1, first, 6, 1, 3), "00-0C-29-0A-1B-FF"},
      {"old table, disconnected", false, nic(1, first, 6, 1, 2), "00-0C-29-0A-1B-FF"},
      {"old table, 1 is non-operational there", false, nic(1, first, 6, 1, 1), "00-0C-29-0A-1B-FF"},
      {"old table, no state", false, nic(1, first, 6, 1, 0), "00-0C-29-0A-1B-FF"},
      // GetIfTable2: OperStatus 1 is up, and the hardware flag counts.
      {"64-bit table, up, hardware", true, nic2(1, first), "02-01-01-01-01-01"},
      {"64-bit table, down (cable out)", true, nic2(1, first, 2), "00-0C-29-0A-1B-FF"},
      {"64-bit table, dormant", true, nic2(1, first, 5), "00-0C-29-0A-1B-FF"},
      {"64-bit table, not present", true, nic2(1, first, 6), "00-0C-29-0A-1B-FF"},
      {"64-bit table, lower layer down", true, nic2(1, first, 7), "00-0C-29-0A-1B-FF"},
      {"64-bit table, 5 is not up there", true, nic2(1, first, kOperational), "00-0C-29-0A-1B-FF"},
      {"64-bit table, up but virtual", true, nic2(1, first, kUp, false), "00-0C-29-0A-1B-FF"},
      {"64-bit table, up, no hardware flag given", true, nic2(1, first, kUp, std::nullopt), "02-01-01-01-01-01"},
  };
  for (const Case& c : cases) {
    FakePlatform p;
    p.netbiosStatusResult = 0x34;
    IfRow usable = c.table2 ? nic2(2, second) : nic(2, second);
    // Every first row is administratively up.
    if (c.table2) {
      p.ifTable2Result = 0;
      p.ifTable2 = {c.firstRow, usable};
    } else {
      p.ifTable = {c.firstRow, usable};
    }
    EXPECT_EQ(GetAdapterMac(p), c.expected) << c.name;
  }
}

TEST(AdapterMac, ZerosWhenNothingGivesAnAddress) {
  FakePlatform p;
  p.netbiosStatusResult = 0x34;
  EXPECT_EQ(GetAdapterMac(p), "00-00-00-00-00-00");
  p.ifTable = {nic(1, {}, 24), nic(2, {0x02, 1, 2, 3, 4, 5}, 131)};
  EXPECT_EQ(GetAdapterMac(p), "00-00-00-00-00-00");
  // Only adapters that carry no traffic or are virtual: none stands for the machine.
  p.ifTable2Result = 0;
  p.ifTable2 = {nic2(3, {0x02, 1, 2, 3, 4, 6}, 2), nic2(4, {0x02, 1, 2, 3, 4, 7}, kUp, false)};
  EXPECT_EQ(GetAdapterMac(p), "00-00-00-00-00-00");
  p.ifTable2Result = Platform::kErrorNotSupported;
  p.ifTableResult = 1;
  EXPECT_EQ(GetAdapterMac(p), "00-00-00-00-00-00");
}

}  // namespace
}  // namespace tallowin
