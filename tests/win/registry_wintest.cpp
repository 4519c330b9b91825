// One table of keys and values, hostile ones among them, in both registry
// views, and what the Programs and bus sections and the registry helpers read.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>
#include <memory>

#include "platform/registry.h"
#include "win/support/win_support.h"
#include "win32/win_platform.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kEnum = L"SYSTEM\\CurrentControlSet\\Enum\\";
const std::wstring kTestClass = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{7a11081d-0000-4000-8000-7a110817e575}";

struct Value {
  REGSAM view;
  std::wstring key;  // under HKLM
  std::wstring name;
  DWORD type;
  std::string bytes;
};

std::string sz(const std::wstring& text, bool nul = true) {
  return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + (nul ? 1 : 0)) * sizeof(wchar_t));
}
std::string dword(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), sizeof(v)); }

const std::wstring kHuge = L"TallowinHuge" + std::wstring(512 * 1024 - 13, L'x');  // 1 MB with its NUL
const std::wstring kLongKey = L"TallowinLong" + std::wstring(255 - 12, L'n');

std::vector<Value> tree() {
  const std::wstring cardA = kEnum + L"PCMCIA\\TALLOWIN_CARD_A\\1", cardB = kEnum + L"PCMCIA\\TALLOWIN_CARD_B\\1";
  return {
      {KEY_WOW64_64KEY, kUninstall + L"TallowinTest-Markup", L"DisplayName", REG_SZ,
       sz(L"Tallowin Test Fish & Chips <Deluxe> Edition")},
      {KEY_WOW64_32KEY, kUninstall + L"TallowinTest-Letters", L"DisplayName", REG_SZ,
       sz(L"Tallowin Test \u00C4rger \u00D6ffnen \u00C7edille \u03A9mega \u65E5\u672C")},
      {KEY_WOW64_64KEY, kUninstall + L"TallowinTest-Quiet", L"QuietDisplayName", REG_SZ, sz(L"Tallowin Test Quiet Only")},
      {KEY_WOW64_32KEY, kUninstall + L"TallowinTest-{0D1C2B3A-4F5E-6D7C-8B9A-0F1E2D3C4B5A}", L"EstimatedSize",
       REG_DWORD, dword(1)},
      {KEY_WOW64_64KEY, kUninstall + L"TallowinTest-Both", L"DisplayName", REG_SZ, sz(L"Tallowin Test Both (64-bit)")},
      {KEY_WOW64_32KEY, kUninstall + L"TallowinTest-Both", L"DisplayName", REG_SZ, sz(L"  Tallowin Test Both (32-bit)")},
      {KEY_WOW64_32KEY, kUninstall + L"TallowinTest-Both", L"QuietDisplayName", REG_SZ, sz(L"Not This One")},
      {KEY_WOW64_64KEY, kUninstall + L"TallowinTest-Odd", L"DisplayName", REG_SZ, std::string("O\0d\0d\0!", 7)},
      {KEY_WOW64_64KEY, kUninstall + L"TallowinTest-NoNul", L"DisplayName", REG_SZ, sz(L"NoNul", false)},
      {KEY_WOW64_64KEY, kUninstall + L"TallowinTest-Huge", L"DisplayName", REG_SZ, sz(kHuge)},
      {KEY_WOW64_64KEY, kUninstall + kLongKey, L"EstimatedSize", REG_DWORD, dword(1)},
      {KEY_WOW64_64KEY, kUninstall + L"TallowinTest-Binary", L"DisplayName", REG_BINARY, std::string("\xFF\xFE\x00\x01\x02", 5)},
      {KEY_WOW64_64KEY, cardA, L"DeviceDesc", REG_SZ, sz(L"Tallowin Test Card A")},
      {KEY_WOW64_64KEY, cardA, L"Mfg", REG_SZ, sz(L"  Tallowin  ")},
      {KEY_WOW64_64KEY, cardA, L"CurrentDriveLetterAssignment", REG_SZ, sz(L"EF")},
      {KEY_WOW64_64KEY, cardA, L"HardwareID", REG_MULTI_SZ, sz(std::wstring(L"PCMCIA\\TALLOWIN-A\0PCMCIA\\TALLOWIN\0", 34))},
      {KEY_WOW64_64KEY, cardA, L"Driver", REG_SZ, sz(kTestClass.substr(kTestClass.rfind(L'\\') + 1) + L"\\0000")},
      {KEY_WOW64_64KEY, kTestClass + L"\\0000", L"DriverDesc", REG_SZ, sz(L"Tallowin Test Driver")},
      {KEY_WOW64_64KEY, kTestClass + L"\\0000", L"DriverVersion", REG_SZ, sz(L"1.0.0.1")},
      {KEY_WOW64_64KEY, kTestClass + L"\\0000", L"ProviderName", REG_SZ, sz(L"not read")},
      {KEY_WOW64_64KEY, kTestClass + L"\\0000", L"Provider", REG_SZ, sz(L"Tallowin Test")},
      {KEY_WOW64_64KEY, cardB, L"DeviceDesc", REG_SZ, sz(L" Tallowin Test Card B ")},
      {KEY_WOW64_64KEY, cardB, L"RevisionLevel", REG_DWORD, dword(7)},
      {KEY_WOW64_64KEY, cardB, L"HardwareID", REG_MULTI_SZ, sz(std::wstring(L"ID1\0ID2", 7), false)},
      {KEY_WOW64_64KEY, cardB, L"Driver", REG_SZ, sz(L"{7a11081d-0000-4000-8000-7a110817e575}\\0009")},
      {KEY_WOW64_64KEY, kEnum + L"PCMCIA\\TALLOWIN_CARD_C\\1", L"Mfg", REG_SZ, sz(L"no description: no block")},
      {KEY_WOW64_64KEY, kEnum + L"V1394\\TALLOWIN_NODESC\\1", L"HardwareID", REG_SZ, sz(L"1394\\TALLOWIN")},
  };
}

bool keyExists(const std::wstring& path) {
  HKEY k = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k) != ERROR_SUCCESS) return false;
  ::RegCloseKey(k);
  return true;
}

// The tree, written; each key removed again with everything below it.
class RegistryTree : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const wchar_t* bus : {L"PCMCIA", L"V1394"})
      if (keyExists(kEnum + bus)) GTEST_SKIP() << "this machine lists devices of its own there";
    for (const Value& v : tree()) {
      const std::wstring root = v.key.rfind(kEnum, 0) == 0        ? v.key.substr(0, v.key.find(L'\\', kEnum.size()))
                                : v.key.rfind(kTestClass, 0) == 0 ? kTestClass
                                                                  : v.key;
      const std::wstring id = root + L"|" + std::to_wstring(v.view);
      auto it = std::find_if(keys_.begin(), keys_.end(), [&](const auto& k) { return k.first == id; });
      if (it == keys_.end()) {
        keys_.emplace_back(id, std::make_unique<RegFixture>(HKEY_LOCAL_MACHINE, root, v.view));
        it = keys_.end() - 1;
      }
      it->second->setBytes(v.key.substr(root.size() + (v.key.size() > root.size() ? 1 : 0)), v.name, v.type,
                           v.bytes.data(), static_cast<DWORD>(v.bytes.size()));
    }
  }
  std::vector<std::pair<std::wstring, std::unique_ptr<RegFixture>>> keys_;
};

std::vector<std::string> show(const wchar_t* tag) {
  const auto r = wintest::RunTallowin(std::wstring(L"show ") + tag + L" --values", 300000);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return wintest::SplitLines(r.out);
}

TEST_F(RegistryTree, ProgramsOfBothViewsAreListedWholeOnceAndSorted) {
  const std::vector<std::string> expected = {
      "Tallowin Test Fish & Chips <Deluxe> Edition",
      wintest::Utf8(L"Tallowin Test \u00C4rger \u00D6ffnen \u00C7edille \u03A9mega \u65E5\u672C"),
      "Tallowin Test Quiet Only", "TallowinTest-{0D1C2B3A-4F5E-6D7C-8B9A-0F1E2D3C4B5A}",
      "Tallowin Test Both (64-bit)", "  Tallowin Test Both (32-bit)",
      "Odd",  // an odd byte count: the last half character dropped
      "NoNul", wintest::Utf8(kHuge), wintest::Utf8(kLongKey),
      "TallowinTest-Binary",  // a name that is not text: the key's name
  };
  std::vector<std::string> names;
  for (const auto& line : show(L"PROGS"))
    if (line != "0\t") names.push_back(line.substr(line.find('\t') + 1));
  for (const auto& name : expected)
    EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name.substr(0, 80);
  for (size_t i = 1; i < names.size(); ++i) {
    const std::wstring a = wintest::Wide(names[i - 1]), b = wintest::Wide(names[i]);
    EXPECT_NE(::CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                                b.c_str(), static_cast<int>(b.size()), nullptr, nullptr, 0),
              CSTR_GREATER_THAN)
        << names[i - 1].substr(0, 80) << " | " << names[i].substr(0, 80);
  }
}

TEST_F(RegistryTree, BusDevicesWithTheirDriversAndNothingElse) {
  EXPECT_EQ(show(L"PCMCIA"), (std::vector<std::string>{
                                 "4700\tPCMCIA Card Name: Tallowin Test Card A",
                                 "4710\t  Manufacturer: Tallowin",
                                 "4725\t  Drive Letters: E, F",
                                 "4730\t  Hardware ID: PCMCIA\\TALLOWIN-A",
                                 "4730\t  Hardware ID: PCMCIA\\TALLOWIN",
                                 "4750\t  Driver Name: Tallowin Test Driver",
                                 "4760\t  Driver Version: 1.0.0.1",
                                 "4780\t  Driver Provider: Tallowin Test",
                                 "0\t",
                                 "4700\tPCMCIA Card Name:  Tallowin Test Card B ",
                                 "4712\t  Revision Level: 7",
                                 "4730\t  Hardware ID: ID1",
                                 "4730\t  Hardware ID: ID2",
                             }));
  EXPECT_EQ(show(L"FIREWIRE"), (std::vector<std::string>{"0\tNo IEEE1394/FireWire Devices Found"}));
}

// GetRegValue over the real registry: strings as stored (not expanded), a
// DWORD signed, a multi-string whole, anything else the default.
TEST(RegistryHelpers, ReadTheRealRegistry) {
  RegFixture fx(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TallowinTest\\Registry");
  fx.setString(L"", L"expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
  fx.setDword(L"", L"minus", 0xFFFFFFFFu);
  const wchar_t multi[] = L"one\0two\0";
  fx.setBytes(L"", L"multi", REG_MULTI_SZ, multi, sizeof(multi));
  fx.setBytes(L"", L"bin", REG_BINARY, "\x01\x02", 2);
  win32::WinPlatform p;
  auto get = [&](const std::string& name, RegValue def) {
    return GetRegValue(p, kHKeyLocalMachine, "SOFTWARE\\TallowinTest\\Registry", name, def, RegView::Bits64);
  };
  const RegValue text = std::string("default");
  EXPECT_EQ(get("expand", text), RegValue(std::string("%SystemRoot%\\x")));
  EXPECT_EQ(get("minus", int32_t{0}), RegValue(int32_t{-1}));
  EXPECT_EQ(get("multi", text), RegValue(std::string("one\0two\0\0", 9)));
  EXPECT_EQ(get("bin", text), text);
  EXPECT_EQ(get("missing", int32_t{3}), RegValue(int32_t{3}));
  EXPECT_TRUE(ApiExists(p, "kernel32.dll", "GetSystemWindowsDirectoryW"));
  EXPECT_FALSE(ApiExists(p, "kernel32.dll", "NoSuchFunctionAnywhere"));
  EXPECT_FALSE(ApiExists(p, "nosuchlibrary.dll", "x"));
}

}  // namespace
}  // namespace tallowin
