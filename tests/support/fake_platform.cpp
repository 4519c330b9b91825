#include "support/fake_platform.h"

#include <algorithm>
#include <cctype>

#include "platform/text.h"

namespace tallowin::test {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string normalise(std::string p) {
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return lower(p);
}

constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidPrinterName = 1801;

}  // namespace

// ---- registry ----

std::map<std::string, FakePlatform::Key>& FakePlatform::tree(RegView view, uint32_t root) {
  return trees_[view == RegView::Bits32 && is64BitWindows ? 1 : 0][root & 3];
}

FakePlatform::Key& FakePlatform::addKey(const std::string& path, RegView view) {
  auto& t = tree(view, kHKeyLocalMachine);
  // The parents first, each child recorded under its parent.
  std::string parent;
  for (size_t from = 0, to = 0; from < path.size(); from = to + 1) {
    to = std::min(path.find('\\', from), path.size());
    const std::string part = path.substr(from, to - from);
    if (part.empty()) continue;
    const std::string here = parent.empty() ? part : parent + "\\" + part;
    if (!t.count(lower(here))) t[lower(parent)].subKeys.push_back(part);
    t[lower(here)];
    parent = here;
  }
  return t[lower(parent)];
}

void FakePlatform::setValue(const std::string& path, const std::string& name, uint32_t type,
                            std::vector<uint8_t> bytes, RegView view) {
  Key& k = addKey(path, view);
  for (auto& [n, v] : k.values)
    if (lower(n) == lower(name)) return void(v = {type, std::move(bytes)});
  k.values.push_back({name, {type, std::move(bytes)}});
}

std::vector<uint8_t> FakePlatform::Utf16Bytes(const std::string& utf8, bool withNul) {
  std::u16string w = Utf8ToUtf16(utf8);
  if (withNul) w += u'\0';
  std::vector<uint8_t> b;
  for (char16_t c : w) b.insert(b.end(), {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)});
  return b;
}

int32_t FakePlatform::RegOpenKeyEx(uint32_t root, const std::string& path, uint32_t, RegView view, RegHandle* key) {
  auto& t = tree(view, root);
  if (!t.count(normalise(path))) return kErrorFileNotFound;
  *key = nextHandle_++;
  open_[*key] = {&t, normalise(path)};
  return kErrorSuccess;
}

int32_t FakePlatform::RegQueryValueEx(RegHandle key, const std::string& name, uint32_t* type,
                                      std::vector<uint8_t>* data, uint32_t* size) {
  if (!open_.count(key)) return kErrorInvalidHandle;
  for (const auto& [n, v] : (*open_[key].first)[open_[key].second].values) {
    if (lower(n) != lower(name)) continue;
    if (type) *type = v.type;
    const auto actual = static_cast<uint32_t>(v.bytes.size());
    const bool fits = data && size && *size >= actual;
    if (size) *size = actual;
    if (!data) return kErrorSuccess;
    if (!fits) return kErrorMoreData;
    *data = v.bytes;
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

int32_t FakePlatform::RegQueryInfoKey(RegHandle key, uint32_t* subKeys) {
  if (!open_.count(key)) return kErrorInvalidHandle;
  *subKeys = static_cast<uint32_t>((*open_[key].first)[open_[key].second].subKeys.size());
  return kErrorSuccess;
}

int32_t FakePlatform::RegEnumKeyEx(RegHandle key, uint32_t index, std::string* name) {
  if (!open_.count(key)) return kErrorInvalidHandle;
  const Key& k = (*open_[key].first)[open_[key].second];
  if (index >= k.subKeys.size()) return kErrorNoMoreItems;
  *name = k.subKeys[index];
  return kErrorSuccess;
}

bool FakePlatform::ApiExists(const std::string& library, const std::string& function) {
  return exports.count(lower(library) + "!" + function) > 0;
}

// ---- locale and time ----

std::map<uint32_t, std::string> FakePlatform::EnUsLocaleInfo() {
  return {{0x1013, "Default"}, {0x1, "0409"}, {0x2, "English (United States)"}, {0x1001, "English"},
          {0x3, "ENU"}, {0x59, "en"}, {0x5, "1"}, {0x6, "United States"}, {0x1002, "United States"},
          {0x7, "USA"}, {0x5A, "US"}, {0x1008, "US Dollar"}, {0x14, "$"}, {0x15, "USD"},
          {0x1007, "US Dollar"}, {0x19, "2"}, {0x16, "."}, {0x17, ","}, {0xE, "."}, {0xF, ","},
          {0x1009, "1"}, {0x24, "1"}, {0x1D, "/"}, {0x20, "dddd, MMMM d, yyyy"}, {0x1F, "M/d/yyyy"},
          {0x100C, "6"}, {0x2A, "Monday"}, {0x2B, "Tuesday"}, {0x2C, "Wednesday"}, {0x2D, "Thursday"},
          {0x2E, "Friday"}, {0x2F, "Saturday"}, {0x30, "Sunday"}, {0x1E, ":"}, {0x1003, "h:mm:ss tt"},
          {0x23, "0"}, {0x28, "AM"}, {0x29, "PM"}, {0xD, "1"}, {0xC, ","}, {0x100A, "1"}};
}

// The section hands over only dates it has computed; an impossible one shows
// as itself, and the expected text does not match it.
std::string FakePlatform::GetDateFormat(uint32_t, const SystemTime& d) {
  return std::to_string(d.wMonth) + "/" + std::to_string(d.wDay) + "/" + std::to_string(d.wYear);
}

std::string FakePlatform::GetTimeFormat(uint32_t, const SystemTime& t) {
  auto two = [](int v) { return (v < 10 ? "0" : "") + std::to_string(v); };
  return std::to_string(t.wHour % 12 == 0 ? 12 : t.wHour % 12) + ":" + two(t.wMinute) + ":" + two(t.wSecond) +
         (t.wHour < 12 ? " AM" : " PM");
}

int32_t FakePlatform::GetLocaleInfo(uint32_t lcType, std::string* data) {
  if (!localeInfo.count(lcType)) return data->clear(), 0;
  *data = localeInfo[lcType];
  return static_cast<int32_t>(Utf8ToUtf16(*data).size() + 1);
}

// en-US: groups of three and style.decimals digits after ".". The core hands
// over numbers already rounded to those digits, so none are rounded here: a
// number with more would show them cut, not as Windows shows it.
std::string FakePlatform::GetNumberFormat(const std::string& number, const NumberStyle& style) {
  const size_t dot = std::min(number.find('.'), number.size());
  const bool negative = !number.empty() && number[0] == '-';
  std::string whole = number.substr(negative ? 1 : 0, dot - (negative ? 1 : 0));
  std::string fraction = dot < number.size() ? number.substr(dot + 1) : "";
  for (size_t i = whole.size() > 3 ? whole.size() - 3 : 0; i > 0; i = i > 3 ? i - 3 : 0) whole.insert(i, ",");
  fraction.resize(static_cast<size_t>(style.decimals), '0');
  const bool zero = (whole + fraction).find_first_not_of("0,") == std::string::npos;  // "-0" shows as 0
  return (negative && !zero ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

int32_t FakePlatform::CompareStringEx(uint32_t flags, const std::string& a, const std::string& b) {
  ++comparisons;
  const auto fold = [&](const std::string& s) { return (flags & kNormIgnoreCase) ? lower(s) : s; };
  const int c = fold(a).compare(fold(b));
  return c < 0 ? kCstrLessThan : c > 0 ? kCstrGreaterThan : kCstrEqual;
}

// ---- network ----

uint32_t FakePlatform::GetIfTable2(std::vector<IfRow>* rows) {
  if (ifTable2Result != 0) return ifTable2Result;
  *rows = ifTable2;
  for (IfRow& r : *rows) r.fromIfTable2 = true;  // as the real table's rows say
  return 0;
}

uint8_t FakePlatform::Netbios(Ncb& ncb) {
  const size_t length = ncb.ncb_buffer ? ncb.ncb_buffer->size() : 0;
  netbiosCalls.push_back(std::to_string(ncb.ncb_command) + " " + std::to_string(ncb.ncb_lana_num) + " [" +
                         ncb.ncb_callname + "] " + std::to_string(length));
  if (ncb.ncb_command != kNcbAdapterStatus) return kNrcGoodRet;
  if (ncb.ncb_buffer && (netbiosStatusResult == kNrcGoodRet || netbiosStatusResult == kNrcIncomplete))
    std::copy_n(adapterStatus.begin(), std::min(adapterStatus.size(), length), ncb.ncb_buffer->begin());
  return netbiosStatusResult;
}

// ---- printing ----

std::vector<Platform::PrinterInfo2> FakePlatform::EnumPrinters(uint32_t) {
  std::vector<PrinterInfo2> out;
  for (const FakePrinter& p : printers) out.push_back(p.info);
  return out;
}

int32_t FakePlatform::DocumentProperties(const std::string& name, PrinterDevMode* devMode) {
  printerCalls.push_back("DocumentProperties " + name);
  for (const FakePrinter& p : printers)
    if (p.info.pPrinterName == name) return p.documentPropertiesError ? p.documentPropertiesError : (*devMode = p.defaults, 0);
  return kErrorInvalidPrinterName;
}

int32_t FakePlatform::DeviceCapabilities(const std::string& name, const std::string& port,
                                         std::vector<PrinterPaper>* papers) {
  printerCalls.push_back("DeviceCapabilities " + name + " " + port);
  for (const FakePrinter& p : printers)
    if (p.info.pPrinterName == name) return p.capabilitiesError ? p.capabilitiesError : (*papers = p.papers, 0);
  return kErrorInvalidPrinterName;
}

// ---- files ----

int64_t FakePlatform::GetFileSize(const std::string& path) {
  for (const auto& [p, size] : fileSizes)
    if (lower(p) == lower(path)) return size;
  return -1;
}

// ---- records ----

Platform::OsVersionInfo OsVersion(uint32_t platformId, uint32_t major, uint32_t minor, uint8_t productType,
                                  uint32_t build, const char* csd) {
  return {.dwMajorVersion = major, .dwMinorVersion = minor, .dwBuildNumber = build, .dwPlatformId = platformId,
          .szCSDVersion = csd, .wProductType = productType};
}

Platform::IfRow Interface(uint32_t index, std::vector<uint8_t> mac, uint32_t type) {
  return {.hasDescr = true, .descr = "if" + std::to_string(index), .dwIndex = index, .dwType = type, .dwMtu = 1500,
          .speed = 100000000, .dwAdminStatus = 1, .operStatus = 5, .hardwareInterface = {}, .physAddr = std::move(mac)};
}

}  // namespace tallowin::test
