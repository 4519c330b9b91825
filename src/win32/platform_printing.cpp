// The spooler's printers, their default settings and their papers.
#include "win32/win.h"

#include <cstddef>
#include <string>
#include <vector>

#include "win32/handles.h"
#include "win32/wide.h"
#include "win32/win_platform.h"

namespace tallowin::win32 {

namespace {

inline void ClosePrinterFn(HANDLE h) { ::ClosePrinter(h); }
using UniquePrinter = Owned<HANDLE, ClosePrinterFn>;

// A failure always has a code, even when the system left none behind.
int32_t lastError() {
  const DWORD e = ::GetLastError();
  return e != 0 ? static_cast<int32_t>(e) : ERROR_GEN_FAILURE;
}

// The fields the section reads, when the whole of them lies inside the
// settings' own size and inside the buffer they came in.
bool readDevMode(const DEVMODEW* dm, const void* begin, size_t bytes, Platform::PrinterDevMode* out) {
  constexpr size_t kNeeded = offsetof(DEVMODEW, dmDuplex) + sizeof(short);
  const auto* lo = static_cast<const unsigned char*>(begin);
  const auto* p = reinterpret_cast<const unsigned char*>(dm);
  if (!dm || p < lo || p >= lo + bytes || static_cast<size_t>(lo + bytes - p) < kNeeded) return false;
  if (dm->dmSize < kNeeded) return false;
  out->dmFields = dm->dmFields;
  out->dmOrientation = dm->dmOrientation;
  out->dmPaperSize = dm->dmPaperSize;
  out->dmPaperLength = dm->dmPaperLength;
  out->dmPaperWidth = dm->dmPaperWidth;
  out->dmDefaultSource = dm->dmDefaultSource;
  out->dmPrintQuality = dm->dmPrintQuality;
  out->dmColor = dm->dmColor;
  out->dmDuplex = dm->dmDuplex;
  return true;
}

}  // namespace

std::vector<Platform::PrinterInfo2> WinPlatform::EnumPrinters(uint32_t flags) {
  std::vector<PrinterInfo2> out;
  DWORD needed = 0;
  DWORD returned = 0;
  ::EnumPrintersW(flags, nullptr, 2, nullptr, 0, &needed, &returned);
  if (needed == 0) return out;
  std::vector<BYTE> buffer(needed);
  returned = 0;
  if (!::EnumPrintersW(flags, nullptr, 2, buffer.data(), needed, &needed, &returned)) return out;
  const size_t bytes = buffer.size();
  if (returned > bytes / sizeof(PRINTER_INFO_2W)) returned = static_cast<DWORD>(bytes / sizeof(PRINTER_INFO_2W));
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) {
    const PRINTER_INFO_2W& pi = printers[i];
    PrinterInfo2 p;
    p.pPrinterName = StrFromPtr(pi.pPrinterName, buffer.data(), bytes);
    p.pPortName = StrFromPtr(pi.pPortName, buffer.data(), bytes);
    p.pDriverName = StrFromPtr(pi.pDriverName, buffer.data(), bytes);
    p.Attributes = pi.Attributes;
    p.Status = pi.Status;
    p.hasDevMode = readDevMode(pi.pDevMode, buffer.data(), bytes, &p.devMode);
    out.push_back(std::move(p));
  }
  return out;
}

int32_t WinPlatform::DocumentProperties(const std::string& printerName, PrinterDevMode* devMode) {
  std::wstring name = Wide(printerName);
  HANDLE raw = nullptr;
  if (!::OpenPrinterW(name.data(), &raw, nullptr)) return lastError();
  UniquePrinter printer(raw);
  const LONG size = ::DocumentPropertiesW(nullptr, printer.get(), name.data(), nullptr, nullptr, 0);
  if (size <= 0) return lastError();
  std::vector<BYTE> buffer(static_cast<size_t>(size));
  auto* dm = reinterpret_cast<DEVMODEW*>(buffer.data());
  if (::DocumentPropertiesW(nullptr, printer.get(), name.data(), dm, nullptr, DM_OUT_BUFFER) != IDOK)
    return lastError();
  if (!readDevMode(dm, buffer.data(), buffer.size(), devMode)) return ERROR_INVALID_DATA;
  return 0;
}

int32_t WinPlatform::DeviceCapabilities(const std::string& printerName, const std::string& portName,
                                        std::vector<PrinterPaper>* papers) {
  const std::wstring name = Wide(printerName);
  const std::wstring port = Wide(portName);
  papers->clear();
  const int count = ::DeviceCapabilitiesW(name.c_str(), port.c_str(), DC_PAPERS, nullptr, nullptr);
  if (count < 0) return lastError();
  if (count == 0) return 0;
  std::vector<WORD> codes(static_cast<size_t>(count));
  std::vector<POINT> sizes(static_cast<size_t>(count));
  // Both lists are asked for the same count; a printer that changed in
  // between gives a different one and is taken as failed.
  if (::DeviceCapabilitiesW(name.c_str(), port.c_str(), DC_PAPERS, reinterpret_cast<LPWSTR>(codes.data()),
                            nullptr) != count)
    return lastError();
  if (::DeviceCapabilitiesW(name.c_str(), port.c_str(), DC_PAPERSIZE, reinterpret_cast<LPWSTR>(sizes.data()),
                            nullptr) != count)
    return lastError();
  for (int i = 0; i < count; ++i)
    papers->push_back({static_cast<int16_t>(codes[static_cast<size_t>(i)]), sizes[static_cast<size_t>(i)].x,
                       sizes[static_cast<size_t>(i)].y});
  return 0;
}

}  // namespace tallowin::win32
