// The locale section over locale answers made of fuzzed texts: failures,
// empty and huge texts, numbers with signs, blanks, fractions and too many
// digits, control characters and stray bytes. Nothing may escape the run;
// the lines keep their fixed order and labels, each setting shows its own
// answer, each number reading shows the number or keeps the one before with
// an error line after it. (How the paper size reads its text is pinned row by
// row in the unit tests; here it only has to show itself.)
#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/global.h"
#include "platform/text.h"
#include "support/collect.h"

using namespace tallowin;

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& line = {}) {
  std::fprintf(stderr, "locale_fuzz: %s\n  line: \"%s\"\n", what.c_str(), line.c_str());
  std::abort();
}

// The lines the section writes before the paper size, in order: the LCTYPE
// each one shows (0: none) and how it reads it. Labels and item values come
// from the en-US run, which the unit tests pin line by line.
enum class Kind { Fixed, Blank, Text, Number, FirstDay };
struct Shape {
  Kind kind;
  uint32_t lcType;
  std::string label;
  int32_t itemValue = 0;
};
constexpr Kind F = Kind::Fixed, B = Kind::Blank, T = Kind::Text, N = Kind::Number;
std::vector<Shape> kShape = {
    {F, 0}, {F, 0}, {F, 0}, {F, 0}, {F, 0}, {B, 0}, {F, 0}, {T, 0x2}, {T, 0x1001}, {T, 0x3}, {T, 0x59}, {B, 0},
    {T, 0x5}, {T, 0x6}, {T, 0x1002}, {T, 0x7}, {T, 0x5A}, {B, 0}, {T, 0x1008}, {T, 0x14}, {T, 0x15}, {T, 0x1007},
    {T, 0x19}, {T, 0x16}, {T, 0x17}, {T, 0xE}, {T, 0xF}, {B, 0}, {N, 0x1009}, {N, 0x24}, {T, 0x1D}, {T, 0x20},
    {T, 0x1F}, {Kind::FirstDay, 0x100C}, {B, 0}, {T, 0x1E}, {T, 0x1003}, {N, 0x23}, {T, 0x28}, {T, 0x29}, {B, 0},
    {N, 0xD}, {T, 0xC},
};
constexpr uint32_t kLanguage = 0x1, kDayName1 = 0x2A, kPaperSize = 0x100A;

// A locale answer the way a hostile or broken locale might give it.
// At most one huge answer per run keeps the runs quick.
std::optional<std::string> answer(FuzzedDataProvider& in, const std::string& usual, bool& hugeGiven) {
  int choice = in.ConsumeIntegralInRange(0, 7);
  if (choice == 4 && hugeGiven) choice = 7;
  switch (choice) {
    case 0: return std::nullopt;  // the query fails
    case 1: return usual;
    case 2: return std::string();
    case 3: {  // a number, with what a careless locale could put around it
      std::string t = std::to_string(in.ConsumeIntegral<int64_t>());
      if (in.ConsumeBool()) t = std::string(in.ConsumeIntegralInRange(0, 30), '0') + t;
      if (in.ConsumeBool()) t += "." + std::to_string(in.ConsumeIntegral<uint16_t>());
      if (in.ConsumeBool()) t = "+" + t;
      if (in.ConsumeBool()) t = std::string(in.ConsumeIntegralInRange(0, 3), ' ') + t + " ";
      return t;
    }
    case 4: {  // huge: a piece repeated up to 64,000 bytes
      hugeGiven = true;
      const std::string piece = in.ConsumeRandomLengthString(8);
      std::string t;
      for (size_t i = in.ConsumeIntegralInRange<size_t>(1, 8000); i > 0 && !piece.empty(); --i) t += piece;
      return t;
    }
    case 5: return std::to_string(in.ConsumeIntegralInRange<int32_t>(-2, 14));
    default: return in.ConsumeRandomLengthString(64);
  }
}

// A reading on its own: the number, or the code of the error the section
// reports for the text (1 no whole number, 2 no hexadecimal number, 3 out of range).
struct Reading {
  std::optional<int64_t> value;
  int32_t error = 0;
};
template <typename Int>
Reading read(const std::string& text, int base) {
  std::string t = Trim(text);
  if (base == 10 && !t.empty() && t[0] == '+' && (t.size() == 1 || (t[1] != '-' && t[1] != '+'))) t.erase(0, 1);
  Int v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v, base);
  if (ec == std::errc::invalid_argument || end != t.data() + t.size()) return {std::nullopt, base == 10 ? 1 : 2};
  if (ec == std::errc::result_out_of_range) return {std::nullopt, 3};
  return {v, 0};
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  test::FakePlatform p;
  ProfileControl control(p);
  test::Collect(control, CollectLocale);
  const auto& lines = control.list().lines();
  if (lines.size() != kShape.size() + 1) fail("the en-US run does not have the expected shape");
  for (size_t i = 0; i < kShape.size(); ++i) {
    kShape[i].label = lines[i].text.substr(0, lines[i].text.empty() ? 0 : lines[i].text.find(": ") + 2);
    kShape[i].itemValue = lines[i].itemValue;
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  test::FakePlatform p;
  p.userLcid = in.ConsumeBool() ? in.ConsumeIntegral<uint32_t>() : 1033;
  // A fuzzed answer for every setting the section asks for (the en-US ones).
  std::map<uint32_t, std::optional<std::string>> answers;
  bool hugeGiven = false;
  for (const auto& [type, usual] : test::FakePlatform::EnUsLocaleInfo()) {
    answers[type] = answer(in, usual, hugeGiven);
    if (answers[type]) p.localeInfo[type] = *answers[type];
    else p.localeInfo.erase(type);
  }
  // What the section sees of an answer: cut at the first NUL, "" when it failed.
  const auto seen = [&](uint32_t type) { return answers[type] ? TrimNull(*answers[type]) : std::string(); };

  ProfileControl control(p);
  try {
    test::Collect(control, CollectLocale);
  } catch (...) {
    fail("an exception escaped the locale section");
  }
  const auto& lines = control.list().lines();
  size_t at = 0;
  const auto next = [&]() -> const ReportList::Line& {
    if (at >= lines.size()) fail("the section ends early");
    return lines[at++];
  };
  // The code of an error line right here, 0 for none.
  const auto error = [&]() -> int32_t {
    if (at >= lines.size() || !startsWith(lines[at].text, "ERROR: ")) return 0;
    const ReportList::Line& l = lines[at++];
    int32_t code = 0;
    const auto [end, ec] = std::from_chars(l.text.data() + 7, l.text.data() + l.text.size(), code);
    if (ec != std::errc() || code <= 0 || std::string(end).rfind(" - ", 0) != 0 || l.itemValue != 0)
      fail("malformed error line", l.text);
    return code;
  };

  const uint32_t lcid = p.userLcid;
  const Reading langRead = read<uint32_t>(seen(kLanguage), 16);
  const auto langId = static_cast<uint32_t>(langRead.value.value_or(0));
  int32_t number = 0;
  int32_t errorExpected = 0;  // the code of the error line due at the next check

  for (size_t index = 0; index < kShape.size(); ++index) {
    const Shape& s = kShape[index];
    const ReportList::Line& l = next();
    if (l.itemValue != s.itemValue) fail("item value " + std::to_string(l.itemValue) + " for " + s.label, l.text);
    if (s.kind == Kind::Blank ? !l.text.empty() : !startsWith(l.text, s.label)) fail("line out of place: " + s.label, l.text);
    const std::string value = l.text.substr(s.label.size());
    const std::string& label = s.label;
    std::string expected = value;  // what is not checked here is decoded from tables
    if (label == "Locale ID: ") {
      expected = std::to_string(lcid) + " / 0x" + HexText(lcid);
    } else if (label == "  Language ID: " || label == "Language ID: ") {
      expected = std::to_string(langId) + " / 0x" + HexText(langId);
    } else if (s.kind == Kind::Text) {
      expected = seen(s.lcType);
    } else if (s.kind == Kind::Number || s.kind == Kind::FirstDay) {
      // A reading that fails keeps the number of the reading before.
      const Reading n = read<int32_t>(seen(s.lcType), 10);
      if (n.value) number = static_cast<int32_t>(*n.value);
      errorExpected = n.error;
      if (s.kind == Kind::FirstDay) {
        const bool day = number >= 0 && number <= 6;
        if (!day) errorExpected = 3;
        expected = day ? seen(kDayName1 + static_cast<uint32_t>(number)) : std::string();
      } else if (label == "Clock Format: ") {
        expected = number == 0 ? "AM / PM 12-hour format" : number == 1 ? "24-hour format" : "unknown";
      } else if (!startsWith(value, std::to_string(number) + " (") || value.back() != ')') {
        fail("expected the number " + std::to_string(number) + " read from [" + seen(s.lcType) + "]", l.text);
      }
    }
    if (value != expected) fail("expected " + label + expected, l.text);

    // The error checks: after the first block (where the language reading
    // is reported), after the second language line and every setting.
    if (index == 5) errorExpected = langRead.error;
    if (index >= 5 && (index == 5 || s.kind != Kind::Blank) && error() != errorExpected)
      fail("not the error " + std::to_string(errorExpected) + " after " + label, l.text);
    errorExpected = 0;
  }

  // The paper size: a line only for an answer that is not empty after trimming,
  // an error line after it only for a number out of range.
  if (answers[kPaperSize] && !Trim(seen(kPaperSize)).empty()) {
    const ReportList::Line& l = next();
    if (!startsWith(l.text, "Standard Paper Size: ") || l.itemValue != 6920) fail("no paper size", l.text);
    if (const int32_t code = error(); code != 0 && code != 3) fail("the paper size's error line", l.text);
  } else if (error()) {
    fail("an error line without a paper size line");
  }
  if (at != lines.size()) fail("lines after the end of the section", lines[at].text);
  return 0;
}
