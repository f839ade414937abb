#include "host/units.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <string>

#include "host/number_text.h"
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

// The setup file schema, which editors and the format checker read, lists the catalogue exactly:
// every unit, the base units, and for each base unit the display units of its type.
TEST(UnitCatalogue, IsTheOneTheSetupFileSchemaDocuments) {
  std::ifstream file(AXIS_UNITTESTS_DIR "/../docs/setup.schema.json");
  const nlohmann::json defs = nlohmann::json::parse(file)["$defs"];
  std::vector<std::string> all, bases;
  std::map<std::string, std::vector<std::string>> displays;
  for (const CMC_Unit& unit : CMC_Units::Catalogue().All()) {
    const std::string name = axis::Latin1ToUtf8(unit.GetName());
    all.push_back(name);
    if (unit.IsBase()) bases.push_back(name);
    displays[axis::Latin1ToUtf8(unit.GetBaseName())].push_back(name);
  }
  EXPECT_EQ(defs["anyUnit"]["enum"].get<std::vector<std::string>>(), all);
  EXPECT_EQ(defs["baseUnit"]["enum"].get<std::vector<std::string>>(), bases);
  std::map<std::string, std::vector<std::string>> documented;
  for (const auto& rule : defs["unitPair"]["allOf"]) {
    documented[rule["if"]["properties"]["unit"]["const"].get<std::string>()] =
        rule["then"]["properties"]["display"]["enum"].get<std::vector<std::string>>();
  }
  EXPECT_EQ(documented, displays);
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
  // Shown text is Windows-1252: its quotes, dashes, ellipsis and euro (two- and three-byte
  // characters); the bytes it leaves undefined as in Latin-1. Each such character has its byte.
  // clang-format off
  const std::pair<std::string, std::string> shown[] = {  // 8-bit text, UTF-8
      {"doesn\x92t", "doesn\u2019t"}, {"\x80 5", "\u20ac 5"}, {"\x96\x85", "\u2013\u2026"},
      {"\x8A\x9F", "\u0160\u0178"}, {"\x81\x9D", "\xC2\x81\xC2\x9D"}, {"\xB5m", "\u00b5m"}};
  // clang-format on
  for (const auto& [text, utf8] : shown) EXPECT_EQ(axis::Windows1252ToUtf8(text), utf8);
  EXPECT_EQ(axis::Windows1252Byte(U'\u2019'), '\x92');
  EXPECT_EQ(axis::Windows1252Byte(U'\u0178'), '\x9F');
  EXPECT_EQ(axis::Windows1252Byte(U'\u0092'), std::nullopt);  // its byte shows the quote
  EXPECT_EQ(axis::Windows1252Byte(U'\u0081'), '\x81');
  EXPECT_EQ(axis::Windows1252Byte(U'\u2126'), std::nullopt);
}

// Formatting is printf's in the C locale, whatever locale the program runs in: printf in the C
// locale is the reference, computed while the process runs in a decimal-comma locale.
TEST(NumberText, FormatsAsTheCLocaleInEveryLocale) {
  const double values[] = {0.0,
                           -0.0,
                           2.5,
                           -1234.5678,
                           1e-6,
                           0.03,
                           1.0 / 3.0,
                           123456789.0,
                           1e21,
                           9007199254740993.0,
                           4.9e-324,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::infinity(),
                           -HUGE_VAL};
  char reference[400];
  for (double value : values) {
    SCOPED_TRACE(value);
    std::snprintf(reference, sizeof reference, "%.6g", value);
    const std::string g6 = reference;
    std::snprintf(reference, sizeof reference, "%.3f", value);
    const std::string f3 = reference;
    std::snprintf(reference, sizeof reference, "%.3G", value);
    const std::string upper3 = reference;
    const char* saved = std::setlocale(LC_ALL, nullptr);
    const std::string restore = saved == nullptr ? "C" : saved;
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "de_DE.UTF-8 is not installed (scripts/install-deps.sh generates it)";
    EXPECT_EQ(axis::FormatNumber(value, 6), g6);
    EXPECT_EQ(axis::FormatFixed(value, 3), f3);
    EXPECT_EQ(axis::FormatNumberG(value, 3), upper3);
    const std::string shortest = axis::FormatNumber(value);
    std::setlocale(LC_ALL, restore.c_str());
    // The shortest form reads back as the same double; a whole number is written out.
    if (std::isfinite(value)) {
      EXPECT_EQ(std::strtod(shortest.c_str(), nullptr), value) << shortest;
    }
    if (std::fabs(value) <= 9007199254740992.0 && value == std::trunc(value)) {
      EXPECT_EQ(shortest.find('e'), std::string::npos) << shortest;
    }
  }
  EXPECT_EQ(axis::FormatNumber(0.1), "0.1");
  EXPECT_EQ(axis::FormatNumber(40e6), "40000000");
  EXPECT_EQ(axis::FormatNumber(std::nan("")), "nan");
}

TEST(NumberText, ReadsOneDecimalNumberWithThePointOrWhereAllowedTheComma) {
  using axis::DecimalMark;
  using axis::NumberFault;
  const DecimalMark point = DecimalMark::kPoint, comma = DecimalMark::kPointOrComma;
  // clang-format off
  const struct { const char* text; DecimalMark mark; NumberFault fault; double value; size_t length; } rows[] = {
      {"16kHz", point, NumberFault::kNone, 16, 2},       {"-1.5e-3 s", point, NumberFault::kNone, -1.5e-3, 7},
      {"+2", point, NumberFault::kNone, 2, 2},           {".5", point, NumberFault::kNone, 0.5, 2},
      {"5.", point, NumberFault::kNone, 5, 2},           {"5em", point, NumberFault::kNone, 5, 1},
      {"2,5", point, NumberFault::kNone, 2, 1},          {"2,5", comma, NumberFault::kNone, 2.5, 3},
      {"2,x", comma, NumberFault::kNone, 2, 1},          {"1e-310", point, NumberFault::kNone, 1e-310, 6},
      {"1e-400", point, NumberFault::kOutOfRange, 0, 0}, {"1e999", point, NumberFault::kOutOfRange, 0, 0},
      {"inf", point, NumberFault::kNotANumber, 0, 0},    {"nan", point, NumberFault::kNotANumber, 0, 0},
      {"0x10", point, NumberFault::kNone, 0, 1},         {" 1", point, NumberFault::kNotANumber, 0, 0},
      {"+-4", point, NumberFault::kNotANumber, 0, 0},    {".", point, NumberFault::kNotANumber, 0, 0},
      {"", point, NumberFault::kNotANumber, 0, 0}};
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    axis::NumberPrefix number;
    ASSERT_EQ(axis::ReadNumberPrefix(row.text, row.mark, number), row.fault);
    if (row.fault != NumberFault::kNone) continue;
    EXPECT_EQ(number.value, row.value);
    EXPECT_EQ(number.length, row.length);
  }
  EXPECT_EQ(axis::ParseNumber(" \t+4 "), 4.0);
  EXPECT_EQ(axis::ParseNumber("2,5", comma), 2.5);
  EXPECT_FALSE(axis::ParseNumber("2,5", point).has_value());
  for (const char* text : {"4 A", "", "1e999", "1,2,3"})
    EXPECT_FALSE(axis::ParseNumber(text, comma).has_value()) << text;
}

TEST(TextEncoding, PrintableTextEscapesControlsAndBytesThatAreNotUtf8) {
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {
      {"K\xC3\xBChlung \xC2\xB5m", "K\xC3\xBChlung \xC2\xB5m"},
      {"Red\x1B[31m", "Red\\x1B[31m"}, {"a\tb\nc\rd\x07", "a\\x09b\\x0Ac\\x0Dd\\x07"},
      {"\x7F", "\\x7F"}, {"C1 \xC2\x9B", "C1 \\xC2\\x9B"}, {"stray \xB0", "stray \\xB0"},
      {"overlong \xC0\x80", "overlong \\xC0\\x80"}, {"cut \xE2\x82", "cut \\xE2\\x82"},
      {"euro \xE2\x82\xAC", "euro \xE2\x82\xAC"}, {std::string("nul\0x", 5), "nul\\x00x"}};
  // clang-format on
  for (const auto& [text, shown] : rows) EXPECT_EQ(axis::PrintableText(text), shown) << shown;
}

}  // namespace
