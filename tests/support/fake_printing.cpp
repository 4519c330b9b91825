// The fake's spooler: its printers, their settings and their papers.
#include "support/fake_platform.h"

namespace tallowin::test {

namespace {

constexpr int32_t kErrorInvalidPrinterName = 1801;

}  // namespace

std::vector<Platform::PrinterInfo2> FakePlatform::EnumPrinters(uint32_t flags) {
  enumPrintersFlags = flags;
  std::vector<PrinterInfo2> out;
  for (const FakePrinter& p : printers) out.push_back(p.info);
  return out;
}

int32_t FakePlatform::DocumentProperties(const std::string& printerName, PrinterDevMode* devMode) {
  printerCalls.push_back("DocumentProperties " + printerName);
  for (const FakePrinter& p : printers) {
    if (p.info.pPrinterName != printerName) continue;
    if (p.documentPropertiesError != 0) return p.documentPropertiesError;
    *devMode = p.defaults;
    return 0;
  }
  return kErrorInvalidPrinterName;
}

int32_t FakePlatform::DeviceCapabilities(const std::string& printerName, const std::string& portName,
                                         std::vector<PrinterPaper>* papers) {
  printerCalls.push_back("DeviceCapabilities " + printerName + " " + portName);
  for (const FakePrinter& p : printers) {
    if (p.info.pPrinterName != printerName) continue;
    if (p.capabilitiesError != 0) return p.capabilitiesError;
    *papers = p.papers;
    return 0;
  }
  return kErrorInvalidPrinterName;
}

}  // namespace tallowin::test
