#include "host/setup_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kSource = "setups/x.json";

const char* const kHeader = R"({"format": "axiscore-setup", "version": 1,
  "identity": {"description": "d", "productId": "P", "firmwareId": "F", "adcFullScale": 65520},
)";

// A setup whose parameter list holds a good first entry and then `entry` (at /parameters/1).
std::string WithParameter(const std::string& entry) {
  return std::string(kHeader) +
         R"("parameters": [{"name": "PWM_freq", "value": 20000, "min": 1000, "max": 50000, )"
         R"("unit": "Hz"}, )" +
         entry + "]}";
}

// A setup with an empty parameter list and one more top-level member.
std::string WithSection(const std::string& member) {
  return std::string(kHeader) + R"("parameters": [], )" + member + "}";
}

std::string WithIdentity(const std::string& identity) {
  return R"({"format": "axiscore-setup", "version": 1, "identity": )" + identity +
         R"(, "parameters": []})";
}

std::string WithVariable(const std::string& entry) {
  return WithSection(R"("variables": [{"name": "APOS", "unit": "m"}, )" + entry + "]");
}

struct MalformedRow {
  const char* name;
  std::string text;
  std::string error;
};

TEST(SetupFileLoad, RefusesMalformedInputNamingFilePlaceAndFault) {
  const std::string p = std::string(kSource) + ": /parameters/1";
  const MalformedRow rows[] = {
      // Syntax: line:column of the fault (columns count bytes, the error sits after the token).
      {"empty text", "",
       std::string(kSource) + ":1:0: malformed JSON: syntax error while parsing value - unexpected "
                              "end of input; expected '[', '{', or a literal"},
      {"double comma on line 2", "{\"format\": \"axiscore-setup\",\n  \"version\": 1,,}",
       std::string(kSource) + ":2:16: malformed JSON: syntax error while parsing object key - "
                              "unexpected ','; expected string literal"},
      {"number too large for a double", WithParameter(R"({"name": "A", "value": 1e400})"),
       std::string(kSource) + ":3:122: malformed JSON: number overflow parsing '1e400'"},
      {"member given twice", WithParameter(R"({"name": "A", "name": "B"})"),
       p + "/name: member given twice"},
      // Top level.
      {"array at the top level", "[1]",
       std::string(kSource) + ": expected an object at the top level, found an array"},
      {"no format", "{}", std::string(kSource) + ": missing member \"format\""},
      {"format of another kind", R"({"format": 3})",
       std::string(kSource) + ": /format: expected a string, found an integer"},
      {"another format", R"({"format": "other"})",
       std::string(kSource) + ": /format: not a setup file: expected \"axiscore-setup\""},
      {"no version", R"({"format": "axiscore-setup"})",
       std::string(kSource) + ": missing member \"version\""},
      {"version 2", R"({"format": "axiscore-setup", "version": 2})",
       std::string(kSource) + ": /version: unsupported version 2 (this program reads version 1)"},
      {"version as text", R"({"format": "axiscore-setup", "version": "1"})",
       std::string(kSource) +
           ": /version: unsupported version \"1\" (this program reads version 1)"},
      {"version with a fraction", R"({"format": "axiscore-setup", "version": 1.0})",
       std::string(kSource) + ": /version: unsupported version 1.0 (this program reads version 1)"},
      {"no identity", R"({"format": "axiscore-setup", "version": 1, "parameters": []})",
       std::string(kSource) + ": missing member \"identity\""},
      {"no parameters", std::string(kHeader) + R"("options": {}})",
       std::string(kSource) + ": missing member \"parameters\""},
      {"parameters as an object", std::string(kHeader) + R"("parameters": {}})",
       std::string(kSource) + ": /parameters: expected an array, found an object"},
      // Identity.
      {"identity as an array", WithIdentity("[]"),
       std::string(kSource) + ": /identity: expected an object, found an array"},
      {"unknown identity member",
       WithIdentity(R"({"description": "d", "productId": "P", "firmwareId": "F", )"
                    R"("adcFullScale": 1, "serial": "7"})"),
       std::string(kSource) + ": /identity/serial: unknown member"},
      {"description as a number",
       WithIdentity(
           R"({"description": 1, "productId": "P", "firmwareId": "F", "adcFullScale": 1})"),
       std::string(kSource) + ": /identity/description: expected a string, found an integer"},
      {"no firmwareId",
       WithIdentity(R"({"description": "d", "productId": "P", "adcFullScale": 1})"),
       std::string(kSource) + ": /identity: missing member \"firmwareId\""},
      {"no adcFullScale",
       WithIdentity(R"({"description": "d", "productId": "P", "firmwareId": "F"})"),
       std::string(kSource) + ": /identity: missing member \"adcFullScale\""},
      {"adcFullScale zero",
       WithIdentity(
           R"({"description": "d", "productId": "P", "firmwareId": "F", "adcFullScale": 0})"),
       std::string(kSource) + ": /identity/adcFullScale: 0 is out of range 1 .. 4294967295"},
      {"adcFullScale beyond 32 bits",
       WithIdentity(
           R"({"description": "d", "productId": "P", "firmwareId": "F", "adcFullScale": 4294967296})"),
       std::string(kSource) +
           ": /identity/adcFullScale: 4294967296 is out of range 1 .. 4294967295"},
      {"adcFullScale negative",
       WithIdentity(
           R"({"description": "d", "productId": "P", "firmwareId": "F", "adcFullScale": -65520})"),
       std::string(kSource) + ": /identity/adcFullScale: -65520 is out of range 1 .. 4294967295"},
      {"adcFullScale with a fraction",
       WithIdentity(
           R"({"description": "d", "productId": "P", "firmwareId": "F", "adcFullScale": 65520.5})"),
       std::string(kSource) +
           ": /identity/adcFullScale: expected an integer, found a number with a "
           "fraction or exponent"},
      {"eepromWords negative",
       WithIdentity(R"({"description": "d", "productId": "P", "firmwareId": "F", )"
                    R"("eepromWords": -1, "adcFullScale": 1})"),
       std::string(kSource) + ": /identity/eepromWords: -1 is out of range 0 .. 2147483647"},
      // Parameters.
      {"entry not an object", WithParameter("5"), p + ": expected an object, found an integer"},
      {"no unit", WithParameter(R"({"name": "A", "value": 1, "min": 0, "max": 2})"),
       p + ": missing member \"unit\""},
      {"no min", WithParameter(R"({"name": "A", "value": 1, "max": 2, "unit": ""})"),
       p + ": missing member \"min\""},
      {"unknown member",
       WithParameter(R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "", "colour": 1})"),
       p + "/colour: unknown member"},
      {"lower-case nan",
       WithParameter(R"({"name": "A", "value": "nan", "min": 0, "max": 2, "unit": ""})"),
       p + "/value: \"nan\" is not a number (write a JSON number, \"NaN\", \"Infinity\" or "
           "\"-Infinity\")"},
      {"Inf abbreviated",
       WithParameter(R"({"name": "A", "value": 1, "min": "-Inf", "max": 2, "unit": ""})"),
       p + "/min: \"-Inf\" is not a number (write a JSON number, \"NaN\", \"Infinity\" or "
           "\"-Infinity\")"},
      {"value a boolean",
       WithParameter(R"({"name": "A", "value": true, "min": 0, "max": 2, "unit": ""})"),
       p + "/value: expected a number, found true or false"},
      {"value null",
       WithParameter(R"({"name": "A", "value": null, "min": 0, "max": 2, "unit": ""})"),
       p + "/value: expected a number, found null"},
      {"unknown unit",
       WithParameter(R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "furlong"})"),
       p + "/unit: unknown unit \"furlong\""},
      {"display unit as base unit",
       WithParameter(R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "mm"})"),
       p + "/unit: unit \"mm\" is not a base unit (its base unit is \"m\")"},
      {"display of another type",
       WithParameter(
           R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "m", "display": "rpm"})"),
       p + "/display: unit \"rpm\" does not measure the same as \"m\""},
      {"DC bus display for a voltage command",
       WithParameter(
           R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "V", "display": "V "})"),
       p + "/display: unit \"V \" does not measure the same as \"V\""},
      {"unknown display",
       WithParameter(
           R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "m", "display": "yd"})"),
       p + "/display: unknown unit \"yd\""},
      {"unit outside Latin-1",
       WithParameter(
           "{\"name\": \"A\", \"value\": 1, \"min\": 0, \"max\": 2, \"unit\": \"\xE2\x82\xAC\"}"),
       p + "/unit: text \"\xE2\x82\xAC\" holds a character outside Latin-1"},
      {"name with a NUL",
       WithParameter(R"({"name": "A\u0000B", "value": 1, "min": 0, "max": 2, "unit": ""})"),
       p + "/name: text holds a NUL character"},
      {"empty name", WithParameter(R"({"name": "", "value": 1, "min": 0, "max": 2, "unit": ""})"),
       p + "/name: empty name"},
      {"name used twice, case ignored",
       WithParameter(R"({"name": "pwm_FREQ", "value": 1, "min": 0, "max": 2, "unit": "Hz"})"),
       p + "/name: name \"pwm_FREQ\" is already used by /parameters/0 (case ignored)"},
      {"type 7",
       WithParameter(R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "", "type": 7})"),
       p + "/type: 7 is out of range 0 .. 6"},
      {"integer as text",
       WithParameter(
           R"({"name": "A", "value": 1, "min": 0, "max": 2, "unit": "", "integer": "yes"})"),
       p + "/integer: expected true or false, found a string"},
      // Options.
      {"options as an array", WithSection(R"("options": [])"),
       std::string(kSource) + ": /options: expected an object, found an array"},
      {"option value a number", WithSection(R"("options": {"Mode": 1})"),
       std::string(kSource) + ": /options/Mode: expected a string, found an integer"},
      {"option name with a slash", WithSection(R"("options": {"a/b~c": false})"),
       std::string(kSource) + ": /options/a~1b~0c: expected a string, found true or false"},
      {"option given twice, case ignored", WithSection(R"("options": {"Mode": "1", "MODE": "2"})"),
       std::string(kSource) + ": /options/MODE: option given twice (case ignored)"},
      // I/O ports.
      {"ports as an object", WithSection(R"("ioPorts": {})"),
       std::string(kSource) + ": /ioPorts: expected an array, found an object"},
      {"port without pin", WithSection(R"("ioPorts": [{"port": 0}])"),
       std::string(kSource) + ": /ioPorts/0: missing member \"pin\""},
      {"negative port", WithSection(R"("ioPorts": [{"port": -1, "pin": 3}])"),
       std::string(kSource) + ": /ioPorts/0/port: -1 is out of range 0 .. 2147483647"},
      {"port listed twice",
       WithSection(R"("ioPorts": [{"port": 0, "pin": 3}, {"port": 0, "pin": 4}])"),
       std::string(kSource) + ": /ioPorts/1/port: port listed twice"},
      {"pin listed twice",
       WithSection(R"("ioPorts": [{"port": 0, "pin": 3}, {"port": 1, "pin": 3}])"),
       std::string(kSource) + ": /ioPorts/1/pin: pin listed twice"},
      {"unknown port member", WithSection(R"("ioPorts": [{"port": 0, "pin": 3, "level": 1}])"),
       std::string(kSource) + ": /ioPorts/0/level: unknown member"},
      // Variables.
      {"variable without unit", WithVariable(R"({"name": "X"})"),
       std::string(kSource) + ": /variables/1: missing member \"unit\""},
      {"variable name used twice", WithVariable(R"({"name": "apos", "unit": "m"})"),
       std::string(kSource) +
           ": /variables/1/name: name \"apos\" is already used by /variables/0 (case ignored)"},
      {"variable value a bad string", WithVariable(R"({"name": "X", "unit": "m", "value": "1.5"})"),
       std::string(kSource) + ": /variables/1/value: \"1.5\" is not a number (write a JSON number, "
                              "\"NaN\", \"Infinity\" or \"-Infinity\")"},
      {"variable kind a number", WithVariable(R"({"name": "X", "unit": "m", "kind": 4})"),
       std::string(kSource) + ": /variables/1/kind: expected a string, found an integer"},
      {"variable unknown member", WithVariable(R"({"name": "X", "unit": "m", "address": 4})"),
       std::string(kSource) + ": /variables/1/address: unknown member"},
  };
  for (const MalformedRow& row : rows) {
    SCOPED_TRACE(row.name);
    const axis::LoadResult result = axis::LoadSetupText(row.text, kSource);
    EXPECT_EQ(result.setup, nullptr);
    EXPECT_EQ(result.error, row.error);
  }
}

TEST(SetupFileLoad, RefusesTextThatIsNotUtf8WithItsPosition) {
  // 0xB0 alone is Latin-1 "°", not UTF-8: the file must say "\xC2\xB0".
  const std::string text = WithParameter(
      "{\"name\": \"T\", \"value\": 1, \"min\": 0, \"max\": 2, "
      "\"unit\": \"\xB0"
      "C\"}");
  const axis::LoadResult result = axis::LoadSetupText(text, kSource);
  ASSERT_EQ(result.setup, nullptr);
  // Line 3 is the parameter line; the lexer stops right after the bad byte.
  const std::string prefix = std::string(kSource) + ":3:";
  EXPECT_EQ(result.error.rfind(prefix, 0), 0u) << result.error;
  EXPECT_NE(result.error.find("malformed JSON: syntax error while parsing value - invalid string: "
                              "ill-formed UTF-8 byte"),
            std::string::npos)
      << result.error;
}

TEST(SetupFileLoad, RefusesAbsurdNestingInsteadOfOverflowingTheStack) {
  // 300 nested arrays in a kept section: the root object is level 1 and "deep" opens level 2, so
  // the 256th array (level 257) is refused while "deep" holds 255 arrays, each at index 0.
  std::string deep = std::string(300, '[') + std::string(300, ']');
  const axis::LoadResult result = axis::LoadSetupText(WithSection("\"deep\": " + deep), kSource);
  std::string pointer = "/deep";
  for (int i = 0; i < 255; ++i) pointer += "/0";
  EXPECT_EQ(result.error,
            std::string(kSource) + ": " + pointer + ": nested deeper than 256 levels");
  // 200 levels are fine and come back unchanged.
  deep = std::string(200, '[') + std::string(200, ']');
  const axis::LoadResult ok = axis::LoadSetupText(WithSection("\"deep\": " + deep), kSource);
  ASSERT_TRUE(ok) << ok.error;
  ASSERT_EQ(ok.setup->ExtraSections().size(), 1u);
  EXPECT_EQ(ok.setup->ExtraSections()[0].second, deep);
}

TEST(SetupFileLoad, ReadsEveryMemberWithDefaultsForTheOptionalOnes) {
  const std::string text = std::string(kHeader) + R"("parameters": [
    {"name": "PWM_freq", "value": 20000, "min": 1000, "max": 50000, "unit": "HZ", "display": "khz"},
    {"name": "PWMPER", "value": 2.5, "min": 0, "max": 65535, "unit": "", "type": 5, "integer": true},
    {"name": "Tmax", "value": 85, "min": -40, "max": 150, "unit": "°C"},
    {"name": "Vdc", "value": 48, "min": 0, "max": 100, "unit": "v "}],
    "variables": [{"name": "APOS", "unit": "m", "display": "µm", "kind": "long", "value": -0.5},
                  {"name": "TEMP", "unit": "°C"}]})";
  const axis::LoadResult result = axis::LoadSetupText(text, kSource);
  ASSERT_TRUE(result) << result.error;
  CMC_Setup& setup = *result.setup;
  EXPECT_EQ(setup.GetUserAppID(), "");
  EXPECT_EQ(setup.GetE2ROMSize(), 0);
  EXPECT_EQ(setup.GetAdcFullScale(), 65520u);
  EXPECT_TRUE(setup.GetOptions().empty());
  EXPECT_TRUE(setup.GetIoPorts().empty());

  struct Row {
    const char* name;
    const char* unit;     // Latin-1, as the catalogue spells it
    const char* display;  // Latin-1
    int type;
    bool integer;
    double value;
  };
  const Row rows[] = {
      // Unit names are matched ignoring case and stored as the catalogue spells them.
      {"PWM_freq", "Hz", "kHz", axis::kTypePhysical, false, 20000},
      // An integer register holds its value rounded to nearest, halves away from zero.
      {"PWMPER", "", "", axis::kTypeRegister, true, 3},
      {"Tmax",
       "\xB0"
       "C",
       "\xB0"
       "C",
       axis::kTypePhysical, false, 85},
      {"Vdc", "V ", "V ", axis::kTypePhysical, false, 48},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const CMC_Parameter* parameter = std::as_const(setup).FindParameter(row.name);
    ASSERT_NE(parameter, nullptr);
    EXPECT_EQ(parameter->GetBaseUnitName(), row.unit);
    EXPECT_STREQ(parameter->GetUnitName(), row.display);
    EXPECT_EQ(parameter->GetType(), row.type);
    EXPECT_EQ(parameter->IsInteger(), row.integer);
    EXPECT_EQ(parameter->GetValueInBaseUnit(), row.value);
  }
  const CMC_Variable* apos = setup.FindVariable("apos");
  ASSERT_NE(apos, nullptr);
  EXPECT_STREQ(apos->GetUnitName(), "\xB5m");
  EXPECT_EQ(apos->GetKind(), "long");
  EXPECT_EQ(apos->GetValueInBaseUnit(), -0.5);
  // -0.5 m shown in micrometres.
  EXPECT_DOUBLE_EQ(apos->GetValueInDisplayUnit(), -500000.0);
  const CMC_Variable* temp = setup.FindVariable("TEMP");
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(temp->GetValueInBaseUnit(), 0.0);
  EXPECT_EQ(temp->GetKind(), "");
}

// Everything a file can hold, with the special numbers, sections we do not interpret before,
// between and after the documented ones, and Latin-1 text.
const char* const kFullFile = R"({
  "$schema": "../docs/setup.schema.json",
  "format": "axiscore-setup",
  "version": 1,
  "identity": {"description": "Axe X, 25 °C", "productId": "P-1", "firmwareId": "F-2",
               "applicationId": "app", "eepromWords": 16384, "adcFullScale": 4294967295},
  "simulation": {"mass": 1.5, "list": [1, -2, 3.25e-7, null, true, "x", {"k": []}]},
  "options": {"Zeta": "1", "alpha": "two words", "Mid": ""},
  "ioPorts": [{"port": 3, "pin": 25}, {"port": 0, "pin": 26}],
  "parameters": [
    {"name": "Kp", "value": "NaN", "min": "-Infinity", "max": "Infinity", "unit": "V/s", "type": 3},
    {"name": "Zero", "value": -0.0, "min": 5e-324, "max": 1e308, "unit": "°C"},
    {"name": "Tiny", "value": 2.2250738585072009e-308, "min": -1.7976931348623157e308,
     "max": 0.1, "unit": "s", "display": "µs"},
    {"name": "PolePitch", "value": 0.03, "min": 0, "max": 1, "unit": "m", "display": "µm"},
    {"name": "Big", "value": 9007199254740993, "min": 18446744073709551615, "max": -9007199254740992,
     "unit": "", "type": 5, "integer": true}
  ],
  "variables": [{"name": "APOS", "unit": "m", "display": "mm", "kind": "long", "value": "-Infinity"}],
  "notes": "last"
})";

uint64_t Bits(double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

TEST(SetupFileRoundTrip, KeepsEveryValueBitForBitAndEverySectionInPlace) {
  const axis::LoadResult first = axis::LoadSetupText(kFullFile, kSource);
  ASSERT_TRUE(first) << first.error;
  const std::string saved = axis::SetupToText(*first.setup);
  const axis::LoadResult second = axis::LoadSetupText(saved, "saved");
  ASSERT_TRUE(second) << second.error << "\n" << saved;
  CMC_Setup& setup = *second.setup;

  struct Row {
    const char* name;
    double value, min, max;  // compared bit for bit; NaN compared as NaN
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Row rows[] = {
      {"Kp", std::numeric_limits<double>::quiet_NaN(), -inf, inf},
      {"Zero", -0.0, std::numeric_limits<double>::denorm_min(), 1e308},
      {"Tiny", 2.2250738585072009e-308, -std::numeric_limits<double>::max(), 0.1},
      {"PolePitch", 0.03, 0.0, 1.0},
      // 2^53 + 1 has no double: it reads as 2^53; 2^64 - 1 reads as 2^64.
      {"Big", 9007199254740992.0, 18446744073709551616.0, -9007199254740992.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const CMC_Parameter* parameter = std::as_const(setup).FindParameter(row.name);
    ASSERT_NE(parameter, nullptr);
    const double got[] = {parameter->GetValueInBaseUnit(), parameter->GetMinInBaseUnit(),
                          parameter->GetMaxInBaseUnit()};
    const double want[] = {row.value, row.min, row.max};
    for (int k = 0; k < 3; ++k) {
      if (std::isnan(want[k])) {
        EXPECT_TRUE(std::isnan(got[k]));
      } else {
        EXPECT_EQ(Bits(got[k]), Bits(want[k])) << k << ": " << got[k] << " vs " << want[k];
      }
    }
  }
  EXPECT_EQ(setup.GetDescription(),
            "Axe X, 25 \xB0"
            "C");
  EXPECT_EQ(setup.GetAdcFullScale(), 4294967295u);
  EXPECT_EQ(setup.GetE2ROMSize(), 16384);
  const std::vector<std::pair<std::string, std::string>> options = {
      {"Zeta", "1"}, {"alpha", "two words"}, {"Mid", ""}};
  EXPECT_EQ(setup.GetOptions(), options);
  ASSERT_EQ(setup.GetIoPorts().size(), 2u);
  EXPECT_EQ(setup.GetIOPinFromPort(3), 25);
  EXPECT_EQ(setup.GetIOPortFromPin(26), 0);
  ASSERT_EQ(setup.GetVariables().size(), 1u);
  EXPECT_EQ(setup.GetVariables()[0]->GetValueInBaseUnit(), -inf);
  const std::vector<std::pair<std::string, std::string>> extras = {
      {"$schema", "\"../docs/setup.schema.json\""},
      {"simulation", R"({"mass":1.5,"list":[1,-2,3.25e-07,null,true,"x",{"k":[]}]})"},
      {"notes", "\"last\""}};
  EXPECT_EQ(setup.ExtraSections(), extras);

  EXPECT_EQ(axis::FirstDifference(*first.setup, setup), "");
  EXPECT_EQ(axis::SetupToText(setup), saved);

  // The kept sections stand where they stood: before "format", after "identity", at the end.
  const size_t at_schema = saved.find("\"$schema\"");
  const size_t at_format = saved.find("\"format\"");
  const size_t at_identity = saved.find("\"identity\"");
  const size_t at_simulation = saved.find("\"simulation\"");
  const size_t at_options = saved.find("\"options\"");
  const size_t at_variables = saved.find("\"variables\"");
  const size_t at_notes = saved.find("\"notes\"");
  EXPECT_LT(at_schema, at_format);
  EXPECT_LT(at_identity, at_simulation);
  EXPECT_LT(at_simulation, at_options);
  EXPECT_LT(at_variables, at_notes);
  EXPECT_NE(at_notes, std::string::npos);
}

TEST(SetupFileSave, WritesNumbersReadablyAndExactly) {
  struct Row {
    const char* name;
    double value;
    const char* text;  // how the value appears in the file
  };
  const Row rows[] = {
      {"whole number without fraction", 20000, "20000"},
      {"negative whole number", -3, "-3"},
      {"negative zero keeps its sign", -0.0, "-0.0"},
      {"positive zero", 0.0, "0"},
      {"shortest form of a tenth", 0.1, "0.1"},
      {"2^53 still whole", 9007199254740992.0, "9007199254740992"},
      {"beyond 2^53 as a double", 18014398509481984.0, "1.8014398509481984e+16"},
      {"largest double", std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {"smallest denormal", std::numeric_limits<double>::denorm_min(), "5e-324"},
      {"NaN", std::numeric_limits<double>::quiet_NaN(), "\"NaN\""},
      {"negative NaN", -std::numeric_limits<double>::quiet_NaN(), "\"NaN\""},
      {"infinity", std::numeric_limits<double>::infinity(), "\"Infinity\""},
      {"minus infinity", -std::numeric_limits<double>::infinity(), "\"-Infinity\""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CMC_Setup setup;
    ASSERT_NE(setup.AddParameter({.name = "P", .value = row.value, .base_unit = ""}), nullptr);
    const std::string text = axis::SetupToText(setup);
    EXPECT_NE(text.find(std::string("\"value\": ") + row.text + ","), std::string::npos) << text;
  }
}

TEST(SetupFileRoundTrip, RandomDoublesComeBackBitForBit) {
  // Random bit patterns cover every exponent, denormals, both zeros, infinities and NaNs.
  std::mt19937_64 random(20240611);
  CMC_Setup setup;
  std::vector<double> values;
  for (int i = 0; i < 3000; ++i) {
    const uint64_t bits = random();
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    values.push_back(value);
    const std::string name = "P" + std::to_string(i);
    ASSERT_NE(setup.AddParameter({.name = name,
                                  .value = value,
                                  .min = -value,
                                  .max = value / 3,
                                  .base_unit = "m",
                                  .display_unit = "mm"}),
              nullptr);
  }
  const axis::LoadResult back = axis::LoadSetupText(axis::SetupToText(setup), "random");
  ASSERT_TRUE(back) << back.error;
  for (size_t i = 0; i < values.size(); ++i) {
    const double sent[] = {values[i], -values[i], values[i] / 3};
    const CMC_Parameter* parameter = back.setup->GetParameters()[static_cast<int>(i)];
    const double got[] = {parameter->GetValueInBaseUnit(), parameter->GetMinInBaseUnit(),
                          parameter->GetMaxInBaseUnit()};
    for (int k = 0; k < 3; ++k) {
      if (std::isnan(sent[k])) {
        ASSERT_TRUE(std::isnan(got[k])) << i;
      } else {
        ASSERT_EQ(Bits(got[k]), Bits(sent[k])) << i << "/" << k << ": " << sent[k];
      }
    }
  }
}

TEST(SetupFileRoundTrip, SectionsAddedByTheProgramGoLastAndSetupsWithoutPlacesStillSave) {
  CMC_Setup setup;
  setup.ExtraSections().emplace_back("zz", R"({"a":[1,2]})");
  setup.ExtraSections().emplace_back("aa", "3");
  setup.ExtraSectionPlaces().emplace_back("aa", "format");
  // A section that claims a documented member's name is not written over that member.
  setup.ExtraSections().emplace_back("parameters", "7");
  const std::string text = axis::SetupToText(setup);
  EXPECT_LT(text.find("\"format\""), text.find("\"aa\""));
  EXPECT_LT(text.find("\"aa\""), text.find("\"version\""));
  EXPECT_LT(text.find("\"variables\""), text.find("\"zz\""));
  const axis::LoadResult back = axis::LoadSetupText(text, "saved");
  ASSERT_TRUE(back) << back.error;
  const std::vector<std::pair<std::string, std::string>> extras = {{"aa", "3"},
                                                                   {"zz", R"({"a":[1,2]})"}};
  EXPECT_EQ(back.setup->ExtraSections(), extras);
  EXPECT_EQ(back.setup->GetParameters().GetParametersCount(), 0);
}

TEST(SetupFileCompare, FindsTheSmallestDifference) {
  struct Row {
    const char* name;
    double a, b;
    bool differ;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Row rows[] = {
      {"same", 0.25, 0.25, false},
      {"one step apart", 0.1, std::nextafter(0.1, 1.0), true},
      {"zeros of both signs", 0.0, -0.0, true},
      {"NaN against NaN of either sign", nan, -nan, false},
      {"NaN against a number", nan, 0.0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CMC_Setup a, b;
    a.AddParameter({.name = "P", .value = 1, .max = row.a});
    b.AddParameter({.name = "P", .value = 1, .max = row.b});
    EXPECT_EQ(axis::FirstDifference(a, b).empty(), !row.differ) << axis::FirstDifference(a, b);
  }
  CMC_Setup a, b;
  a.SetOption("X", "1");
  b.SetOption("X", "2");
  EXPECT_EQ(axis::FirstDifference(a, b), "options");
}

// ---------------------------------------------------------------------------------------------
// Files on disk.

class SetupFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/setup_file_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    for (const std::string& name : Listing()) {
      const std::string path = folder_ + "/" + name;
      struct stat info {};
      if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        ::rmdir(path.c_str());
      } else {
        ::unlink(path.c_str());
      }
    }
    ::rmdir(folder_.c_str());
  }

  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder_.c_str())) {
      while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }

  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  static mode_t Mode(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
  }

  static std::unique_ptr<CMC_Setup> Full() {
    axis::LoadResult result = axis::LoadSetupText(kFullFile, kSource);
    EXPECT_TRUE(result) << result.error;
    return std::move(result.setup);
  }

  std::string folder_;
};

TEST_F(SetupFileOnDisk, SavesANewFileThatLoadsBackTheSame) {
  const mode_t old_mask = ::umask(027);
  const std::string path = folder_ + "/new.json";
  const auto setup = Full();
  EXPECT_EQ(axis::SaveSetupFile(*setup, path), "");
  ::umask(old_mask);
  // A new file gets the usual 0666 less the umask 027.
  EXPECT_EQ(Mode(path), 0640u);
  EXPECT_EQ(Listing(), std::vector<std::string>{"new.json"});
  const axis::LoadResult back = axis::LoadSetupFile(path);
  ASSERT_TRUE(back) << back.error;
  EXPECT_EQ(axis::FirstDifference(*setup, *back.setup), "");
  EXPECT_EQ(Read(path), axis::SetupToText(*setup));
}

TEST_F(SetupFileOnDisk, ReplacingKeepsTheModeAndLeavesNoTemporary) {
  const std::string path = folder_ + "/axis.json";
  Write(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
  const auto setup = Full();
  EXPECT_EQ(axis::SaveSetupFile(*setup, path), "");
  EXPECT_EQ(Mode(path), 0604u);
  EXPECT_EQ(Read(path), axis::SetupToText(*setup));
  EXPECT_EQ(Listing(), std::vector<std::string>{"axis.json"});
}

TEST_F(SetupFileOnDisk, SavingThroughALinkReplacesTheFileItNames) {
  const std::string real = folder_ + "/real.json";
  const std::string link = folder_ + "/link.json";
  Write(real, "old");
  ASSERT_EQ(::symlink("real.json", link.c_str()), 0);
  const auto setup = Full();
  EXPECT_EQ(axis::SaveSetupFile(*setup, link), "");
  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ(Read(real), axis::SetupToText(*setup));
  EXPECT_EQ(Listing(), (std::vector<std::string>{"link.json", "real.json"}));
}

TEST_F(SetupFileOnDisk, FailedSavesLeaveTheOldFileAndNoTemporary) {
  const auto setup = Full();
  // The folder does not exist: no temporary can be made.
  const std::string missing = folder_ + "/no/such/folder/x.json";
  EXPECT_EQ(axis::SaveSetupFile(*setup, missing),
            missing + ": cannot create a temporary file in " + folder_ +
                "/no/such/folder/: No such file or directory");

  // The target is a directory: the temporary is written, the rename fails and it is removed.
  const std::string directory = folder_ + "/setup.json";
  ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
  EXPECT_EQ(axis::SaveSetupFile(*setup, directory),
            directory + ": cannot replace the file: Is a directory");
  EXPECT_EQ(Listing(), std::vector<std::string>{"setup.json"});

  // A kept section whose text is not JSON: nothing is written at all.
  const std::string path = folder_ + "/kept.json";
  Write(path, "old contents");
  setup->ExtraSections().emplace_back("broken", "{not json");
  EXPECT_EQ(axis::SaveSetupFile(*setup, path),
            path + ": /broken: the section's stored text is not JSON; nothing was written");
  EXPECT_EQ(Read(path), "old contents");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"kept.json", "setup.json"}));
  // SetupToText still gives a loadable document, holding the text as a string.
  const axis::LoadResult back = axis::LoadSetupText(axis::SetupToText(*setup), "text");
  ASSERT_TRUE(back) << back.error;
  EXPECT_EQ(back.setup->ExtraSections().back(),
            (std::pair<std::string, std::string>{"broken", "\"{not json\""}));
}

TEST_F(SetupFileOnDisk, UnreadableFilesAreReportedByName) {
  const std::string missing = folder_ + "/absent.json";
  EXPECT_EQ(axis::LoadSetupFile(missing).error,
            missing + ": cannot read: No such file or directory");
  EXPECT_EQ(axis::LoadSetupFile(folder_).error, folder_ + ": cannot read: Is a directory");
  const std::string bad = folder_ + "/bad.json";
  // The fault is the "o" in column 4 of line 3: only "null" may start with "n" there.
  Write(bad, "{\n\n  nope");
  EXPECT_EQ(axis::LoadSetupFile(bad).error,
            bad +
                ":3:4: malformed JSON: syntax error while parsing object key - invalid literal; "
                "last read: '{<U+000A><U+000A>  no'; expected string literal");
}

}  // namespace
