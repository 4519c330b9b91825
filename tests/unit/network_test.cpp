// The network section, its interface listing, the adapter address the upload
// sends, and the printers section.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "sections/network/interfaces.h"
#include "sections/network/printers.h"
#include "support/collect.h"
#include "upload/adapter_mac.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using test::Interface;
using test::Lines;
using IfRow = Platform::IfRow;

// A workstation with a loopback and an Ethernet interface.
void Workstation(FakePlatform& p) {
  p.metrics = {{63, 3}, {0x1000, 0}};
  p.computerName = std::string("  WS-ADA\0\0 ", 11);
  p.userName = "ada";
  p.wsaData = {0x0101, 0x0202, "WinSock 2.0", "Running"};
  p.hostName = std::string(" ws-ada\0", 8);
  p.hosts["ws-ada"] = {"ws-ada.example.org", {{192, 0, 2, 7}, {10, 1, 0, 20}}};
  p.exports.insert("iphlpapi.dll!GetIfTable");
  // 192.0.2.7, 127.0.0.1 and 10.1.0.20 as stored: in network byte order.
  p.ipAddrTable = {{0x070200C0u, 2}, {0x0100007Fu, 0x01020304u}, {0x1400010Au, 2}};
  // No description (dwDescrLen 0), a type without a name; the top bit set in a 32-bit counter.
  const IfRow lo{.descr = {}, .dwIndex = 0x01020304u, .dwType = 71, .dwMtu = 65536, .speed = 1073741824, .dwAdminStatus = 4,
                 .operStatus = 5, .hardwareInterface = {}, .physAddr = {}, .inUcastPkts = 1200, .inNUcastPkts = 300,
                 .outUcastPkts = 1200, .outNUcastPkts = 300};
  const IfRow eth{.hasDescr = true, .descr = "if2", .dwIndex = 2, .dwType = 6, .dwMtu = 1500, .speed = 1000000000,
                  .dwAdminStatus = 1, .operStatus = 5, .hardwareInterface = {}, .physAddr = {0x00, 0x0C, 0x29, 0x0A, 0x1B, 0xFF},
                  .inUcastPkts = 7, .inNUcastPkts = 1, .inErrors = 2, .outUcastPkts = 4294967295u, .outNUcastPkts = 5, .outErrors = 3};
  p.ifTable = {lo, eth};
}

TEST(Network, TwoInterfacesLineByLine) {
  FakePlatform p;
  Workstation(p);
  ProfileControl control{p};
  test::Collect(control, CollectNetwork);  // (the progress line before it: the printers' test)
  EXPECT_EQ(test::TextsAndValues(control.list()), (test::Pairs{
      {"NetBIOS Name: WS-ADA", 5010}, {"DNS Host Name: ws-ada", 5020},
      {"Fully Qualified Domain Name: ws-ada.example.org", 5030}, {"IP Address: 192.0.2.7", 5040},
      {"IP Address: 10.1.0.20", 5040}, {"IP Address: 127.0.0.1", 5040}, {"User Name: ada", 5045},
      {"Connected to Network: Yes", 5050}, {"Winsock Present: Yes", 5060}, {"Winsock Version: 2.2", 5070},
      {"Winsock Description: WinSock 2.0", 5080}, {"Winsock Status: Running", 5090},
      {"Remote/Terminal Session: No", 5100}, {"Network Interfaces: 2", 5110}, {"", 0},
      {"Interface: if2", 5300}, {"  Index: 2 (2.0.0.0)", 5310}, {"  Type: Ethernet", 5320},
      {"  MTU: 1,500 bytes", 5340}, {"  Speed: 1,000.00 Mbps", 5350}, {"  Admin Status: Up", 5360},
      {"  MAC Address: 00-0C-29-0A-1B-FF", 5380}, {"  IP Address: 192.0.2.7", 5390},
      {"  IP Address: 10.1.0.20", 5390}, {"  Packets Sent: 4,294,967,300", 5392}, {"  Error Packets Sent: 3", 5393},
      {"  Send Error Rate: 0.000000%", 5394}, {"  Packets Received: 8", 5396}, {"  Error Packets Received: 2", 5397},
      {"  Receive Error Rate: 25.000000%", 5398}, {"", 0},
      {"  Index: 16909060 (4.3.2.1)", 5310}, {"  Type: Unknown", 5320},
      {"  MTU: 65,536 bytes", 5340}, {"  Speed: 1,073.74 Mbps", 5350}, {"  Admin Status: Unknown (4)", 5360},
      {"  MAC Address: <none>", 5380}, {"  IP Address: 127.0.0.1", 5390}, {"  Packets Sent: 1,500", 5392},
      {"  Error Packets Sent: 0", 5393}, {"  Send Error Rate: 0.000000%", 5394}, {"  Packets Received: 1,500", 5396},
      {"  Error Packets Received: 0", 5397}, {"  Receive Error Rate: 0.000000%", 5398}}));
  EXPECT_EQ(p.yields, control.list().count() + 1);  // one after every line and the progress line
  EXPECT_EQ(p.wsaCleanups, 1);
}

TEST(Network, FailurePaths) {
  // present, absent: line prefixes.
  const struct { const char* name; std::function<void(FakePlatform&)> setUp; Lines present, absent; int cleanups; } cases[] = {
      {"sockets fail", [](FakePlatform& f) { f.wsaStartupResult = 10091; },
       {"Winsock Present: No", "Network Interfaces: 2"}, {"DNS Host Name", "IP Address: ", "Winsock Version"}, 0},
      {"started but version 0", [](FakePlatform& f) { f.wsaData.wVersion = 0; },
       {"Winsock Present: No"}, {"DNS Host Name"}, 1},
      {"gethostname fails", [](FakePlatform& f) { f.gethostnameResult = 10093; },
       {"Winsock Version: 2.2"}, {"DNS Host Name", "Fully Qualified"}, 1},
      {"no resolution", [](FakePlatform& f) { f.hosts.clear(); }, {"DNS Host Name: ws-ada"}, {"Fully Qualified"}, 1},
      // (A table that cannot be read: Interfaces.TheSixtyFourBitTableFirstInIndexOrder.)
      {"no address table", [](FakePlatform& f) { f.ipAddrTableResult = 232; }, {"Network Interfaces: 2"},
       {"  IP Address: "}, 1},
      {"remote, no network", [](FakePlatform& f) { f.metrics = {{0x1000, 2}}; },
       {"Remote/Terminal Session: Yes", "Connected to Network: No"}, {}, 1},
  };
  for (const auto& c : cases) {
    FakePlatform f;
    Workstation(f);
    c.setUp(f);
    const Lines lines = test::Run(f, CollectNetwork);
    for (const auto& s : c.present) EXPECT_FALSE(test::From(lines, s).empty()) << c.name << ": " << s;
    for (const auto& s : c.absent) EXPECT_TRUE(test::From(lines, s).empty()) << c.name << ": " << s;
    EXPECT_EQ(f.wsaCleanups, c.cleanups) << c.name;
  }
  // The socket layer is released when a yield ends the run.
  FakePlatform f;
  Workstation(f);
  f.onYield = [&] {
    if (f.yields == 3) throw DispatchAborted{};
  };
  EXPECT_THROW(test::Run(f, CollectNetwork), DispatchAborted);
  EXPECT_EQ(f.wsaCleanups, 1);
}

TEST(Interfaces, ErrorRatesAndDescriptionLengths) {
  FakePlatform p;
  const struct { uint64_t errors; Wide128 packets; const char* text; } rates[] = {
      {0, {0, 0}, "0.000000%"}, {5, {0, 0}, "100.000000%"},  // errors, yet no packets
      {1, {0, 3}, "33.333333%"}, {1, {0, 200000000}, "0.000001%"}, {3, {0, 2}, "150.000000%"}};
  for (const auto& r : rates) EXPECT_EQ(ErrorRateText(p, r.errors, r.packets), r.text) << r.text;
  const uint8_t wine[8] = {'e', 't', 'h', '0', 0, 'x', 'x', 'x'};
  const struct { size_t capacity; uint32_t descrLen; size_t length; } cuts[] = {{8, 5, 4}, {8, 2, 2}, {8, 0, 0}, {3, 300, 3}};
  for (const auto& c : cuts) EXPECT_EQ(Platform::IfDescrLength(wine, c.capacity, c.descrLen), c.length) << c.descrLen;
}

TEST(Interfaces, TheSixtyFourBitTableFirstInIndexOrder) {
  FakePlatform p;
  p.exports.insert("iphlpapi.dll!GetIfTable");
  const auto Listing = [](FakePlatform& f) { return test::From(test::Run(f, CollectNetwork), "Network Interfaces: ", 1000); };
  IfRow fast = Interface(12);
  fast.speed = 10000000000u;
  p.ifTable2Result = 0;
  p.ifTable2 = {fast, Interface(3)};
  p.ifTable = {Interface(5)};
  const Lines lines = Listing(p);
  EXPECT_EQ(lines[0] + "|" + lines[3], "Network Interfaces: 2|  Index: 3 (3.0.0.0)");
  EXPECT_TRUE(test::HasLine(lines, "  Speed: 10,000.00 Mbps"));
  p.ifTable2Result = 8;  // any failure: the 32-bit table
  EXPECT_TRUE(test::HasLine(Listing(p), "  Index: 5 (5.0.0.0)"));
  p.ifTableResult = 1;  // neither: no count line
  EXPECT_TRUE(Listing(p).empty());
}

// An upload started while the section yields runs it again and rebuilds the
// address table; the block being written must not read freed rows.
TEST(Interfaces, TheAddressTableSurvivesARunDuringAYield) {
  FakePlatform p;
  p.exports.insert("iphlpapi.dll!GetIfTable");
  p.ifTable = {Interface(2)};
  p.ipAddrTable = {{0x0100000Au, 2}, {0x0200000Au, 2}};
  ProfileControl control{p};
  bool again = false;
  p.onYield = [&] {
    if (!again && control.list().lines().back().text == "  IP Address: 10.0.0.1") {
      again = true;
      p.ipAddrTable.assign(100, {0x0900000Au, 9});
      test::Collect(control, CollectNetwork);
    }
  };
  test::Collect(control, CollectNetwork);
  EXPECT_TRUE(again);
  EXPECT_TRUE(test::HasLine(test::Texts(control.list()), "  IP Address: 10.0.0.2"));
}

TEST(AdapterMac, NetbiosFirst) {
  const std::pair<uint8_t, std::vector<uint8_t>> rows[] = {
      {Platform::kNrcGoodRet, {0x00, 0x0C, 0xAB, 0x3A, 0x5B, 0x7F, 0x99}},  // only the first six bytes
      {Platform::kNrcIncomplete, {0x00, 0x0C, 0xAB, 0x3A, 0x5B, 0x7F}}};    // a partial status still begins with it
  for (const auto& [rc, status] : rows) {
    FakePlatform p;
    p.netbiosStatusResult = rc;
    p.adapterStatus = status;
    p.ifTable = {Interface(2, {0x02, 0x11, 0x22, 0x33, 0x44, 0x55})};
    EXPECT_EQ(GetAdapterMac(p), "00-0C-AB-3A-5B-7F");
    EXPECT_EQ(p.netbiosCalls, (Lines{"50 0 [] 0", "51 0 [*               ] 680"}));  // reset, then the status
  }
}

// NetBIOS failing or giving zeros, the first interface that can stand for the
// machine: up and operational, a hardware adapter where the table says so, not
// loopback or tunnel, six bytes not all zero. An adapter switched on that
// carries no traffic (cable out, radio off), or a virtual one, must not
// become the machine's key.
TEST(AdapterMac, TheFallbackTakesOnlyAnOperationalHardwareAdapter) {
  const std::string firstText = "02-01-01-01-01-01", other = "00-0C-29-0A-1B-FF";
  const auto row = [&](uint32_t oper, std::optional<bool> hardware = std::nullopt, uint32_t type = 6,
                       std::vector<uint8_t> mac = {0x02, 0x01, 0x01, 0x01, 0x01, 0x01}) {
    IfRow r = Interface(1, std::move(mac), type);
    r.operStatus = oper;
    r.hardwareInterface = hardware;
    return r;
  };
  const struct { const char* name; bool table2; IfRow firstRow; std::string expected; } cases[] = {
      // GetIfTable: dwOperStatus 5 is operational; 1 there is NON_OPERATIONAL.
      {"old table, operational", false, row(5), firstText},
      {"old table, 1 is non-operational there", false, row(1), other},
      {"old table, loopback", false, row(5, std::nullopt, 24), other},
      {"old table, tunnel", false, row(5, std::nullopt, 131), other},
      {"old table, eight bytes", false, row(5, std::nullopt, 6, {2, 1, 1, 1, 1, 1, 1, 1}), other},
      {"old table, all zero", false, row(5, std::nullopt, 6, {0, 0, 0, 0, 0, 0}), other},
      // GetIfTable2: OperStatus 1 is up, and the hardware flag counts.
      {"64-bit table, up, hardware", true, row(1, true), firstText},
      {"64-bit table, down (cable out)", true, row(2, true), other},
      {"64-bit table, up but virtual", true, row(1, false), other},
      {"64-bit table, up, no hardware flag given", true, row(1), firstText},
  };
  for (const auto& c : cases) {
    FakePlatform p;
    p.netbiosStatusResult = c.table2 ? 0x34 : Platform::kNrcGoodRet;  // failing, or all zeros
    IfRow usable = c.table2 ? row(1, true) : row(5);
    usable.dwIndex = 2;
    usable.physAddr = {0x00, 0x0C, 0x29, 0x0A, 0x1B, 0xFF};
    IfRow down = c.firstRow;
    down.dwIndex = 0;
    down.dwAdminStatus = 2;
    (c.table2 ? p.ifTable2 : p.ifTable) = {usable, c.firstRow, down};  // out of index order
    if (c.table2) p.ifTable2Result = 0;
    EXPECT_EQ(GetAdapterMac(p), c.expected) << c.name;
  }
}

using DevMode = Platform::PrinterDevMode;

DevMode LetterPortrait() {
  return {.dmFields = Platform::kDmOrientation | Platform::kDmPaperSize | Platform::kDmDefaultSource |
                      Platform::kDmPrintQuality | Platform::kDmColor | Platform::kDmDuplex,
          .dmOrientation = 1, .dmPaperSize = 1, .dmDefaultSource = 7, .dmPrintQuality = 600, .dmColor = 2, .dmDuplex = 1};
}

FakePlatform::FakePrinter Printer(const std::string& name, DevMode dm = LetterPortrait()) {
  return {.info = {.pPrinterName = name, .pPortName = "FILE:", .pDriverName = "PostScript", .hasDevMode = true, .devMode = dm},
          .defaults = LetterPortrait(), .papers = {{1, 2159, 2794}, {5, 2159, 3556}, {9, 2100, 2970}}};
}

Lines Block(const std::string& name, const char* height = "11.00 inches", const char* width = "8.50 inches") {
  return {name, "  Port: FILE:", "  Driver: PostScript", std::string("  Height: ") + height,
          std::string("  Width: ") + width, "  Current Paper Size: U.S. Letter, 8 1/2 x 11 in.",
          "  Default Paper Bin: (Default) Use paper from the current default bin.", "  Print Quality: 600 dpi",
          "  Color Mode: Color", "  Current Orientation: Portrait",
          "  Current Duplex Setting: Single-sided printing with the current orientation setting."};
}

TEST(Printers, BlocksOneEmptyLineApartAfterTheProgressLine) {
  FakePlatform p;
  p.printers = {Printer("First"), Printer("Second")};
  ProfileControl control{p};
  Lines atFirstYield;
  p.onYield = [&] {
    if (atFirstYield.empty()) atFirstYield = test::Texts(control.list());
  };
  test::Collect(control, CollectPrinters);
  EXPECT_EQ(atFirstYield, Lines{"Working ..."});
  const int32_t values[] = {9000, 9100, 9200, 9300, 9400, 9500, 9550, 9600, 9650, 9700, 9750};
  test::Pairs expect;
  for (const Lines& block : {Block("First"), Lines{}, Block("Second")}) {
    for (size_t i = 0; i < block.size(); ++i) expect.push_back({block[i], values[i]});
    if (block.empty()) expect.push_back({"", 0});
  }
  EXPECT_EQ(test::TextsAndValues(control.list()), expect);
  EXPECT_EQ(p.yields, 7);  // the progress line, three in each block
  p.printers.clear();
  EXPECT_TRUE(test::Run(p, CollectPrinters).empty());  // the progress line removed
}

TEST(Printers, DecodingTables) {
  // Where the decoding does more than look up: a gap in the codes (every
  // table shares the look-up), and the print quality's own rules.
  const struct { std::string (*decode)(int16_t); int16_t code; const char* text; } rows[] = {
      {PaperSizeText, 48, "48 (Unknown)"}, {PaperSizeText, 256, "User-defined"}, {PrintQualityText, -4, "High resolution"},
      {PrintQualityText, -5, "-5 (Unknown)"}, {PrintQualityText, 0, "0 (Unknown)"}, {PrintQualityText, 1, "1 dpi"},
  };
  for (const auto& r : rows) EXPECT_EQ(r.decode(r.code), r.text) << r.code;
}

TEST(Printers, PageSizes) {
  const struct { int16_t paper, orientation; uint32_t extra; int16_t length, width; const char* height; const char* w; } rows[] = {
      {9, 1, 0, 0, 0, "11.69 inches", "8.27 inches"},
      {9, 2, 0, 0, 0, "8.27 inches", "11.69 inches"},  // landscape turns the sheet
      {8, 1, 0, 0, 0, "unknown", "unknown"},           // not among the printer's papers
      {256, 1, Platform::kDmPaperLength | Platform::kDmPaperWidth, 3000, 1000, "11.81 inches", "3.94 inches"},
      {256, 1, Platform::kDmPaperLength, 3000, 1000, "unknown", "unknown"},  // a width is missing
      {1, 1, Platform::kDmPaperLength | Platform::kDmPaperWidth, 0, 0, "11.00 inches", "8.50 inches"},
  };
  for (const auto& r : rows) {
    DevMode dm = LetterPortrait();
    dm.dmPaperSize = r.paper;
    dm.dmOrientation = r.orientation;
    dm.dmFields |= r.extra;
    dm.dmPaperLength = r.length;
    dm.dmPaperWidth = r.width;
    FakePlatform p;
    p.printers = {Printer("P", dm)};
    EXPECT_EQ(test::From(test::Run(p, CollectPrinters), "  Height: ", 2),
              (Lines{std::string("  Height: ") + r.height, std::string("  Width: ") + r.w})) << r.paper;
  }
}

// Each printer is opened once, whether or not the listing carries settings;
// one that cannot be reached is the printer error even when the spooler
// cached its settings, which are then what the block shows. A listed DEVMODE
// with no field filled in counts as none; a setting not filled in is left out.
TEST(Printers, EveryPrinterIsAskedOnceAndAnUnreachableOneIsMarked) {
  Lines cachedUnreachable = Block("P", "unknown", "unknown");
  cachedUnreachable.push_back("  Error: 482 Printer error (May Be Offline)");
  const Lines asked = {"DocumentProperties P", "DeviceCapabilities P FILE:"};
  DevMode some = LetterPortrait();
  some.dmFields = Platform::kDmPaperSize | Platform::kDmColor;
  const struct { const char* name; bool listed; DevMode listedMode; int32_t error, capabilitiesError; Lines lines, calls; } cases[] = {
      {"listed, unreachable", true, LetterPortrait(), 1722, 0, cachedUnreachable, {"DocumentProperties P"}},
      {"listed empty, asked", true, DevMode{}, 0, 0, Block("P"), asked},
      {"not listed, unreachable", false, DevMode{}, 5, 0,
       {"P", "  Port: FILE:", "  Driver: PostScript", "  Height: unknown", "  Width: unknown",
        "  Error: 482 Printer error (May Be Offline)"}, {"DocumentProperties P"}},
      {"two fields filled in", true, some, 0, 0,
       {"P", "  Port: FILE:", "  Driver: PostScript", "  Height: 11.00 inches", "  Width: 8.50 inches",
        "  Current Paper Size: U.S. Letter, 8 1/2 x 11 in.", "  Color Mode: Color"}, asked},
      {"papers unreadable: the system's code and text", true, some, 0, 1801,
       {"P", "  Port: FILE:", "  Driver: PostScript", "  Height: unknown", "  Width: unknown",
        "  Current Paper Size: U.S. Letter, 8 1/2 x 11 in.", "  Color Mode: Color",
        "  Error: 1801 The printer name is invalid."}, asked},
  };
  for (const auto& c : cases) {
    FakePlatform p;
    p.messages[1801] = "The printer name is invalid.";
    auto printer = Printer("P", c.listedMode);
    printer.info.hasDevMode = c.listed;
    printer.documentPropertiesError = c.error;
    printer.capabilitiesError = c.capabilitiesError;
    p.printers = {printer, Printer("Good")};
    Lines expect = c.lines;
    expect.push_back("");
    for (const auto& l : Block("Good")) expect.push_back(l);
    EXPECT_EQ(test::Run(p, CollectPrinters), expect) << c.name;
    EXPECT_EQ(Lines(p.printerCalls.begin(), p.printerCalls.begin() + static_cast<long>(c.calls.size())), c.calls) << c.name;
  }
}

}  // namespace
}  // namespace tallowin
