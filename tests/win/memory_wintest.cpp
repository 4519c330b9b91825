// `tallowin.exe show MEMORY` against what Windows (Wine) reports to the test.
#include <gtest/gtest.h>

#include "win32/win.h"

#include "win/support/win_support.h"

namespace tallowin {
namespace {

// The byte count of a "N bytes ..." value, whatever the regional grouping.
uint64_t bytesOf(const std::string& line, const std::string& label) {
  EXPECT_EQ(line.rfind(label, 0), 0u) << line;
  const std::string value = line.substr(label.size(), line.find(" bytes") - label.size());
  uint64_t n = 0;
  for (char c : value)
    if (c >= '0' && c <= '9') n = n * 10 + static_cast<uint64_t>(c - '0');
  return n;
}

TEST(ShowMemory, MatchesThePlatform) {
  const auto r = wintest::RunTallowin(L"show MEMORY --values");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = wintest::SplitLines(r.out);
  ASSERT_EQ(lines.size(), 10u) << r.out;

  MEMORYSTATUSEX m{};
  m.dwLength = sizeof(m);
  ASSERT_TRUE(::GlobalMemoryStatusEx(&m));

  ASSERT_EQ(lines[0].rfind("3010\tMemory Load: ", 0), 0u);
  EXPECT_EQ(lines[0].back(), '%');
  const int load = std::stoi(lines[0].substr(17));
  EXPECT_GE(load, 0);
  EXPECT_LE(load, 100);

  struct Row {
    const char* total;
    const char* inUse;
    const char* available;
    uint64_t expectedTotal;
  };
  const Row rows[] = {
      {"3020\tTotal Physical Memory: ", "3025\tIn-Use Physical Memory: ", "3030\tAvailable Physical Memory: ",
       m.ullTotalPhys},
      {"3040\tTotal Page File Size: ", "3045\tIn-Use Page File Size: ", "3050\tAvailable Page File Size: ",
       m.ullTotalPageFile},
      {"3060\tTotal Virtual Memory: ", "3065\tIn-Use Virtual Memory: ", "3070\tAvailable Virtual Memory: ",
       m.ullTotalVirtual},
  };
  for (size_t i = 0; i < 3; ++i) {
    const Row& row = rows[i];
    const uint64_t total = bytesOf(lines[1 + 3 * i], row.total);
    const uint64_t inUse = bytesOf(lines[2 + 3 * i], row.inUse);
    const uint64_t available = bytesOf(lines[3 + 3 * i], row.available);
    EXPECT_EQ(total, row.expectedTotal) << row.total;  // totals do not move between two snapshots
    EXPECT_EQ(inUse + available, total) << row.total;  // one snapshot, exact arithmetic
  }
  // Counts above 4 GB are not cut down to 32 bits.
  if (m.ullTotalPhys > 0xFFFFFFFFull) {
    EXPECT_GT(bytesOf(lines[1], rows[0].total), 0xFFFFFFFFull);
  }
}

}  // namespace
}  // namespace tallowin
