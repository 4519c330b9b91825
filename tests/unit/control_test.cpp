// The control: the dispatch of a tab click, the complete profile, the list's
// clicks, and what a window attached at any moment shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "support/collect.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using test::Lines;

// Records what the control does to the window, in order.
class RecordingView : public ControlView, public ReportListObserver {
 public:
  Lines log;
  void setTabsEnabled(bool e) override { log.push_back(e ? "tabs on" : "tabs off"); }
  void setAboutEnabled(bool e) override { log.push_back(e ? "about on" : "about off"); }
  void setCommandEnabled(bool e) override { log.push_back(e ? "command on" : "command off"); }
  void setDescText(const std::string& t) override { log.push_back("desc=" + t); }
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
  FakePlatform p;
  RecordingView view;
  ProfileControl control{p, &view};
  void SetUp() override {
    control.list().setObserver(&view);
    p.version = test::OsVersion(2, 6, 1);
    p.onYield = [this] { view.log.push_back("yield"); };
  }
};

TEST_F(Dispatch, StepsInOrder) {
  control.list().append("stale");
  control.dispatch("os");  // lower case still finds the OS section
  EXPECT_EQ(view.log, (Lines{"tabs off", "command off", "clear", "desc=", "list off", "about off", "yield",
                             "list on", "about on", "select 0", "desc=", "tooltip", "command on", "tabs on", "focus"}));
  EXPECT_EQ(control.list().tooltip(), "Operating System Name: Windows 7");
}

// A collector that fails part-way: its lines so far stay and the control
// comes back to life.
TEST_F(Dispatch, AnErrorInsideACollectorKeepsTheControlUsable) {
  struct Failing : FakePlatform {
    std::string GetWindowsDirectory() override { throw std::runtime_error("gone"); }
  } failing;
  failing.version = test::OsVersion(2, 5, 1);
  ProfileControl c{failing, &view};
  c.list().setObserver(&view);
  c.dispatch("OS");
  EXPECT_EQ(c.list().text(c.list().count() - 1), "Service Pack Minor Version: 0");  // stopped before the directories
  EXPECT_TRUE(c.list().enabled());
  EXPECT_EQ(view.log.back(), "focus");
  EXPECT_FALSE(c.busy());
}

TEST_F(Dispatch, ClosedDuringAYieldStopsAndStaysDead) {
  int yields = 0;
  p.onYield = [&] {
    if (++yields == 3) control.close();
  };
  control.dispatch();
  EXPECT_EQ(yields, 3);  // nothing ran after the window went
  EXPECT_FALSE(control.busy());
  const size_t logged = view.log.size();
  control.dispatch();
  EXPECT_EQ(view.log.size(), logged);
}

// An in-place deactivation: the window goes during the dispatch's yield, the
// control does not. The section is collected for the control's own tab, and
// a window attached afterwards shows the list as it stands.
TEST_F(Dispatch, WindowGoneDuringYieldTheSectionStillFillsForTheNextWindow) {
  control.setSelectedTab(0);  // &OS
  p.onYield = [&] { control.detachView(); };
  control.dispatch();
  ASSERT_GT(control.list().count(), 0);
  EXPECT_EQ(control.list().text(0), "Operating System Name: Windows 7");
  EXPECT_FALSE(test::HasLine(test::Texts(control.list()), "")) << "the OS section alone";
  RecordingView next;
  control.attachView(&next, &next);
  EXPECT_EQ(next.log, (Lines{"clear", "select 0", "tooltip", "list on", "tabs on", "command on", "about on"}));
}

// A window attached while the upload collects shows the tab strip and
// Command1 disabled; a tab click meanwhile does nothing. Once the record is
// collected a tab click works, and Command1 stays off until the upload ends.
TEST(Upload, AWindowAttachedDuringTheUploadShowsItBusy) {
  FakePlatform p;
  RecordingView late;
  Lines whileCollecting, afterClicks;
  ProfileControl control{p, nullptr, [&](ProfileControl& c) {
                           c.attachView(&late, &late);
                           c.dispatch("OS");
                           whileCollecting = late.log;
                           c.uploadCollected();
                           c.dispatch("OS");
                           afterClicks = late.log;
                         }};
  control.onCommand();
  EXPECT_EQ(whileCollecting, (Lines{"clear", "list on", "tabs off", "command off", "about on"}));
  EXPECT_EQ(std::count(afterClicks.begin(), afterClicks.end(), "command on"), 0);
  EXPECT_EQ(late.log.back(), "command on");
  EXPECT_GT(control.list().count(), 0);
}

TEST(CompleteProfile, TheSectionsInOrderOneEmptyLineAndOneYieldBetweenThem) {
  FakePlatform p;
  p.version = test::OsVersion(2, 6, 1);
  p.exports.insert("kernel32!GetSystemTimeAdjustment");
  test::Pairs expect;
  ProfileControl solo{p};  // the OS section's flags reach the later sections as in the profile
  for (const SectionEntry& e : DispatchTable()) {
    solo.list().clear();
    solo.list().append("placeholder");  // no progress line, as inside the profile
    test::Collect(solo, e.collector);
    const test::Pairs lines = test::TextsAndValues(solo.list());
    expect.insert(expect.end(), lines.begin() + 1, lines.end());
    expect.push_back({"", 0});
  }
  expect.pop_back();  // nothing after the printers
  const int own = p.yields;
  for (const char* tag : {"", "EVERYTHING", "FOLDERS", "os "}) {
    p.yields = 0;
    ProfileControl control{p};
    control.runSection(tag);
    EXPECT_EQ(test::TextsAndValues(control.list()), expect) << tag;
    EXPECT_EQ(p.yields, own + 14) << "a yield after every section but the user interface and the printers";
  }
}

TEST(ListClick, TooltipFollowsMarkedLinesOnly) {
  FakePlatform p;
  ProfileControl control{p};
  ReportList& l = control.list();
  const std::pair<const char*, int32_t> lines[] = {{"OS: 7", 10}, {"", 0}, {"Negative", -5}, {"Program", 500}};
  const char* shown[] = {"OS: 7", "OS: 7", "OS: 7", "Program"};
  for (const auto& [text, value] : lines) l.append(text, value);
  for (int i = 0; i < 4; ++i) {
    l.setSelectedIndex(i);
    control.onListClick();
    EXPECT_EQ(l.tooltip(), shown[i]) << i;
  }
  EXPECT_THROW(l.setSelectedIndex(4), std::out_of_range);
}

// The path after the first colon, in quotes, to explorer.exe: by its plain
// name first, then from the Windows and system directories where it exists.
TEST(DoubleClick, ThePathAfterTheFirstColonInQuotesAndTheStartAttemptsInOrder) {
  FakePlatform p;
  RecordingView view;
  ProfileControl control{p, &view};
  control.dispatch("Folders");
  p.windowsDirectory = "C:\\WINNT";
  p.systemDirectory = "C:\\WINNT\\system32\\";
  const auto doubleClick = [&](const std::string& line) {
    control.list().clear();
    control.list().append(line, 10);
    control.list().setSelectedIndex(0);
    p.startAttempts.clear();
    control.onListDoubleClick();
    return p.startAttempts;
  };
  const std::pair<const char*, const char*> rows[] = {
      {"Windows Directory:    C:\\WINNT", "explorer.exe \"C:\\WINNT\""},
      {"Folder: D:\\x:y", "explorer.exe \"D:\\x:y\""}, {"Folder:   ", "explorer.exe"},
      {"Folder: a\" /select,\"b", "explorer.exe \"a /select,b\""},  // no way out of the quotes
  };
  for (const auto& [line, command] : rows) EXPECT_EQ(doubleClick(line), Lines{command}) << line;
  EXPECT_TRUE(doubleClick("no colon here").empty());
  control.dispatch("FOLDER");
  EXPECT_TRUE(doubleClick("Windows Directory: C:\\WINNT").empty());
  control.dispatch("Folders");

  const std::string line = "Windows Directory: C:\\WINNT";
  const std::string plain = "explorer.exe \"C:\\WINNT\"";
  const std::string inWindows = "\"C:\\WINNT\\explorer.exe\" \"C:\\WINNT\"";
  const std::string inSystem = "\"C:\\WINNT\\system32\\explorer.exe\" \"C:\\WINNT\"";
  EXPECT_EQ(doubleClick(line), Lines{plain});  // nothing exists: only the plain name is tried
  p.fileSizes = {{"C:\\WINNT\\explorer.exe", 1000}, {"c:\\winnt\\SYSTEM32\\explorer.exe", 1000}};
  EXPECT_EQ(doubleClick(line), (Lines{plain, inWindows, inSystem}));
  p.startable = {inWindows};
  EXPECT_EQ(doubleClick(line), (Lines{plain, inWindows}));
  // An empty file is not the program; a directory that cannot be read is
  // skipped, not taken for the root.
  p.startable = {inSystem, "\"\\explorer.exe\" \"C:\\WINNT\""};
  p.fileSizes = {{"C:\\WINNT\\explorer.exe", 0}, {"C:\\WINNT\\system32\\explorer.exe", 5}, {"\\explorer.exe", 5}};
  EXPECT_EQ(doubleClick(line), (Lines{plain, inSystem}));
  p.windowsDirectory = "";
  EXPECT_EQ(doubleClick(line), (Lines{plain, inSystem}));
}

}  // namespace
}  // namespace tallowin
