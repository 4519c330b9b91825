// The bus sections and the complete profile through tallowin.exe, against
// device keys the test writes into Wine's enumeration tree.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>

#include "win/support/win_support.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

const std::wstring kEnum = L"SYSTEM\\CurrentControlSet\\Enum\\";
const std::wstring kClass = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::wstring kTestClass = L"{7a11081d-0000-4000-8000-7a110817e575}";

bool keyExists(const std::wstring& path) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

// An enumerator key that the machine lacks: the test's devices go below it,
// and it goes again, with them, when the test ends.
class TestEnumerator {
 public:
  explicit TestEnumerator(const std::wstring& name) : existed_(keyExists(kEnum + name)) {
    if (!existed_) fixture_ = std::make_unique<RegFixture>(HKEY_LOCAL_MACHINE, kEnum + name);
  }
  bool existed() const { return existed_; }
  RegFixture& fx() { return *fixture_; }

 private:
  bool existed_;
  std::unique_ptr<RegFixture> fixture_;
};

std::vector<std::string> show(const wchar_t* tag) {
  const auto r = wintest::RunTallowin(std::wstring(L"show ") + tag + L" --values");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return wintest::SplitLines(r.out);
}

void multiString(RegFixture& fx, const std::wstring& sub, const std::wstring& name,
                 const std::vector<std::wstring>& parts) {
  std::wstring data;
  for (const auto& p : parts) data += p + L'\0';
  data += L'\0';
  fx.setBytes(sub, name, REG_MULTI_SZ, data.data(), static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

TEST(ShowBuses, MemberWithTwoDevicesAndAnEmptyMember) {
  TestEnumerator pcmcia(L"PCMCIA");
  TestEnumerator firewire(L"V1394");
  if (pcmcia.existed() || firewire.existed()) GTEST_SKIP() << "this machine lists devices of its own there";
  RegFixture classes(HKEY_LOCAL_MACHINE, kClass + kTestClass);

  RegFixture& fx = pcmcia.fx();
  fx.setString(L"TALLOWIN_CARD_A\\1", L"DeviceDesc", L"Tallowin Test Card A");
  fx.setString(L"TALLOWIN_CARD_A\\1", L"Mfg", L"  Tallowin  ");
  fx.setString(L"TALLOWIN_CARD_A\\1", L"CurrentDriveLetterAssignment", L"EF");
  multiString(fx, L"TALLOWIN_CARD_A\\1", L"HardwareID", {L"PCMCIA\\TALLOWIN-A", L"PCMCIA\\TALLOWIN"});
  fx.setString(L"TALLOWIN_CARD_A\\1", L"Driver", kTestClass + L"\\0000");
  classes.setString(L"0000", L"DriverDesc", L"Tallowin Test Driver");
  classes.setString(L"0000", L"DriverVersion", L"1.0.0.1");
  classes.setString(L"0000", L"DriverDate", L"1-2-2003");
  classes.setString(L"0000", L"ProviderName", L"not read");
  classes.setString(L"0000", L"Provider", L"Tallowin Test");
  fx.setString(L"TALLOWIN_CARD_B\\1", L"DeviceDesc", L" Tallowin Test Card B ");
  fx.setString(L"TALLOWIN_CARD_B\\1", L"FriendlyName", L"Card B");
  fx.setDword(L"TALLOWIN_CARD_B\\1", L"RevisionLevel", 7);
  fx.setString(L"TALLOWIN_CARD_B\\1", L"Driver", kTestClass + L"\\0009");  // no such class key
  fx.createKey(L"TALLOWIN_CARD_C\\1");  // no description: no block
  firewire.fx().setString(L"TALLOWIN_NODESC\\1", L"HardwareID", L"1394\\TALLOWIN");

  EXPECT_EQ(show(L"PCMCIA"), (std::vector<std::string>{
                                 "4700\tPCMCIA Card Name: Tallowin Test Card A",
                                 "4710\t  Manufacturer: Tallowin",
                                 "4725\t  Drive Letters: E, F",
                                 "4730\t  Hardware ID: PCMCIA\\TALLOWIN-A",
                                 "4730\t  Hardware ID: PCMCIA\\TALLOWIN",
                                 "4750\t  Driver Name: Tallowin Test Driver",
                                 "4760\t  Driver Version: 1.0.0.1",
                                 "4770\t  Driver Date: 1-2-2003",
                                 "4780\t  Driver Provider: Tallowin Test",
                                 "0\t",
                                 "4700\tPCMCIA Card Name:  Tallowin Test Card B ",
                                 "4705\t  Friendly Name: Card B",
                                 "4712\t  Revision Level: 7",
                             }));
  EXPECT_EQ(show(L"FIREWIRE"), (std::vector<std::string>{"0\tNo IEEE1394/FireWire Devices Found"}));
}

TEST(ShowBuses, FixturesAreGoneAfterwards) {
  // Runs after the test above (same suite order): nothing of its keys stays.
  EXPECT_FALSE(keyExists(kEnum + L"PCMCIA\\TALLOWIN_CARD_A"));
  EXPECT_FALSE(keyExists(kEnum + L"V1394\\TALLOWIN_NODESC"));
  EXPECT_FALSE(keyExists(kClass + kTestClass));
}

TEST(ShowBuses, UsbAcrossItsEnumerators) {
  TestEnumerator usb(L"USB");
  TestEnumerator cameras(L"USBIMGM3");
  if (usb.existed() || cameras.existed()) GTEST_SKIP() << "this machine lists USB devices of its own";
  usb.fx().setString(L"VID_7A11&PID_0001\\1", L"DeviceDesc", L"Tallowin Test Hub");
  cameras.fx().setString(L"TALLOWIN_CAM\\1", L"DeviceDesc", L"Tallowin Test Camera");
  EXPECT_EQ(show(L"usb"), (std::vector<std::string>{"4500\tUSB Device Name: Tallowin Test Hub", "0\t",
                                                    "4500\tUSB Device Name: Tallowin Test Camera"}));
}

// Every PCI instance with a description in the registry, read by the test itself.
std::vector<std::string> pciDescriptions() {
  std::vector<std::string> out;
  HKEY bus = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kEnum + L"PCI").c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &bus) != ERROR_SUCCESS)
    return out;
  wchar_t device[256];
  DWORD n = 256;
  for (DWORD d = 0; ::RegEnumKeyExW(bus, d, device, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++d, n = 256) {
    HKEY dev = nullptr;
    if (::RegOpenKeyExW(bus, device, 0, KEY_READ | KEY_WOW64_64KEY, &dev) != ERROR_SUCCESS) continue;
    wchar_t instance[256];
    DWORD m = 256;
    for (DWORD i = 0; ::RegEnumKeyExW(dev, i, instance, &m, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i, m = 256) {
      wchar_t desc[512] = {};
      DWORD bytes = sizeof(desc) - sizeof(wchar_t);
      if (::RegGetValueW(dev, instance, L"DeviceDesc", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, desc,
                         &bytes) == ERROR_SUCCESS &&
          desc[0])
        out.push_back(wintest::Utf8(desc));
    }
    ::RegCloseKey(dev);
  }
  ::RegCloseKey(bus);
  return out;
}

TEST(ShowBuses, PciAgreesWithTheRegistry) {
  const auto descriptions = pciDescriptions();
  const auto lines = show(L"PCI");
  std::vector<std::string> names;
  for (const auto& l : lines)
    if (l.rfind("4100\tPCI Adapter Name: ", 0) == 0) names.push_back(l.substr(23));
  if (descriptions.empty()) {
    EXPECT_EQ(lines, (std::vector<std::string>{"0\tNo PCI Adapters Found"}));
  } else {
    EXPECT_EQ(names, descriptions);
    EXPECT_EQ(lines.front().rfind("4100\t", 0), 0u);
  }
}

TEST(ShowComplete, SectionsInOrderWithOneEmptyLineBetween) {
  const auto r = wintest::RunTallowin(L"show --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("10\tOperating System Name: ", 0), 0u);

  // The sections whose lines this build writes, by their item values, in order.
  struct Mark {
    const char* what;
    const char* line;
  };
  const Mark marks[] = {{"OS", "270\tBoot Type: "},
                        {"SCSI", "0\tNo SCSI Devices Found"},
                        {"USB", "0\tNo USB Devices Found"},
                        {"FireWire", "0\tNo IEEE1394/FireWire Devices Found"},
                        {"PCMCIA", "0\tNo PCMCIA Cards Found"},
                        {"LOCALE", "6500\tLocale ID: "},
                        {"LOCALE", "6920\tStandard Paper Size: "},
                        {"TIME", "7010\tCurrently On: "},
                        {"TIME", "7095\tRTC Adjustment: "}};
  size_t at = 0;
  for (const Mark& m : marks) {
    auto it = std::find_if(lines.begin() + static_cast<long>(at), lines.end(),
                           [&](const std::string& l) { return l.rfind(m.line, 0) == 0; });
    ASSERT_NE(it, lines.end()) << m.what << ": " << m.line;
    at = static_cast<size_t>(it - lines.begin());
  }
  // Each none-found line is a section of its own: one empty line before and after.
  for (const char* none : {"0\tNo SCSI Devices Found", "0\tNo USB Devices Found",
                           "0\tNo IEEE1394/FireWire Devices Found", "0\tNo PCMCIA Cards Found"}) {
    auto it = std::find(lines.begin(), lines.end(), none);
    ASSERT_NE(it, lines.end());
    EXPECT_EQ(*(it - 1), "0\t") << none;
    EXPECT_NE(*(it - 2), "0\t") << none;
    EXPECT_EQ(*(it + 1), "0\t") << none;
  }
  // Locale, then time, with one separator between.
  auto paper = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("6920\t", 0) == 0; });
  ASSERT_NE(paper, lines.end());
  EXPECT_EQ(*(paper + 1), "0\t");
  EXPECT_EQ((paper + 2)->rfind("7010\tCurrently On: ", 0), 0u);
}

}  // namespace
}  // namespace tallowin
