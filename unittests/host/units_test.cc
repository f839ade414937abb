#include "host/units.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/text.h"

namespace {

TEST(UnitCatalogue, FindsExactSpellingFirstThenIgnoringCaseButNotTheBlank) {
  // clang-format off
  const struct { const char *query, *found, *base; double factor; } rows[] = {
      {"KHZ", "kHz", "Hz", 1e3}, {"MHz", "MHz", "Hz", 1e6}, {"mOhm", "mOhm", "Ohm", 1e-3},
      {"OHM", "Ohm", "Ohm", 1}, {"V", "V", "V", 1}, {"v ", "V ", "V ", 1}, {"mV", "mV", "V", 1e-3},
      {"\xB5S", "\xB5s", "s", 1e-6}, {"mV/\xB0" "C", "mV/\xB0" "C", "V/\xB0" "C", 1e-3},
      {"", "", "", 1}, {"V  ", nullptr}, {"\xC2\xB0" "C", nullptr}, {"furlong", nullptr}};
  // clang-format on
  for (const auto& r : rows) {
    const CMC_Unit* unit = CMC_Units::Catalogue().FindUnit(r.query);
    ASSERT_EQ(unit != nullptr, r.found != nullptr) << r.query;
    if (unit == nullptr) continue;
    EXPECT_EQ(unit->GetName() + "|" + unit->GetBaseName(), std::string(r.found) + "|" + r.base);
    EXPECT_DOUBLE_EQ(unit->GetFactor(), r.factor) << r.query;
  }
  for (const char* base : {"m", "rad/s", "V ", "\xB0\x43" /* °C in Latin-1 */, "kg"})
    EXPECT_NE(CMC_Units::Catalogue().FindBaseUnit(base), nullptr) << base;
  for (const char* display : {"mm", "rpm", "g", "KHZ"})
    EXPECT_EQ(CMC_Units::Catalogue().FindBaseUnit(display), nullptr) << display;
}

TEST(UnitCatalogue, EveryUnitOfATypeSharesTheBaseThatComesFirstAndIsFoundByName) {
  const CMC_Units& units = CMC_Units::Catalogue();
  for (const CMC_Unit& unit : units.All()) {
    const auto same_type = units.UnitsOfType(unit.Type());
    ASSERT_FALSE(same_type.empty()) << unit.GetName();
    EXPECT_TRUE(same_type.front()->IsBase()) << unit.GetName();
    EXPECT_EQ(unit.GetBaseName(), same_type.front()->GetName());
    EXPECT_EQ(units.FindUnit(unit.GetName()), &unit);  // names unique even ignoring case
  }
}

TEST(TextEncoding, ConvertsLatin1ToUtf8AndBackAndRefusesTheRest) {
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {  // Latin-1, UTF-8
      {"PWM_freq 1/s", "PWM_freq 1/s"}, {"\xB0" "C", "\xC2\xB0" "C"}, {"\xB5m", "\xC2\xB5m"},
      {"\x80", "\xC2\x80"}, {"\xFF", "\xC3\xBF"}, {"Caf\xE9", "Caf\xC3\xA9"}, {"", ""}};
  // Outside Latin-1 (three and four bytes), a lone Latin-1 byte, truncated, overlong, stray.
  const std::string bad[] = {"\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xB0" "C", "ab\xC2", "\xC3" "A",
                             "\xC0\x80", "\x80"};
  // clang-format on
  for (const auto& [latin1, utf8] : rows) {
    EXPECT_EQ(axis::Latin1ToUtf8(latin1), utf8);
    EXPECT_EQ(axis::Utf8ToLatin1(utf8), std::optional<std::string>(latin1));
  }
  for (const std::string& text : bad) EXPECT_FALSE(axis::Utf8ToLatin1(text).has_value()) << text;
  EXPECT_TRUE(axis::EqualsNoCase("isHallsensors", "ISHALLSENSORS"));
  EXPECT_FALSE(axis::EqualsNoCase("V", "V "));
  EXPECT_FALSE(axis::EqualsNoCase("\xE9", "\xC9"));  // ASCII case folding only
}

}  // namespace
