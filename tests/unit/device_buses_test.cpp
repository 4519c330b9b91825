#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;

const std::string kEnum = "SYSTEM\\CurrentControlSet\\Enum\\";
const std::string kClass = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::string kOldClass = "SYSTEM\\CurrentControlSet\\Services\\Class\\";

using Lines = std::vector<std::pair<std::string, int32_t>>;

class Buses : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};

  void set(const std::string& key, const std::string& name, const std::string& value) { p.setString(key, name, value); }
  // A multi-string as Windows stores it: each string with its NUL, then one more.
  void multi(const std::string& key, const std::string& name, const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& part : parts) s += part + '\0';
    s += '\0';
    p.setValue(key, name, kRegMultiSz, FakePlatform::Utf16Bytes(s, false));
  }
  Lines run(SectionCollector collector) {
    collector(control);
    Lines out;
    for (const auto& l : control.list().lines()) out.push_back({l.text, l.itemValue});
    return out;
  }
};

// Every row of the member tables, with values that show what is trimmed.
struct Member {
  const char* name;
  SectionCollector collector;
  const char* enumerator;
  const char* label;
  bool trimsDescription;
  bool scsiRows;
  bool driveLetters;
  std::vector<int32_t> values;  // name, product, friendly, mfg, revision, location, [scsi id, lun], [drive], hw, driver x4
};

TEST_F(Buses, EveryMemberWithEveryRow) {
  const Member members[] = {
      {"PCI", CollectPciBus, "PCI", "PCI Adapter Name: ", false, false, false,
       {4100, 4103, 4105, 4110, 4112, 4120, 4130, 4150, 4160, 4170, 4180}},
      {"SCSI", CollectScsiBus, "SCSI", "SCSI Device Name: ", true, true, true,
       {4300, 4303, 4305, 4310, 4312, 4320, 4322, 4323, 4325, 4330, 4350, 4360, 4370, 4380}},
      {"USB", CollectUsbBus, "USB", "USB Device Name: ", false, false, true,
       {4500, 4503, 4505, 4510, 4512, 4520, 4525, 4530, 4150, 4160, 4170, 4180}},
      {"FireWire", CollectFireWireBus, "V1394", "IEEE 1394/FireWire Device Name: ", true, false, true,
       {4600, 4603, 4605, 4610, 4612, 4620, 4625, 4630, 4650, 4660, 4670, 4680}},
      {"PCMCIA", CollectPcmciaBus, "PCMCIA", "PCMCIA Card Name: ", false, false, true,
       {4700, 4703, 4705, 4710, 4712, 4720, 4725, 4730, 4750, 4760, 4770, 4780}},
  };
  for (const Member& m : members) {
    FakePlatform fresh;
    ProfileControl c{fresh};
    const std::string key = kEnum + m.enumerator + "\\VEN_1&DEV_2\\3&11&0";
    fresh.setString(key, "DeviceDesc", " Disk ");
    fresh.setString(key, "ProductId", " P1 ");
    fresh.setString(key, "FriendlyName", " Friendly ");
    fresh.setString(key, "Mfg", " Acme ");
    fresh.setString(key, "Manufacturer", "Not shown");
    fresh.setString(key, "RevisionLevel", " 1.0 ");
    fresh.setString(key, "LocationInformation", " Bus 1 ");
    fresh.setDword(key, "SCSITargetID", 3);
    fresh.setString(key, "SCSILUN", " 0 ");
    fresh.setString(key, "CurrentDriveLetterAssignment", " CD ");
    std::string ids = std::string("ID\\A") + '\0' + "ID\\B" + '\0' + "ID\\C" + '\0' + '\0';
    fresh.setValue(key, "HardwareID", kRegMultiSz, FakePlatform::Utf16Bytes(ids, false));
    fresh.setString(key, "Driver", "{cafe}\\0000");
    fresh.setString(kClass + "{cafe}\\0000", "DriverDesc", " Driver ");
    fresh.setString(kClass + "{cafe}\\0000", "DriverVersion", "1.2 ");
    fresh.setString(kClass + "{cafe}\\0000", "Ver", "not shown");
    fresh.setString(kClass + "{cafe}\\0000", "DriverDate", "1-1-2020");
    fresh.setString(kClass + "{cafe}\\0000", "Provider", " Prov");

    Lines expect;
    size_t v = 0;
    auto add = [&](const std::string& text) { expect.push_back({text, m.values.at(v++)}); };
    add(std::string(m.label) + (m.trimsDescription ? "Disk" : " Disk "));
    add("  Product ID: P1");
    add("  Friendly Name:  Friendly ");
    add("  Manufacturer: Acme");
    add("  Revision Level: 1.0");
    add("  Location Information: Bus 1");
    if (m.scsiRows) {
      add("  SCSI ID: 3");
      add("  SCSI LUN: 0");
    }
    if (m.driveLetters) add("  Drive Letters: C, D");
    const int32_t hw = m.values.at(v);
    add("  Hardware ID: ID\\A");
    expect.push_back({"  Hardware ID: ID\\B", hw});
    expect.push_back({"  Hardware ID: ID\\C", hw});
    add("  Driver Name:  Driver ");
    add("  Driver Version: 1.2 ");
    add("  Driver Date: 1-1-2020");
    add("  Driver Provider:  Prov");
    EXPECT_EQ(v, m.values.size()) << m.name;

    m.collector(c);
    Lines got;
    for (const auto& l : c.list().lines()) got.push_back({l.text, l.itemValue});
    EXPECT_EQ(got, expect) << m.name;
    EXPECT_EQ(fresh.openKeys(), 0) << m.name;
  }
}

TEST_F(Buses, NoneFoundLinesWhenNothingIsListed) {
  const std::pair<SectionCollector, const char*> rows[] = {
      {CollectPciBus, "No PCI Adapters Found"},
      {CollectScsiBus, "No SCSI Devices Found"},
      {CollectUsbBus, "No USB Devices Found"},
      {CollectFireWireBus, "No IEEE1394/FireWire Devices Found"},
      {CollectPcmciaBus, "No PCMCIA Cards Found"},
  };
  for (const auto& [collector, line] : rows) {
    control.list().clear();
    EXPECT_EQ(run(collector), (Lines{{line, 0}}));
  }
}

TEST_F(Buses, SecondBlockAfterOneEmptyLine) {
  // Two instances of one device, then a second device; the second block is
  // the worked example: only the rows whose values exist.
  const std::string dev = kEnum + "SCSI\\Disk&Ven_A";
  set(dev + "\\1", "DeviceDesc", "First");
  set(dev + "\\2", "DeviceDesc", "d");
  set(dev + "\\2", "ProductId", "p");
  set(dev + "\\2", "Manufacturer", "m");
  multi(dev + "\\2", "HardwareID", {"h1", "h2"});
  set(dev + "\\2", "Driver", "{disk}\\0001");
  set(kClass + "{disk}\\0001", "DriverDesc", "n");
  set(kClass + "{disk}\\0001", "DriverVersion", "v");
  set(kEnum + "SCSI\\CdRom&Ven_B\\1", "DeviceDesc", "Third");
  EXPECT_EQ(run(CollectScsiBus), (Lines{{"SCSI Device Name: First", 4300},
                                        {"", 0},
                                        {"SCSI Device Name: d", 4300},
                                        {"  Product ID: p", 4303},
                                        {"  Manufacturer: m", 4310},
                                        {"  Hardware ID: h1", 4330},
                                        {"  Hardware ID: h2", 4330},
                                        {"  Driver Name: n", 4350},
                                        {"  Driver Version: v", 4360},
                                        {"", 0},
                                        {"SCSI Device Name: Third", 4300}}));
}

TEST_F(Buses, BlankDescriptionTrimmedOnlyOnScsiAndFireWire) {
  for (const char* e : {"SCSI", "V1394", "PCI", "USB", "PCMCIA"}) set(kEnum + e + "\\Dev\\1", "DeviceDesc", "   ");
  EXPECT_EQ(run(CollectScsiBus), (Lines{{"No SCSI Devices Found", 0}}));
  control.list().clear();
  EXPECT_EQ(run(CollectFireWireBus), (Lines{{"No IEEE1394/FireWire Devices Found", 0}}));
  control.list().clear();
  EXPECT_EQ(run(CollectPciBus), (Lines{{"PCI Adapter Name:    ", 4100}}));
  control.list().clear();
  EXPECT_EQ(run(CollectUsbBus), (Lines{{"USB Device Name:    ", 4500}}));
  control.list().clear();
  EXPECT_EQ(run(CollectPcmciaBus), (Lines{{"PCMCIA Card Name:    ", 4700}}));
}

TEST_F(Buses, InstancesWithoutDescriptionGiveTheNoneFoundLineAlone) {
  set(kEnum + "PCI\\VEN_1\\1", "HardwareID", "PCI\\VEN_1");
  p.addKey(kEnum + "PCI\\VEN_2\\1");
  set(kEnum + "PCI\\VEN_3\\1", "DeviceDesc", "");
  EXPECT_EQ(run(CollectPciBus), (Lines{{"No PCI Adapters Found", 0}}));
}

TEST_F(Buses, ManufacturerAndVersionFallbacks) {
  const std::string key = kEnum + "PCMCIA\\Card\\1";
  set(key, "DeviceDesc", "Modem");
  set(key, "Mfg", "   ");  // empty once trimmed
  set(key, "Manufacturer", " Maker ");
  set(key, "Driver", "{modem}\\0000");
  set(kClass + "{modem}\\0000", "DriverDesc", "Modem driver");
  set(kClass + "{modem}\\0000", "DriverVersion", "");
  set(kClass + "{modem}\\0000", "Ver", "4.0");
  EXPECT_EQ(run(CollectPcmciaBus), (Lines{{"PCMCIA Card Name: Modem", 4700},
                                          {"  Manufacturer: Maker", 4710},
                                          {"  Driver Name: Modem driver", 4750},
                                          {"  Driver Version: 4.0", 4760}}));
}

TEST_F(Buses, DriverRowsFromTheOlderClassKey) {
  const std::string key = kEnum + "PCI\\Dev\\1";
  set(key, "DeviceDesc", "Bridge");
  set(key, "Driver", "SYSTEM\\0002");
  // The first class key exists but has no description: everything comes
  // from the fallback, even where the first one has a value.
  set(kClass + "SYSTEM\\0002", "DriverVersion", "wrong");
  set(kClass + "SYSTEM\\0002", "Provider", "wrong");
  set(kOldClass + "SYSTEM\\0002", "DriverDesc", "Old bridge");
  set(kOldClass + "SYSTEM\\0002", "Ver", "4.00.950");
  set(kOldClass + "SYSTEM\\0002", "DriverDate", "7-11-1995");
  EXPECT_EQ(run(CollectPciBus), (Lines{{"PCI Adapter Name: Bridge", 4100},
                                       {"  Driver Name: Old bridge", 4150},
                                       {"  Driver Version: 4.00.950", 4160},
                                       {"  Driver Date: 7-11-1995", 4170}}));
}

TEST_F(Buses, DriverRowsWithoutADescription) {
  const std::string key = kEnum + "PCI\\Dev\\1";
  set(key, "DeviceDesc", "Bridge");
  set(key, "Driver", "{x}\\0000");
  set(kOldClass + "{x}\\0000", "Provider", "Vendor");
  EXPECT_EQ(run(CollectPciBus), (Lines{{"PCI Adapter Name: Bridge", 4100}, {"  Driver Provider: Vendor", 4180}}));
}

TEST_F(Buses, DriverNamingNoClassKey) {
  const std::string key = kEnum + "PCI\\Dev\\1";
  set(key, "DeviceDesc", "Bridge");
  set(key, "Driver", "{nowhere}\\0009");
  EXPECT_EQ(run(CollectPciBus), (Lines{{"PCI Adapter Name: Bridge", 4100}}));
}

TEST_F(Buses, HardwareIdPieces) {
  const std::string key = kEnum + "PCI\\Dev\\1";
  set(key, "DeviceDesc", "Bridge");
  multi(key, "HardwareID", {"PCI\\VEN_8086&DEV_7190", "", "PCI\\VEN_8086", " spaced "});
  EXPECT_EQ(run(CollectPciBus), (Lines{{"PCI Adapter Name: Bridge", 4100},
                                       {"  Hardware ID: PCI\\VEN_8086&DEV_7190", 4130},
                                       {"  Hardware ID: PCI\\VEN_8086", 4130},
                                       {"  Hardware ID:  spaced ", 4130}}));
  // A plain text value is one identifier.
  control.list().clear();
  set(key, "HardwareID", "PCI\\ONE");
  EXPECT_EQ(run(CollectPciBus).back(), (std::pair<std::string, int32_t>{"  Hardware ID: PCI\\ONE", 4130}));
}

TEST_F(Buses, DriveLettersEveryCharacterAnItem) {
  const struct {
    const char* stored;
    const char* shown;  // nullptr: no row
  } rows[] = {{"C D", "C,  , D"}, {"CDE", "C, D, E"}, {" E ", "E"}, {"   ", nullptr}, {"Ä:", "Ä, :"}};
  for (const auto& r : rows) {
    control.list().clear();
    const std::string key = kEnum + "SCSI\\Disk\\1";
    set(key, "DeviceDesc", "Disk");
    set(key, "CurrentDriveLetterAssignment", r.stored);
    const Lines got = run(CollectScsiBus);
    Lines want{{"SCSI Device Name: Disk", 4300}};
    if (r.shown) want.push_back({std::string("  Drive Letters: ") + r.shown, 4325});
    EXPECT_EQ(got, want) << r.stored;
  }
}

TEST_F(Buses, UsbAcrossItsThreeEnumerators) {
  set(kEnum + "USBIMGM3\\Cam\\1", "DeviceDesc", "Camera");
  set(kEnum + "USB\\ROOT_HUB\\1", "DeviceDesc", "Root Hub");
  set(kEnum + "USB\\ROOT_HUB\\1", "Driver", "{usb}\\0000");
  set(kClass + "{usb}\\0000", "DriverDesc", "Hub driver");
  set(kEnum + "USBSAMP\\Sample\\1", "DeviceDesc", "Sample");
  EXPECT_EQ(run(CollectUsbBus), (Lines{{"USB Device Name: Root Hub", 4500},
                                       {"  Driver Name: Hub driver", 4150},
                                       {"", 0},
                                       {"USB Device Name: Sample", 4500},
                                       {"", 0},
                                       {"USB Device Name: Camera", 4500}}));
}

TEST_F(Buses, UsbOnlyInTheLastEnumerator) {
  set(kEnum + "USB\\Dev\\1", "HardwareID", "no description");
  set(kEnum + "USBIMGM3\\Cam\\1", "DeviceDesc", "Camera");
  EXPECT_EQ(run(CollectUsbBus), (Lines{{"USB Device Name: Camera", 4500}}));
}

TEST_F(Buses, OlderEnumerationTreeWhenTheFirstHasNoDevices) {
  p.addKey(kEnum + "PCI");  // present, but empty
  set("Enum\\PCI\\VEN_1\\1", "DeviceDesc", "Old adapter");
  EXPECT_EQ(run(CollectPciBus), (Lines{{"PCI Adapter Name: Old adapter", 4100}}));
  // Devices under the first tree hide the older one.
  control.list().clear();
  set(kEnum + "PCI\\VEN_2\\1", "DeviceDesc", "New adapter");
  EXPECT_EQ(run(CollectPciBus), (Lines{{"PCI Adapter Name: New adapter", 4100}}));
}

TEST_F(Buses, AppendsAfterWhatTheListHolds) {
  control.list().append("before");
  set(kEnum + "V1394\\Dev\\1", "DeviceDesc", " Controller ");
  EXPECT_EQ(run(CollectFireWireBus),
            (Lines{{"before", 0}, {"IEEE 1394/FireWire Device Name: Controller", 4600}}));
  EXPECT_EQ(p.yields, 0);
  EXPECT_EQ(p.openKeys(), 0);
}

}  // namespace
}  // namespace tallowin
