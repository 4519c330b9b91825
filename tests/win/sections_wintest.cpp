// Each section through the binding (`tallowin.exe show TAG --values`) against
// what the test asks Windows itself (the wording is the native tests'), a
// printer the test adds, and a hostile registry.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>
#include <map>
#include <memory>
#include <regex>

#include "platform/global.h"
#include "platform/registry.h"
#include "sections/system/processor.h"
#include "win/support/win_support.h"
#include "win32/win_platform.h"

namespace tallowin {
namespace {

using wintest::RegFixture;
using wintest::Utf8;

// `tallowin.exe show ARGUMENTS`, which must succeed, as lines.
std::vector<std::string> show(const std::wstring& arguments) {
  const auto r = wintest::RunTallowin(L"show " + arguments, 300000);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  return wintest::SplitLines(r.out);
}

// A line of a section as Windows itself answers it (the codes and the
// wording are the native tests').
struct Expected {
  const wchar_t* tag;
  std::string line;
  bool digits = false;  // compare only the value's digits (before " (")
};

std::string digitsOf(const std::string& text) {
  std::string d;
  for (char c : text.substr(0, text.find(" (")))
    if (c >= '0' && c <= '9') d += c;
  return d;
}

// (The locale's lines are GermanRegional's, in a locale other than Wine's default.)
std::vector<Expected> expectations() {
  std::vector<Expected> e;
  OSVERSIONINFOEXW v{sizeof(v)};
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")))(&v);
  wchar_t windir[MAX_PATH] = {};
  ::GetWindowsDirectoryW(windir, MAX_PATH);
  e.push_back({L"OS", "Operating System Name: Windows 7"});  // Wine's default version
  e.push_back({L"OS", "Operating System Build Number: " + std::to_string(v.dwBuildNumber)});
  e.push_back({L"OS", "Windows Directory: " + Utf8(windir)});

  SYSTEM_INFO si{};
  ::GetNativeSystemInfo(&si);
  e.push_back({L"CPU", "Processor Architecture: " + ArchitectureText(static_cast<int16_t>(si.wProcessorArchitecture))});
  // A 64-bit address space: past 32 bits, not negative.
  e.push_back({L"CPU", "Maximum Application Address: " +
                           std::to_string(reinterpret_cast<uintptr_t>(si.lpMaximumApplicationAddress)), true});

  MEMORYSTATUSEX m{sizeof(m)};
  ::GlobalMemoryStatusEx(&m);
  e.push_back({L"MEMORY", "Total Physical Memory: " + std::to_string(m.ullTotalPhys), true});

  wchar_t layout[KL_NAMELENGTH] = {};
  ::GetKeyboardLayoutNameW(layout);
  e.push_back({L"UI", "Input Locale Identifier: " + Utf8(layout)});
  e.push_back({L"UI", "Screen Size (Primary Monitor): " + std::to_string(::GetSystemMetrics(SM_CXSCREEN)) +
                          "w x " + std::to_string(::GetSystemMetrics(SM_CYSCREEN)) + "h"});

  SYSTEM_POWER_STATUS power{};
  ::GetSystemPowerStatus(&power);
  const char* ac[] = {"AC Offline", "AC Online", "AC Backup Power", "AC Unknown"};
  e.push_back({L"POWER", std::string("AC Line Status: ") + ac[std::min<int>(power.ACLineStatus, 3)]});

  DWORD needed = 0, returned = 0;
  ::EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned);
  std::vector<BYTE> ports(needed);
  if (needed && ::EnumPortsW(nullptr, 2, ports.data(), needed, &needed, &returned) && returned) {
    const auto* p = reinterpret_cast<const PORT_INFO_2W*>(ports.data());
    e.push_back({L"PORTS", Utf8(p->pPortName) + " (" + Utf8(p->pDescription ? p->pDescription : L"") + ")"});
  }

  wchar_t computer[32] = {};
  DWORD size = 32;
  ::GetComputerNameW(computer, &size);
  e.push_back({L"NETWORK", "NetBIOS Name: " + Utf8(computer)});
  MIB_IF_TABLE2* table = nullptr;
  if (::GetIfTable2(&table) == NO_ERROR) {
    e.push_back({L"NETWORK", "Network Interfaces: " + std::to_string(table->NumEntries)});
    for (ULONG i = 0; i < table->NumEntries; ++i)
      e.push_back({L"NETWORK", "Interface: " + Utf8(table->Table[i].Description)});
    ::FreeMibTable(table);
  }

  TIME_ZONE_INFORMATION tz{};
  ::GetTimeZoneInformation(&tz);
  e.push_back({L"TIME", "Standard Time Name: " + Utf8(tz.StandardName)});
  LARGE_INTEGER f{};
  ::QueryPerformanceFrequency(&f);
  e.push_back({L"TIME", "High Resolution Timer Frequency: " + std::to_string(f.QuadPart), true});
  return e;
}

bool matches(const std::string& line, const Expected& e) {
  const size_t colon = e.line.find(": ") + 2;
  return e.digits ? line.rfind(e.line.substr(0, colon), 0) == 0 && digitsOf(line.substr(colon)) == e.line.substr(colon)
                  : line == e.line;
}

TEST(Sections, ShowWhatWindowsReports) {
  std::map<std::wstring, std::vector<std::string>> shown;
  for (const Expected& e : expectations()) {
    auto& lines = shown[e.tag];
    if (lines.empty()) {
      lines = show(e.tag);
      for (const auto& l : lines) EXPECT_NE(l.rfind("ERROR: ", 0), 0u) << l;
    }
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return matches(l, e); }))
        << Utf8(e.tag) << ": no line " << e.line;
  }
}

// (A tag in any case and the address's form are the native tests'; the upload's
// test compares `mac` with the record.)
TEST(Console, UsageErrorsExitWith2) {
  EXPECT_EQ(wintest::RunTallowin(L"show OS --frobnicate").exitCode, 2);
  EXPECT_EQ(wintest::RunTallowin(L"explode").exitCode, 2);
}

// Both interface tables read alike, no character lost to a dwDescrLen without the NUL (Wine's).
TEST(NetworkBinding, BothInterfaceTablesAgree) {
  win32::WinPlatform p;
  std::vector<Platform::IfRow> rows32, rows64;
  ASSERT_EQ(p.GetIfTable(&rows32), 0u);
  ASSERT_EQ(p.GetIfTable2(&rows64), 0u);
  ASSERT_EQ(rows32.size(), rows64.size());
  std::sort(rows64.begin(), rows64.end(), [](const auto& a, const auto& b) { return a.dwIndex < b.dwIndex; });
  for (size_t i = 0; i < rows32.size(); ++i) {
    const auto& a = rows32[i];
    const auto& b = rows64[i];
    EXPECT_EQ(a.dwIndex, b.dwIndex);
    EXPECT_TRUE(a.hasDescr);
    EXPECT_FALSE(a.descr.empty());
    EXPECT_EQ(a.descr, b.descr) << a.dwIndex;
    EXPECT_EQ(a.dwType, b.dwType);
    EXPECT_EQ(a.dwAdminStatus, b.dwAdminStatus);
    EXPECT_EQ(a.physAddr, b.physAddr);
  }
}

// What the double-click on a FOLDERS line and the error lines use.
TEST(Binding, ProgramStartFileSizeAndMessages) {
  win32::WinPlatform p;
  const std::string windir = p.GetWindowsDirectory() + "\\";
  EXPECT_GT(p.GetFileSize(windir + "explorer.exe"), 0);
  EXPECT_EQ(p.GetFileSize(windir + "no such file.exe"), -1);
  EXPECT_EQ(p.GetFileSize(windir), -1);  // a directory is no program
  EXPECT_TRUE(p.CreateProcess("cmd.exe /c exit 0"));
  EXPECT_FALSE(p.CreateProcess("tallowin-no-such-program.exe"));
  const std::string message = p.FormatMessage(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(message.empty());
  EXPECT_EQ(message.find_first_of("\r\n"), std::string::npos) << "without the line break";
}

// Wine takes a process's locale and zone from the Unix environment it starts
// with: scripts/test runs this in a Wine started with LC_ALL=de_DE.UTF-8 and
// TZ=America/New_York (TALLOWIN_LOCALE_RUN=de-DE); the ordinary run skips it.
// The user's number format, New York's dates in German and the user's locale
// reach the lines (the wording and the day's rule are the native tests').
TEST(GermanRegional, FormatsFollowTheUsersSettings) {
  wchar_t run[16] = {};
  if (!::GetEnvironmentVariableW(L"TALLOWIN_LOCALE_RUN", run, 16) || std::wstring(run) != L"de-DE")
    GTEST_SKIP() << "runs in scripts/test's German-locale step";
  ASSERT_EQ(::GetUserDefaultLCID(), 0x407u) << "Wine did not take the German locale from LC_ALL";
  win32::WinPlatform p;
  EXPECT_EQ(FormatBytes(p, 1536), "1.536 bytes (1,50 KB)");

  const auto t = show(L"TIME");
  TIME_ZONE_INFORMATION tz{};
  ::GetTimeZoneInformation(&tz);
  ASSERT_EQ(tz.Bias, 300);
  const std::regex date("(Standard Time Begins: 0?[1-7]\\.11|Daylight Time Begins: (0?[89]|1[0-4])\\.0?3)\\.20\\d\\d 02:00:00");
  EXPECT_EQ(std::count_if(t.begin(), t.end(), [&](const std::string& l) { return std::regex_match(l, date); }), 2);
  EXPECT_EQ(show(L"LOCALE").at(0), "Locale ID: 1031 / 0x407");
}

// ---- printers ----
// `tallowin.exe show PRINTERS` with a printer the test adds: Wine's PostScript
// driver, a small PPD of its own, the FILE: port.

const wchar_t kDriver[] = L"Tallowin Test PostScript";
const wchar_t kPrinter[] = L"Tallowin Test Printer";
const wchar_t kPpdName[] = L"tallowin-test.ppd";

// Letter, in colour, one-sided unless asked.
const char kPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
    "*ModelName: \"Tallowin Test\"\n*NickName: \"Tallowin Test\"\n*LanguageLevel: \"2\"\n*ColorDevice: True\n"
    "*DefaultColorSpace: RGB\n*DefaultResolution: 300dpi\n*OpenUI *PageSize: PickOne\n*DefaultPageSize: Letter\n"
    "*PageSize Letter/Letter: \"<</PageSize[612 792]>>setpagedevice\"\n*CloseUI: *PageSize\n"
    "*DefaultImageableArea: Letter\n*ImageableArea Letter/Letter: \"18 18 594 774\"\n"
    "*DefaultPaperDimension: Letter\n*PaperDimension Letter/Letter: \"612 792\"\n"
    "*OpenUI *Duplex: PickOne\n*DefaultDuplex: None\n*Duplex None/Off: \"<</Duplex false>>setpagedevice\"\n"
    "*Duplex DuplexNoTumble/Long Edge: \"<</Duplex true/Tumble false>>setpagedevice\"\n*CloseUI: *Duplex\n";

// Adds the driver and the printer (after what an aborted run left); takes
// both away again, with the files the spooler copied.
class TestPrinter {
 public:
  TestPrinter() {
    if (::OpenPrinterW(const_cast<wchar_t*>(kPrinter), &printer_, nullptr)) ::DeletePrinter(printer_);
    if (printer_) ::ClosePrinter(printer_);
    printer_ = nullptr;
    ::DeletePrinterDriverW(nullptr, nullptr, const_cast<wchar_t*>(kDriver));
    wchar_t dir[MAX_PATH] = {};
    DWORD needed = 0;
    ::GetPrinterDriverDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(dir), sizeof(dir), &needed);
    // AddPrinterDriver takes the files from the driver directory.
    ppdSource_ = std::wstring(dir) + L"\\" + kPpdName;
    HANDLE f = ::CreateFileW(ppdSource_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool wrote = f != INVALID_HANDLE_VALUE && ::WriteFile(f, kPpd, sizeof(kPpd) - 1, &written, nullptr);
    if (f != INVALID_HANDLE_VALUE) ::CloseHandle(f);
    DRIVER_INFO_3W di{};
    di.cVersion = 3;
    di.pName = const_cast<wchar_t*>(kDriver);
    di.pDriverPath = di.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
    di.pDataFile = const_cast<wchar_t*>(kPpdName);
    driverAdded_ = wrote && ::AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&di));
    PRINTER_INFO_2W pi{};
    pi.pPrinterName = const_cast<wchar_t*>(kPrinter);
    pi.pPortName = const_cast<wchar_t*>(L"FILE:");
    pi.pDriverName = const_cast<wchar_t*>(kDriver);
    pi.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    pi.pDatatype = const_cast<wchar_t*>(L"RAW");
    if (driverAdded_) printer_ = ::AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&pi));
    if (!printer_) {
      failure = "Wine refused the PPD, the driver or the printer: " + std::to_string(::GetLastError());
      return;
    }
    // The copy the spooler made, to be removed with the driver.
    needed = 0;
    ::GetPrinterDriverW(printer_, nullptr, 3, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    if (needed && ::GetPrinterDriverW(printer_, nullptr, 3, info.data(), needed, &needed))
      ppdCopy_ = reinterpret_cast<DRIVER_INFO_3W*>(info.data())->pDataFile;
  }
  ~TestPrinter() {
    if (printer_) {
      ::DeletePrinter(printer_);
      ::ClosePrinter(printer_);
    }
    if (driverAdded_) ::DeletePrinterDriverW(nullptr, nullptr, const_cast<wchar_t*>(kDriver));
    if (!ppdCopy_.empty()) ::DeleteFileW(ppdCopy_.c_str());
    ::DeleteFileW(ppdSource_.c_str());
  }
  TestPrinter(const TestPrinter&) = delete;
  TestPrinter& operator=(const TestPrinter&) = delete;

  HANDLE handle() const { return printer_; }
  std::string failure;  // empty when the printer is in place

 private:
  HANDLE printer_ = nullptr;
  bool driverAdded_ = false;
  std::wstring ppdSource_;
  std::wstring ppdCopy_;
};

// The lines of the block that begins with the printer's name.
std::vector<std::string> blockOf(const std::vector<std::string>& lines, const std::string& name) {
  std::vector<std::string> out;
  for (auto it = std::find(lines.begin(), lines.end(), name); it != lines.end() && !it->empty(); ++it) out.push_back(*it);
  return out;
}

// The added printer is listed with the settings the spooler gives for it.
// Then it cannot be reached, though the spooler lists settings it cached:
// marked "May Be Offline", the cached settings shown. (Wine opens a printer
// without touching its port: here its driver is one not installed, read by a
// new process as the spooler's driver lookup is kept per process.)
TEST(ShowPrinters, AnAddedPrinterWithItsSettingsThenUnreachable) {
  TestPrinter printer;
  if (!printer.failure.empty()) GTEST_SKIP() << printer.failure;
  const LONG size = ::DocumentPropertiesW(nullptr, printer.handle(), const_cast<wchar_t*>(kPrinter), nullptr,
                                          nullptr, 0);
  ASSERT_GT(size, 0);
  std::vector<BYTE> buffer(static_cast<size_t>(size));
  auto* dm = reinterpret_cast<DEVMODEW*>(buffer.data());
  ASSERT_EQ(::DocumentPropertiesW(nullptr, printer.handle(), const_cast<wchar_t*>(kPrinter), dm, nullptr,
                                  DM_OUT_BUFFER),
            IDOK);
  ASSERT_EQ(dm->dmFields & (DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_DUPLEX),
            static_cast<DWORD>(DM_DEFAULTSOURCE | DM_PRINTQUALITY | DM_DUPLEX))
      << "the driver no longer fills in these settings";
  // The spooler's and the driver's settings arrive (their wording is the native tests').
  const std::vector<std::string> settings = {
      "  Port: FILE:",
      "  Driver: Tallowin Test PostScript",
      "  Current Paper Size: U.S. Letter, 8 1/2 x 11 in.",
      "  Print Quality: " + std::to_string(dm->dmPrintQuality) + " dpi",
      "  Current Duplex Setting: Single-sided printing with the current orientation setting.",
  };
  auto lines = show(L"PRINTERS");
  const auto listed = blockOf(lines, Utf8(kPrinter));
  EXPECT_EQ(listed.size(), 11u) << "the name and a line for each setting the driver fills in, no more";
  for (const std::string& line : settings) EXPECT_NE(std::find(listed.begin(), listed.end(), line), listed.end()) << line;
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const auto& l) { return l.find("Working ...") != l.npos; }), 0);

  DWORD needed = 0;
  ::GetPrinterW(printer.handle(), 2, nullptr, 0, &needed);
  std::vector<BYTE> info(needed);
  ASSERT_TRUE(::GetPrinterW(printer.handle(), 2, info.data(), needed, &needed));
  auto* pi = reinterpret_cast<PRINTER_INFO_2W*>(info.data());
  ASSERT_NE(pi->pDevMode, nullptr) << "the spooler keeps no settings for the printer";
  pi->pDriverName = const_cast<wchar_t*>(L"Tallowin Missing Driver");
  ASSERT_TRUE(::SetPrinterW(printer.handle(), 2, info.data(), 0));
  const auto block = blockOf(show(L"PRINTERS"), Utf8(kPrinter));
  ASSERT_FALSE(block.empty());
  EXPECT_NE(std::find(block.begin(), block.end(), settings[2]), block.end()) << "the listed settings are shown";
  EXPECT_EQ(block.back(), "  Error: 482 Printer error (May Be Offline)");
}

// ---- a hostile registry ----
// Keys in both registry views, a value of 1 MB, a key name of 255 characters,
// and a device with its driver, as the Programs and bus sections read them
// from the real registry (how a value's bytes are taken is the native tests'
// and the registry fuzzer's).

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kEnum = L"SYSTEM\\CurrentControlSet\\Enum\\";
const std::wstring kTestClass = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{7a11081d-0000-4000-8000-7a110817e575}";

const std::wstring kHuge = L"TallowinHuge" + std::wstring(512 * 1024 - 13, L'x');  // 1 MB with its NUL
const std::wstring kLongKey = L"TallowinLong" + std::wstring(255 - 12, L'n');
const std::wstring kLetters = L"Tallowin Test \u00C4rger \u00D6ffnen \u00C7edille \u03A9mega \u65E5\u672C";

// The tree, written; each key removed again with everything below it (the
// device's from PCMCIA down).
class RegistryTree : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY k = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kEnum + L"PCMCIA").c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &k) == 0) {
      ::RegCloseKey(k);
      GTEST_SKIP() << "this machine lists PCMCIA devices of its own";
    }
    const auto key = [&](const std::wstring& path, REGSAM view) -> RegFixture& {
      return *keys_.emplace_back(std::make_unique<RegFixture>(HKEY_LOCAL_MACHINE, path, view));
    };
    key(kUninstall + L"TallowinTest-Letters", KEY_WOW64_32KEY).setString(L"", L"DisplayName", kLetters);
    key(kUninstall + L"TallowinTest-Both", KEY_WOW64_64KEY).setString(L"", L"DisplayName", L"Tallowin Test Both (64-bit)");
    key(kUninstall + L"TallowinTest-Both", KEY_WOW64_32KEY).setString(L"", L"DisplayName", L"  Tallowin Test Both (32-bit)");
    key(kUninstall + L"TallowinTest-Huge", KEY_WOW64_64KEY).setString(L"", L"DisplayName", kHuge);
    key(kUninstall + kLongKey, KEY_WOW64_64KEY).setString(L"", L"Publisher", L"no name: the key's");
    RegFixture& card = key(kEnum + L"PCMCIA", KEY_WOW64_64KEY);
    card.setString(L"TALLOWIN_CARD_A\\1", L"DeviceDesc", L"Tallowin Test Card A");
    card.setString(L"TALLOWIN_CARD_A\\1", L"Driver", kTestClass.substr(kTestClass.rfind(L'\\') + 1) + L"\\0000");
    RegFixture& driver = key(kTestClass, KEY_WOW64_64KEY);
    driver.setString(L"0000", L"DriverDesc", L"Tallowin Test Driver");
    driver.setString(L"0000", L"DriverVersion", L"1.0.0.1");
    driver.setString(L"0000", L"Provider", L"Tallowin Test");
  }
  std::vector<std::unique_ptr<RegFixture>> keys_;
};

TEST_F(RegistryTree, ProgramsOfBothViewsAreListedWholeOnceAndSorted) {
  std::vector<std::string> names;
  for (const auto& line : show(L"PROGS"))
    if (!line.empty()) names.push_back(line);
  for (const std::wstring& name : {kLetters, std::wstring(L"Tallowin Test Both (64-bit)"),
                                   std::wstring(L"  Tallowin Test Both (32-bit)"), kHuge, kLongKey})
    EXPECT_EQ(std::count(names.begin(), names.end(), Utf8(name)), 1) << Utf8(name).substr(0, 80);
  for (size_t i = 1; i < names.size(); ++i) {
    const std::wstring a = wintest::Wide(names[i - 1]), b = wintest::Wide(names[i]);
    EXPECT_NE(::CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                                b.c_str(), static_cast<int>(b.size()), nullptr, nullptr, 0),
              CSTR_GREATER_THAN)
        << names[i - 1].substr(0, 80) << " | " << names[i].substr(0, 80);
  }
}

TEST_F(RegistryTree, ABusDeviceWithItsDriver) {
  EXPECT_EQ(show(L"PCMCIA"), (std::vector<std::string>{
                                 "PCMCIA Card Name: Tallowin Test Card A",
                                 "  Driver Name: Tallowin Test Driver",
                                 "  Driver Version: 1.0.0.1",
                                 "  Driver Provider: Tallowin Test",
                             }));
}

// GetRegValue over the real registry: an expandable string as stored; ApiExists
// over the real loader (every library and function the sections ask for is in
// Windows 7 and later: the answer "missing" is the native tests').
TEST(RegistryHelpers, ReadTheRealRegistry) {
  RegFixture fx(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TallowinTest\\Registry");
  fx.setString(L"", L"expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
  win32::WinPlatform p;
  EXPECT_EQ(GetRegValue(p, kHKeyLocalMachine, "SOFTWARE\\TallowinTest\\Registry", "expand", std::string(), RegView::Bits64),
            RegValue(std::string("%SystemRoot%\\x")));
  EXPECT_TRUE(ApiExists(p, "kernel32.dll", "GetSystemWindowsDirectoryW"));
}

}  // namespace
}  // namespace tallowin
