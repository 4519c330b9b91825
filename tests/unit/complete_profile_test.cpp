// The complete profile: all sixteen sections in order, one empty line after
// each but the printers. The checks hold whatever lines the sections produce
// (or none): each section's own run is the reference for its part.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/profile_control.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Line = ReportList::Line;

struct Range {
  int32_t low, high;
};
struct ProfileSection {
  const char* key;
  std::vector<Range> values;  // the item values its lines may carry (0 aside)
};

const ProfileSection kProfile[] = {
    {"OS", {{10, 270}}},
    {"PROGS", {{500, 500}}},
    {"CPU", {{1020, 1260}}},
    {"POWER", {{2010, 2050}}},
    {"MEMORY", {{3010, 3070}}},
    {"PORTS", {{4010, 4010}}},
    {"PCI", {{4100, 4180}}},
    {"SCSI", {{4300, 4380}}},
    {"USB", {{4500, 4530}, {4150, 4180}}},  // its driver rows carry the PCI values
    {"FIREWIRE", {{4600, 4680}}},
    {"PCMCIA", {{4700, 4780}}},
    {"NETWORK", {{5010, 5398}}},
    {"UI", {{6010, 6140}}},
    {"LOCALE", {{6500, 6920}}},
    {"TIME", {{7010, 7110}}},
    {"PRINTERS", {{9000, 9900}}},
};
constexpr size_t kSections = sizeof(kProfile) / sizeof(kProfile[0]);

bool inRanges(const ProfileSection& s, int32_t v) {
  for (const Range& r : s.values)
    if (v >= r.low && v <= r.high) return true;
  return false;
}

// Logs appends and yields in the order they happen.
class EventLog : public ReportListObserver {
 public:
  std::vector<std::string> events;
  void onCleared() override { events.push_back("clear"); }
  void onAppended(int index, const std::string&) override { events.push_back("append " + std::to_string(index)); }
  void onItemValue(int, int32_t) override {}
  void onSelected(int) override {}
  void onTooltip(const std::string&) override {}
  void onEnabled(bool) override {}
};

class CompleteProfile : public ::testing::Test {
 protected:
  FakePlatform p;
  void SetUp() override {
    p.version.dwPlatformId = 2;
    p.version.dwMajorVersion = 6;
    p.version.dwMinorVersion = 1;
    p.exports.insert("kernel32!GetSystemTimeAdjustment");
    // A device on every bus, so that the bus sections write blocks, not only
    // their none-found lines.
    for (const char* e : {"PCI", "SCSI", "USBSAMP", "V1394", "PCMCIA"}) {
      const std::string key = std::string("SYSTEM\\CurrentControlSet\\Enum\\") + e + "\\Dev\\1";
      p.setString(key, "DeviceDesc", std::string("Device on ") + e);
      p.setString(key, "HardwareID", std::string(e) + "\\Dev");
    }
  }

  // Each section run on its own, in profile order on one control (the OS
  // section's version flags reach the later sections as in the profile),
  // after a line that keeps the list from being empty, as it is in the
  // profile.
  std::vector<std::vector<Line>> sectionsAlone() {
    ProfileControl solo{p};
    std::vector<std::vector<Line>> out;
    for (const SectionEntry& e : DispatchTable()) {
      solo.list().clear();
      solo.list().append("placeholder");
      solo.runSection(e.key);
      out.emplace_back(solo.list().lines().begin() + 1, solo.list().lines().end());
    }
    p.yields = 0;
    return out;
  }
};

bool sameLines(const std::vector<Line>& a, const std::vector<Line>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].text != b[i].text || a[i].itemValue != b[i].itemValue) return false;
  return true;
}

TEST_F(CompleteProfile, KeysInTheProfileOrder) {
  ASSERT_EQ(DispatchTable().size(), kSections);
  for (size_t i = 0; i < kSections; ++i) EXPECT_STREQ(DispatchTable()[i].key, kProfile[i].key);
}

TEST_F(CompleteProfile, SectionsInOrderEachFollowedByOneEmptyLine) {
  const auto alone = sectionsAlone();
  ProfileControl control{p};
  control.runCompleteProfile();
  const auto& lines = control.list().lines();

  std::vector<Line> expect;
  for (size_t i = 0; i < kSections; ++i) {
    expect.insert(expect.end(), alone[i].begin(), alone[i].end());
    if (i + 1 < kSections) expect.push_back({"", 0});
  }
  ASSERT_TRUE(sameLines(lines, expect)) << "the profile is not the sections run one after another";

  // The sections this test controls all wrote lines.
  for (const char* key : {"OS", "PCI", "SCSI", "USB", "FIREWIRE", "PCMCIA", "LOCALE", "TIME"}) {
    size_t i = 0;
    while (i < kSections && std::string(kProfile[i].key) != key) ++i;
    EXPECT_FALSE(alone[i].empty()) << key;
  }
  // No section begins or ends with an empty line, so each separator is the
  // only empty line between two sections.
  for (size_t i = 0; i < kSections; ++i) {
    if (alone[i].empty()) continue;
    EXPECT_NE(alone[i].front().text, "") << kProfile[i].key;
    if (i + 1 < kSections) {
      EXPECT_NE(alone[i].back().text, "") << kProfile[i].key;
    }
  }
  EXPECT_TRUE(alone.back().empty() || lines.back().text == alone.back().back().text)
      << "nothing follows the printers";
}

TEST_F(CompleteProfile, ItemValueRangesInSequence) {
  ProfileControl control{p};
  control.runCompleteProfile();
  size_t section = 0;
  std::vector<bool> seen(kSections, false);
  for (const Line& l : control.list().lines()) {
    if (l.itemValue == 0) continue;
    size_t s = section;
    while (s < kSections && !inRanges(kProfile[s], l.itemValue)) ++s;
    ASSERT_LT(s, kSections) << "item value " << l.itemValue << " of \"" << l.text << "\" after section "
                            << kProfile[section].key;
    section = s;
    seen[s] = true;
  }
  for (size_t i = 0; i < kSections; ++i) {
    const std::string key = kProfile[i].key;
    if (key == "OS" || key == "PCI" || key == "SCSI" || key == "USB" || key == "FIREWIRE" || key == "PCMCIA" ||
        key == "LOCALE" || key == "TIME") {
      EXPECT_TRUE(seen[i]) << key;
    }
  }
}

TEST_F(CompleteProfile, YieldsAfterEverySeparatorButTheUserInterfaces) {
  const auto alone = sectionsAlone();
  ProfileControl control{p};
  EventLog log;
  control.list().setObserver(&log);
  p.onYield = [&] { log.events.push_back("yield"); };
  control.runCompleteProfile();

  size_t index = 0;
  int profileYields = 0;
  for (size_t i = 0; i + 1 < kSections; ++i) {
    index += alone[i].size();  // the separator's index
    const std::string appended = "append " + std::to_string(index);
    size_t at = 0;
    while (at < log.events.size() && log.events[at] != appended) ++at;
    ASSERT_LT(at, log.events.size()) << kProfile[i].key;
    const bool yielded = at + 1 < log.events.size() && log.events[at + 1] == "yield";
    EXPECT_EQ(yielded, std::string(kProfile[i].key) != "UI") << kProfile[i].key;
    profileYields += yielded;
    ++index;
  }
  EXPECT_EQ(profileYields, 14);
  // The last event is the printers' own: no separator, no yield after them.
  if (!alone.back().empty()) {
    EXPECT_EQ(log.events.back(), "append " + std::to_string(index + alone.back().size() - 1));
  }
}

TEST_F(CompleteProfile, ReachedByAnyTagThatIsNoKey) {
  ProfileControl reference{p};
  reference.runCompleteProfile();
  for (const char* key : {"", "EVERYTHING", "FOLDERS", "os "}) {
    ProfileControl control{p};
    control.runSection(key);
    EXPECT_TRUE(sameLines(control.list().lines(), reference.list().lines())) << key;
  }
  // Each key runs its own section only.
  ProfileControl single{p};
  single.runSection("TIME");
  EXPECT_EQ(single.list().text(0), "Currently On: Unknown");
  EXPECT_NE(single.list().text(single.list().count() - 1), "");
}

}  // namespace
}  // namespace tallowin
