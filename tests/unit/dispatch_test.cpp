#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "control/profile_control.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

// Records what the dispatch does to the window, in order.
class RecordingView : public ControlView, public ReportListObserver {
 public:
  std::vector<std::string> log;
  std::string tag;
  void setTabsEnabled(bool e) override { log.push_back(e ? "tabs on" : "tabs off"); }
  void setAboutEnabled(bool e) override { log.push_back(e ? "about on" : "about off"); }
  void setCommandEnabled(bool e) override { log.push_back(e ? "command on" : "command off"); }
  void setDescText(const std::string& t) override { log.push_back("desc=" + t); }
  std::string selectedTabTag() override {
    log.push_back("tag");
    return tag;
  }
  void focusTabs() override { log.push_back("focus"); }
  void onCleared() override { log.push_back("clear"); }
  void onAppended(int, const std::string&) override {}
  void onItemValue(int, int32_t) override {}
  void onSelected(int i) override { log.push_back("select " + std::to_string(i)); }
  void onTooltip(const std::string&) override { log.push_back("tooltip"); }
  void onEnabled(bool e) override { log.push_back(e ? "list on" : "list off"); }
};

class Dispatch : public ::testing::Test {
 protected:
  test::FakePlatform p;
  RecordingView view;
  ProfileControl control{p, &view};
  void SetUp() override {
    control.list().setObserver(&view);
    p.version.dwPlatformId = 2;
    p.version.dwMajorVersion = 6;
    p.version.dwMinorVersion = 1;
    p.onYield = [this] { view.log.push_back("yield"); };
  }
};

TEST_F(Dispatch, StepsInOrder) {
  view.tag = "os";  // lower case still finds the OS section
  control.list().append("stale");
  control.dispatch();
  EXPECT_EQ(view.log, (std::vector<std::string>{"tabs off", "command off", "clear", "desc=", "list off", "about off",
                                                "yield", "tag", "list on", "about on", "select 0", "desc=", "tooltip",
                                                "command on", "tabs on", "focus"}));
  EXPECT_EQ(control.list().text(0), "Operating System Name: Windows 7");
  EXPECT_EQ(control.list().tooltip(), "Operating System Name: Windows 7");
  EXPECT_EQ(p.yields, 1);
}

TEST_F(Dispatch, EmptySectionSelectsNothing) {
  view.tag = "PROGS";  // no programs in the fake registry
  control.dispatch();
  EXPECT_EQ(control.list().count(), 0);
  EXPECT_EQ(control.list().selectedIndex(), -1);
  EXPECT_EQ(view.log.back(), "focus");
}

TEST(DispatchTable, KeysInOrder) {
  std::vector<std::string> keys;
  for (const auto& e : DispatchTable()) keys.push_back(e.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"OS", "PROGS", "CPU", "POWER", "MEMORY", "PORTS", "PCI", "SCSI", "USB",
                                            "FIREWIRE", "PCMCIA", "NETWORK", "UI", "LOCALE", "TIME", "PRINTERS"}));
  EXPECT_NE(FindCollector("OS"), nullptr);
  EXPECT_EQ(FindCollector("os"), nullptr);  // the dispatch upper-cases first
  EXPECT_EQ(FindCollector(""), nullptr);
  EXPECT_EQ(FindCollector("FOLDERS"), nullptr);
}

// The sections' own yields: each run in profile order after a line, as
// inside the complete profile.
int sectionYields(const test::FakePlatform& like) {
  test::FakePlatform q;
  q.version = like.version;
  ProfileControl c{q};
  c.list().append("x");
  for (const auto& e : DispatchTable()) e.collector(c);
  return q.yields;
}

TEST_F(Dispatch, UnknownOrEmptyTagRunsCompleteProfile) {
  const int own = sectionYields(p);
  for (const char* tag : {"", "Everything"}) {
    view.tag = tag;
    p.yields = 0;
    control.dispatch();
    const auto lines = test::Texts(control.list());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Operating System Name: Windows 7");
    // One yield at the start, then one after every section but UI and the printers.
    EXPECT_EQ(p.yields, 1 + 14 + own) << tag;
    // The OS section is followed directly by its separator line.
    size_t i = 0;
    while (i < lines.size() && !lines[i].empty()) ++i;
    ASSERT_LT(i, lines.size());
    EXPECT_EQ(lines[i - 1].rfind("Boot Type: ", 0), 0u);
  }
}

// A collector that fails part-way: its lines so far stay and the control
// comes back to life (tabs, list and button enabled again).
class FailingPlatform : public test::FakePlatform {
 public:
  std::string GetWindowsDirectory() override { throw std::runtime_error("gone"); }
};

TEST(DispatchFailure, ErrorInsideCollectorKeepsControlUsable) {
  FailingPlatform p;
  p.version.dwPlatformId = 2;
  p.version.dwMajorVersion = 5;
  p.version.dwMinorVersion = 1;
  RecordingView view;
  view.tag = "OS";
  ProfileControl control{p, &view};
  control.list().setObserver(&view);
  control.dispatch();
  const auto lines = test::Texts(control.list());
  EXPECT_EQ(lines.back(), "Service Pack Minor Version: 0");  // stopped before the directories
  EXPECT_TRUE(control.list().enabled());
  EXPECT_EQ(view.log.back(), "focus");
  EXPECT_FALSE(control.busy());
}

TEST_F(Dispatch, ClosedDuringYieldStopsSafely) {
  view.tag = "";
  int yields = 0;
  p.onYield = [&] {
    if (++yields == 3) control.close();
  };
  control.dispatch();
  EXPECT_EQ(yields, 3);  // nothing ran after the window went
  EXPECT_FALSE(control.busy());
  const size_t logged = view.log.size();
  control.dispatch();  // a dead control ignores further clicks
  EXPECT_EQ(view.log.size(), logged);
}

// An in-place deactivation: the window goes during the dispatch's yield, the
// control does not. The section is collected for the tab the control has
// selected, and a window attached afterwards shows the list as it stands.
TEST_F(Dispatch, WindowGoneDuringYieldTheSectionStillFillsForTheNextWindow) {
  control.setSelectedTab(0);  // &OS
  view.tag = "OS";
  p.onYield = [&] { control.detachView(); };
  control.dispatch();
  ASSERT_GT(control.list().count(), 0);
  EXPECT_EQ(control.list().text(0), "Operating System Name: Windows 7");
  EXPECT_EQ(control.list().selectedIndex(), 0);
  EXPECT_EQ(std::count(view.log.begin(), view.log.end(), "tag"), 0) << "the tag came from the control";
  EXPECT_FALSE(control.busy());

  RecordingView next;
  control.attachView(&next, &next);
  EXPECT_EQ(next.log, (std::vector<std::string>{"clear", "select 0", "tooltip", "list on", "tabs on", "command on",
                                                "about on"}));
}

// A window attached while the upload collects shows the tab strip and
// Command1 disabled; the upload given at construction is the one that runs.
TEST(Upload, AWindowAttachedDuringTheUploadShowsItBusy) {
  test::FakePlatform p;
  RecordingView late;
  ProfileControl* seen = nullptr;
  ProfileControl control{p, nullptr, [&](ProfileControl& c) {
                           seen = &c;
                           c.attachView(&late, &late);
                         }};
  control.onCommand();
  EXPECT_EQ(seen, &control);
  EXPECT_EQ(late.log, (std::vector<std::string>{"clear", "list on", "tabs off", "command off", "about on", "tabs on",
                                                "command on"}));
}

TEST_F(Dispatch, ClickSetsTooltipOnlyForMarkedLines) {
  auto& list = control.list();
  list.append("Operating System Name: X", 10);
  list.append("");
  list.setSelectedIndex(0);
  control.onListClick();
  EXPECT_EQ(list.tooltip(), "Operating System Name: X");
  list.setSelectedIndex(1);
  control.onListClick();
  EXPECT_EQ(list.tooltip(), "Operating System Name: X");
}

}  // namespace
}  // namespace tallowin

namespace tallowin {
namespace {

TEST(ProgressLine, OnlyOnAnEmptyList) {
  test::FakePlatform p;
  ProfileControl c{p};
  c.showProgressLine();
  EXPECT_EQ(test::Texts(c.list()), (std::vector<std::string>{"Working ..."}));
  EXPECT_TRUE(c.showingProgress);
  EXPECT_EQ(p.yields, 1);
  c.removeProgressLine();
  EXPECT_EQ(c.list().count(), 0);
  EXPECT_FALSE(c.showingProgress);

  c.list().append("existing");
  c.showProgressLine();
  c.removeProgressLine();
  EXPECT_EQ(test::Texts(c.list()), (std::vector<std::string>{"existing"}));
  EXPECT_FALSE(c.showingProgress);
}

}  // namespace
}  // namespace tallowin
