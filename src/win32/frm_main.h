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


class FrmMain : public ControlView, public ReportListObserver {
 public:
  // Creates the window as a child of parent at (x, y); its size is the
  // form's own, from twips at the display's DPI.
  static FrmMain* Create(HWND parent, int x, int y);
  static SIZE DefaultSize();
  static const wchar_t* ClassName() { return L"TallowinFrmMain"; }
  static FrmMain* FromWindow(HWND hwnd);
  // When the module that registered the class is unloaded (the ocx).
  static void UnregisterWindowClass();

  HWND hwnd() const { return hwnd_; }
  std::shared_ptr<ProfileControl> control() const { return control_; }
  // An Alt+letter press: selects the tab whose caption marks that letter.
  bool handleAccessKey(wchar_t letter);
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
  std::string selectedTabTag() override;
  void focusTabs() override;

  // ReportListObserver
  void onCleared() override;
  void onAppended(int index, const std::string& text) override;
  void onItemValue(int index, int32_t value) override;
  void onSelected(int index) override;
  void onTooltip(const std::string& text) override;
  void onEnabled(bool enabled) override;

 private:
  FrmMain();
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
  void createChildren();
  void onTabChanged();

  HWND hwnd_ = nullptr;
  HWND label_ = nullptr, command_ = nullptr, tabs_ = nullptr, list_ = nullptr, desc_ = nullptr, about_ = nullptr;
  HWND tooltip_ = nullptr;
  HFONT font_ = nullptr;
  int listExtent_ = 0;
  std::wstring listTip_;
  bool initialUploadPending_ = false;
  std::shared_ptr<ProfileControl> control_;
};

// The platform every window of this process uses.
Platform& SystemPlatform();

// What Command1 (and the control's initialisation) runs: the inventory
// upload. Every frmMain window created afterwards gets it.
using UploadAction = std::function<void(ProfileControl&)>;
void SetUploadAction(UploadAction action);
const UploadAction& CurrentUploadAction();

}  // namespace tallowin::win32
