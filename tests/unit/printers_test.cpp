#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/network/printers.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using DevMode = Platform::PrinterDevMode;

constexpr uint32_t kAllFields = Platform::kDmOrientation | Platform::kDmPaperSize | Platform::kDmDefaultSource |
                                Platform::kDmPrintQuality | Platform::kDmColor | Platform::kDmDuplex;

DevMode letterPortrait() {
  DevMode d;
  d.dmFields = kAllFields;
  d.dmOrientation = 1;
  d.dmPaperSize = 1;
  d.dmDefaultSource = 7;
  d.dmPrintQuality = 600;
  d.dmColor = 2;
  d.dmDuplex = 1;
  return d;
}

FakePlatform::FakePrinter printer(const std::string& name, DevMode dm = letterPortrait()) {
  FakePlatform::FakePrinter p;
  p.info.pPrinterName = name;
  p.info.pPortName = "FILE:";
  p.info.pDriverName = "PostScript";
  p.info.hasDevMode = true;
  p.info.devMode = dm;
  p.papers = {{1, 2159, 2794}, {5, 2159, 3556}, {9, 2100, 2970}};
  return p;
}

const std::vector<std::string> kLetterBlock = {
    "  Port: FILE:",
    "  Driver: PostScript",
    "  Height: 11.00 inches",
    "  Width: 8.50 inches",
    "  Current Paper Size: U.S. Letter, 8 1/2 x 11 in.",
    "  Default Paper Bin: (Default) Use paper from the current default bin.",
    "  Print Quality: 600 dpi",
    "  Color Mode: Color",
    "  Current Orientation: Portrait",
    "  Current Duplex Setting: Single-sided printing with the current orientation setting.",
};

std::vector<std::string> block(const std::string& name, std::vector<std::string> rest = kLetterBlock) {
  rest.insert(rest.begin(), name);
  return rest;
}

class Printers : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  std::vector<std::string> run() {
    CollectPrinters(control);
    return test::Texts(control.list());
  }
  // The value after the label of the first line that starts with it.
  std::string value(const std::string& label) {
    for (const auto& l : run())
      if (l.rfind(label, 0) == 0) return l.substr(label.size());
    return "<no line>";
  }
};

TEST_F(Printers, OnePrinterNoBlankLine) {
  p.printers = {printer("Office")};
  EXPECT_EQ(run(), block("Office"));
  EXPECT_EQ(test::Values(control.list()),
            (std::vector<int32_t>{9000, 9100, 9200, 9300, 9400, 9500, 9550, 9600, 9650, 9700, 9750}));
  EXPECT_EQ(p.enumPrintersFlags, Platform::kPrinterEnumLocal | Platform::kPrinterEnumConnections);
  EXPECT_FALSE(control.showingProgress);
}

TEST_F(Printers, TwoPrintersExactlyOneBlankLine) {
  p.printers = {printer("First"), printer("Second")};
  std::vector<std::string> expect = block("First");
  expect.push_back("");
  for (const auto& l : block("Second")) expect.push_back(l);
  EXPECT_EQ(run(), expect);
  EXPECT_EQ(control.list().itemValue(11), 0);
}

TEST_F(Printers, ProgressLineUntilTheFirstBlock) {
  p.printers = {printer("Office")};
  std::vector<std::vector<std::string>> seen;
  p.onYield = [&] { seen.push_back(test::Texts(control.list())); };
  run();
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], (std::vector<std::string>{"Working ..."}));  // shown and yielded
  EXPECT_EQ(seen[1], (std::vector<std::string>{"Working ..."}));  // the block's first yield
  EXPECT_EQ(control.list().text(0), "Office");
  EXPECT_FALSE(control.showingProgress);
  // One yield for the progress line, three in the block.
  EXPECT_EQ(p.yields, 4);
}

TEST_F(Printers, NoPrinterRemovesTheProgressLine) {
  run();
  EXPECT_EQ(control.list().count(), 0);
  EXPECT_FALSE(control.showingProgress);
  EXPECT_EQ(p.yields, 1);
}

TEST_F(Printers, NoProgressLineAfterOtherLines) {
  control.list().append("earlier section");
  p.printers = {printer("Office")};
  const auto lines = run();
  EXPECT_EQ(lines.front(), "earlier section");
  EXPECT_EQ(lines[1], "Office");
  EXPECT_FALSE(test::HasLine(lines, "Working ..."));
  EXPECT_EQ(p.yields, 3);
}

TEST(PrinterTables, PaperSizes) {
  int known = 0;
  for (int code = -5; code <= 400; ++code) known += IsKnownPaperSize(static_cast<int16_t>(code)) ? 1 : 0;
  EXPECT_EQ(known, 117);
  const std::pair<int16_t, const char*> rows[] = {
      {1, "U.S. Letter, 8 1/2 x 11 in."},
      {9, "A4, 210 x 297 mm"},
      {13, "B5, 182 x 257 mm "},
      {21, "Envelope #11, 4 1/2 x 10 3/8 in. "},
      {47, "Envelope Invite 220 x 220 mm"},
      {48, "48 (Unknown)"},
      {49, "49 (Unknown)"},
      {50, "Letter Extra 9 \\275 x 12 in."},
      {51, "Legal Extra 9 \\275 x 15 in."},
      {54, "Letter Transverse 8 \\275 x 11 in."},
      {56, "Letter Extra Transverse 9\\275 x 12 in."},
      {75, "Letter Rotated 11 x 8 1/2 11 in."},
      {118, "PRC Envelope #10 Rotated 458 x 324 mm"},
      {119, "119 (Unknown)"},
      {255, "255 (Unknown)"},
      {256, "User-defined"},
      {257, "257 (Unknown)"},
      {0, "0 (Unknown)"},
      {-3, "-3 (Unknown)"},
  };
  for (const auto& [code, text] : rows) EXPECT_EQ(PaperSizeText(code), text) << code;
  EXPECT_EQ(std::string(PaperSizeText(50)).substr(15, 4), std::string("\\275"));
}

// The ends of the table and its gap (12 and 13 have no text of their own).
TEST(PrinterTables, Bins) {
  const std::pair<int16_t, const char*> rows[] = {
      {1, "Use paper from the upper (or only) bin."},
      {11, "Use paper from the large capacity feeder."},
      {12, "12 (Unknown)"},
      {13, "13 (Unknown)"},
      {14, "Use paper from the attached cassette cartridge."},
      {15, "Use paper from the forms bin."},
      {16, "16 (Unknown)"},
      {0, "0 (Unknown)"},
      {256, "256 (Unknown)"},
  };
  for (const auto& [code, text] : rows) EXPECT_EQ(PaperBinText(code), text) << code;
}

TEST(PrinterTables, QualityColourOrientationDuplex) {
  struct Row {
    std::string (*decode)(int16_t);
    int16_t code;
    const char* text;
  };
  const Row rows[] = {
      {PrintQualityText, -1, "Draft resolution"},
      {PrintQualityText, -2, "Low resolution"},
      {PrintQualityText, -3, "Medium resolution"},
      {PrintQualityText, -4, "High resolution"},
      {PrintQualityText, -5, "-5 (Unknown)"},
      {PrintQualityText, 0, "0 (Unknown)"},
      {PrintQualityText, 1, "1 dpi"},
      {PrintQualityText, 600, "600 dpi"},
      {ColorModeText, 1, "Monochrome (B/W)"},
      {ColorModeText, 2, "Color"},
      {ColorModeText, 0, "0 (Unknown)"},
      {ColorModeText, 3, "3 (Unknown)"},
      {OrientationText, 1, "Portrait"},
      {OrientationText, 2, "Landscape"},
      {OrientationText, 0, "0 (Unknown)"},
      {OrientationText, 90, "90 (Unknown)"},
      {DuplexText, 0, "Single-sided printing with the current orientation setting."},
      {DuplexText, 1, "Single-sided printing with the current orientation setting."},
      {DuplexText, 2, "Double-sided printing using a horizontal page turn."},
      {DuplexText, 3, "Double-sided printing using a vertical page turn."},
      {DuplexText, 4, "4 (Unknown)"},
      {DuplexText, -1, "-1 (Unknown)"},
  };
  for (const Row& r : rows) EXPECT_EQ(r.decode(r.code), r.text) << r.code;
}

TEST_F(Printers, PageSizes) {
  struct Row {
    int16_t paper;
    int16_t orientation;
    uint32_t extraFields;
    int16_t length, width;  // the settings' own, tenths of a millimetre
    const char* height;
    const char* widthText;
  };
  const Row rows[] = {
      {1, 1, 0, 0, 0, "11.00 inches", "8.50 inches"},
      {9, 1, 0, 0, 0, "11.69 inches", "8.27 inches"},
      {9, 2, 0, 0, 0, "8.27 inches", "11.69 inches"},  // landscape turns the sheet
      {5, 1, 0, 0, 0, "14.00 inches", "8.50 inches"},
      {8, 1, 0, 0, 0, "unknown", "unknown"},           // not among the printer's papers
      {256, 1, Platform::kDmPaperLength | Platform::kDmPaperWidth, 3000, 1000, "11.81 inches", "3.94 inches"},
      {256, 1, Platform::kDmPaperLength, 3000, 1000, "unknown", "unknown"},  // a width is missing
      {1, 1, Platform::kDmPaperLength | Platform::kDmPaperWidth, 0, 0, "11.00 inches", "8.50 inches"},
  };
  for (const Row& r : rows) {
    DevMode dm = letterPortrait();
    dm.dmPaperSize = r.paper;
    dm.dmOrientation = r.orientation;
    dm.dmFields |= r.extraFields;
    dm.dmPaperLength = r.length;
    dm.dmPaperWidth = r.width;
    p.printers = {printer("P", dm)};
    control.list().clear();
    const auto lines = run();
    EXPECT_TRUE(test::HasLine(lines, std::string("  Height: ") + r.height)) << r.paper << " " << r.orientation;
    EXPECT_TRUE(test::HasLine(lines, std::string("  Width: ") + r.widthText)) << r.paper << " " << r.orientation;
    EXPECT_FALSE(test::HasPrefix(lines, "  Error: "));
  }
}

TEST_F(Printers, SettingsNotFilledInAreLeftOut) {
  DevMode dm = letterPortrait();
  dm.dmFields = Platform::kDmPaperSize | Platform::kDmColor;
  p.printers = {printer("Plain", dm)};
  EXPECT_EQ(run(), (std::vector<std::string>{"Plain", "  Port: FILE:", "  Driver: PostScript",
                                             "  Height: 11.00 inches", "  Width: 8.50 inches",
                                             "  Current Paper Size: U.S. Letter, 8 1/2 x 11 in.",
                                             "  Color Mode: Color"}));
}

TEST_F(Printers, SettingsAskedOfThePrinterWhenTheListHasNone) {
  auto pr = printer("Share");
  pr.info.hasDevMode = false;
  pr.info.devMode = {};
  pr.defaults = letterPortrait();
  pr.defaults.dmColor = 1;
  p.printers = {pr};
  const auto lines = run();
  EXPECT_TRUE(test::HasLine(lines, "  Color Mode: Monochrome (B/W)"));
  EXPECT_TRUE(test::HasLine(lines, "  Height: 11.00 inches"));
  EXPECT_FALSE(test::HasPrefix(lines, "  Error: "));
  EXPECT_EQ(p.printerCalls, (std::vector<std::string>{"DocumentProperties Share", "DeviceCapabilities Share FILE:"}));
}

TEST_F(Printers, EmptyListedSettingsAreAskedOfThePrinter) {
  auto pr = printer("Blank");
  pr.info.devMode = {};  // listed, but with no field filled in
  pr.defaults = letterPortrait();
  p.printers = {pr};
  EXPECT_EQ(run(), block("Blank"));
  EXPECT_EQ(p.printerCalls.front(), "DocumentProperties Blank");
}

TEST_F(Printers, UnreachablePrinterIsThePrinterError) {
  auto pr = printer("Offline");
  pr.info.hasDevMode = false;
  pr.documentPropertiesError = 1722;  // whatever the system says, it is the printer error
  p.printers = {pr};
  EXPECT_EQ(run(), (std::vector<std::string>{"Offline", "  Port: FILE:", "  Driver: PostScript",
                                             "  Height: unknown", "  Width: unknown",
                                             "  Error: 482 Printer error (May Be Offline)"}));
  EXPECT_EQ(control.list().itemValue(5), 9900);
  EXPECT_EQ(p.printerCalls, (std::vector<std::string>{"DocumentProperties Offline"}));
}

// Each printer is opened once, whether or not the listing carries settings;
// one that cannot be reached is marked even when the spooler cached its
// settings, which are then what the block shows.
TEST_F(Printers, EveryPrinterIsAskedOnceAndAnUnreachableOneIsMarked) {
  struct Case {
    int32_t error;  // DocumentProperties' answer
    std::vector<std::string> lines;
    std::vector<std::string> calls;
  };
  // The listed settings, no papers asked for, and the printer error.
  std::vector<std::string> cachedUnreachable = block("Cached");
  cachedUnreachable[3] = "  Height: unknown";
  cachedUnreachable[4] = "  Width: unknown";
  cachedUnreachable.push_back("  Error: 482 Printer error (May Be Offline)");
  const Case cases[] = {
      {0, block("Cached"), {"DocumentProperties Cached", "DeviceCapabilities Cached FILE:"}},
      {1722, cachedUnreachable, {"DocumentProperties Cached"}},
      {5, cachedUnreachable, {"DocumentProperties Cached"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.error));
    FakePlatform fake;
    ProfileControl own{fake};
    auto pr = printer("Cached");
    pr.defaults = letterPortrait();
    pr.documentPropertiesError = c.error;
    fake.printers = {pr};
    CollectPrinters(own);
    EXPECT_EQ(test::Texts(own.list()), c.lines);
    EXPECT_EQ(fake.printerCalls, c.calls);
  }
}

TEST_F(Printers, OtherFailureGivesTheSystemsCodeAndText) {
  auto pr = printer("Odd");
  pr.capabilitiesError = 1801;
  p.messages[1801] = "The printer name is invalid.";
  p.printers = {pr};
  const auto lines = run();
  EXPECT_TRUE(test::HasLine(lines, "  Height: unknown"));
  EXPECT_TRUE(test::HasLine(lines, "  Current Paper Size: U.S. Letter, 8 1/2 x 11 in."));
  EXPECT_EQ(lines.back(), "  Error: 1801 The printer name is invalid.");
}

TEST_F(Printers, EachBlockReportsOnlyItsOwnFailure) {
  auto bad = printer("Bad");
  bad.info.hasDevMode = false;
  bad.documentPropertiesError = 5;
  p.printers = {bad, printer("Good")};
  const auto lines = run();
  int errors = 0;
  for (const auto& l : lines) errors += l.rfind("  Error: ", 0) == 0 ? 1 : 0;
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(lines.back(), kLetterBlock.back());
}

}  // namespace
}  // namespace tallowin
