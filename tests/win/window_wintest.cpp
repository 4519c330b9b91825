// The frmMain window on a virtual display: a tab click fills the list.
#include <gtest/gtest.h>

#include "win32/win.h"


#include "win/support/form_test.h"
#include "win/support/win_support.h"
#include "win32/frm_main.h"

namespace tallowin {
namespace {

using win32::FrmMain;

using wintest::ClickTab;
using wintest::ListLines;

using Window = wintest::FormTest;

TEST_F(Window, ChildrenAndTabs) {
  HWND f = form->hwnd();
  wchar_t text[128];
  ::GetWindowTextW(::GetDlgItem(f, win32::kIdCommand1), text, 128);
  EXPECT_STREQ(text, L"Software Inventory ");
  ::GetWindowTextW(::GetDlgItem(f, win32::kIdLabel1), text, 128);
  EXPECT_STREQ(text, L"System Info are updated to a Domino Database");
  ::GetWindowTextW(::GetDlgItem(f, win32::kIdBtnAbout), text, 128);
  EXPECT_STREQ(text, L"&About ...");
  HWND tabs = ::GetDlgItem(f, win32::kIdTabProfile);
  EXPECT_EQ(::SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0), 7);
  // The list lies inside the tab strip's area.
  RECT rt, rl;
  ::GetWindowRect(tabs, &rt);
  ::GetWindowRect(::GetDlgItem(f, win32::kIdLstInfo), &rl);
  EXPECT_TRUE(rl.left > rt.left && rl.right < rt.right && rl.top > rt.top && rl.bottom < rt.bottom);
}

TEST_F(Window, OsTabFillsTheList) {
  HWND f = form->hwnd();
  ClickTab(f, 0);
  HWND list = ::GetDlgItem(f, win32::kIdLstInfo);
  const auto lines = ListLines(list);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "Operating System Name: Windows 7");
  EXPECT_EQ(::SendMessageW(list, LB_GETITEMDATA, 0, 0), 10);
  EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 0);
  EXPECT_TRUE(::IsWindowEnabled(list));
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(f, win32::kIdTabProfile)));
  EXPECT_EQ(form->control()->list().tooltip(), "Operating System Name: Windows 7");
}

TEST_F(Window, AccessKeySelectsTab) {
  EXPECT_TRUE(form->handleAccessKey(L'o'));
  EXPECT_EQ(ListLines(::GetDlgItem(form->hwnd(), win32::kIdLstInfo))[0], "Operating System Name: Windows 7");
  EXPECT_FALSE(form->handleAccessKey(L'z'));
}

// A click on line i: the list box's selection, then its notification.
void clickLine(HWND form, int i) {
  HWND list = ::GetDlgItem(form, win32::kIdLstInfo);
  ::SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(i), 0);
  ::SendMessageW(form, WM_COMMAND, MAKEWPARAM(win32::kIdLstInfo, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

TEST_F(Window, ClickOnAMarkedLineSetsTheTooltip) {
  HWND f = form->hwnd();
  wintest::ClickTab(f, 0);
  HWND list = ::GetDlgItem(f, win32::kIdLstInfo);
  const auto lines = wintest::ListLines(list);
  ASSERT_GE(lines.size(), 3u);
  ASSERT_GT(::SendMessageW(list, LB_GETITEMDATA, 2, 0), 0);
  ::SetDlgItemTextW(f, win32::kIdTxtDesc, L"something");
  clickLine(f, 2);
  EXPECT_EQ(form->control()->list().tooltip(), lines[2]);
  EXPECT_EQ(form->control()->list().selectedIndex(), 2);
  wchar_t desc[16] = {L'x'};
  ::GetDlgItemTextW(f, win32::kIdTxtDesc, desc, 16);
  EXPECT_STREQ(desc, L"");

  // An unmarked line keeps what the tooltip showed.
  const int blank = form->control()->list().append("");
  clickLine(f, blank);
  EXPECT_EQ(form->control()->list().tooltip(), lines[2]);

  // A double-click outside a FOLDERS tab does nothing, and nothing fails.
  ::SendMessageW(f, WM_COMMAND, MAKEWPARAM(win32::kIdLstInfo, LBN_DBLCLK), reinterpret_cast<LPARAM>(list));
  EXPECT_EQ(form->control()->list().tooltip(), lines[2]);
  EXPECT_TRUE(::IsWindow(f));
}

TEST_F(Window, DestroyedDuringYieldIsSafe) {
  // A message posted now is handled inside the dispatch's first yield.
  ::PostMessageW(top, WM_CLOSE, 0, 0);
  HWND f = form->hwnd();
  ClickTab(f, 0);
  EXPECT_FALSE(::IsWindow(f));
  top = nullptr;
}

}  // namespace
}  // namespace tallowin
