// Where tallowin.exe upload takes its server from, under Wine against the
// reference inventory service: the environment, the Group Policy value and
// the installed value (in either registry view), in that order, and it says
// which it used.
#include <gtest/gtest.h>

#include <memory>

#include "win/support/win_support.h"
#include "win/support/service_api.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

// Refused by the parser (port 0): chosen by mistake, nothing would be sent.
constexpr wchar_t kWrong[] = L"wrong.invalid:0";

TEST(ServerSetting, TheFirstPlaceWithASettingIsUsedAndNamed) {
  const std::string peer = wintest::TestService("PEER");
  if (peer.empty()) GTEST_SKIP() << "TALLOWIN_TEST_PEER not set";
  const std::wstring good = wintest::Wide(peer);
  const std::wstring longText = std::wstring(5000, L'a') + L".example:80";
  struct Case {
    const char* name;
    const wchar_t* environment;  // nullptr: unset
    const wchar_t* policy64;
    const wchar_t* policy32;
    const wchar_t* installed64;
    const wchar_t* installed32;
    bool accepted;
    const char* said;  // a part of the line
  };
  const Case cases[] = {
      {"environment first", good.c_str(), kWrong, nullptr, kWrong, nullptr, true,
       "(server setting from TALLOWIN_INVENTORY_SERVER)"},
      {"policy before installed", nullptr, good.c_str(), nullptr, kWrong, kWrong, true,
       "(server setting from HKLM\\SOFTWARE\\Policies\\Tallowin\\InventoryServer)"},
      {"installed by the x64 package", nullptr, nullptr, nullptr, good.c_str(), kWrong, true,
       "(server setting from HKLM\\SOFTWARE\\Tallowin\\InventoryServer)"},
      {"installed by the x86 package (32-bit view)", nullptr, nullptr, nullptr, nullptr, good.c_str(), true,
       "(server setting from HKLM\\SOFTWARE\\Tallowin\\InventoryServer (32-bit view))"},
      {"an environment value longer than any buffer is set and malformed", longText.c_str(), nullptr, nullptr,
       good.c_str(), nullptr, false, "not sent: the inventory server setting in TALLOWIN_INVENTORY_SERVER is not"},
      {"nothing anywhere", nullptr, nullptr, nullptr, nullptr, nullptr, false, "not sent: no inventory server set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<RegFixture>> keys;
    auto put = [&](const wchar_t* path, REGSAM view, const wchar_t* value) {
      if (!value) return;
      keys.push_back(std::make_unique<RegFixture>(HKEY_LOCAL_MACHINE, path, view));
      keys.back()->setString(L"", L"InventoryServer", value);
    };
    put(L"SOFTWARE\\Policies\\Tallowin", KEY_WOW64_64KEY, c.policy64);
    put(L"SOFTWARE\\Policies\\Tallowin", KEY_WOW64_32KEY, c.policy32);
    put(L"SOFTWARE\\Tallowin", KEY_WOW64_64KEY, c.installed64);
    put(L"SOFTWARE\\Tallowin", KEY_WOW64_32KEY, c.installed32);
    ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", c.environment);
    const int before = wintest::LastStoredRecord(peer).count;
    const auto r = wintest::RunTallowin(L"upload");
    ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
    EXPECT_EQ(r.exitCode, c.accepted ? 0 : 1) << r.out << r.err;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;
    EXPECT_EQ(wintest::LastStoredRecord(peer).count, before + (c.accepted ? 1 : 0));
  }
}

}  // namespace
}  // namespace tallowin
