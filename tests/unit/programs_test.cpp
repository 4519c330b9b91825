#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/inventory/programs.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Lines = std::vector<std::string>;

class Programs : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};

  // An entry with the given values; nullptr leaves a value out.
  void entry(const std::string& sub, const char* display, const char* quiet = nullptr,
             RegView view = RegView::Bits64) {
    const std::string path = std::string(kUninstallPath) + "\\" + sub;
    p.addKey(path, view);
    if (display) p.setString(path, "DisplayName", display, view);
    if (quiet) p.setString(path, "QuietDisplayName", quiet, view);
  }
  Lines run() {
    CollectPrograms(control);
    return test::Texts(control.list());
  }
};

TEST_F(Programs, NamingRules) {
  struct Row {
    const char* what;
    std::string sub;
    const char* display;
    const char* quiet;
    std::string listed;
  };
  const Row rows[] = {
      {"display name first", "k1", "Editor", "Quiet Editor", "Editor"},
      {"a single blank is no name", "k2", " ", "Quiet Player", "Quiet Player"},
      {"a leading tab is no name", "k3", "\tTabbed", "Quiet Tab", "Quiet Tab"},
      {"two leading blanks are kept", "k4", "  Indented", nullptr, "  Indented"},
      {"trailing blanks are kept", "k5", "Padded  ", nullptr, "Padded  "},
      {"empty display name", "k6", "", "Quiet Only", "Quiet Only"},
      {"neither: the subkey name", "{9A0B-C1D2}", nullptr, nullptr, "{9A0B-C1D2}"},
      {"blank quiet name too: the subkey name", "Sub Key", " ", " ", "Sub Key"},
      {"non-ASCII kept", "k7", "Grafik-Übersicht Ωmega", nullptr, "Grafik-Übersicht Ωmega"},
  };
  for (const Row& r : rows) {
    FakePlatform fp;
    const std::string path = std::string(kUninstallPath) + "\\" + r.sub;
    fp.addKey(path, RegView::Bits64);
    if (r.display) fp.setString(path, "DisplayName", r.display, RegView::Bits64);
    if (r.quiet) fp.setString(path, "QuietDisplayName", r.quiet, RegView::Bits64);
    ProfileControl c{fp};
    CollectPrograms(c);
    EXPECT_EQ(test::Texts(c.list()), Lines{r.listed}) << r.what;
    EXPECT_EQ(test::Values(c.list()), std::vector<int32_t>{500}) << r.what;
    EXPECT_EQ(fp.openKeys(), 0) << r.what;
  }
}

TEST_F(Programs, DwordDisplayNameIsItsDecimalText) {
  const std::string path = std::string(kUninstallPath) + "\\k";
  p.setDword(path, "DisplayName", 42, RegView::Bits64);
  p.setString(path, "QuietDisplayName", "Quiet", RegView::Bits64);
  EXPECT_EQ(run(), Lines{"42"});
}

TEST_F(Programs, EmptySubkeyNameIsStillListed) {
  // An entry whose name could not be read: its values are looked for at the
  // uninstall key itself, and its line is empty but still a name line.
  SubKeyItem item;
  item.View = RegView::Bits64;
  p.addKey(kUninstallPath, RegView::Bits64);
  EXPECT_EQ(ProgramListName(p, item), "");
  p.setString(kUninstallPath, "DisplayName", "On The Key Itself", RegView::Bits64);
  EXPECT_EQ(ProgramListName(p, item), "On The Key Itself");
}

TEST_F(Programs, UnreadableSubkeyNameGivesAnEmptyNameLine) {
  entry("b", "B", nullptr, RegView::Bits32);
  p.addKey(kUninstallPath, RegView::Bits32).subKeys.push_back("");  // enumerates as an empty name
  EXPECT_EQ(run(), (Lines{"", "", "B"}));
  EXPECT_EQ(test::Values(control.list()), (std::vector<int32_t>{500, 0, 500}));
}

TEST_F(Programs, ThreeNamesGiveFiveLines) {
  entry("c", "C");
  entry("a", "A");
  entry("b", "B");
  EXPECT_EQ(run(), (Lines{"A", "", "B", "", "C"}));
  EXPECT_EQ(test::Values(control.list()), (std::vector<int32_t>{500, 0, 500, 0, 500}));
  EXPECT_EQ(p.yields, 3);  // one per listed entry
}

TEST_F(Programs, NoKeyOrNoEntriesGivesNothing) {
  EXPECT_TRUE(run().empty());
  p.addKey(kUninstallPath, RegView::Bits64);
  p.addKey(kUninstallPath, RegView::Bits32);
  EXPECT_TRUE(run().empty());
  EXPECT_EQ(p.yields, 0);
}

TEST_F(Programs, SingleEntryHasNoSeparator) {
  entry("only", "Only One");
  EXPECT_EQ(run(), Lines{"Only One"});
}

TEST_F(Programs, StableSortKeepsEnumerationOrderOfEqualNames) {
  // The fake enumerates in insertion order; case-only differences compare equal.
  entry("1", "zeta");
  entry("2", "Alpha tool");
  entry("3", "ALPHA TOOL");
  entry("4", "Same");
  entry("5", "alpha tool");
  entry("6", "Same");
  entry("7", "beta");
  EXPECT_EQ(run(), (Lines{"Alpha tool", "", "ALPHA TOOL", "", "alpha tool", "", "beta", "", "Same", "", "Same", "",
                          "zeta"}));
}

TEST_F(Programs, SortUsesThePlatformCollation) {
  // Sorting by byte values would put "Zebra" before "apple".
  entry("1", "Zebra");
  entry("2", "apple");
  entry("3", "Mango");
  EXPECT_EQ(run(), (Lines{"apple", "", "Mango", "", "Zebra"}));
  EXPECT_GT(p.comparisons, 0);
}

TEST_F(Programs, BothViewsSixtyFourFirst) {
  entry("same", "Equal Name", nullptr, RegView::Bits32);
  entry("x", "Thirty-two Only", nullptr, RegView::Bits32);
  entry("same", "Equal Name", nullptr, RegView::Bits64);
  entry("y", "Sixty-four Only", nullptr, RegView::Bits64);
  const auto entries = ReadProgramEntries(p);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].View, RegView::Bits64);
  EXPECT_EQ(entries[1].View, RegView::Bits64);
  EXPECT_EQ(entries[2].View, RegView::Bits32);
  EXPECT_EQ(entries[3].View, RegView::Bits32);
  EXPECT_EQ(run(), (Lines{"Equal Name", "", "Equal Name", "", "Sixty-four Only", "", "Thirty-two Only"}));
}

TEST_F(Programs, ValuesAreReadInTheEntrysOwnView) {
  // The same subkey in both views, named differently in each.
  entry("shared", "Named In 64", nullptr, RegView::Bits64);
  entry("shared", nullptr, "Quiet In 32", RegView::Bits32);
  EXPECT_EQ(run(), (Lines{"Named In 64", "", "Quiet In 32"}));
}

TEST_F(Programs, OneViewOn32BitWindows) {
  p.is64BitWindows = false;
  entry("a", "Only Once", nullptr, RegView::Native);
  EXPECT_EQ(run(), Lines{"Only Once"});
}

TEST_F(Programs, YieldThatAbortsStopsTheListing) {
  entry("a", "A");
  entry("b", "B");
  entry("c", "C");
  p.onYield = [this] {
    if (p.yields == 2) control.close();
  };
  EXPECT_THROW(CollectPrograms(control), DispatchAborted);
  EXPECT_EQ(test::Texts(control.list()), (Lines{"A", "", "B"}));
}

}  // namespace
}  // namespace tallowin
