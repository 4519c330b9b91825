// The control object in a container of the tests' own, driven as forms and
// pages of other hosts drive it.
#include <gtest/gtest.h>

#include "win32/win.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "control/profile_control.h"
#include "win/support/activex_support.h"
#include "win/support/own_container.h"
#include "win/support/service_api.h"
#include "win32/activex_control.h"
#include "win32/frm_main.h"
#include "win32/handles.h"
#include "win32/module.h"
#include "win32/upload_binding.h"

namespace tallowin {
namespace {

using namespace wintest;
using win32::ComPtr;

// The tab strip enabled while Command1 is not: the upload waits for the
// service, and a message posted now is handled in that wait.
LRESULT CALLBACK PostWhenSending(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  if (msg == WM_ENABLE && wp && !::IsWindowEnabled(::GetDlgItem(::GetParent(hwnd), win32::kIdCommand1)))
    ::PostMessageW(reinterpret_cast<HWND>(data), WM_APP, 0, 0);
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

class InOwnContainer : public ::testing::Test {
 protected:
  win32::OleScope ole;
  HWND host = nullptr;
  OwnContainer* site = nullptr;
  LONG siteRefsAtStart = 0;
  int uploads = 0;
  std::function<void(ProfileControl&)> duringUpload;

  void SetUp() override {
    host = CreateHiddenHost();
    ASSERT_NE(host, nullptr);
    site = new OwnContainer(host);
    siteRefsAtStart = site->references();
  }
  void TearDown() override {
    site->releaseControl();
    site->Release();
    if (host) ::DestroyWindow(host);
    OnHostMessage = nullptr;
    PumpMessages();
  }
  // The object, with a stand-in upload unless one is given; the container
  // holds the only reference.
  IOleObject* create(UploadAction upload = {}, bool initNewFirst = false) {
    if (!upload)
      upload = [this](ProfileControl& c) {
        ++uploads;
        c.list().clear();
        c.list().append("uploaded");
        if (duringUpload) duringUpload(c);
      };
    EXPECT_EQ(win32::CreateFrmMainObject(nullptr, IID_IOleObject, reinterpret_cast<void**>(&site->control),
                                         std::move(upload)),
              S_OK);
    ComPtr<IPersistStreamInit> init;
    if (initNewFirst && site->control && SUCCEEDED(site->control->QueryInterface(IID_IPersistStreamInit, init.putVoid()))) {
      EXPECT_EQ(init->InitNew(), S_OK);
    }
    if (site->control) {
      EXPECT_EQ(site->control->SetClientSite(site), S_OK);
    }
    return site->control;
  }
  HRESULT doVerb(LONG verb) {
    return site->control ? site->control->DoVerb(verb, nullptr, site, 0, host, &site->pos) : E_UNEXPECTED;
  }
  // The verb, and the window it gave (nullptr: none).
  HWND activate(LONG verb = OLEIVERB_INPLACEACTIVATE) {
    EXPECT_EQ(doVerb(verb), S_OK);
    return window();
  }
  template <typename T>
  ComPtr<T> as(const IID& iid) {
    ComPtr<T> p;
    if (site->control) site->control->QueryInterface(iid, p.putVoid());
    return p;
  }
  HRESULT inPlaceDeactivate() {
    const auto inPlace = as<IOleInPlaceObject>(IID_IOleInPlaceObject);
    return inPlace ? inPlace->InPlaceDeactivate() : E_UNEXPECTED;
  }
  HWND window() {
    HWND hwnd = nullptr;
    if (const auto w = as<IOleWindow>(IID_IOleWindow)) w->GetWindow(&hwnd);
    return hwnd;
  }
  // Where hwnd lies in the host's client area.
  bool placedAt(HWND hwnd, const RECT& expected) {
    RECT r;
    ::GetWindowRect(hwnd, &r);
    ::MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&r), 2);
    return ::EqualRect(&r, &expected) != FALSE;
  }
  static HWND list(HWND form) { return ::GetDlgItem(form, win32::kIdLstInfo); }
  static std::vector<LPARAM> itemValues(HWND form) {
    std::vector<LPARAM> values;
    const auto n = ::SendMessageW(list(form), LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) values.push_back(::SendMessageW(list(form), LB_GETITEMDATA, i, 0));
    return values;
  }
  void click(HWND form, int id) {
    ::SendMessageW(form, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(form, id)));
  }
};

// ---- when the upload runs, where the window goes ----

// Once for the object, from the message loop, only in run mode: whatever the
// order of InitNew and the site, with or without ambient properties.
TEST_F(InOwnContainer, TheInitialUploadRunsOnceAndOnlyInRunMode) {
  struct Case {
    const char* name;
    bool initNewFirst;
    bool ambient;
    bool userMode;
  };
  const Case cases[] = {
      {"InitNew, then the site, no ambient properties", true, false, true},
      {"the site without InitNew, no ambient properties", false, false, true},
      {"UserMode true", false, true, true},
      {"UserMode false", false, true, false},
      {"UserMode false, InitNew first", true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uploads = 0;
    site->ambient = c.ambient;
    site->userMode = c.userMode;
    create({}, c.initNewFirst);
    HWND form = activate();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(::GetParent(form), host);
    EXPECT_EQ(uploads, 0) << "the upload waits for the message loop";
    PumpMessages();
    EXPECT_EQ(uploads, c.userMode ? 1 : 0);
    ASSERT_EQ(inPlaceDeactivate(), S_OK);
    EXPECT_FALSE(::IsWindow(form));
    activate();
    PumpMessages();
    EXPECT_EQ(uploads, c.userMode ? 1 : 0) << "still once for the object";
    if (!c.userMode) {  // leaving design mode runs it
      site->userMode = true;
      EXPECT_EQ(as<IOleControl>(IID_IOleControl)->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
      PumpMessages();
      EXPECT_EQ(uploads, 1);
    }
    site->releaseControl();
  }
}

// Deactivated before the message loop ran, then its window destroyed with a
// parent the container never named: each activation makes a new window, and
// the upload runs once.
TEST_F(InOwnContainer, ANewWindowAfterAnEarlyDeactivationOrALostParent) {
  create();
  activate();
  ASSERT_EQ(inPlaceDeactivate(), S_OK);
  PumpMessages();
  EXPECT_EQ(uploads, 0);
  HWND parent =
      ::CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0, 640, 480, host, nullptr, nullptr, nullptr);
  site->window = parent;
  activate();
  PumpMessages();
  EXPECT_EQ(uploads, 1);
  ::DestroyWindow(parent);
  EXPECT_EQ(window(), nullptr);
  site->window = host;
  HWND form = activate();
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(::GetParent(form), host);
  PumpMessages();
  EXPECT_EQ(uploads, 1);
}

// Wine's container reports extents in the wrong units: only DoVerb's and
// SetObjectRects' rectangles place the window, and a clip cuts it.
TEST_F(InOwnContainer, PlacedByDoVerbAndObjectRectsNeverByTheExtent) {
  create();
  site->pos = {10, 20, 410, 320};
  HWND form = activate();
  ASSERT_NE(form, nullptr);
  EXPECT_TRUE(placedAt(form, site->pos));
  SIZEL extent{100000, 100000};
  EXPECT_EQ(site->control->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
  EXPECT_TRUE(placedAt(form, site->pos));
  const auto inPlace = as<IOleInPlaceObject>(IID_IOleInPlaceObject);
  const RECT moved{5, 6, 305, 206}, clip{5, 6, 105, 56}, visible{0, 0, 100, 50};
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &clip), S_OK);
  EXPECT_TRUE(placedAt(form, moved));
  HRGN region = ::CreateRectRgn(0, 0, 0, 0);
  ASSERT_EQ(::GetWindowRgn(form, region), SIMPLEREGION);
  RECT box;
  ::GetRgnBox(region, &box);
  EXPECT_TRUE(::EqualRect(&box, &visible));
  EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
  EXPECT_EQ(::GetWindowRgn(form, region), ERROR) << "the clip is lifted again";
  ::DeleteObject(region);
}

// The container asks the active object first and hands over the mnemonics.
// Inside the upload's own message loop (a yield), Alt+C on the list runs the
// CPU tab; a key the control does not take goes on to the container.
TEST_F(InOwnContainer, KeysReachTheControlThroughTheContainerAlsoWhileItPumps) {
  create();
  HWND form = activate(OLEIVERB_UIACTIVATE);
  ASSERT_NE(form, nullptr);
  PumpMessages();
  const auto active = as<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject);
  MSG msg{::GetDlgItem(form, win32::kIdTabProfile), WM_SYSCHAR, L'o', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&msg), S_OK);
  EXPECT_EQ(ListLines(list(form)).at(0).rfind("Operating System Name: ", 0), 0u);
  msg.wParam = L'z';
  EXPECT_EQ(active->TranslateAccelerator(&msg), S_FALSE);
  MSG tab{::GetDlgItem(form, win32::kIdCommand1), WM_KEYDOWN, VK_TAB, 0, 0, {}};
  ::SetFocus(tab.hwnd);
  EXPECT_EQ(active->TranslateAccelerator(&tab), S_OK);
  EXPECT_NE(::GetFocus(), tab.hwnd) << "Tab moves on to the next control";
  MSG typed{::GetDlgItem(form, win32::kIdTxtDesc), WM_KEYDOWN, 'A', 0, 0, {}};
  EXPECT_EQ(active->TranslateAccelerator(&typed), S_FALSE) << "typing is the container's to dispatch";

  const auto ole = as<IOleControl>(IID_IOleControl);
  CONTROLINFO info{};
  info.cb = sizeof(info);
  ASSERT_EQ(ole->GetControlInfo(&info), S_OK);
  EXPECT_EQ(info.cAccel, 6) << "&OS &CPU &Memory &Network &UI &Printers";
  ClickTab(form, 1);  // Programs: the OS lines go
  MSG mnemonic{host, WM_SYSKEYDOWN, 'O', 0, 0, {}};
  EXPECT_EQ(ole->OnMnemonic(&mnemonic), S_OK);
  EXPECT_EQ(ListLines(list(form)).at(0).rfind("Operating System Name: ", 0), 0u);

  std::vector<std::string> cpuDuringUpload;
  duringUpload = [&](ProfileControl& c) {
    c.uploadCollected();  // the tab strip is usable while the record is sent
    site->controlSiteKeys.clear();
    ::PostMessageW(list(form), WM_SYSCHAR, L'c', 1 << 29);
    ::PostMessageW(list(form), WM_SYSCHAR, L'z', 0);
    c.yield();
    cpuDuringUpload = ListLines(list(form));
  };
  click(form, win32::kIdCommand1);
  ASSERT_FALSE(cpuDuringUpload.empty());
  EXPECT_EQ(cpuDuringUpload[0].rfind("Processor Architecture: ", 0), 0u) << cpuDuringUpload[0];
  EXPECT_EQ(::SendMessageW(::GetDlgItem(form, win32::kIdTabProfile), TCM_GETCURSEL, 0, 0), 2);
  ASSERT_EQ(site->controlSiteKeys.size(), 1u);
  EXPECT_EQ(site->controlSiteKeys[0].message, static_cast<UINT>(WM_SYSCHAR));
  EXPECT_EQ(site->controlSiteKeys[0].wParam, static_cast<WPARAM>(L'z'));
}

// ---- the state belongs to the object, not to its window ----

// The OS tab, a deactivation, the CPU tab and a line clicked: the window after
// another deactivation shows the same lines, values, selection, tab and
// enabled states. Under Windows 10 the CPU tab lists the processor feature
// lines: the version flags the OS tab set outlived its window.
TEST_F(InOwnContainer, ADeactivatedControlShowsItsListAgainWhenReactivated) {
  create();
  HWND first = activate();
  ASSERT_NE(first, nullptr);
  PumpMessages();
  ASSERT_EQ(uploads, 1);
  ClickTab(first, 0);
  const bool windows10 = ListLines(list(first)).at(0) == "Operating System Name: Windows 10";
  ASSERT_EQ(inPlaceDeactivate(), S_OK);
  first = activate();
  ASSERT_NE(first, nullptr);
  ClickTab(first, 2);  // &CPU
  const auto lines = ListLines(list(first));
  ASSERT_GT(lines.size(), 3u);
  if (windows10) {
    std::printf("note: run as Windows 10\n");
    for (const char* label : {"MMX Instructions Available: ", "AMD 3D-Now Instructions Available: "})
      EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(label, 0) == 0; }))
          << label;
  }
  ClickLine(first, 3);
  const auto values = itemValues(first);

  ASSERT_EQ(inPlaceDeactivate(), S_OK);
  HWND second = activate();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ListLines(list(second)), lines);
  EXPECT_EQ(itemValues(second), values);
  EXPECT_EQ(::SendMessageW(list(second), LB_GETCURSEL, 0, 0), 3);
  EXPECT_EQ(::SendMessageW(::GetDlgItem(second, win32::kIdTabProfile), TCM_GETCURSEL, 0, 0), 2);
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(second, win32::kIdTabProfile)));
  EXPECT_TRUE(::IsWindowEnabled(::GetDlgItem(second, win32::kIdCommand1)));
}

// Wine reads the version when a process starts: the test above in a child run as Windows 10.
TEST(OwnContainerVersionFlags, KeptAcrossADeactivationUnderWindows10) {
  RegFixture version(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\tallowin_wintests.exe");
  version.setString(L"", L"Version", L"win10");
  const RunResult child = RunProgram(L"\"" + ProgramFolder() +
                                     L"tallowin_wintests.exe\" --gtest_filter=InOwnContainer.ADeactivated*");
  EXPECT_EQ(child.exitCode, 0) << child.out;
  EXPECT_NE(child.out.find("note: run as Windows 10"), std::string::npos) << child.out;
}

// Deactivated while the initial upload collects or waits for the service: the
// service stores one record; activated again the control shows the processor
// lines and sends nothing more.
TEST_F(InOwnContainer, DeactivatedDuringTheInitialUploadTheRecordIsSentOnce) {
  const std::string peer = TestService("PEER");
  if (peer.empty()) GTEST_SKIP() << "TALLOWIN_TEST_PEER not set";
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", Wide(peer).c_str());
  enum class When { Collecting, Sending };
  for (When when : {When::Collecting, When::Sending}) {
    SCOPED_TRACE(when == When::Collecting ? "while collecting" : "while sending");
    const int before = LastStoredRecord(peer).count;
    ASSERT_GE(before, 0) << "the service does not answer";
    create(win32::WindowUpload());
    bool deactivated = false;
    auto deactivate = [&] {
      if (deactivated) return;
      deactivated = true;
      EXPECT_EQ(inPlaceDeactivate(), S_OK);
    };
    OnHostMessage = deactivate;
    HWND form = activate();
    ASSERT_NE(form, nullptr);
    if (when == When::Collecting)
      ::PostMessageW(host, WM_APP, 0, 0);  // handled in the collection's first yield
    else
      ::SetWindowSubclass(::GetDlgItem(form, win32::kIdTabProfile), PostWhenSending, 9, reinterpret_cast<DWORD_PTR>(host));
    PumpMessages();  // the upload runs in here, to its end
    OnHostMessage = nullptr;
    EXPECT_TRUE(deactivated);
    EXPECT_EQ(window(), nullptr);
    EXPECT_EQ(LastStoredRecord(peer).count, before + 1);

    form = activate();
    PumpMessages();
    const auto lines = ListLines(list(form));
    ASSERT_GT(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Processor Architecture: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(LastStoredRecord(peer).count, before + 1) << "nothing sent again";
    site->releaseControl();
  }
  ::SetEnvironmentVariableW(L"TALLOWIN_INVENTORY_SERVER", nullptr);
  EXPECT_EQ(site->references(), siteRefsAtStart);
}

// ---- the sites go back ----

// A container that deactivates, closes, drops or releases the control from
// inside each call the control makes into it: no crash, no further call into
// the container once deactivated, and every reference the control took on the
// container is given back.
TEST_F(InOwnContainer, HostileFromInsideEveryCallback) {
  const char* callbacks[] = {"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow",      "GetWindowContext",
                              "OnUIActivate",       "SetActiveObject",   "SetBorderSpace", "OnUIDeactivate",
                              "OnInPlaceDeactivate"};
  const std::pair<Act, const char*> acts[] = {{Act::InPlaceDeactivate, "InPlaceDeactivate"}, {Act::Close, "Close"},
                                              {Act::SetClientSiteNull, "SetClientSite(nullptr)"}, {Act::Release, "Release"}};
  for (const char* in : callbacks) {
    for (const auto& [act, actName] : acts) {
      SCOPED_TRACE(std::string(actName) + " inside " + in);
      create();
      site->hostileIn = in;
      site->hostileAct = act;
      site->hostileDone = false;
      site->actSettled = false;
      site->callsAfterAct.clear();
      const auto step = [&](const char* what, auto&& run) {
        run();
        EXPECT_EQ(site->callsAfterAct, "") << "called after the act, in " << what;
        site->callsAfterAct.clear();
        site->actSettled = site->hostileDone;
      };
      // Activation, UI activation, deactivation and activation again: every
      // callback is made at least once.
      step("UI activation", [&] { doVerb(OLEIVERB_UIACTIVATE); });
      step("pumping", [&] { PumpMessages(); });
      step("UI activation again", [&] { doVerb(OLEIVERB_UIACTIVATE); });
      step("deactivation", [&] { inPlaceDeactivate(); });
      step("activation", [&] { doVerb(OLEIVERB_INPLACEACTIVATE); });
      step("pumping", [&] { PumpMessages(); });
      EXPECT_TRUE(site->hostileDone);
      site->releaseControl();
      PumpMessages();
      EXPECT_EQ(site->references(), siteRefsAtStart);
      EXPECT_EQ(::FindWindowExW(host, nullptr, win32::FrmMain::ClassName(), nullptr), nullptr);
      EXPECT_FALSE(win32::ModuleInUse());
    }
  }
}

// ---- a container letting go while the control works ----

// Records the list's lines when the form's window is destroyed.
LRESULT CALLBACK RecordOnDestroy(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data) {
  if (msg == WM_DESTROY) *reinterpret_cast<std::vector<std::string>*>(data) = ListLines(::GetDlgItem(hwnd, win32::kIdLstInfo));
  return ::DefSubclassProc(hwnd, msg, wp, lp);
}

// The container's last reference, and nothing else, goes while the control
// is active and idle, or (from a message handled inside the dispatch's or
// the upload's yield) during a click: the object and its window stay until
// the click's work is done; every site goes back.
TEST_F(InOwnContainer, ReleasedWhileActiveOrDuringAClickItLetsGoOfEverySite) {
  enum When { InPlaceIdle, UiActiveIdle, OsTab, Command1 };
  for (When when : {InPlaceIdle, UiActiveIdle, OsTab, Command1}) {
    SCOPED_TRACE(when);
    const bool upload = when == Command1;
    create();
    HWND form = activate(when == UiActiveIdle ? OLEIVERB_UIACTIVATE : OLEIVERB_INPLACEACTIVATE);
    ASSERT_NE(form, nullptr);
    if (when >= OsTab) PumpMessages();  // idle, the initial upload is still to come
    EXPECT_GT(site->references(), siteRefsAtStart);
    std::vector<std::string> atDestroy;
    ::SetWindowSubclass(form, RecordOnDestroy, 7, reinterpret_cast<DWORD_PTR>(&atDestroy));
    bool windowDuringUpload = false;
    duringUpload = [&](ProfileControl& c) {
      c.yield();
      windowDuringUpload = ::IsWindow(form) != FALSE;
      c.list().append("after the release");
    };
    OnHostMessage = [&] {
      IOleObject* control = site->control;
      site->control = nullptr;
      if (control) control->Release();
    };
    if (when < OsTab) {
      OnHostMessage();
    } else {
      ::PostMessageW(host, WM_APP, 0, 0);
      if (upload)
        click(form, win32::kIdCommand1);
      else
        ClickTab(form, 0);
    }
    EXPECT_FALSE(::IsWindow(form)) << "gone once the click returned";
    if (when >= OsTab) {
      ASSERT_FALSE(atDestroy.empty());
      EXPECT_EQ(upload ? atDestroy.back() : atDestroy[0].substr(0, 23), upload ? "after the release" : "Operating System Name: ");
      EXPECT_EQ(windowDuringUpload, upload);
    }
    OnHostMessage = nullptr;
    duringUpload = nullptr;
    PumpMessages();
    EXPECT_EQ(site->references(), siteRefsAtStart);
    EXPECT_FALSE(win32::ModuleInUse());
  }
}

}  // namespace
}  // namespace tallowin
