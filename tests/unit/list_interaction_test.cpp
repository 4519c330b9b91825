#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "support/fake_platform.h"

namespace tallowin {
namespace {

using test::FakePlatform;

class TagView : public ControlView {
 public:
  std::string tag;
  std::vector<std::string> desc;
  void setTabsEnabled(bool) override {}
  void setAboutEnabled(bool) override {}
  void setCommandEnabled(bool) override {}
  void setDescText(const std::string& t) override { desc.push_back(t); }
  std::string selectedTabTag() override { return tag; }
  void focusTabs() override {}
};

class ListClick : public ::testing::Test {
 protected:
  FakePlatform p;
  TagView view;
  ProfileControl control{p, &view};
  void click(int i) {
    control.list().setSelectedIndex(i);
    control.onListClick();
  }
};

TEST_F(ListClick, TooltipFollowsMarkedLinesOnly) {
  ReportList& l = control.list();
  l.append("Operating System Name: Windows 7", 10);
  l.append("", 0);
  l.append("Negative", -5);
  l.append("Program", 500);
  click(0);
  EXPECT_EQ(l.tooltip(), "Operating System Name: Windows 7");
  click(1);  // value 0 keeps what was shown
  EXPECT_EQ(l.tooltip(), "Operating System Name: Windows 7");
  click(2);
  EXPECT_EQ(l.tooltip(), "Operating System Name: Windows 7");
  click(3);
  EXPECT_EQ(l.tooltip(), "Program");
  EXPECT_EQ(view.desc, (std::vector<std::string>(4, "")));
}

TEST_F(ListClick, NoSelectionKeepsTheTooltip) {
  control.list().setTooltip("kept");
  control.list().append("x", 10);
  control.onListClick();
  EXPECT_EQ(control.list().tooltip(), "kept");
  EXPECT_EQ(view.desc, (std::vector<std::string>{""}));
}

class DoubleClick : public ListClick {
 protected:
  void SetUp() override {
    view.tag = "Folders";
    p.windowsDirectory = "C:\\WINNT";
    p.systemDirectory = "C:\\WINNT\\system32\\";
  }
  std::vector<std::string> doubleClick(const std::string& line) {
    control.list().clear();
    control.list().append(line, 10);
    control.list().setSelectedIndex(0);
    p.startAttempts.clear();
    control.onListDoubleClick();
    return p.startAttempts;
  }
};

TEST_F(DoubleClick, PathAfterTheFirstColon) {
  p.startable.insert("explorer.exe \"C:\\WINNT\"");
  struct Row {
    const char* line;
    const char* command;
  };
  const Row rows[] = {
      {"Windows Directory: C:\\WINNT", "explorer.exe \"C:\\WINNT\""},
      {"Windows Directory:C:\\WINNT", "explorer.exe \"C:\\WINNT\""},
      {"Windows Directory:    C:\\WINNT", "explorer.exe \"C:\\WINNT\""},
      {"Folder: D:\\My Files, old", "explorer.exe \"D:\\My Files, old\""},
      {"Folder: D:\\x:y", "explorer.exe \"D:\\x:y\""},  // the first colon only
      {"Folder: C:\\", "explorer.exe \"C:\\\""},
      {"Folder: a\" /select,\"b", "explorer.exe \"a /select,b\""},  // no way out of the quotes
      {"Folder:   ", "explorer.exe"},
  };
  for (const Row& r : rows) {
    const auto attempts = doubleClick(r.line);
    ASSERT_FALSE(attempts.empty()) << r.line;
    EXPECT_EQ(attempts.front(), r.command) << r.line;
  }
}

TEST_F(DoubleClick, NothingWithoutColonSelectionOrTag) {
  EXPECT_TRUE(doubleClick("no colon here").empty());
  view.tag = "OS";
  EXPECT_TRUE(doubleClick("Windows Directory: C:\\WINNT").empty());
  view.tag = "FOLDER";
  EXPECT_TRUE(doubleClick("Windows Directory: C:\\WINNT").empty());
  view.tag = "folders";
  control.list().clear();
  control.list().append("Windows Directory: C:\\WINNT");
  control.onListDoubleClick();  // nothing selected
  EXPECT_TRUE(p.startAttempts.empty());
}

TEST_F(DoubleClick, StartAttemptsInOrder) {
  const std::string line = "Windows Directory: C:\\WINNT";
  const std::string plain = "explorer.exe \"C:\\WINNT\"";
  const std::string inWindows = "\"C:\\WINNT\\explorer.exe\" \"C:\\WINNT\"";
  const std::string inSystem = "\"C:\\WINNT\\system32\\explorer.exe\" \"C:\\WINNT\"";

  // Nothing exists and nothing starts: only the plain name is tried.
  EXPECT_EQ(doubleClick(line), (std::vector<std::string>{plain}));

  // The program exists in both directories: the Windows directory first.
  p.fileSizes = {{"C:\\WINNT\\explorer.exe", 1000}, {"c:\\winnt\\SYSTEM32\\explorer.exe", 1000}};
  EXPECT_EQ(doubleClick(line), (std::vector<std::string>{plain, inWindows, inSystem}));
  p.startable = {inWindows};
  EXPECT_EQ(doubleClick(line), (std::vector<std::string>{plain, inWindows}));
  p.startable = {inSystem};
  EXPECT_EQ(doubleClick(line), (std::vector<std::string>{plain, inWindows, inSystem}));
  p.startable = {plain, inWindows, inSystem};
  EXPECT_EQ(doubleClick(line), (std::vector<std::string>{plain}));

  // An empty file is not the program.
  p.startable = {inSystem};
  p.fileSizes = {{"C:\\WINNT\\explorer.exe", 0}, {"C:\\WINNT\\system32\\explorer.exe", 5}};
  EXPECT_EQ(doubleClick(line), (std::vector<std::string>{plain, inSystem}));

  // A directory that cannot be read is skipped, not taken for the root.
  p.windowsDirectory = "";
  p.fileSizes["\\explorer.exe"] = 5;
  p.startable.insert("\"\\explorer.exe\" \"C:\\WINNT\"");
  EXPECT_EQ(doubleClick(line), (std::vector<std::string>{plain, inSystem}));
}

}  // namespace
}  // namespace tallowin
