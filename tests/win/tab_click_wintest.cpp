// Clicks of the mouse on the tab strip: a click on another tab and a click on
// the tab already selected each run the tab's dispatch once.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <commctrl.h>

#include "control/profile_control.h"
#include "win/support/activex_support.h"
#include "win32/frm_main.h"

namespace tallowin {
namespace {

using namespace wintest;

// Counts the list box's LB_RESETCONTENT: a dispatch clears the list once.
LRESULT CALLBACK CountResets(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  if (msg == LB_RESETCONTENT) ++*reinterpret_cast<int*>(data);
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

// Button down and up in the middle of tab i, as the mouse sends them.
void MouseClickTab(HWND tabs, int i) {
  RECT r{};
  ASSERT_TRUE(::SendMessageW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&r)));
  const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  ::SendMessageW(tabs, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(tabs, WM_LBUTTONUP, 0, at);
  PumpMessages();
}

TEST(TabClick, AClickOnTheSelectedTabRefreshesItsSection) {
  HWND top = CreateHiddenHost(900, 700);
  ASSERT_NE(top, nullptr);
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0);
  ASSERT_NE(form, nullptr);
  HWND tabs = ::GetDlgItem(form->hwnd(), win32::kIdTabProfile);
  HWND list = ::GetDlgItem(form->hwnd(), win32::kIdLstInfo);
  int resets = 0;
  ::SetWindowSubclass(list, CountResets, 1, reinterpret_cast<DWORD_PTR>(&resets));

  MouseClickTab(tabs, 0);  // &OS, not selected yet
  EXPECT_EQ(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(resets, 1) << "one dispatch for a click that selects the tab";
  const auto os = ListLines(list);
  ASSERT_FALSE(os.empty());
  EXPECT_EQ(os[0].rfind("Operating System Name: ", 0), 0u) << os[0];

  form->control()->list().clear();  // what the user sees goes stale
  resets = 0;
  MouseClickTab(tabs, 0);  // the same tab again
  EXPECT_EQ(resets, 1) << "one dispatch for a click on the selected tab";
  EXPECT_EQ(ListLines(list), os);
  EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 0);

  ::RemoveWindowSubclass(list, CountResets, 1);
  ::DestroyWindow(top);
}

}  // namespace
}  // namespace tallowin
