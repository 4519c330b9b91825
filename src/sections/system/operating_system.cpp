// The operating-system section: the decoded version, the registered owner,
// the system directories and three system-metric facts. Also records the
// version flags that the processor, power and user-interface sections read.
#include <string>

#include "platform/global.h"
#include "platform/registry.h"
#include "sections/section_context.h"
#include "sections/sections.h"
#include "sections/system/operating_system.h"

namespace tallowin {

namespace {

constexpr int32_t kSmSecure = 44;
constexpr int32_t kSmDebug = 22;
constexpr int32_t kSmCleanBoot = 67;

bool isServer(uint8_t productType) { return productType == 2 || productType == 3; }

// NT 5 and later. The flags follow the old table (minor 0 and 1); the names
// follow the releases that came after it.
std::string ntName(const Platform::OsVersionInfo& v, VersionFlags& f) {
  const uint32_t major = v.dwMajorVersion;
  const uint32_t minor = v.dwMinorVersion;
  if (minor == 0) f.IsWin2000 = true;
  else if (minor == 1) f.IsWinXP = true;

  const bool server = isServer(v.wProductType);
  auto pick = [server](const char* workstation, const char* srv) { return std::string(server ? srv : workstation); };
  if (major == 5 && minor == 0) return "Windows 2000";
  if (major == 5 && minor == 1) return "Windows XP";
  if (major == 5 && minor == 2) return pick("Windows XP Professional x64 Edition", "Windows Server 2003");
  if (major == 6 && minor == 0) return pick("Windows Vista", "Windows Server 2008");
  if (major == 6 && minor == 1) return pick("Windows 7", "Windows Server 2008 R2");
  if (major == 6 && minor == 2) return pick("Windows 8", "Windows Server 2012");
  if (major == 6 && minor == 3) return pick("Windows 8.1", "Windows Server 2012 R2");
  if (major == 10 && minor == 0) {
    if (!server) return v.dwBuildNumber < 22000 ? "Windows 10" : "Windows 11";
    switch (v.dwBuildNumber) {
      case 14393: return "Windows Server 2016";
      case 17763: return "Windows Server 2019";
      case 20348: return "Windows Server 2022";
      case 26100: return "Windows Server 2025";
      default: return "Windows Server";
    }
  }
  return "Windows NT " + std::to_string(major) + "." + std::to_string(minor);
}

std::string productTypeText(const Platform::OsVersionInfo& v) {
  const bool win2000 = v.dwMajorVersion == 5 && v.dwMinorVersion == 0;
  switch (v.wProductType) {
    case 1: return win2000 ? "Windows 2000 Professional" : "Workstation";
    case 2: return "Domain Controller";
    case 3: return win2000 ? "Windows 2000 Server" : "Server";
    default: return "unknown";
  }
}

std::string bootTypeText(int32_t cleanBoot) {
  switch (cleanBoot) {
    case 0: return "Normal";
    case 1: return "Safe Mode";
    case 2: return "Safe Mode with Network Support";
    default: return "Unknown";
  }
}

std::string platformText(uint32_t id) {
  switch (id) {
    case 0: return "Windows 32s";
    case 1: return "Windows 9x/ME";
    case 2: return "Windows NT/2000/XP";
    default: return "Unknown";
  }
}


}  // namespace

std::string DecodeOsName(const Platform::OsVersionInfo& v, VersionFlags& f) {
  const auto major = static_cast<int32_t>(v.dwMajorVersion);
  const auto minor = static_cast<int32_t>(v.dwMinorVersion);
  const std::string csd = TrimNull(v.szCSDVersion);
  if (v.dwPlatformId == 2) {
    if (major >= 5) return ntName(v, f);
    f.IsWinNT = true;
    if (major == 4) { f.IsWinNT4 = true; return "Windows NT 4"; }
    if (major == 3) { f.IsWinNT35 = true; return "Windows NT 3.5x"; }
    return "Windows NT";
  }
  if (major == 3) {
    f.IsWin3x = true;
    return "Windows 3." + std::to_string(minor);
  }
  if (major == 4) {
    f.IsWin9x = true;
    if (minor == 0) { f.IsWin95 = true; return csd == "C" ? "Windows 95 OSR2" : "Windows 95"; }
    if (minor == 10) { f.IsWin98 = true; return csd == "A" ? "Windows 98 SE" : "Windows 98"; }
    if (minor == 90) { f.IsWinME = true; return "Windows ME"; }
    return "Windows 9x";
  }
  if (major == 5) {
    f.IsWin9x = true;
    f.IsWinXP = true;
    return "Windows XP";
  }
  return "Unknown";
}

std::string SuiteText(uint16_t suiteMask) {
  static constexpr struct { uint16_t bit; const char* text; } kSuites[] = {
      {0x01, "Small Business"}, {0x20, "Small Business (Restricted)"}, {0x04, "BackOffice"},
      {0x02, "Enterprise"},     {0x80, "DataCenter"},                  {0x10, "Terminal Server"},
  };
  std::string out;
  for (const auto& s : kSuites)
    if (suiteMask & s.bit) out += s.text;
  return IsPresent(out) ? out : "none";
}

void CollectOperatingSystem(SectionContext& ctx) {
  Platform& p = ctx.platform();
  ReportList& list = ctx.list();
  VersionFlags& f = ctx.flags();

  Platform::OsVersionInfo v = p.RtlGetVersion();
  f.OsMajorVersion = static_cast<int32_t>(v.dwMajorVersion);
  f.OsMinorVersion = static_cast<int32_t>(v.dwMinorVersion);
  const std::string name = DecodeOsName(v, f);
  if (!(v.dwPlatformId == 2 && static_cast<int32_t>(v.dwMajorVersion) >= 5)) {
    // The extended record is only filled on NT 5 and later.
    v.wServicePackMajor = v.wServicePackMinor = v.wSuiteMask = 0;
    v.wProductType = 0;
  }

  list.append("Operating System Name: " + name, 10);

  // The 64-bit view: a 32-bit host would otherwise read the WOW6432Node copy.
  const std::string key = v.dwPlatformId == 2 ? "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
                                              : "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  const std::string owner =
      RegValueText(GetRegValue(p, kHKeyLocalMachine, key, "RegisteredOwner", std::string(), RegView::Bits64));
  const std::string company =
      RegValueText(GetRegValue(p, kHKeyLocalMachine, key, "RegisteredOrganization", std::string(), RegView::Bits64));
  if (IsPresent(owner)) list.append("Licensed To User: " + owner);
  if (IsPresent(company)) list.append("Licensed To Company: " + company);

  list.append("Operating System Platform: " + platformText(v.dwPlatformId), 20);
  list.append("Operating System Major Version: " + std::to_string(static_cast<int32_t>(v.dwMajorVersion)), 30);
  list.append("Operating System Minor Version: " + std::to_string(static_cast<int32_t>(v.dwMinorVersion)), 40);
  list.append("Operating System Build Number: " + std::to_string(static_cast<int32_t>(v.dwBuildNumber)), 50);
  list.append("Service Pack Description: " + TrimNull(v.szCSDVersion), 60);
  if (f.IsWin2000 || f.IsWinXP) {
    list.append("Service Pack Major Version: " + std::to_string(static_cast<int16_t>(v.wServicePackMajor)), 210);
    list.append("Service Pack Minor Version: " + std::to_string(static_cast<int16_t>(v.wServicePackMinor)), 220);
  }
  list.append("Windows Directory: " + StripNullsAndTrim(p.GetWindowsDirectory()), 70);
  list.append("Windows System Directory: " + StripNullsAndTrim(p.GetSystemDirectory()), 80);
  if (ApiExists(p, "kernel32.dll", "GetSystemWindowsDirectoryW"))
    list.append("Shared Windows Directory: " + StripNullsAndTrim(p.GetSystemWindowsDirectory()), 90);
  if (f.IsWin2000) {
    list.append("Product Type: " + productTypeText(v), 230);
    list.append("Software Suite/Bundle: " + SuiteText(v.wSuiteMask), 240);
  }
  list.append("Security Present: " + YesNo(p.GetSystemMetrics(kSmSecure)), 250);
  list.append("Debug Version of Windows: " + YesNo(p.GetSystemMetrics(kSmDebug)), 260);
  list.append("Boot Type: " + bootTypeText(p.GetSystemMetrics(kSmCleanBoot)), 270);
}

}  // namespace tallowin
