// The adapter address sent with the inventory: NetBIOS first, then the
// interface table, then six zero pairs.
#include <gtest/gtest.h>

#include "support/fake_platform.h"
#include "upload/adapter_mac.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using IfRow = Platform::IfRow;

IfRow nic(uint32_t index, std::vector<uint8_t> mac, uint32_t type = 6, uint32_t admin = 1) {
  IfRow r;
  r.dwIndex = index;
  r.dwType = type;
  r.dwAdminStatus = admin;
  r.physAddr = std::move(mac);
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
    p.ifTable2 = {nic(4, {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F})};
    EXPECT_EQ(GetAdapterMac(p), "0A-0B-0C-0D-0E-0F") << c.name;
  }
}

TEST(AdapterMac, ZerosWhenNothingGivesAnAddress) {
  FakePlatform p;
  p.netbiosStatusResult = 0x34;
  EXPECT_EQ(GetAdapterMac(p), "00-00-00-00-00-00");
  p.ifTable = {nic(1, {}, 24), nic(2, {0x02, 1, 2, 3, 4, 5}, 131)};
  EXPECT_EQ(GetAdapterMac(p), "00-00-00-00-00-00");
  p.ifTableResult = 1;
  EXPECT_EQ(GetAdapterMac(p), "00-00-00-00-00-00");
}

}  // namespace
}  // namespace tallowin
