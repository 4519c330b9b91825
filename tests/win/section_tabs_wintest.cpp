// The Programs, CPU, Memory and UI tabs of the frmMain window fill the list
// with their sections.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>

#include "win/support/form_test.h"
#include "win/support/win_support.h"

#include "control/form.h"
#include "win32/frm_main.h"

namespace tallowin {
namespace {

using win32::FrmMain;

class SectionTabs : public wintest::FormTest {
 protected:
  std::vector<std::string> click(const char* tag) {
    const int i = form::TabOfTag(tag);
    EXPECT_GE(i, 0) << tag;
    wintest::ClickTab(form->hwnd(), i);
    return wintest::ListLines(::GetDlgItem(form->hwnd(), win32::kIdLstInfo));
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
