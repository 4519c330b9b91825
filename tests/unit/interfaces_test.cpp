// The interface listing: its tables, number texts and the choice of table.
#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/network/interfaces.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;

TEST(IpToString, BytesInStoredOrder) {
  EXPECT_EQ(IpToString(0x0100007Fu), "127.0.0.1");
  EXPECT_EQ(IpToString(0), "0.0.0.0");
  EXPECT_EQ(IpToString(0xFFFFFFFFu), "255.255.255.255");
  EXPECT_EQ(IpToString(2), "2.0.0.0");  // an index read as four bytes
  EXPECT_EQ(IpToString(0x01020304u), "4.3.2.1");
}

TEST(InterfaceTexts, TypeTable) {
  const std::pair<uint32_t, const char*> rows[] = {
      {6, "Ethernet"},     {9, "Token Ring"},           {15, "FDDI (Fiber Optic)"},   {23, "PPP (Dialup)"},
      {24, "Loopback (Diagnostic)"}, {28, "SLIP (Dialup/Serial)"}, {1, "Unknown"}, {71, "Unknown"},
      {131, "Unknown"},    {0, "Unknown"},
  };
  for (const auto& [code, text] : rows) EXPECT_EQ(InterfaceTypeText(code), text) << code;
}

TEST(InterfaceTexts, AdminStatusTable) {
  EXPECT_EQ(AdminStatusText(1), "Up");
  EXPECT_EQ(AdminStatusText(2), "Down");
  EXPECT_EQ(AdminStatusText(3), "Testing");
  EXPECT_EQ(AdminStatusText(4), "Unknown (4)");
  EXPECT_EQ(AdminStatusText(0), "Unknown (0)");
  EXPECT_EQ(AdminStatusText(4294967295u), "Unknown (4294967295)");
}

TEST(InterfaceTexts, HardwareAddresses) {
  EXPECT_EQ(HexPairs({0x00, 0x0C, 0x29, 0x0A, 0x1B, 0xFF}), "00-0C-29-0A-1B-FF");
  EXPECT_EQ(HexPairs({0xAB}), "AB");
  EXPECT_EQ(HexPairs({}), "");
  EXPECT_EQ(HexPairs({1, 2, 3, 4, 5, 6, 7, 8}), "01-02-03-04-05-06-07-08");
}

TEST(ExactDecimal, ErrorRates) {
  FakePlatform p;
  EXPECT_EQ(ErrorRateText(p, 0, {0, 0}), "0.000000%");
  EXPECT_EQ(ErrorRateText(p, 0, {0, 50}), "0.000000%");
  EXPECT_EQ(ErrorRateText(p, 5, {0, 0}), "100.000000%");  // errors, yet no packets
  EXPECT_EQ(ErrorRateText(p, 1, {0, 8}), "12.500000%");
  EXPECT_EQ(ErrorRateText(p, 3, {0, 2}), "150.000000%");
  EXPECT_EQ(ErrorRateText(p, 1, {0, 3}), "33.333333%");
  EXPECT_EQ(ErrorRateText(p, 1, {0, 200000000}), "0.000001%");  // 5e-7 rounds up
  EXPECT_EQ(ErrorRateText(p, ~uint64_t{0}, {0, 1}), "1,844,674,407,370,955,161,500.000000%");
  EXPECT_EQ(ErrorRateText(p, ~uint64_t{0}, Add({0, ~uint64_t{0}}, {0, ~uint64_t{0}})), "50.000000%");
}

TEST(IfDescr, CutAtLengthOrNul) {
  const uint8_t wine[8] = {'e', 't', 'h', '0', 0, 'x', 'x', 'x'};
  const uint8_t full[4] = {'a', 'b', 'c', 'd'};
  struct Row {
    const uint8_t* bytes;
    size_t capacity;
    uint32_t descrLen;
    size_t expected;
  };
  const Row rows[] = {
      {wine, 8, 4, 4},   // length without the NUL
      {wine, 8, 5, 4},   // length counting the NUL
      {wine, 8, 2, 2},   // length shorter than the text
      {wine, 8, 0, 0},
      {full, 4, 300, 4}, // no NUL, length past the field: the field's end
      {full, 4, 3, 3},
  };
  for (const Row& r : rows)
    EXPECT_EQ(Platform::IfDescrLength(r.bytes, r.capacity, r.descrLen), r.expected) << r.descrLen;
}

IfRow row(uint32_t index, uint64_t speed = 100000000) {
  IfRow r;
  r.hasDescr = true;
  r.descr = "if" + std::to_string(index);
  r.dwIndex = index;
  r.dwType = 6;
  r.dwMtu = 1500;
  r.speed = speed;
  r.dwAdminStatus = 1;
  return r;
}

class Listing : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  std::vector<std::string> list() {
    LoadInterfaceAddresses(control);
    ListInterfaces(control);
    return test::Texts(control.list());
  }
};

TEST_F(Listing, PrefersTheSixtyFourBitTable) {
  IfRow fast = row(5, 10000000000u);  // 10 Gbit/s
  fast.outUcastPkts = 0x8000000000000000u;
  fast.outNUcastPkts = 0x8000000000000000u;
  fast.inErrors = 0xFFFFFFFFFFu;
  p.ifTable2Result = 0;
  p.ifTable2 = {fast};
  p.ifTable = {row(5, 4294967295u)};
  const auto lines = list();
  EXPECT_TRUE(test::HasLine(lines, "  Speed: 10,000.00 Mbps"));
  EXPECT_TRUE(test::HasLine(lines, "  Packets Sent: 18,446,744,073,709,551,616"));
  EXPECT_TRUE(test::HasLine(lines, "  Error Packets Received: 1,099,511,627,775"));
  EXPECT_TRUE(test::HasLine(lines, "  Receive Error Rate: 100.000000%"));
}

TEST_F(Listing, FallsBackToTheThirtyTwoBitTable) {
  IfRow saturated = row(3, 4294967295u);
  saturated.inUcastPkts = 4294967295u;
  saturated.inNUcastPkts = 4294967295u;
  saturated.inErrors = 4294967295u;
  p.ifTable = {saturated};
  for (uint32_t table2 : {Platform::kErrorNotSupported, uint32_t{8}}) {
    p.ifTable2Result = table2;
    control.list().clear();
    const auto lines = list();
    EXPECT_TRUE(test::HasLine(lines, "  Speed: 4,294.97 Mbps")) << table2;
    EXPECT_TRUE(test::HasLine(lines, "  Packets Received: 8,589,934,590"));
    EXPECT_TRUE(test::HasLine(lines, "  Error Packets Received: 4,294,967,295"));
    EXPECT_TRUE(test::HasLine(lines, "  Receive Error Rate: 50.000000%"));
  }
}

TEST_F(Listing, NeitherTableEndsWithoutTheCountLine) {
  p.ifTableResult = 1;
  EXPECT_TRUE(list().empty());
  std::vector<IfRow> rows{row(1)};
  EXPECT_FALSE(ReadInterfaceTable(p, &rows));
  EXPECT_TRUE(rows.empty());
}

TEST_F(Listing, EmptyTableStillCounts) {
  EXPECT_EQ(list(), std::vector<std::string>{"Network Interfaces: 0"});
  EXPECT_EQ(control.list().itemValue(0), 5110);
}

TEST_F(Listing, RowsInIndexOrder) {
  p.ifTable2Result = 0;
  p.ifTable2 = {row(12), row(3), row(7)};
  const auto lines = list();
  std::vector<std::string> indexes;
  for (const auto& l : lines)
    if (l.rfind("  Index: ", 0) == 0) indexes.push_back(l);
  EXPECT_EQ(indexes, (std::vector<std::string>{"  Index: 3 (3.0.0.0)", "  Index: 7 (7.0.0.0)",
                                               "  Index: 12 (12.0.0.0)"}));
  EXPECT_EQ(lines[0], "Network Interfaces: 3");
}

TEST_F(Listing, BlockShapes) {
  IfRow odd = row(0x01020304u);
  odd.hasDescr = false;  // dwDescrLen 0
  odd.dwType = 71;
  odd.dwAdminStatus = 4;
  odd.dwMtu = 65536;
  IfRow blank = row(2);
  blank.descr = "";
  p.ifTable = {blank, odd};
  p.ipAddrTable = {{0x0100000Au, 16909060}, {0x0200000Au, 2}, {0x0300000Au, 16909060}, {0x0400000Au, 16909060}};
  EXPECT_EQ(list(), (std::vector<std::string>{
                        "Network Interfaces: 2",
                        "",
                        "Interface: ",
                        "  Index: 2 (2.0.0.0)",
                        "  Type: Ethernet",
                        "  MTU: 1,500 bytes",
                        "  Speed: 100.00 Mbps",
                        "  Admin Status: Up",
                        "  MAC Address: <none>",
                        "  IP Address: 10.0.0.2",
                        "  Packets Sent: 0",
                        "  Error Packets Sent: 0",
                        "  Send Error Rate: 0.000000%",
                        "  Packets Received: 0",
                        "  Error Packets Received: 0",
                        "  Receive Error Rate: 0.000000%",
                        "",
                        "  Index: 16909060 (4.3.2.1)",
                        "  Type: Unknown",
                        "  MTU: 65,536 bytes",
                        "  Speed: 100.00 Mbps",
                        "  Admin Status: Unknown (4)",
                        "  MAC Address: <none>",
                        "  IP Address: 10.0.0.1",
                        "  IP Address: 10.0.0.3",
                        "  IP Address: 10.0.0.4",
                        "  Packets Sent: 0",
                        "  Error Packets Sent: 0",
                        "  Send Error Rate: 0.000000%",
                        "  Packets Received: 0",
                        "  Error Packets Received: 0",
                        "  Receive Error Rate: 0.000000%",
                    }));
  EXPECT_EQ(control.list().itemValue(1), 0);  // the separator carries none
}

TEST_F(Listing, AddressTableSurvivesARunDuringAYield) {
  // An upload started while the section yields runs it again and rebuilds
  // the table; the block being written must not read freed rows.
  p.ifTable = {row(2)};
  p.ipAddrTable = {{0x0100000Au, 2}, {0x0200000Au, 2}};
  bool again = false;
  p.onYield = [&] {
    if (!again && control.list().count() > 0 && control.list().lines().back().text == "  IP Address: 10.0.0.1") {
      again = true;
      p.ipAddrTable.assign(100, {0x0900000Au, 9});
      LoadInterfaceAddresses(control);
    }
  };
  const auto lines = list();
  EXPECT_TRUE(again);
  EXPECT_TRUE(test::HasLine(lines, "  IP Address: 10.0.0.2"));
}

}  // namespace
}  // namespace tallowin
