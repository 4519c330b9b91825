// The fake's spooler, message table, program start and file sizes.
#include <cctype>

#include "support/fake_platform.h"

namespace tallowin::test {

namespace {

std::string lowerCase(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

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

std::string FakePlatform::FormatMessage(int32_t code) {
  auto it = messages.find(code);
  return it == messages.end() ? std::string() : it->second;
}

bool FakePlatform::CreateProcess(const std::string& commandLine) {
  startAttempts.push_back(commandLine);
  return startable.count(commandLine) > 0;
}

int64_t FakePlatform::GetFileSize(const std::string& path) {
  for (const auto& [p, size] : fileSizes)
    if (lowerCase(p) == lowerCase(path)) return size;
  return -1;
}

}  // namespace tallowin::test
