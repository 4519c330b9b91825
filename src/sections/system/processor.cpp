// The processor section: architecture, maker, family, model and stepping,
// clock rate, the features the system reports, and the memory geometry.
// Its lines are also sent to the inventory service, so their text is fixed.
#include "sections/system/processor.h"

#include <stdexcept>

#include "platform/code_text.h"
#include "platform/global.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "sections/section_context.h"
#include "sections/sections.h"

namespace tallowin {

namespace {

constexpr int16_t kIntel = 0;
constexpr int16_t kMips = 1;
constexpr int16_t kAlpha = 2;
constexpr int16_t kPpc = 3;
constexpr int16_t kAmd64 = 9;

constexpr char kCpuKey[] = "Hardware\\Description\\System\\CentralProcessor\\0";
constexpr int32_t kSmSlowMachine = 73;

constexpr CodeText<int16_t> kArchitectures[] = {
    {0, "Intel"},
    {1, "MIPS"},
    {2, "Compaq/DEC Alpha"},
    {3, "PPC"},
    {6, "Itanium (Intel 64-bit)"},
    {7, "Sledgehammer (AMD 64-bit)"},
    {9, "x64 (AMD or Intel 64-bit)"},
    {12, "ARM64"},
};

constexpr CodeText<int16_t> kIntelLevels[] = {
    {0, "Pentium"}, {3, "Intel 386"}, {4, "Intel 486"}, {5, "Pentium"}, {6, "Pentium Pro/Pentium II"},
};

constexpr struct {
  uint32_t feature;
  const char* label;
  int32_t itemValue;
} kFeatures[] = {
    {1, "Floating Point Emulated: ", 1210},
    {0, "Floating Point Precision Errata: ", 1220},
    {2, "Compare & Exchange Double OP Available: ", 1230},
    {3, "MMX Instructions Available: ", 1240},
    {6, "XMMI Instructions Available: ", 1250},
    {7, "AMD 3D-Now Instructions Available: ", 1260},
};
constexpr uint32_t kFloatingPointEmulated = 1;

// The character of a code, taken as Latin-1 (codes 65 to 192 occur).
std::string charOf(int code) {
  std::string out;
  AppendUtf8(out, static_cast<char32_t>(code & 0xFF));
  return out;
}


}  // namespace

std::string ArchitectureText(int16_t architecture) {
  if (const char* text = TextOfCode(kArchitectures, architecture)) return text;
  return "Unknown (" + std::to_string(architecture) + ")";
}

std::string LevelText(int16_t architecture, int16_t level) {
  const int32_t n = level;  // MIPS and PPC numbers can pass 16 bits
  switch (architecture) {
    case kIntel:
      if (const char* text = TextOfCode(kIntelLevels, level)) return text;
      return "Pentium III or higher (" + std::to_string(n) + ")";
    case kMips:
      return std::to_string(n * 1000);
    case kPpc:
      if (level == 6) return "603+";
      if (level == 9) return "604+";
      return std::to_string(n + 600);
    default:
      return std::to_string(n);
  }
}

std::string RevisionText(int16_t architecture, int16_t level, int16_t revision) {
  const int high = revision >> 8;    // signed: -128 to 127
  const int low = revision & 0xFF;   // 0 to 255
  const std::string h = std::to_string(high);
  std::string l = std::to_string(low);
  switch (architecture) {
    case kIntel:
      if (level == 3 || level == 4) {
        // xxyz: a high byte of 0xFF means the model and stepping are in the low byte.
        if (high < 0) return "Model " + charOf(65 + (low >> 4) - 10) + " Stepping " + std::to_string(low & 15);
        return "Model " + charOf(65 + high) + " Stepping " + l;
      }
      return "Model " + h + " Stepping " + l;
    case kAmd64:
      return "Model " + h + " Stepping " + l;
    case kMips:
      return l;
    case kAlpha:
      return "Model " + charOf(65 + high) + ", Pass " + l;
    case kPpc:
      return h + "." + l;
    default:
      return std::to_string(revision);
  }
}

int32_t WholeNumber(const std::string& text) {
  int32_t value = 0;
  switch (ReadWholeNumber(text, &value)) {
    case NumberReading::kWhole: return value;
    case NumberReading::kOutOfRange: throw std::out_of_range("too large: " + text);
    default: throw std::invalid_argument("not a whole number: " + text);
  }
}

void CollectProcessor(SectionContext& ctx) {
  Platform& p = ctx.platform();
  ReportList& list = ctx.list();
  const VersionFlags& f = ctx.flags();

  // The native record: a 32-bit host on 64-bit Windows would otherwise be
  // told about the emulated processor.
  const Platform::SystemInfo si = p.GetNativeSystemInfo();
  const auto arch = static_cast<int16_t>(si.wProcessorArchitecture);
  const auto level = static_cast<int16_t>(si.wProcessorLevel);
  const auto revision = static_cast<int16_t>(si.wProcessorRevision);

  list.append("Processor Architecture: " + ArchitectureText(arch), 1020);

  const std::string vendor =
      RegValueText(GetRegValue(p, kHKeyLocalMachine, kCpuKey, "VendorIdentifier", std::string()));
  if (IsPresent(vendor)) list.append("CPU Manufacturer: " + vendor, 1025);

  list.append("Processor Level: " + LevelText(arch, level), 1030);
  list.append("Processor Revision: " + RevisionText(arch, level, revision), 1040);

  const RegValue mhz = GetRegValue(p, kHKeyLocalMachine, kCpuKey, "~Mhz", int32_t{0});
  const int32_t rate = std::holds_alternative<int32_t>(mhz) ? std::get<int32_t>(mhz) : WholeNumber(std::get<std::string>(mhz));
  if (rate > 0) list.append("Approximate CPU Clock Rate: " + std::to_string(rate) + " MHz", 1045);

  if (f.IsWinNT || f.IsWin2000) {
    for (const auto& feature : kFeatures) {
      bool present = p.IsProcessorFeaturePresent(feature.feature) != 0;
      // NT 3.x and 4 answer this one the other way round.
      if (feature.feature == kFloatingPointEmulated && f.IsWinNT) present = !present;
      list.append(feature.label + YesNo(present), feature.itemValue);
    }
  }

  list.append("Number Of Processors: " + std::to_string(static_cast<int32_t>(si.dwNumberOfProcessors)), 1050);
  list.append("Page Size: " + FormatBytes(p, si.dwPageSize), 1070);
  list.append("Allocation Unit: " + FormatBytes(p, si.dwAllocationGranularity), 1080);
  // Whole pointers, unsigned: on 64-bit Windows they pass 32 bits.
  list.append("Minimum Application Address: " + FormatGroupedUnsigned(p, si.lpMinimumApplicationAddress), 1090);
  list.append("Maximum Application Address: " + FormatGroupedUnsigned(p, si.lpMaximumApplicationAddress), 1100);
  list.append("Slow Machine: " + YesNo(p.GetSystemMetrics(kSmSlowMachine) != 0), 1110);
}

}  // namespace tallowin
