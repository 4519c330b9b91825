// The shared helpers: text, exact decimals, byte counts, the registry reads
// and the form's access keys.
#include <gtest/gtest.h>

#include "control/form.h"
#include "platform/decimal.h"
#include "platform/global.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/fake_platform.h"

namespace tallowin {
namespace {

using test::FakePlatform;
constexpr uint64_t kTop = ~uint64_t{0};

TEST(Text, WholeNumbers) {
  const struct { const char* text; NumberReading status; int32_t value; } rows[] = {
      {" 2400 ", NumberReading::kWhole, 2400}, {"-5", NumberReading::kWhole, -5}, {"+7", NumberReading::kWhole, 7},
      {"2147483647", NumberReading::kWhole, INT32_MAX}, {"-2147483648", NumberReading::kWhole, INT32_MIN},
      {"2147483648", NumberReading::kOutOfRange, 0}, {"-2147483649", NumberReading::kOutOfRange, 0},
      {"99999999999999999999", NumberReading::kOutOfRange, 0},
      {"99999999999999999999x", NumberReading::kNotANumber, 0},  // judged by all of it
      {"", NumberReading::kNotANumber, 0}, {"-", NumberReading::kNotANumber, 0},
      {"7 33", NumberReading::kNotANumber, 0}, {"\t5", NumberReading::kNotANumber, 0},
  };
  for (const auto& r : rows) {
    int32_t value = 0;
    EXPECT_EQ(ReadWholeNumber(r.text, &value), r.status) << r.text;
    if (r.status == NumberReading::kWhole) {
      EXPECT_EQ(value, r.value) << r.text;
    }
  }
}

TEST(Text, TrimHexAndUtf8) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\t a \r\n", kXmlWhitespace), "a");
  EXPECT_EQ(HexText(0xA, 2), "0A");
  EXPECT_EQ(HexText(kTop), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
  const struct { const char* bytes; long code; size_t length; } rows[] = {
      {"\xC3\xA9", 0xE9, 2}, {"\xF0\x9F\x98\x80", 0x1F600, 4}, {"\xC1\xBF", -1, 1}, {"\xE0\x80\xAF", -1, 3},
      {"\xED\xBF\xBF", -1, 3}, {"\xF4\x90\x80\x80", -1, 4}, {"\xE6\x97", -1, 2}, {"\x80", -1, 1},
  };
  for (const auto& r : rows) {
    size_t length = 0;
    EXPECT_EQ(DecodeUtf8(r.bytes, 0, length), r.code) << r.bytes;
    EXPECT_EQ(length, r.length) << r.bytes;
  }
}

// The quotients and fractions are checked against exact arithmetic by
// fuzz/decimal_fuzz.cpp; here the edges it does not reach and the sums and
// products it does not call.
TEST(Decimal, QuotientsSumsAndProducts) {
  const struct { Wide128 n, d; int decimals; const char* text; } rows[] = {
      {{0, 1005000}, {0, 1000000}, 2, "1.01"},  // half up
      {{0, 999999999}, {0, 100000000}, 2, "10.00"},  // the carry runs into the whole part
      {{kTop, kTop - 1}, {kTop, kTop}, 3, "1.000"},  // ten times a remainder needs more than 128 bits
  };
  for (const auto& r : rows) EXPECT_EQ(DecimalQuotient(r.n, r.d, r.decimals), r.text) << r.text;
  EXPECT_EQ(DecimalText(Add({0, kTop}, {0, kTop})), "36893488147419103230");
  EXPECT_EQ(DecimalText(Add({0, 7}, {0, 0})), "7");
  EXPECT_EQ(DecimalText(Product(kTop, 4294967295u)), "79228162495817593515539431425");
}

TEST(FormatBytes, UnitsAndBoundaries) {
  FakePlatform p;
  const struct { uint64_t n; const char* text; } rows[] = {
      {0, "0 bytes"}, {1024, "1,024 bytes"}, {1025, "1,025 bytes (1.00 KB)"}, {1536, "1,536 bytes (1.50 KB)"},
      {UINT64_MAX, "18,446,744,073,709,551,615 bytes (17,179,869,184.00 GB)"},
  };
  for (const auto& r : rows) EXPECT_EQ(FormatBytes(p, r.n), r.text) << r.n;
}

TEST(Registry, ValuesOfEveryTypeAndSubKeys) {
  FakePlatform p;
  const std::string key = "SOFTWARE\\Tallowin\\Test";
  auto get = [&](const std::string& name, RegValue def = std::string("default")) {
    return GetRegValue(p, kHKeyLocalMachine, key, name, def);
  };
  p.setString(key, "sz", "hello");
  p.setValue(key, "noNul", kRegSz, FakePlatform::Utf16Bytes("abc", false));
  p.setValue(key, "padded", kRegSz, FakePlatform::Utf16Bytes(std::string("ab\0  ", 5), false));
  p.setValue(key, "odd", kRegSz, {'a', 0, 'b'});
  p.setDword(key, "minus", 0xFFFFFFFFu);
  p.setValue(key, "multi", kRegMultiSz, FakePlatform::Utf16Bytes(std::string("a\0b\0", 4)));
  p.setValue(key, "bin", kRegBinary, {1, 2, 3});
  const std::pair<const char*, RegValue> rows[] = {
      {"SZ", std::string("hello")}, {"noNul", std::string("abc")}, {"padded", std::string("ab")},
      {"odd", std::string("a")}, {"minus", int32_t{-1}},
      {"multi", std::string("a\0b\0\0", 5)}, {"bin", std::string("default")}, {"missing", std::string("default")},
  };
  for (const auto& [name, value] : rows) EXPECT_EQ(get(name), value) << name;
  p.setString(key, "v", "32", RegView::Bits32);
  EXPECT_EQ(GetRegValue(p, kHKeyLocalMachine, key, "v", std::string(), RegView::Bits32), RegValue(std::string("32")));
  EXPECT_EQ(get("v"), RegValue(std::string("default")));  // views are separate on 64-bit Windows

  EXPECT_EQ(GetRegSubKeys(p, kHKeyLocalMachine, key).Count, 0);
  const std::string longName(255, 'n');
  for (const std::string& n : {std::string("one"), std::string("two"), longName}) p.addKey(key + "\\" + n);
  const SubKeyList list = GetRegSubKeys(p, kHKeyLocalMachine, key);
  ASSERT_EQ(list.Items.size(), 4u);
  EXPECT_EQ(list.Count, 3);
  EXPECT_EQ(list.Items[0].Name + "|" + list.Items[1].Name + "|" + list.Items[2].Name, "|one|two");
  EXPECT_EQ(list.Items[3].Name, longName);
  EXPECT_EQ(p.openKeys(), 0) << "a key was left open";
}

TEST(Form, AccessKeysAndTabs) {
  const struct { const char* caption; char key; } rows[] = {
      {"&OS", 'O'}, {"Programs", 0}, {"&about ...", 'A'}, {"a&&b", 0}, {"&&x&Y", 'Y'}, {"trailing&", 0}, {nullptr, 0}};
  for (const auto& r : rows) EXPECT_EQ(form::AccessKey(r.caption), r.key) << (r.caption ? r.caption : "null");
  EXPECT_EQ(form::TabOfAccessKey('u'), 5);
  EXPECT_EQ(form::TabOfAccessKey('P'), 6);  // "Programs" marks no letter; "&Printers" does
  EXPECT_EQ(form::TabOfAccessKey('z'), -1);
  EXPECT_EQ(form::TabOfTag("progs"), 1);
  EXPECT_EQ(form::TabOfTag("FOLDERS"), -1);
}

}  // namespace
}  // namespace tallowin
