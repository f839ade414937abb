// The calculator contract's range setter.
#include "conversions/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/test_setup.h"

namespace kestrel {
namespace {

using axis::testing::TestSetup;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A range is taken whole or not at all: whatever the present range (also an inverted one), an
// accepted range ends exactly as asked, and a refused one leaves the parameter as it was.
TEST(SetParameterRange, TakesAnOrderedRangeWholeAndRefusesTheRest) {
  const struct {
    const char* name;
    double old_min, old_max, min, max;
    int result;
    double want_min, want_max;
  } rows[] = {
      {"below the present range", 5, 10, 0, 1, 1, 0, 1},
      {"above the present range", 0, 1, 2, 3, 1, 2, 3},
      {"overlapping", 0, 10, 5, 20, 1, 5, 20},
      {"present range inverted", 10, 5, 0, 1, 1, 0, 1},
      {"present range inverted, new above", 10, 5, 20, 30, 1, 20, 30},
      {"empty range", 0, 1, 4, 4, 1, 4, 4},
      {"unbounded", 0, 1, -kInf, kInf, 1, -kInf, kInf},
      {"minimum above maximum", 0, 1, 3, 2, 0, 0, 1},
      {"NaN minimum", 0, 1, kNaN, 2, 0, 0, 1},
      {"NaN maximum", 0, 1, -2, kNaN, 0, 0, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TestSetup t;
    t.Physical({{"X", 0.5}});
    CMC_Parameter* p = t->FindParameter("X");
    p->SetMinInBaseUnit(row.old_min);
    p->SetMaxInBaseUnit(row.old_max);
    EXPECT_EQ(SetParameterRange(p, row.min, row.max), row.result);
    EXPECT_EQ(p->GetMinInBaseUnit(), row.want_min);
    EXPECT_EQ(p->GetMaxInBaseUnit(), row.want_max);
    EXPECT_EQ(p->GetValueInBaseUnit(), 0.5) << "a range never moves the value";
  }
  EXPECT_EQ(SetParameterRange(nullptr, 0, 1), 0);
}

}  // namespace
}  // namespace kestrel
