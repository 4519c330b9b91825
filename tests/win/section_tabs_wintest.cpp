// The Programs, CPU, Memory and UI tabs of the frmMain window fill the list
// with their sections.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>

#include "win/support/win_support.h"

#include "control/form.h"
#include "win32/frm_main.h"

namespace tallowin {
namespace {

using win32::FrmMain;

std::vector<std::string> listLines(HWND list) {
  std::vector<std::string> out;
  const auto n = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    const auto len = ::SendMessageW(list, LB_GETTEXTLEN, i, 0);
    std::wstring w(static_cast<size_t>(len), L'\0');
    ::SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(w.data()));
    out.push_back(wintest::Utf8(w));
  }
  return out;
}

int tabIndex(const char* tag) {
  const auto& tabs = form::Tabs();
  for (size_t i = 0; i < tabs.size(); ++i)
    if (std::string(tabs[i].tag) == tag) return static_cast<int>(i);
  return -1;
}

class SectionTabs : public ::testing::Test {
 protected:
  HWND top = nullptr;
  FrmMain* form = nullptr;
  void SetUp() override {
    top = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 900, 700, nullptr, nullptr,
                            nullptr, nullptr);
    ASSERT_NE(top, nullptr);
    form = FrmMain::Create(top, 0, 0);
    ASSERT_NE(form, nullptr);
  }
  void TearDown() override {
    if (top) ::DestroyWindow(top);
  }
  std::vector<std::string> click(const char* tag) {
    const int i = tabIndex(tag);
    EXPECT_GE(i, 0) << tag;
    HWND tabs = ::GetDlgItem(form->hwnd(), win32::kIdTabProfile);
    ::SendMessageW(tabs, TCM_SETCURSEL, i, 0);
    NMHDR nm{tabs, static_cast<UINT_PTR>(win32::kIdTabProfile), static_cast<UINT>(TCN_SELCHANGE)};
    ::SendMessageW(form->hwnd(), WM_NOTIFY, nm.idFrom, reinterpret_cast<LPARAM>(&nm));
    return listLines(::GetDlgItem(form->hwnd(), win32::kIdLstInfo));
  }
  LRESULT itemData(int line) {
    return ::SendMessageW(::GetDlgItem(form->hwnd(), win32::kIdLstInfo), LB_GETITEMDATA, line, 0);
  }
};

TEST_F(SectionTabs, Programs) {
  wintest::RegFixture a(HKEY_LOCAL_MACHINE,
                        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TallowinTest-TabA", KEY_WOW64_32KEY);
  a.setString(L"", L"DisplayName", L"!Tallowin Tab Test \u00E9");
  const auto lines = click("Progs");
  const auto it = std::find(lines.begin(), lines.end(), wintest::Utf8(L"!Tallowin Tab Test \u00E9"));
  ASSERT_NE(it, lines.end());
  EXPECT_EQ(itemData(static_cast<int>(it - lines.begin())), 500);
}

TEST_F(SectionTabs, Cpu) {
  const auto lines = click("CPU");
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(lines[0].rfind("Processor Architecture: ", 0), 0u);
  EXPECT_EQ(lines.back().rfind("Slow Machine: ", 0), 0u);
  EXPECT_EQ(itemData(0), 1020);
}

TEST_F(SectionTabs, Memory) {
  const auto lines = click("Memory");
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0].rfind("Memory Load: ", 0), 0u);
  EXPECT_EQ(lines[9].rfind("Available Virtual Memory: ", 0), 0u);
  EXPECT_EQ(itemData(9), 3070);
}

TEST_F(SectionTabs, UserInterface) {
  const auto lines = click("UI");
  ASSERT_GE(lines.size(), 15u);
  EXPECT_EQ(lines[0].rfind("Keyboard Type: ", 0), 0u);
  EXPECT_EQ(lines.back().rfind("Show Sounds: ", 0), 0u);
  EXPECT_EQ(itemData(0), 6010);
  EXPECT_EQ(form->control()->list().tooltip(), lines[0]);
}

}  // namespace
}  // namespace tallowin
