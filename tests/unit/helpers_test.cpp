#include <gtest/gtest.h>

#include "platform/global.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/fake_platform.h"

namespace tallowin {
namespace {

using test::FakePlatform;

TEST(TrimNull, CutsAtFirstNul) {
  EXPECT_EQ(TrimNull("abc"), "abc");
  EXPECT_EQ(TrimNull(std::string("\0abc", 4)), "");
  EXPECT_EQ(TrimNull(std::string("ab\0c\0", 5)), "ab");
  EXPECT_EQ(TrimNull(""), "");
}

TEST(FormatBytes, UnitsAndBoundaries) {
  FakePlatform p;
  const struct { uint64_t n; const char* text; } cases[] = {
      {0, "0 bytes"},
      {1024, "1,024 bytes"},
      {1025, "1,025 bytes (1.00 KB)"},
      {1536, "1,536 bytes (1.50 KB)"},
      {4096, "4,096 bytes (4.00 KB)"},
      {65536, "65,536 bytes (64.00 KB)"},
      {1048576, "1,048,576 bytes (1,024.00 KB)"},
      {1048577, "1,048,577 bytes (1.00 MB)"},
      {1073741824, "1,073,741,824 bytes (1,024.00 MB)"},
      {4294967295u, "4,294,967,295 bytes (4.00 GB)"},
      {17179869184ull * 4, "68,719,476,736 bytes (64.00 GB)"},
      {1073741824ull + 5368710, "1,079,110,534 bytes (1.01 GB)"},  // just above 1.005 GB
      {UINT64_MAX, "18,446,744,073,709,551,615 bytes (17,179,869,184.00 GB)"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatBytes(p, c.n), c.text) << c.n;
}

TEST(Text, Utf16RoundTripAndReplacement) {
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("Grüße 日本 \xF0\x9F\x98\x80")), "Grüße 日本 \xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a\xFF" "b")), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xE6\x97")), "\xEF\xBF\xBD");  // truncated sequence
}

class RegistryTest : public ::testing::Test {
 protected:
  FakePlatform p;
  const std::string key = "SOFTWARE\\Tallowin\\Test";
  RegValue get(const std::string& name, RegValue def = std::string("default")) {
    return GetRegValue(p, kHKeyLocalMachine, key, name, def);
  }
  void TearDown() override { EXPECT_EQ(p.openKeys(), 0) << "a key was left open"; }
};

TEST_F(RegistryTest, ValueTypes) {
  p.setString(key, "sz", "hello");
  p.setValue(key, "noNul", kRegSz, FakePlatform::Utf16Bytes("abc", false));
  p.setValue(key, "padded", kRegSz, FakePlatform::Utf16Bytes(std::string("ab\0  ", 5), false));
  p.setValue(key, "odd", kRegSz, {'a', 0, 'b'});
  p.setString(key, "expand", "%SystemRoot%\\x", RegView::Native, kRegExpandSz);
  p.setDword(key, "minus", 0xFFFFFFFFu);
  p.setValue(key, "multi", kRegMultiSz, FakePlatform::Utf16Bytes(std::string("a\0b\0", 4)));
  p.setValue(key, "bin", kRegBinary, {1, 2, 3});
  p.setValue(key, "big", kRegDwordBigEndian, {0, 0, 0, 1});

  EXPECT_EQ(get("sz"), RegValue(std::string("hello")));
  EXPECT_EQ(get("SZ"), RegValue(std::string("hello")));  // names ignore case
  EXPECT_EQ(get("noNul"), RegValue(std::string("abc")));
  EXPECT_EQ(get("padded"), RegValue(std::string("ab")));
  EXPECT_EQ(get("odd"), RegValue(std::string("a")));
  EXPECT_EQ(get("expand"), RegValue(std::string("%SystemRoot%\\x")));
  EXPECT_EQ(get("minus"), RegValue(int32_t{-1}));
  EXPECT_EQ(get("multi"), RegValue(std::string("a\0b\0\0", 5)));
  EXPECT_EQ(get("bin"), RegValue(std::string("default")));
  EXPECT_EQ(get("big", int32_t{7}), RegValue(int32_t{7}));
  EXPECT_EQ(get("missing", int32_t{0}), RegValue(int32_t{0}));
  EXPECT_EQ(GetRegValue(p, kHKeyLocalMachine, "SOFTWARE\\Nowhere", "x", std::string("d")),
            RegValue(std::string("d")));
}

TEST_F(RegistryTest, DwordOfWrongSize) {
  p.setValue(key, "short", kRegDword, {5, 0});
  p.setValue(key, "long", kRegDword, {1, 0, 0, 0, 9, 9, 9, 9});
  EXPECT_EQ(get("short"), RegValue(int32_t{5}));
  EXPECT_EQ(get("long"), RegValue(std::string("default")));
}

TEST_F(RegistryTest, ViewsAreSeparateOn64BitWindows) {
  p.setString(key, "v", "64", RegView::Bits64);
  p.setString(key, "v", "32", RegView::Bits32);
  EXPECT_EQ(GetRegValue(p, kHKeyLocalMachine, key, "v", std::string(), RegView::Bits64), RegValue(std::string("64")));
  EXPECT_EQ(GetRegValue(p, kHKeyLocalMachine, key, "v", std::string(), RegView::Bits32), RegValue(std::string("32")));
}

TEST_F(RegistryTest, SubKeys) {
  EXPECT_EQ(GetRegSubKeys(p, kHKeyLocalMachine, "SOFTWARE\\Missing").Count, 0);
  p.addKey(key);
  const SubKeyList none = GetRegSubKeys(p, kHKeyLocalMachine, key);
  EXPECT_EQ(none.Count, 0);
  EXPECT_TRUE(none.Items.empty());

  const std::string longName(255, 'n');
  for (const std::string& n : {std::string("one"), std::string("two"), longName}) p.addKey(key + "\\" + n);
  const SubKeyList list = GetRegSubKeys(p, kHKeyLocalMachine, key);
  ASSERT_EQ(list.Count, 3);
  ASSERT_EQ(list.Items.size(), 4u);
  EXPECT_EQ(list.Items[0].Name, "");
  EXPECT_EQ(list.Items[1].Name, "one");
  EXPECT_EQ(list.Items[2].Name, "two");
  EXPECT_EQ(list.Items[3].Name, longName);  // long names are kept, not emptied
  EXPECT_EQ(list.Items[3].ListName, "");
}

TEST(IsPresent, OrdinalAgainstBlank) {
  EXPECT_FALSE(IsPresent(""));
  EXPECT_FALSE(IsPresent(" "));
  EXPECT_FALSE(IsPresent("\tx"));
  EXPECT_TRUE(IsPresent("  x"));  // two blanks sort after one
  EXPECT_TRUE(IsPresent("A"));
  EXPECT_TRUE(IsPresent("\xC3\xA9"));
}

}  // namespace
}  // namespace tallowin
