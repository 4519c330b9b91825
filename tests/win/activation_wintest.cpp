// The control activated in a container of our own (TestSite): when the
// upload runs, where the window goes, sizing and clipping, the access keys,
// and the object's lifetime during an upload or a dispatch.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <functional>
#include <string>
#include <vector>

#include "win/support/activex_support.h"
#include "win32/handles.h"
#include "win32/tallowin_ids.h"
#include "win32/activex_control.h"
#include "win32/frm_main.h"
#include "win32/module.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::ComPtr;
using win32::OleScope;


// The upload is another part of the program; here a stand-in counts runs
// and leaves one line, as the real one leaves its processor lines.
class Activation : public ::testing::Test {
 protected:
  OleScope ole;
  HWND host = nullptr;
  TestSite* site = nullptr;
  ComPtr<IOleObject> control;
  int uploads = 0;
  std::function<void(ProfileControl&)> duringUpload;

  void SetUp() override {
    host = CreateHiddenHost();
    ASSERT_NE(host, nullptr);
    site = new TestSite(host);
    ASSERT_EQ(create(), S_OK);
  }
  // The object with the stand-in upload.
  HRESULT create() {
    return win32::CreateFrmMainObject(nullptr, IID_IOleObject, control.putVoid(), [this](ProfileControl& c) {
      ++uploads;
      c.list().clear();
      c.list().append("uploaded");
      if (duringUpload) duringUpload(c);
    });
  }
  void TearDown() override {
    if (control) {
      control->Close(OLECLOSE_NOSAVE);
      control->SetClientSite(nullptr);
      control.reset();
    }
    site->releaseControl();
    site->Release();
    if (host) ::DestroyWindow(host);
    OnHostMessage = nullptr;
    PumpMessages();
  }
  HRESULT doVerb(LONG verb, const RECT* pos = nullptr) {
    return control->DoVerb(verb, nullptr, site, 0, host, pos ? pos : &site->pos);
  }
  HWND window() {
    ComPtr<IOleWindow> w;
    HWND hwnd = nullptr;
    if (SUCCEEDED(control.as(IID_IOleWindow, w))) w->GetWindow(&hwnd);
    return hwnd;
  }
  // Where hwnd lies in the host's client area.
  bool placedAt(HWND hwnd, const RECT& expected) {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    ::MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&r), 2);
    return ::EqualRect(&r, &expected) != FALSE;
  }
};

TEST_F(Activation, UploadRunsOnceInRunModeAndNeverInDesignMode) {
  struct Case {
    const char* name;
    bool siteFirst;  // SetClientSite before InitNew
    bool initNew;
    bool ambient;  // the site has ambient properties
    bool userMode;
    int uploads;
  };
  const Case cases[] = {
      {"InitNew, then the site, no ambient properties", false, true, false, true, 1},
      {"the site, then InitNew, no ambient properties", true, true, false, true, 1},
      {"no InitNew at all", true, false, false, true, 1},
      {"UserMode true", true, true, true, true, 1},
      {"UserMode false", true, true, true, false, 0},
      {"UserMode false, InitNew first", false, true, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uploads = 0;
    ASSERT_EQ(create(), S_OK);
    site->ambient = c.ambient;
    site->userMode = c.userMode;
    ComPtr<IPersistStreamInit> init;
    ASSERT_EQ(control.as(IID_IPersistStreamInit, init), S_OK);
    if (c.initNew && !c.siteFirst) {
      EXPECT_EQ(init->InitNew(), S_OK);
    }
    ASSERT_EQ(control->SetClientSite(site), S_OK);
    if (c.initNew && c.siteFirst) {
      EXPECT_EQ(init->InitNew(), S_OK);
    }

    ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
    HWND form = window();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(ClassOf(form), L"TallowinFrmMain");
    EXPECT_EQ(::GetParent(form), host);
    EXPECT_EQ(uploads, 0) << "the upload waits for the message loop";
    PumpMessages();
    EXPECT_EQ(uploads, c.uploads);
    const auto lines = ListLines(::GetDlgItem(form, win32::kIdLstInfo));
    EXPECT_EQ(lines, c.uploads ? std::vector<std::string>{"uploaded"} : std::vector<std::string>{});

    // Activated again, deactivated and activated anew: still once.
    EXPECT_EQ(doVerb(OLEIVERB_UIACTIVATE), S_OK);
    EXPECT_EQ(site->uiActivations, 1);
    ComPtr<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control.as(IID_IOleInPlaceObject, inPlace), S_OK);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_FALSE(::IsWindow(form));
    EXPECT_EQ(window(), nullptr);
    EXPECT_EQ(site->inPlaceDeactivations, 1);
    ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
    PumpMessages();
    EXPECT_EQ(uploads, c.uploads);

    EXPECT_EQ(control->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(window(), nullptr);
    control->SetClientSite(nullptr);
    control.reset();
    site->inPlaceActivations = site->inPlaceDeactivations = site->uiActivations = 0;
  }
}

TEST_F(Activation, LeavingDesignModeRunsTheUpload) {
  site->ambient = true;
  site->userMode = false;
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 0);
  ComPtr<IOleControl> ole;
  ASSERT_EQ(control.as(IID_IOleControl, ole), S_OK);
  site->userMode = true;
  EXPECT_EQ(ole->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
  EXPECT_EQ(ole->OnAmbientPropertyChange(DISPID_UNKNOWN), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
}

TEST_F(Activation, AnUploadNotYetRunBeforeDeactivationRunsOnTheNextActivation) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  ComPtr<IOleInPlaceObject> inPlace;
  ASSERT_EQ(control.as(IID_IOleInPlaceObject, inPlace), S_OK);
  EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);  // before the message loop ran
  PumpMessages();
  EXPECT_EQ(uploads, 0);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
}

TEST_F(Activation, AWindowThatWentWithItsParentIsMadeAnewOnTheNextActivation) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  HWND first = ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, host, nullptr, nullptr,
                                 nullptr);
  site->window = first;
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
  ::DestroyWindow(first);  // the container never told the control
  EXPECT_EQ(window(), nullptr);
  site->window = host;
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND form = window();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(::GetParent(form), host);
  PumpMessages();
  EXPECT_EQ(uploads, 1) << "still once for the object";
}

TEST_F(Activation, SizedFromDoVerbAndObjectRectsNeverFromTheExtent) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  const RECT pos{10, 20, 410, 320};
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE, &pos), S_OK);
  HWND form = window();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(placedAt(form, pos));

  // An extent in whatever units the container uses changes nothing shown.
  SIZEL extent{100000, 100000};
  EXPECT_EQ(control->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_TRUE(placedAt(form, pos));
  SIZEL back{};
  EXPECT_EQ(control->GetExtent(DVASPECT_CONTENT, &back), S_OK);
  EXPECT_EQ(back.cx, 100000);
  EXPECT_EQ(control->SetExtent(DVASPECT_ICON, &extent), DV_E_DVASPECT);

  ComPtr<IOleInPlaceObject> inPlace;
  ASSERT_EQ(control.as(IID_IOleInPlaceObject, inPlace), S_OK);
  const RECT moved{5, 6, 305, 206};
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
  EXPECT_TRUE(placedAt(form, moved));
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(::GetWindowRgn(form, region), ERROR) << "not clipped";

  // A clip rectangle that cuts the control: only the inside shows.
  const RECT clip{5, 6, 105, 56};
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &clip), S_OK);
  ASSERT_EQ(::GetWindowRgn(form, region), SIMPLEREGION);
  RECT box;
  ::GetRgnBox(region, &box);
  const RECT visible{0, 0, 100, 50};
  EXPECT_TRUE(::EqualRect(&box, &visible));
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
  EXPECT_EQ(::GetWindowRgn(form, region), ERROR) << "the clip is lifted again";
  ::DeleteObject(region);
}

TEST_F(Activation, TabAccessKeysReachTheControlThroughTheContainer) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_UIACTIVATE), S_OK);
  PumpMessages();
  HWND form = window();
  ASSERT_NE(form, nullptr);
  HWND list = ::GetDlgItem(form, win32::kIdLstInfo);
  ComPtr<IOleInPlaceActiveObject> active;
  ASSERT_EQ(control.as(IID_IOleInPlaceActiveObject, active), S_OK);

  MSG msg{::GetDlgItem(form, win32::kIdTabProfile), WM_SYSCHAR, L'o', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&msg), S_OK);
  ASSERT_FALSE(ListLines(list).empty());
  EXPECT_TRUE(StartsWith(ListLines(list)[0], "Operating System Name: "));
  msg.wParam = L'z';
  EXPECT_EQ(active->TranslateAccelerator(&msg), S_FALSE);
  MSG tab{::GetDlgItem(form, win32::kIdCommand1), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  ::SetFocus(tab.hwnd);
  EXPECT_EQ(active->TranslateAccelerator(&tab), S_OK);
  EXPECT_NE(::GetFocus(), tab.hwnd) << "Tab moves on to the next control";
  MSG plain{::GetDlgItem(form, win32::kIdTxtDesc), WM_KEYDOWN, 'A', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&plain), S_FALSE) << "typing is the container's to dispatch";
  MSG elsewhere{host, WM_SYSCHAR, L'o', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&elsewhere), S_FALSE) << "not a message for the control";

  ComPtr<IOleControl> ole;
  ASSERT_EQ(control.as(IID_IOleControl, ole), S_OK);
  CONTROLINFO info{};
  info.cb = sizeof(info);
  ASSERT_EQ(ole->GetControlInfo(&info), S_OK);
  EXPECT_NE(info.hAccel, nullptr);
  EXPECT_EQ(info.cAccel, 6) << "&OS &CPU &Memory &Network &UI &Printers";
  std::vector<ACCEL> keys(info.cAccel);
  ASSERT_EQ(::CopyAcceleratorTableW(info.hAccel, keys.data(), info.cAccel), info.cAccel);
  EXPECT_EQ(keys[0].key, 'O');
  EXPECT_TRUE(keys[0].fVirt & FALT);
  ClickTab(form, 1);  // Programs: the OS lines go
  MSG mnemonic{host, WM_SYSKEYDOWN, 'O', 0, 0, {}};
  EXPECT_EQ(ole->OnMnemonic(&mnemonic), S_OK);
  ASSERT_FALSE(ListLines(list).empty());
  EXPECT_TRUE(StartsWith(ListLines(list)[0], "Operating System Name: "));
}

TEST_F(Activation, ReleasedDuringItsUploadItStaysUntilTheUploadReturns) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  HWND form = window();
  site->control = control.detach();  // the container's is now the only reference
  bool heldDuring = false, windowGoneDuring = false;
  duringUpload = [&](ProfileControl& c) {
    site->releaseControl();  // the container lets go in the middle of the upload
    heldDuring = win32::ModuleInUse();
    windowGoneDuring = !::IsWindow(form);
    c.list().append("still here");  // the control itself is alive; its window is not touched
  };
  PumpMessages();
  EXPECT_EQ(uploads, 1);
  EXPECT_TRUE(heldDuring) << "the module must stay while the upload is on the stack";
  EXPECT_TRUE(windowGoneDuring);
  EXPECT_FALSE(win32::ModuleInUse()) << "everything went once the upload returned";
}

TEST_F(Activation, ReleasedDuringADispatchItsWindowGoesSafely) {
  ASSERT_EQ(control->SetClientSite(site), S_OK);
  ASSERT_EQ(doVerb(OLEIVERB_INPLACEACTIVATE), S_OK);
  PumpMessages();
  HWND form = window();
  site->control = control.detach();
  OnHostMessage = [&] { site->releaseControl(); };
  // Handled inside the dispatch's first yield.
  ::PostMessageW(host, WM_APP, 0, 0);
  ClickTab(form, 0);
  EXPECT_FALSE(::IsWindow(form));
  EXPECT_FALSE(win32::ModuleInUse());
}

}  // namespace
}  // namespace tallowin
