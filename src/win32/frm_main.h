// The frmMain window: label, buttons, tab strip, list and text box, mirroring
// the control's ReportList. It is a child window so that a host program and
// an ActiveX container can both place it.
#pragma once

#include "win32/win.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/profile_control.h"
#include "win32/handles.h"

namespace tallowin::win32 {

// Control ids of the children, for hosts and tests that drive the window.
enum : int {
  kIdLabel1 = 101,
  kIdCommand1 = 102,
  kIdTabProfile = 103,
  kIdLstInfo = 104,
  kIdTxtDesc = 105,
  kIdBtnAbout = 106,
};


// The ActiveX object around a window: held while the window handles a
// message (so that a container letting go meanwhile does not pull it away),
// and asked first about keyboard messages the control pumps itself.
class FormOwner {
 public:
  virtual IUnknown* unknown() = 0;
  // True when the object or its container handled msg.
  virtual bool translatePumpedKey(MSG& msg) = 0;

 protected:
  ~FormOwner() = default;
};

class FrmMain : public ControlView, public ReportListObserver {
 public:
  // Creates the window as a child of parent at (x, y), showing control; its
  // size is the form's own, from twips at the display's DPI. With an owner,
  // the owner closes the control; without one the window closes it when it
  // goes.
  static FrmMain* Create(HWND parent, int x, int y, std::shared_ptr<ProfileControl> control,
                         FormOwner* owner = nullptr);
  // The same with a control of its own that has no upload.
  static FrmMain* Create(HWND parent, int x, int y);
  static SIZE DefaultSize();
  static const wchar_t* ClassName() { return L"TallowinFrmMain"; }
  static FrmMain* FromWindow(HWND hwnd);
  // The frmMain window hwnd lies in (hwnd itself, or an ancestor), or nullptr.
  static FrmMain* Around(HWND hwnd);
  // When the module that registered the class is unloaded (the ocx).
  static void UnregisterWindowClass();

  HWND hwnd() const { return hwnd_; }
  std::shared_ptr<ProfileControl> control() const { return control_; }
  // The owner is going: the window no longer holds or asks it.
  void forgetOwner() { owner_ = nullptr; }
  // An Alt+letter press: selects the tab whose caption marks that letter.
  bool handleAccessKey(wchar_t letter);
  // The keyboard handling a host's loop gives the form before dispatching:
  // the tabs' access keys and Tab between the form's controls.
  bool translateKey(const MSG& msg);
  // A keyboard message the control pumps itself (a yield, the upload's
  // wait): the owner's handling, else the form's own.
  bool translatePumpedKey(MSG& msg);
  // Selects tab i as a click on it does (and runs its dispatch).
  void selectTab(int index);
  // The control's initialisation: the upload runs once, from the message
  // loop, as soon as the host that activated the window lets it (or before
  // the first tab click, whichever comes first). Nothing runs if the window
  // is gone by then.
  void postInitialUpload();
  bool initialUploadPending() const { return initialUploadPending_; }

  // ControlView
  void setTabsEnabled(bool enabled) override;
  void setAboutEnabled(bool enabled) override;
  void setCommandEnabled(bool enabled) override;
  void setDescText(const std::string& text) override;
  void focusTabs() override;

  // ReportListObserver
  void onCleared() override;
  void onAppended(int index, const std::string& text) override;
  void onItemValue(int index, int32_t value) override;
  void onSelected(int index) override;
  void onTooltip(const std::string& text) override;
  void onEnabled(bool enabled) override;

 private:
  FrmMain(std::shared_ptr<ProfileControl> control, FormOwner* owner);
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK TabsProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR data);
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  // One function per message.
  LRESULT onCreate();
  LRESULT onDestroy();
  LRESULT onCommandMessage(int id, int code);
  LRESULT onNotify(NMHDR& nm);
  LRESULT onInitialUpload();
  LRESULT onSysChar(WPARAM wp, LPARAM lp);
  LRESULT onTooltipText(NMTTDISPINFOW& info);
  // WM_CREATE's parts.
  void createFont();
  void createChildren();
  void fitCaptions();
  void createTabs();
  void createTooltips();
  // A click on a line of lstInfo (single or double).
  void onListLine(bool doubleClick);
  void onTabChanged();
  void onTabClicked();

  HWND hwnd_ = nullptr;
  HWND label_ = nullptr, command_ = nullptr, tabs_ = nullptr, list_ = nullptr, desc_ = nullptr, about_ = nullptr;
  HWND tooltip_ = nullptr;
  win32::UniqueFont font_;
  int listExtent_ = 0;
  std::wstring listTip_;
  bool initialUploadPending_ = false;
  // The mouse went down on the tab that was already selected: its click
  // runs the dispatch again.
  bool pressedOnSelectedTab_ = false;
  std::shared_ptr<ProfileControl> control_;
  FormOwner* owner_ = nullptr;
  bool ownsControl_ = true;
};

// A new control for a window: the real platform, the given upload, and a hold
// on the module for as long as any copy of it lives (a dispatch or an upload
// on the stack).
std::shared_ptr<ProfileControl> MakeControl(UploadAction upload = {});

}  // namespace tallowin::win32
