// The shared text helpers: whole numbers, blanks, ASCII case, hexadecimal
// digits and UTF-8 sequences; and the form's tab of a tag.
#include <gtest/gtest.h>

#include "control/form.h"
#include "platform/text.h"

namespace tallowin {
namespace {

TEST(TextHelpers, WholeNumbers) {
  struct Row {
    const char* text;
    NumberReading status;
    int32_t value;
  };
  const Row rows[] = {
      {"733", NumberReading::kWhole, 733},
      {" 2400 ", NumberReading::kWhole, 2400},
      {"-5", NumberReading::kWhole, -5},
      {"+7", NumberReading::kWhole, 7},
      {"2147483647", NumberReading::kWhole, INT32_MAX},
      {"-2147483648", NumberReading::kWhole, INT32_MIN},
      {"2147483648", NumberReading::kOutOfRange, 0},
      {"-2147483649", NumberReading::kOutOfRange, 0},
      {"99999999999999999999", NumberReading::kOutOfRange, 0},
      {"99999999999999999999x", NumberReading::kNotANumber, 0},  // judged by all of it
      {"", NumberReading::kNotANumber, 0},
      {"-", NumberReading::kNotANumber, 0},
      {"7 33", NumberReading::kNotANumber, 0},
      {"\t5", NumberReading::kNotANumber, 0},  // blanks are spaces only
      {"0x10", NumberReading::kNotANumber, 0},
  };
  for (const Row& r : rows) {
    int32_t value = 0;
    EXPECT_EQ(ReadWholeNumber(r.text, &value), r.status) << r.text;
    if (r.status == NumberReading::kWhole) {
      EXPECT_EQ(value, r.value) << r.text;
    }
  }
}

TEST(TextHelpers, TrimCaseAndHex) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\t a \n"), "\t a \n");
  EXPECT_EQ(Trim("\t a \r\n", kXmlWhitespace), "a");
  EXPECT_EQ(ToUpperAscii("tab\xC3\xA9z"), "TAB\xC3\xA9Z");
  EXPECT_TRUE(EqualsIgnoringAsciiCase("setSaveSoftwareInformation", "SETSAVESOFTWAREINFORMATION"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("abc", "abd"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("abc", "ab"));
  EXPECT_EQ(HexText(0), "0");
  EXPECT_EQ(HexText(0x409), "409");
  EXPECT_EQ(HexText(0xA, 2), "0A");
  EXPECT_EQ(HexText(0xFFFFFFFFFFFFFFFFull), "FFFFFFFFFFFFFFFF");
  const std::pair<char, int> digits[] = {{'0', 0}, {'9', 9}, {'a', 10}, {'F', 15}, {'g', -1}, {' ', -1}};
  for (const auto& [c, v] : digits) EXPECT_EQ(HexDigitValue(c), v) << c;
}

TEST(TextHelpers, Utf8Sequences) {
  struct Row {
    const char* bytes;
    long code;
    size_t length;
  };
  const Row rows[] = {
      {"A", 'A', 1},
      {"\xC3\xA9", 0xE9, 2},
      {"\xE6\x97\xA5", 0x65E5, 3},
      {"\xF0\x9F\x98\x80", 0x1F600, 4},
      {"\xC0\xAF", -1, 1},          // overlong lead byte
      {"\xE0\x80\xAF", -1, 3},      // overlong
      {"\xED\xA0\x80", -1, 3},      // a surrogate
      {"\xF4\x90\x80\x80", -1, 4},  // past U+10FFFF
      {"\xE6\x97", -1, 2},          // cut short
      {"\x80", -1, 1},
  };
  for (const Row& r : rows) {
    size_t length = 0;
    EXPECT_EQ(DecodeUtf8(r.bytes, 0, length), r.code) << r.bytes;
    EXPECT_EQ(length, r.length) << r.bytes;
  }
  std::string out;
  AppendUtf8(out, 0xE9);
  AppendUtf8(out, 0x1F600);
  EXPECT_EQ(out, "\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(TextHelpers, TabOfTag) {
  EXPECT_EQ(form::TabOfTag("OS"), 0);
  EXPECT_EQ(form::TabOfTag("progs"), 1);
  EXPECT_EQ(form::TabOfTag("Printers"), 6);
  EXPECT_EQ(form::TabOfTag("FOLDERS"), -1);
  EXPECT_EQ(form::TabOfTag(""), -1);
}

}  // namespace
}  // namespace tallowin
