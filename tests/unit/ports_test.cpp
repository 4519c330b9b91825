#include <gtest/gtest.h>

#include "control/profile_control.h"
#include "sections/sections.h"
#include "support/fake_platform.h"
#include "support/lines.h"

namespace tallowin {
namespace {

using test::FakePlatform;
using Port = Platform::PortInfo2;

class Ports : public ::testing::Test {
 protected:
  FakePlatform p;
  ProfileControl control{p};
  std::vector<std::string> run() {
    CollectPorts(control);
    return test::Texts(control.list());
  }
};

TEST_F(Ports, SpoolerOrderKeptAndNotPresentSkipped) {
  p.ports = {
      {"LPT1:", "Local Port", "Local Port", 3},
      {"COM1:", "Local Port", "Local Port", 3},
      {"", "Local Port", "nameless", 3},
      {" ", "Local Port", "blank", 3},
      {"\tTAB", "Local Port", "control character first", 3},
      {"FILE:", "Local Port", "", 1},  // a null description comes as ""
      {"NUL:", "Local Port", "Printer (redirected) (x)", 1},
      {"COM1:", "Local Port", "Local Port", 3},
  };
  EXPECT_EQ(run(), (std::vector<std::string>{"LPT1: (Local Port)", "COM1: (Local Port)", "FILE: ()",
                                             "NUL: (Printer (redirected) (x))", "COM1: (Local Port)"}));
  EXPECT_EQ(test::Values(control.list()), (std::vector<int32_t>(5, 4010)));
}

TEST_F(Ports, EmptySpoolerGivesNoLine) {
  EXPECT_TRUE(run().empty());
}

TEST_F(Ports, AppendsAfterWhatIsThere) {
  control.list().append("before");
  p.ports = {{"LPT1:", "", "Local Port", 0}};
  EXPECT_EQ(run(), (std::vector<std::string>{"before", "LPT1: (Local Port)"}));
}

}  // namespace
}  // namespace tallowin
