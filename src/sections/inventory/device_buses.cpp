// The device bus sections: PCI, SCSI, USB, FireWire and PCMCIA. One listing
// procedure walks the registry's device enumeration tree for a member's
// enumerators; the member table holds everything in which the five differ.
#include <initializer_list>
#include <string>

#include "platform/global.h"
#include "platform/registry.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

// Item values of a member's rows; 0 where the member has no such row.
struct RowValues {
  int32_t name, product, friendly, manufacturer, revision, location;
  int32_t scsiId, scsiLun, driveLetters;
  int32_t hardwareId, driverName, driverVersion, driverDate, driverProvider;
};

struct BusMember {
  std::initializer_list<const char*> enumerators;
  const char* nameLabel;
  bool trimDescription;
  const char* noneFound;
  RowValues values;
};

// USB's driver rows share PCI's values.
constexpr BusMember kPci{{"PCI"}, "PCI Adapter Name: ", false, "No PCI Adapters Found",
                     {4100, 4103, 4105, 4110, 4112, 4120, 0, 0, 0, 4130, 4150, 4160, 4170, 4180}};
constexpr BusMember kScsi{{"SCSI"}, "SCSI Device Name: ", true, "No SCSI Devices Found",
                      {4300, 4303, 4305, 4310, 4312, 4320, 4322, 4323, 4325, 4330, 4350, 4360, 4370, 4380}};
constexpr BusMember kUsb{{"USB", "USBSAMP", "USBIMGM3"}, "USB Device Name: ", false, "No USB Devices Found",
                     {4500, 4503, 4505, 4510, 4512, 4520, 0, 0, 4525, 4530, 4150, 4160, 4170, 4180}};
constexpr BusMember kFireWire{{"V1394"}, "IEEE 1394/FireWire Device Name: ", true, "No IEEE1394/FireWire Devices Found",
                          {4600, 4603, 4605, 4610, 4612, 4620, 0, 0, 4625, 4630, 4650, 4660, 4670, 4680}};
constexpr BusMember kPcmcia{{"PCMCIA"}, "PCMCIA Card Name: ", false, "No PCMCIA Cards Found",
                        {4700, 4703, 4705, 4710, 4712, 4720, 0, 0, 4725, 4730, 4750, 4760, 4770, 4780}};

const char kEnumBase[] = "SYSTEM\\CurrentControlSet\\Enum\\";
const char kOldEnumBase[] = "Enum\\";  // the older Windows family
const char kClassBase[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const char kOldClassBase[] = "SYSTEM\\CurrentControlSet\\Services\\Class\\";

std::string readText(Platform& p, const std::string& key, const char* name) {
  return RegValueText(GetRegValue(p, kHKeyLocalMachine, key, name, std::string()));
}

// "CDE" gives "C, D, E". Characters, not bytes: a letter outside ASCII stays whole.
std::string driveLettersText(const std::string& letters) {
  std::string out;
  for (size_t i = 0; i < letters.size(); ++i) {
    const auto byte = static_cast<unsigned char>(letters[i]);
    if (i > 0 && (byte & 0xC0) != 0x80) out += ", ";
    out += letters[i];
  }
  return out;
}

class BusListing {
 public:
  BusListing(SectionContext& ctx, const BusMember& member)
      : p_(ctx.platform()), list_(ctx.list()), m_(member), v_(member.values) {}

  void listEnumerator(const std::string& enumerator, bool& nothingListed) {
    std::string bus = kEnumBase + enumerator;
    SubKeyList devices = GetRegSubKeys(p_, kHKeyLocalMachine, bus);
    if (devices.Count <= 0) {
      bus = kOldEnumBase + enumerator;
      devices = GetRegSubKeys(p_, kHKeyLocalMachine, bus);
      if (devices.Count <= 0) return;
    }
    for (int32_t d = 1; d <= devices.Count; ++d) {
      // A name that could not be enumerated would make the path name the bus key itself.
      if (devices.Items[d].Name.empty()) continue;
      const std::string device = bus + "\\" + devices.Items[d].Name;
      const SubKeyList instances = GetRegSubKeys(p_, kHKeyLocalMachine, device);
      for (int32_t i = 1; i <= instances.Count; ++i) {
        if (instances.Items[i].Name.empty()) continue;
        listInstance(device + "\\" + instances.Items[i].Name, nothingListed);
      }
    }
  }

 private:
  void row(const char* label, const std::string& value, int32_t itemValue) {
    if (!value.empty()) list_.append(label + value, itemValue);
  }

  void listInstance(const std::string& key, bool& nothingListed) {
    std::string description = readText(p_, key, "DeviceDesc");
    if (m_.trimDescription) description = Trim(description);
    if (description.empty()) return;
    if (nothingListed)
      nothingListed = false;
    else
      list_.append("");
    list_.append(m_.nameLabel + description, v_.name);

    row("  Product ID: ", Trim(readText(p_, key, "ProductId")), v_.product);
    row("  Friendly Name: ", readText(p_, key, "FriendlyName"), v_.friendly);
    std::string manufacturer = Trim(readText(p_, key, "Mfg"));
    if (manufacturer.empty()) manufacturer = Trim(readText(p_, key, "Manufacturer"));
    row("  Manufacturer: ", manufacturer, v_.manufacturer);
    row("  Revision Level: ", Trim(readText(p_, key, "RevisionLevel")), v_.revision);
    row("  Location Information: ", Trim(readText(p_, key, "LocationInformation")), v_.location);
    if (v_.scsiId != 0) {
      row("  SCSI ID: ", Trim(readText(p_, key, "SCSITargetID")), v_.scsiId);
      row("  SCSI LUN: ", Trim(readText(p_, key, "SCSILUN")), v_.scsiLun);
    }
    if (v_.driveLetters != 0)
      row("  Drive Letters: ", driveLettersText(Trim(readText(p_, key, "CurrentDriveLetterAssignment"))),
          v_.driveLetters);

    // A multi-string comes with its NUL separators: one line per identifier.
    const std::string ids = readText(p_, key, "HardwareID");
    for (size_t start = 0; start <= ids.size();) {
      size_t end = ids.find('\0', start);
      if (end == std::string::npos) end = ids.size();
      row("  Hardware ID: ", ids.substr(start, end - start), v_.hardwareId);
      start = end + 1;
    }

    const std::string driver = readText(p_, key, "Driver");
    if (driver.empty()) return;
    std::string classKey = kClassBase + driver;
    std::string driverName = readText(p_, classKey, "DriverDesc");
    if (driverName.empty()) {
      classKey = kOldClassBase + driver;
      driverName = readText(p_, classKey, "DriverDesc");
    }
    row("  Driver Name: ", driverName, v_.driverName);
    std::string version = readText(p_, classKey, "DriverVersion");
    if (version.empty()) version = readText(p_, classKey, "Ver");
    row("  Driver Version: ", version, v_.driverVersion);
    row("  Driver Date: ", readText(p_, classKey, "DriverDate"), v_.driverDate);
    row("  Driver Provider: ", readText(p_, classKey, "Provider"), v_.driverProvider);
  }

  Platform& p_;
  ReportList& list_;
  const BusMember& m_;
  const RowValues& v_;
};

void collectBus(SectionContext& ctx, const BusMember& member) {
  bool nothingListed = true;  // shared by all of the member's enumerators
  BusListing listing(ctx, member);
  for (const char* enumerator : member.enumerators) listing.listEnumerator(enumerator, nothingListed);
  if (nothingListed) ctx.list().append(member.noneFound);
}

}  // namespace

void CollectPciBus(SectionContext& ctx) { collectBus(ctx, kPci); }
void CollectScsiBus(SectionContext& ctx) { collectBus(ctx, kScsi); }
void CollectUsbBus(SectionContext& ctx) { collectBus(ctx, kUsb); }
void CollectFireWireBus(SectionContext& ctx) { collectBus(ctx, kFireWire); }
void CollectPcmciaBus(SectionContext& ctx) { collectBus(ctx, kPcmcia); }

}  // namespace tallowin
