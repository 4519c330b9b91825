// The scheduled run's pacing, one row a case: the settings from their
// sources, what the last runs left, the record now, and the service's answer.
#include <gtest/gtest.h>

#include "upload/schedule.h"

namespace tallowin {
namespace {

constexpr int64_t kNow = 1800000000;
constexpr int64_t kHour = 3600;

struct PaceCase {
  const char* name;
  std::vector<ScheduleSource> sources;
  int64_t acceptedAt;  // with digest "old"
  const char* digest;  // of the record now
  uint32_t random;
  int answer;  // 200: accepted; else the HTTP status
  uint32_t delay;
  bool send;
  const char* outcome;  // the start of the attempt's line
  int64_t acceptedAfter;
};

const ScheduleSource kPolicyOff{"policy", 0, std::nullopt, std::nullopt};
const ScheduleSource kPackageOn{"package", 1, 48, 30};

const PaceCase kCases[] = {
    {"first run sends, default delay spread", {}, 0, "old", 601, 200, 0, true, "sent", kNow},
    {"delay within ten minutes", {}, 0, "old", 599, 200, 599, true, "sent", kNow},
    {"delay 0 turns the wait off", {{"policy", std::nullopt, std::nullopt, 0}}, 0, "old", 12345, 200, 0, true, "sent", kNow},
    {"unchanged within the interval", {}, kNow - 23 * kHour, "old", 0, 200, 0, false, "not sent: the record is unchanged", kNow - 23 * kHour},
    {"unchanged, an interval old", {}, kNow - 24 * kHour, "old", 0, 200, 0, true, "sent", kNow},
    {"changed record sends at once", {}, kNow - kHour, "new", 0, 200, 0, true, "sent", kNow},
    {"clock set back sends", {}, kNow + kHour, "old", 0, 200, 0, true, "sent", kNow},
    {"package interval 48 h", {kPackageOn}, kNow - 30 * kHour, "old", 0, 200, 0, false, "not sent: the record is unchanged", kNow - 30 * kHour},
    {"policy disables over the package", {kPolicyOff, kPackageOn}, 0, "new", 1800, 200, 1800, false, "not sent: scheduled inventory is disabled by policy", 0},
    {"out-of-range policy interval ignored", {{"policy", std::nullopt, 169, 0}, kPackageOn}, kNow - 47 * kHour, "old", 0, 200, 0, false, "not sent: the record is unchanged", kNow - 47 * kHour},
    {"503: try later, acceptance kept", {}, kNow - 25 * kHour, "old", 0, 503, 0, true, "not sent, try later: the service is busy (HTTP status 503)", kNow - 25 * kHour},
    {"429: try later", {}, 0, "new", 0, 429, 0, true, "not sent, try later: the service is busy (HTTP status 429)", 0},
    {"other failure kept as it was", {}, 0, "new", 0, 500, 0, true, "failed", 0},
};

class Pacing : public ::testing::TestWithParam<PaceCase> {};

TEST_P(Pacing, DelayDecisionAndState) {
  const PaceCase& c = GetParam();
  SCOPED_TRACE(c.name);
  const ScheduleSettings settings = ChooseSchedule(c.sources);
  EXPECT_EQ(ScheduledDelaySeconds(settings, c.random), c.delay);
  const ScheduleState before{c.acceptedAt, c.acceptedAt ? "old" : "", 0, ""};
  const SendDecision decision = DecideSend(settings, before, c.digest, kNow);
  EXPECT_EQ(decision.send, c.send);
  UploadOutcome outcome{true, c.answer == 200, c.answer == 200 ? "sent" : "failed", c.answer, false, false, ""};
  const ScheduleState after = AfterRun(before, decision, outcome, c.digest, kNow);
  EXPECT_EQ(after.attemptOutcome.rfind(c.outcome, 0), 0U) << after.attemptOutcome;
  EXPECT_EQ(after.attemptAt, kNow);
  EXPECT_EQ(after.acceptedAt, c.acceptedAfter);
  EXPECT_EQ(after.acceptedDigest, c.acceptedAfter == kNow ? c.digest : before.acceptedDigest);
}

INSTANTIATE_TEST_SUITE_P(Cases, Pacing, ::testing::ValuesIn(kCases));

TEST(RecordDigest, TrafficCountersAloneAreNoChange) {
  UploadRecord r{"ann", "00-0C-29-3A-5B-7F", "A$#$B$#$", "Interface: x$#$  Packets Sent: 1$#$", "CPU$#$"};
  const std::string digest = RecordDigest(r, "http://inv:80/");
  UploadRecord counted = r;
  counted.network = "Interface: x$#$  Packets Sent: 2,000$#$";
  EXPECT_EQ(RecordDigest(counted, "http://inv:80/"), digest);
  UploadRecord installed = r;
  installed.programs = "A$#$B$#$C$#$";
  EXPECT_NE(RecordDigest(installed, "http://inv:80/"), digest);
  EXPECT_NE(RecordDigest(r, "http://other:80/"), digest);
  // The profile counts, but not the memory in use at the moment.
  const std::string profiled = RecordDigest(r, "http://inv:80/", "Operating System Name: Windows 10$#$Memory Load: 40%$#$");
  EXPECT_NE(profiled, digest);
  EXPECT_EQ(RecordDigest(r, "http://inv:80/", "Operating System Name: Windows 10$#$Memory Load: 71%$#$"), profiled);
  EXPECT_NE(RecordDigest(r, "http://inv:80/", "Operating System Name: Windows 11$#$Memory Load: 40%$#$"), profiled);
}

TEST(ScheduleStatus, ServerAndTaskLinesFromWhatTheBindingRead) {
  StatusFacts f;
  f.server = ChooseServer({{"policy", "[::1]:8080"}});
  f.taskName = "Tallowin Scheduled inventory";
  const std::vector<std::string> lines = ScheduleStatusLines(f);
  EXPECT_EQ(lines.at(0), "inventory server: [::1]:8080 (from policy)");
  EXPECT_EQ(lines.at(1), "scheduled task: Tallowin Scheduled inventory: not registered");
  EXPECT_EQ(lines.back(), "last accepted: never");
}

}  // namespace
}  // namespace tallowin
