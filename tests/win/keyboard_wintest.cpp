// The keyboard while the control runs its own message loop: during an upload
// to a service that never answers, the tabs' access keys still work.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <functional>
#include <string>

#include "control/profile_control.h"
#include "win/support/activex_support.h"
#include "win32/frm_main.h"
#include "win32/upload_binding.h"

namespace tallowin {
namespace {

using namespace wintest;

std::function<void()> onKeyTick;
void CALLBACK KeyTick(HWND, UINT, UINT_PTR, DWORD) {
  if (onKeyTick) onKeyTick();
}

// Command1 starts the upload; once the record is collected and the exchange
// waits for the silent service, Alt+C arrives at the list (where the focus
// would be). The CPU tab is selected and its dispatch fills the list while
// the upload still waits.
TEST(KeyboardWhilePumping, AccessKeyDuringAnUploadToASilentService) {
  const std::string silent = TestService("SILENT");
  if (silent.empty()) GTEST_SKIP() << "TALLOWIN_TEST_SILENT not set";
  HWND top = CreateHiddenHost(900, 700);
  ASSERT_NE(top, nullptr);
  auto control = win32::MakeControl(
      [silent](ProfileControl& c) { win32::RunInventoryUpload(c, silent, true, {}, kShortLimits); });
  win32::FrmMain* form = win32::FrmMain::Create(top, 0, 0, control);
  ASSERT_NE(form, nullptr);
  HWND f = form->hwnd();
  HWND tabs = ::GetDlgItem(f, win32::kIdTabProfile);
  HWND list = ::GetDlgItem(f, win32::kIdLstInfo);
  bool posted = false;
  bool uploadingAfterDispatch = false;
  std::string firstLineDuringUpload;
  onKeyTick = [&] {
    const bool sending = ::IsWindowEnabled(tabs) && !::IsWindowEnabled(::GetDlgItem(f, win32::kIdCommand1));
    if (!posted && sending) {
      posted = ::PostMessageW(list, WM_SYSCHAR, L'c', 1 << 29) != FALSE;
    } else if (posted && firstLineDuringUpload.empty() && control->list().count() > 0 &&
               ::SendMessageW(tabs, TCM_GETCURSEL, 0, 0) == 2) {
      firstLineDuringUpload = control->list().text(0);
      uploadingAfterDispatch = control->busy();
    }
  };
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 100, KeyTick);
  ::SendMessageW(f, WM_COMMAND, MAKEWPARAM(win32::kIdCommand1, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(f, win32::kIdCommand1)));
  ::KillTimer(nullptr, timer);
  onKeyTick = nullptr;
  EXPECT_TRUE(posted);
  EXPECT_TRUE(uploadingAfterDispatch) << "the dispatch ran inside the upload's wait";
  EXPECT_EQ(firstLineDuringUpload.rfind("Processor Architecture: ", 0), 0u) << firstLineDuringUpload;
  EXPECT_EQ(::SendMessageW(tabs, TCM_GETCURSEL, 0, 0), 2);
  EXPECT_EQ(::SendMessageW(list, LB_GETCURSEL, 0, 0), 0) << "the dispatch selected line 0";
  ::DestroyWindow(top);
}

}  // namespace
}  // namespace tallowin
