#include "host/name_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using axis::NameIndex;

TEST(NameIndex, FindsIgnoringCaseAndRefusesDuplicates) {
  NameIndex index;
  EXPECT_TRUE(index.Insert("PWM_freq", 0));
  EXPECT_TRUE(index.Insert("isMotorI2t", 1));
  EXPECT_FALSE(index.Insert("pwm_FREQ", 2));
  EXPECT_EQ(index.Find("PWM_FREQ"), 0);
  EXPECT_EQ(index.Find("ismotori2t"), 1);
  EXPECT_EQ(index.Find("isMotori2t"), 1);
  EXPECT_EQ(index.Find("PWM_fre"), NameIndex::kNotFound);
  EXPECT_EQ(index.Find(""), NameIndex::kNotFound);
  EXPECT_EQ(index.Size(), 2u);
}

// The same buffer asked again with other contents must not get the remembered answer.
TEST(NameIndex, ReusedBufferWithAnotherNameIsLookedUpAfresh) {
  NameIndex index;
  index.Insert("KPI", 0);
  index.Insert("KII", 1);
  index.Insert("KPS", 2);
  char buffer[8];
  struct Row {
    const char* text;
    int expected;
  };
  const Row rows[] = {{"KPI", 0}, {"KII", 1},
                      {"kpi", 0}, {"KPX", NameIndex::kNotFound},
                      {"KPS", 2}, {"KP", NameIndex::kNotFound},
                      {"KPI", 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::strcpy(buffer, row.text);
    EXPECT_EQ(index.Find(std::string_view(buffer, std::strlen(buffer))), row.expected);
  }
}

TEST(NameIndex, ManyNamesSurviveGrowingAndLookupsBeforeAndAfter) {
  NameIndex index;
  std::vector<std::string> names;
  for (int i = 0; i < 2000; ++i) names.push_back("Param_" + std::to_string(i));
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(index.Insert(names[i], i));
    // A lookup between inserts remembers a slot that the next growth moves.
    ASSERT_EQ(index.Find(names[i / 2]), i / 2);
  }
  for (int i = 0; i < 2000; ++i) {
    std::string upper = names[i];
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_EQ(index.Find(upper), i);
    ASSERT_EQ(index.Find(names[i]), i);
  }
  index.Clear();
  EXPECT_EQ(index.Find(names[5]), NameIndex::kNotFound);
}

}  // namespace
