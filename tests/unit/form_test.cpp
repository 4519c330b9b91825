#include <gtest/gtest.h>

#include "control/form.h"

namespace tallowin::form {
namespace {

TEST(Form, AccessKeys) {
  const struct { const char* caption; char key; } rows[] = {
      {"&OS", 'O'}, {"Programs", 0}, {"&about ...", 'A'}, {"a&&b", 0}, {"&&x&Y", 'Y'}, {"trailing&", 0}, {nullptr, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(AccessKey(r.caption), r.key) << (r.caption ? r.caption : "null");
}

TEST(Form, TabsByAccessKey) {
  EXPECT_EQ(TabOfAccessKey('o'), 0);
  EXPECT_EQ(TabOfAccessKey('C'), 2);
  EXPECT_EQ(TabOfAccessKey('u'), 5);
  EXPECT_EQ(TabOfAccessKey('P'), 6);  // "Programs" marks no letter; "&Printers" does
  EXPECT_EQ(TabOfAccessKey('z'), -1);
  EXPECT_EQ(TabOfAccessKey(0), -1);
}

TEST(Form, ListAndTextLieInsideTheTabStrip) {
  for (const Twips& t : {kLstInfo, kTxtDesc}) {
    EXPECT_GT(t.left, kTabProfile.left);
    EXPECT_GT(t.top, kTabProfile.top);
    EXPECT_LT(t.left + t.width, kTabProfile.left + kTabProfile.width);
    EXPECT_LT(t.top + t.height, kTabProfile.top + kTabProfile.height);
  }
  EXPECT_LT(kLstInfo.left + kLstInfo.width, kTxtDesc.left);  // side by side
}

}  // namespace
}  // namespace tallowin::form
