#include "host/units.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/text.h"

namespace {

TEST(UnitCatalogue, FindsExactSpellingFirstThenIgnoringCase) {
  struct Row {
    const char* name;
    const char* query;
    const char* found;  // nullptr: not a unit
    const char* base;
    double factor;  // base units per unit
  };
  const Row rows[] = {
      {"exact base", "Hz", "Hz", "Hz", 1.0},
      {"exact display", "kHz", "kHz", "Hz", 1e3},
      {"upper case kilohertz", "KHZ", "kHz", "Hz", 1e3},
      {"megahertz spelled exactly", "MHz", "MHz", "Hz", 1e6},
      {"milliohm spelled exactly", "mOhm", "mOhm", "Ohm", 1e-3},
      {"ohm ignoring case", "OHM", "Ohm", "Ohm", 1.0},
      {"voltage command", "V", "V", "V", 1.0},
      {"DC bus keeps its blank", "V ", "V ", "V ", 1.0},
      {"DC bus ignoring case", "v ", "V ", "V ", 1.0},
      {"two blanks are no unit", "V  ", nullptr, nullptr, 0},
      {"millivolt", "mV", "mV", "V", 1e-3},
      {"degrees Celsius in Latin-1",
       "\xB0"
       "C",
       "\xB0"
       "C",
       "\xB0"
       "C",
       1.0},
      {"degrees Celsius in UTF-8 is not a unit",
       "\xC2\xB0"
       "C",
       nullptr, nullptr, 0},
      {"micrometre", "\xB5m", "\xB5m", "m", 1e-6},
      {"microsecond ignoring case", "\xB5S", "\xB5s", "s", 1e-6},
      {"millivolt per degree",
       "mV/\xB0"
       "C",
       "mV/\xB0"
       "C",
       "V/\xB0"
       "C",
       1e-3},
      {"plain number", "", "", "", 1.0},
      {"unknown", "furlong", nullptr, nullptr, 0},
  };
  const CMC_Units& units = CMC_Units::Catalogue();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const CMC_Unit* unit = units.FindUnit(row.query);
    if (row.found == nullptr) {
      EXPECT_EQ(unit, nullptr);
      continue;
    }
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->GetName(), row.found);
    EXPECT_EQ(unit->GetBaseName(), row.base);
    EXPECT_DOUBLE_EQ(unit->GetFactor(), row.factor);
  }
}

TEST(UnitCatalogue, FindBaseUnitRefusesDisplayUnits) {
  struct Row {
    const char* query;
    bool is_base;
  };
  const Row rows[] = {{"m", true},
                      {"mm", false},
                      {"rad/s", true},
                      {"rpm", false},
                      {"V ", true},
                      {"\xB0"
                       "C",
                       true},
                      {"g", false},
                      {"kg", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.query);
    EXPECT_EQ(CMC_Units::Catalogue().FindBaseUnit(row.query) != nullptr, row.is_base);
  }
}

TEST(UnitCatalogue, EveryUnitOfATypeSharesTheBaseThatComesFirst) {
  const CMC_Units& units = CMC_Units::Catalogue();
  for (const CMC_Unit& unit : units.All()) {
    SCOPED_TRACE(unit.GetName());
    const auto same_type = units.UnitsOfType(unit.Type());
    ASSERT_FALSE(same_type.empty());
    EXPECT_TRUE(same_type.front()->IsBase());
    EXPECT_EQ(unit.GetBaseName(), same_type.front()->GetName());
    // Names are unique even ignoring case, so a case-insensitive lookup is never ambiguous.
    EXPECT_EQ(units.FindUnit(unit.GetName()), &unit);
  }
}

TEST(TextEncoding, ConvertsBetweenLatin1AndUtf8) {
  struct Row {
    const char* name;
    std::string latin1;
    std::string utf8;
  };
  const Row rows[] = {
      {"ASCII unchanged", "PWM_freq 1/s", "PWM_freq 1/s"},
      {"degree sign",
       "\xB0"
       "C",
       "\xC2\xB0"
       "C"},
      {"micro sign", "\xB5m", "\xC2\xB5m"},
      {"first of the upper half", "\x80", "\xC2\x80"},
      {"last Latin-1 character", "\xFF", "\xC3\xBF"},
      {"accented word", "Caf\xE9", "Caf\xC3\xA9"},
      {"empty", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(axis::Latin1ToUtf8(row.latin1), row.utf8);
    const std::optional<std::string> back = axis::Utf8ToLatin1(row.utf8);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, row.latin1);
  }
}

TEST(TextEncoding, RefusesUtf8OutsideLatin1AndBrokenSequences) {
  struct Row {
    const char* name;
    std::string utf8;
  };
  const Row rows[] = {
      {"euro sign (three bytes)", "\xE2\x82\xAC"},
      {"emoji (four bytes)", "\xF0\x9F\x98\x80"},
      {"lone Latin-1 byte",
       "\xB0"
       "C"},
      {"lead byte at the end", "ab\xC2"},
      {"lead byte without continuation",
       "\xC3"
       "A"},
      {"overlong encoding of NUL", "\xC0\x80"},
      {"stray continuation byte", "\x80"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_FALSE(axis::Utf8ToLatin1(row.utf8).has_value());
  }
}

TEST(TextEncoding, ComparesNamesIgnoringAsciiCaseOnly) {
  EXPECT_TRUE(axis::EqualsNoCase("isHallsensors", "ISHALLSENSORS"));
  EXPECT_FALSE(axis::EqualsNoCase("V", "V "));
  // Case folding is ASCII only: Latin-1 letters compare as they are.
  EXPECT_FALSE(axis::EqualsNoCase("\xE9", "\xC9"));
}

}  // namespace
