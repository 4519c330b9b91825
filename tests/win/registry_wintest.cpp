// The registry helpers against Wine's real registry, on keys the test writes.
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "win/support/win_support.h"
#include "win32/win_platform.h"

namespace tallowin {
namespace {

using wintest::RegFixture;

class RealRegistry : public ::testing::Test {
 protected:
  win32::WinPlatform p;
  RegFixture fx{HKEY_LOCAL_MACHINE, L"SOFTWARE\\TallowinTest\\Registry"};
  const std::string path = "SOFTWARE\\TallowinTest\\Registry";
  RegValue get(const std::string& name, RegValue def = std::string("default")) {
    return GetRegValue(p, kHKeyLocalMachine, path, name, def, RegView::Bits64);
  }
};

TEST_F(RealRegistry, Values) {
  fx.setString(L"", L"sz", L"Grüße");
  const wchar_t noNul[] = {L'a', L'b', L'c'};
  fx.setBytes(L"", L"noNul", REG_SZ, noNul, sizeof(noNul));
  fx.setString(L"", L"expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
  fx.setDword(L"", L"minus", 0xFFFFFFFFu);
  const wchar_t multi[] = L"one\0two\0";
  fx.setBytes(L"", L"multi", REG_MULTI_SZ, multi, sizeof(multi));
  const BYTE bin[] = {1, 2, 3};
  fx.setBytes(L"", L"bin", REG_BINARY, bin, sizeof(bin));

  EXPECT_EQ(get("sz"), RegValue(std::string("Grüße")));
  EXPECT_EQ(get("noNul"), RegValue(std::string("abc")));
  EXPECT_EQ(get("expand"), RegValue(std::string("%SystemRoot%\\x")));  // not expanded
  EXPECT_EQ(get("minus", int32_t{0}), RegValue(int32_t{-1}));
  EXPECT_EQ(get("multi"), RegValue(std::string("one\0two\0\0", 9)));
  EXPECT_EQ(get("bin"), RegValue(std::string("default")));
  EXPECT_EQ(get("missing", int32_t{3}), RegValue(int32_t{3}));
}

TEST_F(RealRegistry, LargeValueReadWhole) {
  std::wstring big(50 * 1024, L'x');  // 100 KB of UTF-16
  big[big.size() - 1] = L'y';
  fx.setString(L"", L"big", big);
  const RegValue v = get("big");
  ASSERT_TRUE(std::holds_alternative<std::string>(v));
  EXPECT_EQ(std::get<std::string>(v).size(), big.size());
  EXPECT_EQ(std::get<std::string>(v).back(), 'y');
}

TEST_F(RealRegistry, SubKeysIncludingLongNames) {
  const std::wstring longName(200, L'k');
  for (const std::wstring& n : {std::wstring(L"alpha"), std::wstring(L"beta"), longName}) fx.createKey(L"subs\\" + n);
  const SubKeyList list = GetRegSubKeys(p, kHKeyLocalMachine, path + "\\subs", RegView::Bits64);
  ASSERT_EQ(list.Count, 3);
  EXPECT_EQ(list.Items[0].Name, "");
  std::vector<std::string> names{list.Items[1].Name, list.Items[2].Name, list.Items[3].Name};
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta", std::string(200, 'k')}));
  EXPECT_EQ(GetRegSubKeys(p, kHKeyLocalMachine, path + "\\none", RegView::Bits64).Count, 0);
}

TEST(RealPlatform, ApiExists) {
  win32::WinPlatform p;
  EXPECT_TRUE(ApiExists(p, "kernel32.dll", "GetSystemWindowsDirectoryW"));
  EXPECT_FALSE(ApiExists(p, "kernel32.dll", "NoSuchFunctionAnywhere"));
  EXPECT_FALSE(ApiExists(p, "nosuchlibrary.dll", "x"));
}

}  // namespace
}  // namespace tallowin
