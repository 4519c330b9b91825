// The network section against what Windows (Wine) reports to the test: the
// console's `show NETWORK` and `mac`, the binding's interface tables, and
// the Network tab in the window. Only this machine's own interfaces are read.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>
#include <map>
#include <regex>

#include "win/support/win_support.h"
#include "win32/frm_main.h"
#include "win32/win_platform.h"

namespace tallowin {
namespace {

struct IfInfo {
  std::wstring description;
  IFTYPE type;
};

// The 64-bit interface table as the test reads it itself, by index.
std::map<ULONG, IfInfo> interfaces() {
  std::map<ULONG, IfInfo> out;
  MIB_IF_TABLE2* table = nullptr;
  if (::GetIfTable2(&table) != NO_ERROR) return out;
  for (ULONG i = 0; i < table->NumEntries; ++i)
    out[table->Table[i].InterfaceIndex] = {table->Table[i].Description, table->Table[i].Type};
  ::FreeMibTable(table);
  return out;
}

std::string hostName() {
  WSADATA wsa{};
  if (::WSAStartup(0x0101, &wsa) != 0) return {};
  char name[256] = {};
  const int rc = ::gethostname(name, 255);
  ::WSACleanup();
  return rc == 0 ? name : "";
}

// The lines without their item values.
std::vector<std::string> texts(const std::vector<std::string>& valued) {
  std::vector<std::string> out;
  for (const auto& l : valued) out.push_back(l.substr(l.find('\t') + 1));
  return out;
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ShowNetwork, MatchesThePlatform) {
  const auto r = wintest::RunTallowin(L"show NETWORK --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto valued = wintest::SplitLines(r.out);
  const auto lines = texts(valued);
  ASSERT_GE(lines.size(), 12u);

  wchar_t computer[32] = {};
  DWORD size = 32;
  ASSERT_TRUE(::GetComputerNameW(computer, &size));
  wchar_t user[257] = {};
  size = 257;
  ASSERT_TRUE(::GetUserNameW(user, &size));
  const std::string host = hostName();
  ASSERT_FALSE(host.empty());

  EXPECT_EQ(valued[0], "5010\tNetBIOS Name: " + wintest::Utf8(computer));
  EXPECT_EQ(valued[1], "5020\tDNS Host Name: " + host);
  EXPECT_EQ(valued[2].rfind("5030\tFully Qualified Domain Name: ", 0), 0u);
  EXPECT_TRUE(has(valued, "5045\tUser Name: " + wintest::Utf8(user)));
  EXPECT_TRUE(has(lines, "Winsock Present: Yes"));
  // The host's addresses end with the loopback address, right before the user.
  const auto userAt = std::find(lines.begin(), lines.end(), "User Name: " + wintest::Utf8(user));
  ASSERT_NE(userAt, lines.begin());
  EXPECT_EQ(*(userAt - 1), "IP Address: 127.0.0.1");

  // One block per interface the system reports, in index order, each with
  // the system's own description.
  const auto table = interfaces();
  ASSERT_FALSE(table.empty());
  const auto countAt = std::find(lines.begin(), lines.end(), "Network Interfaces: " + std::to_string(table.size()));
  ASSERT_NE(countAt, lines.end()) << r.out;
  std::vector<std::string> indexLines, descriptions;
  for (const auto& l : lines) {
    if (l.rfind("  Index: ", 0) == 0) indexLines.push_back(l);
    if (l.rfind("Interface: ", 0) == 0) descriptions.push_back(l);
  }
  EXPECT_EQ(indexLines.size(), table.size());
  EXPECT_EQ(static_cast<size_t>(std::count(lines.begin(), lines.end(), "")), table.size());
  std::vector<std::string> expectIndexes, expectDescriptions;
  for (const auto& [index, info] : table) {
    expectIndexes.push_back("  Index: " + std::to_string(index) + " (" + std::to_string(index & 0xFF) + "." +
                            std::to_string((index >> 8) & 0xFF) + "." + std::to_string((index >> 16) & 0xFF) + "." +
                            std::to_string(index >> 24) + ")");
    expectDescriptions.push_back("Interface: " + wintest::Utf8(info.description));
  }
  EXPECT_EQ(indexLines, expectIndexes);
  EXPECT_EQ(descriptions, expectDescriptions);

  // The loopback interface's block.
  auto typeAt = std::find(countAt, lines.end(), "  Type: Loopback (Diagnostic)");
  ASSERT_NE(typeAt, lines.end()) << r.out;
  auto blockEnd = std::find(typeAt, lines.end(), "");
  const std::vector<std::string> block(typeAt, blockEnd);
  EXPECT_TRUE(has(block, "  MAC Address: <none>"));
  EXPECT_TRUE(has(block, "  IP Address: 127.0.0.1"));
  EXPECT_EQ(lines.back().rfind("  Receive Error Rate: ", 0), 0u);
}

TEST(ConsoleMac, SixPairs) {
  const auto r = wintest::RunTallowin(L"mac");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::regex_match(r.out, std::regex("([0-9A-F]{2}-){5}[0-9A-F]{2}\n"))) << r.out;
  EXPECT_EQ(wintest::RunTallowin(L"mac").out, r.out);
  EXPECT_EQ(wintest::RunTallowin(L"mac now").exitCode, 2);
}

TEST(ConsoleMac, NotZeroWhenAnInterfaceHasAnAddress) {
  // Whether or not NetBIOS answers here, an up Ethernet interface with an
  // address stands for the machine.
  bool usable = false;
  MIB_IF_TABLE2* table = nullptr;
  ASSERT_EQ(::GetIfTable2(&table), static_cast<DWORD>(NO_ERROR));
  for (ULONG i = 0; i < table->NumEntries; ++i) {
    const MIB_IF_ROW2& row = table->Table[i];
    const bool zero = std::all_of(row.PhysicalAddress, row.PhysicalAddress + 6, [](UCHAR b) { return b == 0; });
    if (row.AdminStatus == NET_IF_ADMIN_STATUS_UP && row.Type == IF_TYPE_ETHERNET_CSMACD &&
        row.PhysicalAddressLength == 6 && !zero)
      usable = true;
  }
  ::FreeMibTable(table);
  if (!usable) GTEST_SKIP() << "no Ethernet interface with an address here";
  EXPECT_NE(wintest::RunTallowin(L"mac").out, "00-00-00-00-00-00\n");
}

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
    // No character lost to a dwDescrLen that does not count the NUL.
    EXPECT_TRUE(a.hasDescr);
    EXPECT_EQ(a.descr, b.descr) << a.dwIndex;
    EXPECT_FALSE(a.descr.empty());
    EXPECT_EQ(a.dwType, b.dwType);
    EXPECT_EQ(a.dwMtu, b.dwMtu);
    EXPECT_EQ(a.dwAdminStatus, b.dwAdminStatus);
    EXPECT_EQ(a.physAddr, b.physAddr);
  }
}

// ---- the Network tab -------------------------------------------------------

// What the list box showed at each yield: every line added to it posts a
// message, which the next pass of the control's message pump handles.
struct Snapshots {
  HWND list = nullptr;
  HWND snap = nullptr;
  WNDPROC listProc = nullptr;
  std::vector<std::vector<std::string>> seen;
};
Snapshots* g_snapshots = nullptr;
constexpr UINT kSnap = WM_APP + 7;

LRESULT CALLBACK SnapProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kSnap && g_snapshots) {
    g_snapshots->seen.push_back(wintest::ListLines(g_snapshots->list));
    return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK ListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const LRESULT r = ::CallWindowProcW(g_snapshots->listProc, hwnd, msg, wp, lp);
  if (msg == LB_ADDSTRING || msg == LB_INSERTSTRING) ::PostMessageW(g_snapshots->snap, kSnap, 0, 0);
  return r;
}

TEST(NetworkTab, ShowsTheSectionWithTheProgressLine) {
  HWND top = wintest::CreateHiddenHost();
  ASSERT_NE(top, nullptr);
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  HWND f = form->hwnd();
  HWND list = ::GetDlgItem(f, win32::kIdLstInfo);

  WNDCLASSW wc{};
  wc.lpfnWndProc = SnapProc;
  wc.lpszClassName = L"TallowinNetworkSnap";
  ::RegisterClassW(&wc);
  HWND snap = ::CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(snap, nullptr);
  Snapshots s;
  s.list = list;
  s.snap = snap;
  g_snapshots = &s;
  s.listProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));

  wintest::ClickTab(f, 4);  // Network

  const auto lines = wintest::ListLines(list);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("NetBIOS Name: ", 0), 0u);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Winsock Present: Yes"), lines.end());
  EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                         [](const std::string& l) { return l.rfind("Network Interfaces: ", 0) == 0; }),
            lines.end());
  EXPECT_EQ(::SendMessageW(list, LB_GETITEMDATA, 0, 0), 5010);
  EXPECT_EQ(form->control()->list().tooltip(), lines[0]);
  EXPECT_FALSE(form->control()->showingProgress);

  // The progress line alone, then the first real line in its place.
  const std::vector<std::string> progress{"Working ..."};
  auto at = std::find(s.seen.begin(), s.seen.end(), progress);
  ASSERT_NE(at, s.seen.end());
  ASSERT_NE(at + 1, s.seen.end());
  ASSERT_EQ((at + 1)->size(), 1u);
  EXPECT_EQ((at + 1)->front(), lines[0]);

  ::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(s.listProc));
  ::DestroyWindow(snap);
  g_snapshots = nullptr;
  ::DestroyWindow(top);
}

}  // namespace
}  // namespace tallowin
