#include "host/name_index.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

using axis::NameIndex;
constexpr int kNone = NameIndex::kNotFound;

TEST(NameIndex, FindsIgnoringCaseAndRefusesDuplicates) {
  NameIndex index;
  EXPECT_TRUE(index.Insert("PWM_freq", 0));
  EXPECT_TRUE(index.Insert("isMotorI2t", 1));
  EXPECT_FALSE(index.Insert("pwm_FREQ", 2));
  // clang-format off
  const std::pair<const char*, int> rows[] = {
      {"PWM_FREQ", 0}, {"ismotori2t", 1}, {"isMotori2t", 1}, {"PWM_fre", kNone}, {"", kNone}};
  // clang-format on
  for (const auto& [name, found] : rows) EXPECT_EQ(index.Find(name), found) << name;
  EXPECT_EQ(index.Size(), 2u);
}

// Lookups remember the caller's text pointer: the same buffer asked again with other contents,
// or a name remembered as absent and added since, must not get the remembered answer.
TEST(NameIndex, RememberedLookupsNeverGiveAStaleAnswer) {
  NameIndex index;
  index.Insert("KPI", 0);
  index.Insert("KII", 1);
  index.Insert("KPS", 2);
  char buffer[8];
  // clang-format off
  const std::pair<const char*, int> rows[] = {
      {"KPI", 0}, {"KII", 1}, {"kpi", 0}, {"KPX", kNone}, {"KPS", 2}, {"KP", kNone}, {"KPX", kNone},
      {"KPI", 0}};
  // clang-format on
  for (const auto& [text, expected] : rows) {
    std::strcpy(buffer, text);
    EXPECT_EQ(index.Find(std::string_view(buffer, std::strlen(buffer))), expected) << text;
  }
  const char* absent = "KPT";
  EXPECT_EQ(index.Find(absent), kNone);
  ASSERT_TRUE(index.Insert("kpt", 3));
  EXPECT_EQ(index.Find(absent), 3);
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
  EXPECT_EQ(index.Find(names[5]), kNone);
}

}  // namespace
