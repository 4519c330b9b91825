#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Lines = std::vector<std::string>;

Lines run(FakePlatform& p) {
  ProfileControl c{p};
  CollectMemory(c);
  EXPECT_TRUE(c.list().count() == 0 ||
              test::Values(c.list()) ==
                  (std::vector<int32_t>{3010, 3020, 3025, 3030, 3040, 3045, 3050, 3060, 3065, 3070}));
  return test::Texts(c.list());
}

TEST(Memory, AllZero) {
  FakePlatform p;
  EXPECT_EQ(run(p), (Lines{
                        "Memory Load: 0%",
                        "Total Physical Memory: 0 bytes",
                        "In-Use Physical Memory: 0 bytes",
                        "Available Physical Memory: 0 bytes",
                        "Total Page File Size: 0 bytes",
                        "In-Use Page File Size: 0 bytes",
                        "Available Page File Size: 0 bytes",
                        "Total Virtual Memory: 0 bytes",
                        "In-Use Virtual Memory: 0 bytes",
                        "Available Virtual Memory: 0 bytes",
                    }));
}

TEST(Memory, AvailableEqualsTotal) {
  FakePlatform p;
  p.memoryStatus = {45, 2147483648u, 2147483648u, 1536, 1536, 1048576, 1048576};
  EXPECT_EQ(run(p), (Lines{
                        "Memory Load: 45%",
                        "Total Physical Memory: 2,147,483,648 bytes (2.00 GB)",
                        "In-Use Physical Memory: 0 bytes",
                        "Available Physical Memory: 2,147,483,648 bytes (2.00 GB)",
                        "Total Page File Size: 1,536 bytes (1.50 KB)",
                        "In-Use Page File Size: 0 bytes",
                        "Available Page File Size: 1,536 bytes (1.50 KB)",
                        "Total Virtual Memory: 1,048,576 bytes (1,024.00 KB)",
                        "In-Use Virtual Memory: 0 bytes",
                        "Available Virtual Memory: 1,048,576 bytes (1,024.00 KB)",
                    }));
}

TEST(Memory, AboveFourGigabytesIsExact) {
  FakePlatform p;
  // 16 GiB + 1 of RAM, a 64-bit user space of 128 TiB.
  p.memoryStatus = {97,
                    17179869185ull,
                    4294967295ull,
                    25769803776ull,
                    1ull,
                    140737488224256ull,
                    140737466417152ull};
  EXPECT_EQ(run(p), (Lines{
                        "Memory Load: 97%",
                        "Total Physical Memory: 17,179,869,185 bytes (16.00 GB)",
                        "In-Use Physical Memory: 12,884,901,890 bytes (12.00 GB)",
                        "Available Physical Memory: 4,294,967,295 bytes (4.00 GB)",
                        "Total Page File Size: 25,769,803,776 bytes (24.00 GB)",
                        "In-Use Page File Size: 25,769,803,775 bytes (24.00 GB)",
                        "Available Page File Size: 1 bytes",
                        "Total Virtual Memory: 140,737,488,224,256 bytes (131,072.00 GB)",
                        "In-Use Virtual Memory: 21,807,104 bytes (20.80 MB)",
                        "Available Virtual Memory: 140,737,466,417,152 bytes (131,071.98 GB)",
                    }));
}

TEST(Memory, AvailableAboveTotalIsNotWrappedRound) {
  FakePlatform p;
  p.memoryStatus = {0, 0, 0, 4096, 6144, 0, 0};
  const Lines lines = run(p);
  EXPECT_EQ(lines[5], "In-Use Page File Size: -2,048 bytes");
}

TEST(Memory, NoSnapshotNoLines) {
  FakePlatform p;
  p.memoryStatusFails = true;
  EXPECT_TRUE(run(p).empty());
}

}  // namespace
}  // namespace tallowin
