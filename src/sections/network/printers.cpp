// The printers section: one block per printer the spooler lists (local
// printers and connections), with its port, driver, page size and default
// settings decoded into words. A failed read is reported at the block's end.
#include "sections/network/printers.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/code_text.h"
#include "platform/decimal.h"
#include "platform/global.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

// dmPaperSize. Codes 48 and 49 have no text of their own.
constexpr CodeText<int16_t> kPaperSizes[] = {
    {1, "U.S. Letter, 8 1/2 x 11 in."},
    {2, "U.S. Letter Small, 8 1/2 x 11 in."},
    {3, "Tabloid, 11 x 17 in."},
    {4, "Ledger, 17 x 11 in."},
    {5, "U.S. Legal, 8 1/2 x 14 in."},
    {6, "Statement, 5 1/2 x 8 1/2 in."},
    {7, "Executive, 7 1/2 x 10 1/2 in."},
    {8, "A3, 297 x 420 mm"},
    {9, "A4, 210 x 297 mm"},
    {10, "A4 Small, 210 x 297 mm"},
    {11, "A5, 148 x 210 mm"},
    {12, "B4, 250 x 354 mm"},
    {13, "B5, 182 x 257 mm "},
    {14, "Folio, 8 1/2 x 13 in."},
    {15, "Quarto, 215 x 275 mm"},
    {16, "10 x 14 in."},
    {17, "11 x 17 in."},
    {18, "Note, 8 1/2 x 11 in."},
    {19, "Envelope #9, 3 7/8 x 8 7/8 in."},
    {20, "Envelope #10, 4 1/8 x 9 1/2 in."},
    {21, "Envelope #11, 4 1/2 x 10 3/8 in. "},
    {22, "Envelope #12, 4 1/2 x 11 in."},
    {23, "Envelope #14, 5 x 11 1/2 in."},
    {24, "C size sheet"},
    {25, "D size sheet"},
    {26, "E size sheet"},
    {27, "Envelope DL, 110 x 220 mm"},
    {28, "Envelope C5, 162 x 229 mm"},
    {29, "Envelope C3, 324 x 458 mm"},
    {30, "Envelope C4, 229 x 324 mm"},
    {31, "Envelope C6, 114 x 162 mm"},
    {32, "Envelope C65, 114 x 229 mm"},
    {33, "Envelope B4, 250 x 353 mm"},
    {34, "Envelope B5, 176 x 250 mm"},
    {35, "Envelope B6, 176 x 125 mm"},
    {36, "Envelope, 110 x 230 mm"},
    {37, "Envelope Monarch, 3 7/8 x 7 1/2 in."},
    {38, "Envelope, 3 5/8 x 6 1/2 in."},
    {39, "U.S. Standard Fanfold, 14 7/8 x 11 in."},
    {40, "German Standard Fanfold, 8 1/2 x 12 in."},
    {41, "German Legal Fanfold, 8 1/2 x 13 in."},
    {42, "B4 (ISO) 250 x 353 mm"},
    {43, "Japanese Postcard 100 x 148 mm"},
    {44, "9 x 11 in."},
    {45, "10 x 11 in."},
    {46, "15 x 11 in."},
    {47, "Envelope Invite 220 x 220 mm"},
    {50, "Letter Extra 9 \\275 x 12 in."},
    {51, "Legal Extra 9 \\275 x 15 in."},
    {52, "Tabloid Extra 11.69 x 18 in."},
    {53, "A4 Extra 9.27 x 12.69 in."},
    {54, "Letter Transverse 8 \\275 x 11 in."},
    {55, "A4 Transverse 210 x 297 mm"},
    {56, "Letter Extra Transverse 9\\275 x 12 in."},
    {57, "SuperA/SuperA/A4 227 x 356 mm"},
    {58, "SuperB/SuperB/A3 305 x 487 mm"},
    {59, "Letter Plus 8.5 x 12.69 in."},
    {60, "A4 Plus 210 x 330 mm"},
    {61, "A5 Transverse 148 x 210 mm"},
    {62, "B5 (JIS) Transverse 182 x 257 mm"},
    {63, "A3 Extra 322 x 445 mm"},
    {64, "A5 Extra 174 x 235 mm"},
    {65, "B5 (ISO) Extra 201 x 276 mm"},
    {66, "A2 420 x 594 mm"},
    {67, "A3 Transverse 297 x 420 mm"},
    {68, "A3 Extra Transverse 322 x 445 mm"},
    {69, "Japanese Double Postcard 200 x 148 mm"},
    {70, "A6 105 x 148 mm"},
    {71, "Japanese Envelope Kaku #2"},
    {72, "Japanese Envelope Kaku #3"},
    {73, "Japanese Envelope Chou #3"},
    {74, "Japanese Envelope Chou #4"},
    {75, "Letter Rotated 11 x 8 1/2 11 in."},
    {76, "A3 Rotated 420 x 297 mm"},
    {77, "A4 Rotated 297 x 210 mm"},
    {78, "A5 Rotated 210 x 148 mm"},
    {79, "B4 (JIS) Rotated 364 x 257 mm"},
    {80, "B5 (JIS) Rotated 257 x 182 mm"},
    {81, "Japanese Postcard Rotated 148 x 100 mm"},
    {82, "Double Japanese Postcard Rotated 148 x 200 mm"},
    {83, "A6 Rotated 148 x 105 mm"},
    {84, "Japanese Envelope Kaku #2 Rotated"},
    {85, "Japanese Envelope Kaku #3 Rotated"},
    {86, "Japanese Envelope Chou #3 Rotated"},
    {87, "Japanese Envelope Chou #4 Rotated"},
    {88, "B6 (JIS) 128 x 182 mm"},
    {89, "B6 (JIS) Rotated 182 x 128 mm"},
    {90, "12 x 11 in."},
    {91, "Japanese Envelope You #4"},
    {92, "Japanese Envelope You #4 Rotated"},
    {93, "PRC 16K 146 x 215 mm"},
    {94, "PRC 32K 97 x 151 mm"},
    {95, "PRC 32K(Big) 97 x 151 mm"},
    {96, "PRC Envelope #1 102 x 165 mm"},
    {97, "PRC Envelope #2 102 x 176 mm"},
    {98, "PRC Envelope #3 125 x 176 mm"},
    {99, "PRC Envelope #4 110 x 208 mm"},
    {100, "PRC Envelope #5 110 x 220 mm"},
    {101, "PRC Envelope #6 120 x 230 mm"},
    {102, "PRC Envelope #7 160 x 230 mm"},
    {103, "PRC Envelope #8 120 x 309 mm"},
    {104, "PRC Envelope #9 229 x 324 mm"},
    {105, "PRC Envelope #10 324 x 458 mm"},
    {106, "PRC 16K Rotated"},
    {107, "PRC 32K Rotated"},
    {108, "PRC 32K(Big) Rotated"},
    {109, "PRC Envelope #1 Rotated 165 x 102 mm"},
    {110, "PRC Envelope #2 Rotated 176 x 102 mm"},
    {111, "PRC Envelope #3 Rotated 176 x 125 mm"},
    {112, "PRC Envelope #4 Rotated 208 x 110 mm"},
    {113, "PRC Envelope #5 Rotated 220 x 110 mm"},
    {114, "PRC Envelope #6 Rotated 230 x 120 mm"},
    {115, "PRC Envelope #7 Rotated 230 x 160 mm"},
    {116, "PRC Envelope #8 Rotated 309 x 120 mm"},
    {117, "PRC Envelope #9 Rotated 324 x 229 mm"},
    {118, "PRC Envelope #10 Rotated 458 x 324 mm"},
    {256, "User-defined"},
};

// dmDefaultSource. 12 and 13 have no text of their own.
constexpr CodeText<int16_t> kPaperBins[] = {
    {1, "Use paper from the upper (or only) bin."},
    {2, "Use paper from the lower bin."},
    {3, "Use paper from the middle bin."},
    {4, "Wait for manual insertion of each sheet of paper."},
    {5, "Use envelopes from the envelope feeder."},
    {6, "Use envelopes from the envelope feeder, but wait for manual insertion."},
    {7, "(Default) Use paper from the current default bin."},
    {8, "Use paper fed from the tractor feeder."},
    {9, "Use paper from the small paper feeder."},
    {10, "Use paper from the large paper bin."},
    {11, "Use paper from the large capacity feeder."},
    {14, "Use paper from the attached cassette cartridge."},
    {15, "Use paper from the forms bin."},
};

// dmPrintQuality: the resolution classes; positive codes are dots per inch.
constexpr CodeText<int16_t> kQualities[] = {
    {-1, "Draft resolution"}, {-2, "Low resolution"}, {-3, "Medium resolution"}, {-4, "High resolution"}};

constexpr CodeText<int16_t> kColorModes[] = {{1, "Monochrome (B/W)"}, {2, "Color"}};

constexpr CodeText<int16_t> kOrientations[] = {{1, "Portrait"}, {2, "Landscape"}};

constexpr CodeText<int16_t> kDuplexModes[] = {
    {0, "Single-sided printing with the current orientation setting."},
    {1, "Single-sided printing with the current orientation setting."},
    {2, "Double-sided printing using a horizontal page turn."},
    {3, "Double-sided printing using a vertical page turn."},
};

std::string unknown(int16_t code) { return std::to_string(code) + " (Unknown)"; }

template <size_t N>
std::string decode(const CodeText<int16_t> (&table)[N], int16_t code) {
  const char* text = TextOfCode(table, code);
  return text ? std::string(text) : unknown(code);
}

constexpr int32_t kPrinterError = 482;
constexpr int16_t kLandscape = 2;

// The block's last failed read; a later failure replaces an earlier one.
struct Failure {
  int32_t code = 0;
  std::string text;
};

int32_t tenthsOfMmToTwips(int32_t tenths) {
  if (tenths <= 0) return 0;
  return static_cast<int32_t>((int64_t{tenths} * 1440 + 127) / 254);
}

// "11.00 inches" from twips, with two decimals in the regional format; a
// page of no size reads "unknown".
std::string inchesText(Platform& platform, int32_t twips) {
  if (twips <= 0) return "unknown";
  const std::string exact = DecimalQuotient({0, static_cast<uint64_t>(twips)}, {0, 1440}, 2);
  return FormatDecimal(platform, exact, 2) + " inches";
}

struct PageSize {
  int32_t heightTwips = 0;
  int32_t widthTwips = 0;
};

// The page is the whole sheet (not the printable area) of the default paper,
// turned as the default orientation turns it. A length and width in the
// settings stand for the paper code, as they do for the driver; otherwise
// the sheet comes from the printer's list of papers, which a printer that
// could not be reached is not asked for.
PageSize readPageSize(Platform& platform, const Platform::PrinterInfo2& printer, const Platform::PrinterDevMode& dm,
                      bool reached, Failure& failure) {
  PageSize page;
  int32_t width = 0;
  int32_t length = 0;
  const uint32_t lengthAndWidth = Platform::kDmPaperLength | Platform::kDmPaperWidth;
  if ((dm.dmFields & lengthAndWidth) == lengthAndWidth && dm.dmPaperLength > 0 && dm.dmPaperWidth > 0) {
    width = dm.dmPaperWidth;
    length = dm.dmPaperLength;
  } else if (reached && (dm.dmFields & Platform::kDmPaperSize)) {
    std::vector<Platform::PrinterPaper> papers;
    const int32_t rc = platform.DeviceCapabilities(printer.pPrinterName, printer.pPortName, &papers);
    if (rc != 0) {
      failure = {rc, platform.FormatMessage(rc)};
      return page;
    }
    for (const Platform::PrinterPaper& p : papers) {
      if (p.code != dm.dmPaperSize) continue;
      width = p.x;
      length = p.y;
      break;
    }
  }
  page.heightTwips = tenthsOfMmToTwips(length);
  page.widthTwips = tenthsOfMmToTwips(width);
  if ((dm.dmFields & Platform::kDmOrientation) && dm.dmOrientation == kLandscape)
    std::swap(page.heightTwips, page.widthTwips);
  return page;
}

void printerBlock(SectionContext& ctx, const Platform::PrinterInfo2& printer) {
  Platform& platform = ctx.platform();
  ReportList& list = ctx.list();
  Failure failure;

  list.append(printer.pPrinterName, 9000);
  list.append("  Port: " + printer.pPortName, 9100);
  list.append("  Driver: " + printer.pDriverName, 9200);

  // Every printer is opened and asked for its settings once, as a device
  // context for it would be: one that cannot be opened or asked is the
  // printer error, even when the spooler's listing carries settings it
  // cached (an offline network printer still has those). The listed
  // settings are only what is shown; a listed DEVMODE that fills in no field
  // at all (as a spooler may store for a printer added without one) counts
  // as none, and the printer's own answer is shown instead.
  Platform::PrinterDevMode asked;
  const bool reached = platform.DocumentProperties(printer.pPrinterName, &asked) == 0;
  if (!reached) failure = {kPrinterError, "Printer error"};
  const bool listed = printer.hasDevMode && printer.devMode.dmFields != 0;
  const Platform::PrinterDevMode dm = listed ? printer.devMode : asked;
  const bool haveSettings = listed || reached;

  PageSize page;
  if (haveSettings) page = readPageSize(platform, printer, dm, reached, failure);
  list.append("  Height: " + inchesText(platform, page.heightTwips), 9300);
  list.append("  Width: " + inchesText(platform, page.widthTwips), 9400);

  ctx.yield();

  // A setting the driver did not fill in has no value to decode: its line is
  // left out, like every decoded line when the settings could not be read.
  auto has = [&](uint32_t field) { return haveSettings && (dm.dmFields & field) != 0; };
  if (has(Platform::kDmPaperSize)) list.append("  Current Paper Size: " + PaperSizeText(dm.dmPaperSize), 9500);
  if (has(Platform::kDmDefaultSource))
    list.append("  Default Paper Bin: " + PaperBinText(dm.dmDefaultSource), 9550);
  if (has(Platform::kDmPrintQuality))
    list.append("  Print Quality: " + PrintQualityText(dm.dmPrintQuality), 9600);
  if (has(Platform::kDmColor)) list.append("  Color Mode: " + ColorModeText(dm.dmColor), 9650);
  if (has(Platform::kDmOrientation))
    list.append("  Current Orientation: " + OrientationText(dm.dmOrientation), 9700);
  if (has(Platform::kDmDuplex)) list.append("  Current Duplex Setting: " + DuplexText(dm.dmDuplex), 9750);

  if (failure.code != 0) {
    std::string line = "  Error: " + std::to_string(failure.code) + " " + failure.text;
    if (failure.code == kPrinterError) line += " (May Be Offline)";
    list.append(line, 9900);
  }
}

}  // namespace

std::string PaperSizeText(int16_t code) { return decode(kPaperSizes, code); }
std::string PaperBinText(int16_t code) { return decode(kPaperBins, code); }

std::string PrintQualityText(int16_t code) {
  if (const char* text = TextOfCode(kQualities, code)) return text;
  if (code > 0) return std::to_string(code) + " dpi";
  return unknown(code);
}

std::string ColorModeText(int16_t code) { return decode(kColorModes, code); }
std::string OrientationText(int16_t code) { return decode(kOrientations, code); }
std::string DuplexText(int16_t code) { return decode(kDuplexModes, code); }

void CollectPrinters(SectionContext& ctx) {
  ctx.showProgressLine();
  const auto printers =
      ctx.platform().EnumPrinters(Platform::kPrinterEnumLocal | Platform::kPrinterEnumConnections);
  bool first = true;
  for (const Platform::PrinterInfo2& printer : printers) {
    ctx.yield();
    ctx.removeProgressLine();
    if (!first) ctx.list().append("");
    first = false;
    printerBlock(ctx, printer);
    ctx.yield();
  }
  // With no printer the progress line would otherwise stay as the section.
  ctx.removeProgressLine();
}

}  // namespace tallowin
