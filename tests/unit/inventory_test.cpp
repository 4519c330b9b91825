// The inventory sections: installed programs, ports and the five device buses.
#include <gtest/gtest.h>

#include "sections/inventory/programs.h"
#include "support/collect.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using test::Lines;
using test::Pairs;

// An Uninstall entry with the given values; nullptr leaves a value out.
void Entry(FakePlatform& p, const std::string& sub, const char* display, const char* quiet = nullptr,
           RegView view = RegView::Bits64) {
  const std::string path = std::string(kUninstallPath) + "\\" + sub;
  p.addKey(path, view);
  if (display) p.setString(path, "DisplayName", display, view);
  if (quiet) p.setString(path, "QuietDisplayName", quiet, view);
}

TEST(Programs, NamingRules) {
  const struct { const char* what; std::string sub; const char* display; const char* quiet; std::string listed; } rows[] = {
      {"display name first", "k1", "Editor", "Quiet Editor", "Editor"},
      {"a single blank is no name", "k2", " ", "Quiet Player", "Quiet Player"},
      {"a leading tab is no name", "k3", "\tTabbed", "Quiet Tab", "Quiet Tab"},
      {"two leading blanks and trailing ones are kept", "k4", "  Indented  ", nullptr, "  Indented  "},
      {"neither: the subkey name", "{9A0B-C1D2}", nullptr, nullptr, "{9A0B-C1D2}"},
      {"blank quiet name too: the subkey name", "Sub Key", "", " ", "Sub Key"},
  };
  for (const auto& r : rows) {
    FakePlatform p;
    Entry(p, r.sub, r.display, r.quiet);
    EXPECT_EQ(test::Run(p, CollectPrograms), Lines{r.listed}) << r.what;
    EXPECT_EQ(p.openKeys(), 0) << r.what;
  }
}

// Both views, each entry read in its own; sorted by the platform's collation
// (bytes would put "Zebra" before "apple"), equal names in enumeration order.
TEST(Programs, SortedStablyAcrossBothViewsOneEmptyLineBetween) {
  FakePlatform p;
  Entry(p, "1", "Zebra", nullptr, RegView::Bits32);
  Entry(p, "shared", nullptr, "Quiet In 32", RegView::Bits32);
  Entry(p, "2", "alpha tool", nullptr, RegView::Bits32);
  Entry(p, "3", "Alpha tool");
  Entry(p, "4", "ALPHA TOOL");
  Entry(p, "shared", "Named In 64");
  EXPECT_EQ(test::RunPairs(p, CollectPrograms), (Pairs{{"Alpha tool", 500}, {"", 0}, {"ALPHA TOOL", 500}, {"", 0},
      {"alpha tool", 500}, {"", 0}, {"Named In 64", 500}, {"", 0}, {"Quiet In 32", 500}, {"", 0}, {"Zebra", 500}}));
  EXPECT_EQ(p.yields, 6);  // one per entry
  p.is64BitWindows = false;  // one view only
  EXPECT_EQ(test::Run(p, CollectPrograms).size(), 5u);
}

TEST(Programs, AnUnreadableSubkeyNameGivesAnEmptyNameLine) {
  FakePlatform p;
  EXPECT_TRUE(test::Run(p, CollectPrograms).empty());
  Entry(p, "b", "B", nullptr, RegView::Bits32);
  p.addKey(kUninstallPath, RegView::Bits32).subKeys.push_back("");  // enumerates as an empty name
  EXPECT_EQ(test::Run(p, CollectPrograms), (Lines{"", "", "B"}));
}

TEST(Ports, SpoolerOrderKeptAndNotPresentSkipped) {
  FakePlatform p;
  p.ports = {{"LPT1:", "Local Port", "Local Port", 3}, {"", "Local Port", "nameless", 3}, {" ", "", "blank", 3},
             {"\tTAB", "", "control character first", 3}, {"FILE:", "", "", 1}, {"COM1:", "", "Local Port", 3}};
  ProfileControl control{p};
  control.list().append("before");
  test::Collect(control, CollectPorts);
  EXPECT_EQ(test::TextsAndValues(control.list()),
            (Pairs{{"before", 0}, {"LPT1: (Local Port)", 4010}, {"FILE: ()", 4010}, {"COM1: (Local Port)", 4010}}));
}

const std::string kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
const std::string kClass = "SYSTEM\\CurrentControlSet\\Control\\Class\\";

TEST(Buses, EveryMemberWithEveryRow) {
  // values: name, product, friendly, mfg, revision, location, [scsi id, lun], [drive], hw, driver x4.
  const struct { SectionCollector collector; const char* enumerator, *label; bool trims, scsiRows, driveLetters; std::vector<int32_t> values; } members[] = {
      {CollectPciBus, "PCI", "PCI Adapter Name: ", false, false, false,
       {4100, 4103, 4105, 4110, 4112, 4120, 4130, 4150, 4160, 4170, 4180}},
      {CollectScsiBus, "SCSI", "SCSI Device Name: ", true, true, true,
       {4300, 4303, 4305, 4310, 4312, 4320, 4322, 4323, 4325, 4330, 4350, 4360, 4370, 4380}},
      {CollectUsbBus, "USB", "USB Device Name: ", false, false, true,
       {4500, 4503, 4505, 4510, 4512, 4520, 4525, 4530, 4150, 4160, 4170, 4180}},
      {CollectFireWireBus, "V1394", "IEEE 1394/FireWire Device Name: ", true, false, true,
       {4600, 4603, 4605, 4610, 4612, 4620, 4625, 4630, 4650, 4660, 4670, 4680}},
      {CollectPcmciaBus, "PCMCIA", "PCMCIA Card Name: ", false, false, true,
       {4700, 4703, 4705, 4710, 4712, 4720, 4725, 4730, 4750, 4760, 4770, 4780}},
  };
  for (const auto& m : members) {
    FakePlatform p;
    const std::string key = kEnum + m.enumerator + "\\VEN_1&DEV_2\\3&11&0";
    const std::pair<const char*, const char*> values[] = {
        {"DeviceDesc", " Disk "}, {"ProductId", " P1 "}, {"FriendlyName", " Friendly "}, {"Mfg", " Acme "},
        {"Manufacturer", "Not shown"}, {"RevisionLevel", " 1.0 "}, {"LocationInformation", " Bus 1 "},
        {"SCSILUN", " 0 "}, {"CurrentDriveLetterAssignment", " CÄ "}, {"Driver", "{cafe}\\0000"}};
    for (const auto& [name, value] : values) p.setString(key, name, value);
    p.setDword(key, "SCSITargetID", 3);
    p.setValue(key, "HardwareID", kRegMultiSz, FakePlatform::Utf16Bytes(std::string("ID\\A\0\0ID\\B\0 C \0\0", 16), false));
    const std::pair<const char*, const char*> driver[] = {{"DriverDesc", " Driver "}, {"DriverVersion", "1.2 "},
        {"Ver", "not shown"}, {"DriverDate", "1-1-2020"}, {"Provider", " Prov"}};
    for (const auto& [name, value] : driver) p.setString(kClass + "{cafe}\\0000", name, value);

    Pairs expect;
    size_t v = 0;
    auto add = [&](const std::string& text) { expect.push_back({text, m.values.at(v++)}); };
    add(std::string(m.label) + (m.trims ? "Disk" : " Disk "));
    for (const char* line : {"  Product ID: P1", "  Friendly Name:  Friendly ", "  Manufacturer: Acme",
                             "  Revision Level: 1.0", "  Location Information: Bus 1"})
      add(line);
    if (m.scsiRows) add("  SCSI ID: 3"), add("  SCSI LUN: 0");
    if (m.driveLetters) add("  Drive Letters: C, Ä");  // characters, not bytes
    expect.push_back({"  Hardware ID: ID\\A", m.values.at(v)});
    expect.push_back({"  Hardware ID: ID\\B", m.values.at(v)});
    add("  Hardware ID:  C ");
    for (const char* line : {"  Driver Name:  Driver ", "  Driver Version: 1.2 ", "  Driver Date: 1-1-2020",
                             "  Driver Provider:  Prov"})
      add(line);
    EXPECT_EQ(test::RunPairs(p, m.collector), expect) << m.enumerator;
    EXPECT_EQ(p.openKeys(), 0) << m.enumerator;
  }
}

TEST(Buses, NoneFoundAndTheBlanksOnlyScsiAndFireWireTrim) {
  FakePlatform p;
  const std::pair<SectionCollector, const char*> rows[] = {  // (SCSI's and FireWire's: after the blanks below)
      {CollectPciBus, "No PCI Adapters Found"}, {CollectUsbBus, "No USB Devices Found"},
      {CollectPcmciaBus, "No PCMCIA Cards Found"}};
  for (const auto& [collector, line] : rows) EXPECT_EQ(test::Run(p, collector), Lines{line});
  for (const char* e : {"SCSI", "V1394", "PCI", "USB", "PCMCIA"}) p.setString(kEnum + e + "\\Dev\\1", "DeviceDesc", "   ");
  p.setString(kEnum + "PCI\\Dev\\2", "HardwareID", "no description");
  EXPECT_EQ(test::Run(p, CollectScsiBus), Lines{"No SCSI Devices Found"});
  EXPECT_EQ(test::Run(p, CollectFireWireBus), Lines{"No IEEE1394/FireWire Devices Found"});
  EXPECT_EQ(test::Run(p, CollectPciBus), Lines{"PCI Adapter Name:    "});
}

TEST(Buses, BlocksFallbacksAndEnumerators) {
  FakePlatform p;
  const std::string dev = kEnum + "USB\\ROOT_HUB\\";
  p.setString(dev + "1", "DeviceDesc", "Hub");
  p.setString(dev + "1", "Mfg", "   ");  // empty once trimmed: Manufacturer serves
  p.setString(dev + "1", "Manufacturer", " Maker ");
  p.setString(dev + "1", "Driver", "{usb}\\0000");
  p.setString(kClass + "{usb}\\0000", "DriverDesc", "Hub driver");
  p.setString(kClass + "{usb}\\0000", "Ver", "4.0");  // the version's older name
  p.setString(dev + "2", "DeviceDesc", "Second");
  p.setString(kEnum + "USBSAMP\\Sample\\1", "DeviceDesc", "Sample");
  p.setString(kEnum + "USBIMGM3\\Cam\\1", "DeviceDesc", "Camera");
  EXPECT_EQ(test::Run(p, CollectUsbBus), (Lines{"USB Device Name: Hub", "  Manufacturer: Maker", "  Driver Name: Hub driver",
      "  Driver Version: 4.0", "", "USB Device Name: Second", "", "USB Device Name: Sample", "", "USB Device Name: Camera"}));
  EXPECT_EQ(p.yields, 0);
}

}  // namespace
}  // namespace tallowin
