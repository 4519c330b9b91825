// The control: owns the ReportList and the state that outlives one section
// run, and turns a tab click into one run of a section collector.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/report_list.h"
#include "platform/platform.h"
#include "sections/dispatch_table.h"
#include "sections/section_context.h"

namespace tallowin {

// What the dispatch needs of the window around the list. The tests have
// their own.
class ControlView {
 public:
  virtual ~ControlView() = default;
  virtual void setTabsEnabled(bool enabled) = 0;
  virtual void setAboutEnabled(bool enabled) = 0;
  virtual void setCommandEnabled(bool enabled) = 0;
  virtual void setDescText(const std::string& text) = 0;
  virtual void focusTabs() = 0;  // only when the tab strip is visible
};

class ProfileControl;
// What Command1 and the control's initialisation run: the inventory upload,
// handed to the control by whoever makes it (the ActiveX object, a test).
using UploadAction = std::function<void(ProfileControl&)>;

class ProfileControl {
 public:
  explicit ProfileControl(Platform& platform, ControlView* view = nullptr, UploadAction upload = {});

  Platform& platform() { return platform_; }
  ReportList& list() { return list_; }
  const ReportList& list() const { return list_; }
  VersionFlags& flags() { return flags_; }

  // What a collector may use of the control, for one run.
  SectionContext sectionContext();
  // The progress line "Working ..." is showing (network and printers).
  bool showingProgress = false;
  std::vector<InterfaceAddress> interfaceAddresses;

  // A tab click: disables the tab strip and Command1, empties the list and
  // txtDesc, disables the list and btnAbout, yields once, runs the selected
  // tab's section, enables the list and btnAbout, selects line 0 as a click
  // would, then gives back Command1 (unless an upload runs) and the tab
  // strip with the focus. The section is the one of the tag given, or of the
  // control's selected tab as it stands after the yield.
  void dispatch();
  void dispatch(const std::string& tag);
  // Runs the collector of one key (or the complete profile) with no steps
  // around it, as the upload does. An error escaping the collector ends only
  // that collector's run.
  void runSection(const std::string& sectionKey);
  void runCompleteProfile();
  // The complete profile into a list of the caller's, with state of its own
  // (the upload's profile): the list the window shows and the control's
  // flags stay as they are.
  void runCompleteProfile(ReportList& list, SectionState state);

  // A click on lstInfo, or the selection of line 0 after a dispatch.
  void onListClick();
  // A double-click on lstInfo: when the list shows a tag FOLDERS, opens the folder
  // named after the selected line's first colon in the file explorer.
  void onListDoubleClick();
  // A click on Command1.
  void onCommand();

  // The tab strip's selected tab (an index into form::Tabs(), -1 for none):
  // the control's, so that a window made later shows it, and the dispatch
  // finds its tag.
  int selectedTab() const { return selectedTab_; }
  void setSelectedTab(int index) { selectedTab_ = index; }

  // Lets the host process pending messages; throws DispatchAborted when the
  // control was closed meanwhile.
  void yield();
  // A window shows the control from now on: it is told the lines and the
  // enabled states as they stand.
  void attachView(ControlView* view, ReportListObserver* observer);
  // The window is going away: nothing of it may be touched from here on. The
  // control and a dispatch or upload under way go on; another window may
  // attach later.
  void detachView();
  // The control's owner is done with it: a dispatch under way stops at its
  // next yield, an upload's exchange is given up, and nothing runs again.
  void close();
  bool closed() const { return closed_; }
  bool busy() const { return dispatching_ || uploading_; }
  // The upload has collected its sections: the tab strip may be used again
  // while the record is sent.
  void uploadCollected();

 private:
  void runGuarded(SectionCollector collector);
  static void runGuarded(SectionCollector collector, SectionContext ctx);
  void dispatchSection(const std::optional<std::string>& tag);
  // The enabled states a window shows, kept for a window attached later.
  void enableTabs(bool enabled);
  void enableCommand(bool enabled);
  void enableAbout(bool enabled);
  std::string selectedTabTag() const;

  Platform& platform_;
  ControlView* view_;
  UploadAction upload_;
  ReportList list_;
  VersionFlags flags_;
  int selectedTab_ = -1;
  std::string shownTag_;  // the upper-case tag of the section the list shows
  bool tabsEnabled_ = true;
  bool commandEnabled_ = true;
  bool aboutEnabled_ = true;
  bool closed_ = false;
  // Two collections never fill the list at once: no dispatch while the upload
  // collects, no upload while a dispatch runs.
  bool dispatching_ = false;
  bool uploading_ = false;
  bool uploadCollecting_ = false;
};

}  // namespace tallowin
