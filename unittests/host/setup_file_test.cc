#include "host/setup_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>

#include "host/file_replace.h"
#include "host/json_file.h"
#include "host/motor_database.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Names = std::vector<std::string>;
constexpr const char* kSource = "setups/x.json";
const std::string kNoFile = "No such file or directory", kIsDir = "Is a directory";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const std::string kHeader = R"({"format": "axiscore-setup", "version": 1,
  "identity": {"description": "d", "productId": "P", "firmwareId": "F", "adcFullScale": 65520},
)";
std::string Sec(const std::string& m) { return kHeader + R"("parameters": [], )" + m + "}"; }
// A good first parameter, then `entry` at /parameters/1 (on line 3).
std::string Par(const std::string& entry) {
  return kHeader +
         R"("parameters": [{"name": "PWM_freq", "value": 20000, "min": 1000, )"
         R"("max": 50000, "unit": "Hz"}, )" +
         entry + "]}";
}
std::string A(const std::string& rest) {  // parameter "A": value 1, range 0 .. 2, then `rest`
  return Par(R"({"name": "A", "value": 1, "min": 0, "max": 2, )" + rest + "}");
}
std::string Val(const std::string& value) {
  return Par(R"({"name": "A", "value": )" + value + R"(, "min": 0, "max": 2, "unit": ""})");
}
std::string Id(const std::string& members) {
  return R"({"format": "axiscore-setup", "version": 1, "identity": {"description": "d", )"
         R"("productId": "P", "firmwareId": "F", )" +
         members + R"(}, "parameters": []})";
}

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(SetupFileLoad, RefusesMalformedInputNamingFilePlaceAndFault) {
  using namespace std::string_literals;
  const std::string top = R"({"format": "axiscore-setup", )", p = ": /parameters/1";
  const std::string v = ": /version: unsupported version ", v1 = " (this program reads version 1)";
  const std::string adc = ": /identity/adcFullScale: ", u32 = " is out of range 1 .. 4294967295";
  const std::string nan = R"( is not a number (write a JSON number, "NaN", "Infinity" or )"
                          R"("-Infinity"))";
  const std::string same = " does not measure the same as ",
                    i31 = " is out of range 0 .. 2147483647";
  const std::string syntax = ": malformed JSON: syntax error ", found = "expected a string, found ";
  const std::string was = " is already used by ", ci = " (case ignored)", twice = " listed twice";
  const std::string var = R"("variables": [{"name": "APOS", "unit": "m"}, )",
                    port = R"("ioPorts": [)";
  // clang-format off
  const std::pair<std::string, std::string> rows[] = {  // the text, the error after the file name
      // Syntax: line:column counted from 1 (in bytes), of the byte the parser stopped at, just
      // after the last one at the end of the text.
      {"", ":1:1" + syntax +
               "while parsing value - unexpected end of input; expected '[', '{', or a literal"},
      {"{\n", ":2:1" + syntax +
               "while parsing object key - unexpected end of input; expected string literal"},
      {top + "\n  \"version\": 1,,}",
       ":2:16" + syntax + "while parsing object key - unexpected ','; expected string literal"},
      {"\"a\nb\"", ":1:3" + syntax + "while parsing value - invalid string: control character "
                  "U+000A (LF) must be escaped to \\u000A or \\n; last read: '\"a<U+000A>'"},
      {Val("1e400"), ":3:122: malformed JSON: number overflow parsing '1e400'"},
      // Exactly one document: nothing but blanks may follow, not even after a NUL byte.
      {Sec("\"a\": 1") + "\n\0garbage"s,
       ":4:1" + syntax + "while parsing value - unexpected NUL byte; expected end of input"},
      {"{\"a\":\0}"s, ":1:6" + syntax +
               "while parsing value - unexpected NUL byte; expected '[', '{', or a literal"},
      {Sec("\"a\": 1") + " {}",
       ":3:27" + syntax + "while parsing value - unexpected '{'; expected end of input"},
      // Long tokens are cut in messages (at a character boundary).
      {Val(std::string(400, '9')), ":3:517: malformed JSON: number overflow parsing '" +
                                        std::string(60, '9') + "\u2026'"},
      {A(R"("unit": ")" + std::string(99, 'x') + "\""),
       p + "/unit: unknown unit \"" + std::string(60, 'x') + "\u2026\""},
      {A("\"unit\": \"a" + Repeat("\u20ac", 30) + "\""),
       p + "/unit: text \"a" + Repeat("\u20ac", 19) + "\u2026\" holds a character outside Latin-1"},
      {Id(R"("adcFullScale": 1, ")" + std::string(99, 'k') + R"(": 1)"),
       ": /identity/" + std::string(60, 'k') + "\u2026: unknown member"},
      {Par(R"({"name": "A", "name": "B"})"), p + "/name: member given twice"},
      // Top level.
      {"[1]", ": expected an object at the top level, found an array"},
      {"{}", ": missing member \"format\""},
      {R"({"format": 3})", ": /format: " + found + "an integer"},
      {R"({"format": "other"})", ": /format: not a setup file: expected \"axiscore-setup\""},
      {top + R"("version": 2})", v + "2" + v1},
      {top + R"("version": 1.0})", v + "1.0" + v1},
      {top + R"("version": 1, "parameters": []})", ": missing member \"identity\""},
      {kHeader + R"("options": {}})", ": missing member \"parameters\""},
      {kHeader + R"("parameters": {}})", ": /parameters: expected an array, found an object"},
      // Identity.
      {Id(R"("adcFullScale": 1, "serial": "7")"), ": /identity/serial: unknown member"},
      {Id(R"("eepromWords": 0)"), ": /identity: missing member \"adcFullScale\""},
      {Id(R"("adcFullScale": 0)"), adc + "0" + u32},
      {Id(R"("adcFullScale": 4294967296)"), adc + "4294967296" + u32},
      {Id(R"("adcFullScale": 65520.5)"),
       adc + "expected an integer, found a number with a fraction or exponent"},
      {Id(R"("eepromWords": -1, "adcFullScale": 1)"), ": /identity/eepromWords: -1" + i31},
      // Parameters.
      {Par("5"), p + ": expected an object, found an integer"},
      {Par(R"({"name": "A", "value": 1, "min": 0, "max": 2})"), p + ": missing member \"unit\""},
      {Val(R"("nan")"), p + "/value: \"nan\"" + nan},
      {A(R"("unit": "furlong")"), p + "/unit: unknown unit \"furlong\""},
      {A(R"("unit": "mm")"), p + "/unit: unit \"mm\" is not a base unit (its base unit is \"m\")"},
      {A(R"("unit": "m", "display": "rpm")"), p + "/display: unit \"rpm\"" + same + "\"m\""},
      {A(R"("unit": "V", "display": "V ")"), p + "/display: unit \"V \"" + same + "\"V\""},
      {A("\"unit\": \"\xE2\x82\xAC\""),
       p + "/unit: text \"\xE2\x82\xAC\" holds a character outside Latin-1"},
      {Par(R"({"name": "A\u0000B"})"), p + "/name: text holds a NUL character"},
      {Par(R"({"name": ""})"), p + "/name: empty name"},
      {Par(R"({"name": "pwm_FREQ"})"), p + "/name: name \"pwm_FREQ\"" + was + "/parameters/0" + ci},
      {A(R"("unit": "", "type": 7)"), p + "/type: 7 is out of range 0 .. 6"},
      // Options, I/O ports, variables.
      {Sec(R"("options": {"a/b~c": false})"), ": /options/a~1b~0c: " + found + "true or false"},
      {Sec(R"("options": {"Mode": "1", "MODE": "2"})"), ": /options/MODE: option given twice" + ci},
      {Sec(port + R"({"port": -1, "pin": 3}])"), ": /ioPorts/0/port: -1" + i31},
      {Sec(port + R"({"port": 0, "pin": 3}, {"port": 0, "pin": 4}])"),
       ": /ioPorts/1/port: port" + twice},
      {Sec(port + R"({"port": 0, "pin": 3}, {"port": 1, "pin": 3}])"),
       ": /ioPorts/1/pin: pin" + twice},
      {Sec(port + R"({"port": 0, "pin": 3}, {"port": 1, "pin": 4}, {"port": 1, "pin": 3}])"),
       ": /ioPorts/2/pin: pin" + twice},  // the clash with the earliest entry is named
      {Sec(port + R"({"port": 0, "pin": 3, "output": "relay"}])"),
       ": /ioPorts/0/output: \"relay\" is not \"npn\" or \"pnp\""},
      {Sec(port + R"({"port": 0, "pin": 3, "inverted": 1}])"),
       ": /ioPorts/0/inverted: expected true or false, found an integer"},
      {Sec(var + R"({"name": "apos", "unit": "m"}])"),
       ": /variables/1/name: name \"apos\"" + was + "/variables/0" + ci},
      {Sec(var + R"({"name": "X", "unit": "m", "value": "1.5"}])"),
       ": /variables/1/value: \"1.5\"" + nan}};
  // clang-format on
  for (const auto& [text, error] : rows) {
    const axis::LoadResult result = axis::LoadSetupText(text, kSource);
    EXPECT_EQ(result.setup, nullptr) << error;
    EXPECT_EQ(result.error, kSource + error);
  }
  // A lone 0xB0 (Latin-1 degree sign) is not UTF-8: refused at its line, by the JSON lexer.
  const std::string error = axis::LoadSetupText(A("\"unit\": \"\xB0\x43\""), kSource).error;
  EXPECT_EQ(error.rfind(std::string(kSource) + ":3:", 0), 0u) << error;
  EXPECT_NE(error.find(syntax + "while parsing value - invalid string: ill-formed UTF-8 byte"),
            std::string::npos)
      << error;
  // Absurd nesting is refused instead of overflowing the stack: root level 1, "deep" level 2, so
  // the 256th array is the one refused.
  std::string pointer = "/deep";
  for (int i = 0; i < 255; ++i) pointer += "/0";
  const std::string deep = Sec("\"deep\": " + std::string(300, '[') + std::string(300, ']'));
  EXPECT_EQ(axis::LoadSetupText(deep, kSource).error,
            kSource + (": " + pointer) + ": nested deeper than 256 levels");
}

TEST(SetupFileLoad, ReadsEveryMemberWithDefaultsForTheOptionalOnes) {
  axis::LoadResult result = axis::LoadSetupText(kHeader + R"("parameters": [
    {"name": "PWM_freq", "value": 20000, "min": 1000, "max": 50000, "unit": "HZ", "display": "khz"},
    {"name": "PWMPER", "value": 2.5, "min": 0, "max": 65535, "unit": "", "type": 5,
     "integer": true},
    {"name": "Tmax", "value": -2.5, "min": -40, "max": 150, "unit": "°C"},
    {"name": "Vdc", "value": 48, "min": 0, "max": 100, "unit": "v "}],
    "variables": [{"name": "APOS", "unit": "m", "display": "µm", "kind": "long", "value": -0.5},
                  {"name": "TEMP", "unit": "°C"}]})",
                                                kSource);
  ASSERT_TRUE(result) << result.error;
  CMC_Setup& setup = *result.setup;
  EXPECT_EQ(setup.GetUserAppID(), "");
  EXPECT_EQ(setup.GetE2ROMSize(), 0);
  EXPECT_EQ(setup.GetAdcFullScale(), 65520u);
  EXPECT_TRUE(setup.GetOptions().empty() && setup.GetIoPorts().empty());
  // Units in catalogue spelling; display, type and integer defaulted; integers rounded half away.
  // clang-format off
  const struct { const char* name; std::string units; double value; } rows[] = {
      {"PWM_freq", "Hz kHz 0 0", 20000}, {"PWMPER", "  5 1", 3},
      {"Tmax", "\xB0" "C \xB0" "C 0 0", -2.5}, {"Vdc", "V  V  0 0", 48}};
  // clang-format on
  for (const auto& r : rows) {
    const CMC_Parameter* p = setup.FindParameter(r.name);
    ASSERT_NE(p, nullptr) << r.name;
    EXPECT_EQ(p->GetBaseUnitName() + " " + p->GetUnitName() + " " + std::to_string(p->GetType()) +
                  " " + std::to_string(p->IsInteger()),
              r.units);
    EXPECT_EQ(p->GetValueInBaseUnit(), r.value) << r.name;
  }
  const CMC_Variable *apos = setup.FindVariable("apos"), *temp = setup.FindVariable("TEMP");
  ASSERT_TRUE(apos != nullptr && temp != nullptr);
  EXPECT_EQ(apos->GetUnitName() + (" " + apos->GetKind() + temp->GetKind()), "\xB5m long");
  EXPECT_DOUBLE_EQ(apos->GetValueInDisplayUnit(), -500000.0);  // -0.5 m in micrometres
  EXPECT_EQ(temp->GetValueInBaseUnit(), 0.0);
}

// Everything a file holds: special numbers, Latin-1 (a \u escape too), sections kept before,
// between and after ours.
const char* const kFullFile = R"({
  "$schema": "../docs/setup.schema.json",
  "format": "axiscore-setup", "version": 1,
  "identity": {"description": "Axe X, 25 \u00b0C", "productId": "P-1", "firmwareId": "F-2",
               "applicationId": "app", "eepromWords": 16384, "adcFullScale": 4294967295},
  "simulation": {"mass": 1.5, "list": [1, -2, 3.25e-7, null, true, "x", {"k": []}]},
  "options": {"Zeta": "1", "alpha": "two words", "Mid": ""},
  "ioPorts": [{"port": 3, "pin": 25}, {"port": 0, "pin": 26, "output": "pnp", "inverted": true}],
  "parameters": [
    {"name": "Kp", "value": "NaN", "min": "-Infinity", "max": "Infinity", "unit": "V/s", "type": 3},
    {"name": "Zero", "value": -0.0, "min": 5e-324, "max": 1e308, "unit": "°C"},
    {"name": "Tiny", "value": 2.2250738585072009e-308, "min": -1.7976931348623157e308,
     "max": 0.1, "unit": "s", "display": "µs"},
    {"name": "PolePitch", "value": 0.03, "min": 0, "max": 1, "unit": "m", "display": "µm"},
    {"name": "Big", "value": 9007199254740993, "min": 18446744073709551615,
     "max": -9007199254740992, "unit": "", "type": 5, "integer": true}
  ],
  "variables": [{"name": "APOS", "unit": "m", "display": "mm", "kind": "long",
                 "value": "-Infinity"}],
  "notes": "last"
})";

std::vector<uint64_t> Bits(std::vector<double> values) {  // every NaN as one pattern
  std::vector<uint64_t> bits;
  for (double v : values) bits.push_back(std::isnan(v) ? 1 : std::bit_cast<uint64_t>(v));
  return bits;
}
std::vector<uint64_t> Bits(const CMC_Parameter& p) {
  return Bits({p.GetValueInBaseUnit(), p.GetMinInBaseUnit(), p.GetMaxInBaseUnit()});
}

TEST(SetupFileRoundTrip, KeepsEveryValueBitForBitAndEverySectionInPlace) {
  const axis::LoadResult first = axis::LoadSetupText(kFullFile, kSource);
  ASSERT_TRUE(first) << first.error;
  const std::string saved = axis::SetupToText(*first.setup);
  const axis::LoadResult second = axis::LoadSetupText(saved, "saved");
  ASSERT_TRUE(second) << second.error << "\n" << saved;
  const CMC_Setup& setup = *second.setup;
  // clang-format off
  const std::pair<const char*, std::vector<double>> rows[] = {  // value, min, max
      {"Kp", {kNaN, -kInf, kInf}}, {"Zero", {-0.0, 0x1p-1074, 1e308}}, {"PolePitch", {0.03, 0, 1}},
      {"Tiny", {2.2250738585072009e-308, -std::numeric_limits<double>::max(), 0.1}},
      {"Big", {0x1p53, 0x1p64, -0x1p53}}};  // 2^53 + 1 and 2^64 - 1 have no double
  // clang-format on
  for (const auto& [name, value_min_max] : rows) {
    ASSERT_NE(setup.FindParameter(name), nullptr) << name;
    EXPECT_EQ(Bits(*setup.FindParameter(name)), Bits(value_min_max)) << name;
  }
  EXPECT_EQ(setup.GetDescription(), "Axe X, 25 \xB0\x43");
  EXPECT_EQ(setup.GetAdcFullScale() + setup.GetE2ROMSize(), 4294967295u + 16384);
  EXPECT_EQ(setup.GetOptions(), (Pairs{{"Zeta", "1"}, {"alpha", "two words"}, {"Mid", ""}}));
  EXPECT_EQ((std::vector<int>{int(setup.GetIoPorts().size()), setup.GetIOPinFromPort(3),
                              setup.GetIOPortFromPin(26)}),
            (std::vector<int>{2, 25, 0}));
  EXPECT_EQ(setup.IsBrakePortEnable(0), axis::kBrakePortEnabled | axis::kBrakePortSource);
  EXPECT_EQ(setup.IsOutputPortInverted(0), 1);
  EXPECT_EQ(setup.IsBrakePortEnable(3), axis::kBrakePortEnabled | axis::kBrakePortSink);
  EXPECT_EQ(saved.find("\"output\": \"npn\""), std::string::npos) << "defaults are left out";
  ASSERT_EQ(setup.GetVariables().size(), 1u);
  EXPECT_EQ(setup.GetVariables()[0]->GetValueInBaseUnit(), -kInf);
  EXPECT_EQ(setup.ExtraSections(),
            (Pairs{{"$schema", "\"../docs/setup.schema.json\""},
                   {"simulation", R"({"mass":1.5,"list":[1,-2,3.25e-07,null,true,"x",{"k":[]}]})"},
                   {"notes", "\"last\""}}));
  EXPECT_EQ(axis::FirstDifference(*first.setup, setup), "");
  EXPECT_EQ(axis::SetupToText(setup), saved);
  std::vector<size_t> at;  // kept sections stand where they stood
  for (std::string key : {"$schema", "format", "identity", "simulation", "options", "notes"})
    at.push_back(saved.find("\"" + key + "\""));
  EXPECT_TRUE(std::is_sorted(at.begin(), at.end()) && at.back() != std::string::npos) << saved;
}

TEST(SetupFileRoundTrip, RandomDoublesComeBackBitForBit) {
  std::mt19937_64 random(20240611);  // bit patterns: every exponent, denormals, zeros, NaNs
  CMC_Setup setup;
  for (int i = 0; i < 3000; ++i) {
    const double v = std::bit_cast<double>(random());
    ASSERT_NE(setup.AddParameter({"P" + std::to_string(i), v, -v, v / 3, "m", "mm"}), nullptr);
  }
  const axis::LoadResult back = axis::LoadSetupText(axis::SetupToText(setup), "random");
  ASSERT_TRUE(back) << back.error;
  for (int i = 0; i < 3000; ++i)
    ASSERT_EQ(Bits(*back.setup->GetParameters()[i]), Bits(*setup.GetParameters()[i])) << i;
}

TEST(SetupFileSave, WritesNumbersReadablyAndExactly) {
  // clang-format off
  const std::pair<double, const char*> rows[] = {
      {20000, "20000"}, {-0.0, "-0.0"}, {-3, "-3"}, {0.1, "0.1"}, {0x1p53, "9007199254740992"},
      {0x1p54, "1.8014398509481984e+16"}, {0x1p-1074, "5e-324"}, {-kNaN, "\"NaN\""},
      {kInf, "\"Infinity\""}, {-kInf, "\"-Infinity\""}};
  // clang-format on
  for (const auto& [value, written] : rows) {
    CMC_Setup setup;
    ASSERT_NE(setup.AddParameter({.name = "P", .value = value}), nullptr);
    const std::string text = axis::SetupToText(setup);
    EXPECT_NE(text.find(std::string("\"value\": ") + written + ","), std::string::npos) << text;
  }
}

TEST(SetupFileRoundTrip, SectionsAddedByTheProgramGoLastAndNeverReplaceOurs) {
  CMC_Setup setup;
  setup.ExtraSections() = {{"zz", R"({"a":[1,2]})"}, {"aa", "3"}, {"parameters", "7"}};
  setup.ExtraSectionPlaces().emplace_back("aa", "format");
  const std::string text = axis::SetupToText(setup);
  EXPECT_TRUE(text.find("\"format\"") < text.find("\"aa\"") &&
              text.find("\"aa\"") < text.find("\"version\"") &&
              text.find("\"variables\"") < text.find("\"zz\""))
      << text;
  const axis::LoadResult back = axis::LoadSetupText(text, "saved");
  ASSERT_TRUE(back) << back.error;
  EXPECT_EQ(back.setup->ExtraSections(), (Pairs{{"aa", "3"}, {"zz", R"({"a":[1,2]})"}}));
  EXPECT_EQ(back.setup->GetParameters().GetParametersCount(), 0);
}

TEST(SetupFileCompare, FindsTheSmallestDifference) {
  // clang-format off
  const struct { double a, b; bool differ; } rows[] = {{0.25, 0.25, false}, {0.0, -0.0, true},
      {0.1, std::nextafter(0.1, 1.0), true}, {kNaN, -kNaN, false}, {kNaN, 0, true}};
  // clang-format on
  for (const auto& r : rows) {
    CMC_Setup a, b;
    a.AddParameter({.name = "P", .value = 1, .max = r.a});
    b.AddParameter({.name = "P", .value = 1, .max = r.b});
    EXPECT_EQ(axis::FirstDifference(a, b).empty(), !r.differ) << r.a << " " << r.b;
  }
  CMC_Setup a, b, c;  // a brake output's stage and inversion are part of the I/O table
  a.SetIoPorts({{0, 25}});
  b.SetIoPorts({{0, 25, axis::OutputStage::kSource}});
  c.SetIoPorts({{0, 25, axis::OutputStage::kSink, true}});
  EXPECT_EQ(axis::FirstDifference(a, b), "I/O port 0");
  EXPECT_EQ(axis::FirstDifference(a, c), "I/O port 0");
}

class SetupFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/setup_file_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setup_ = axis::LoadSetupText(kFullFile, kSource).setup;
    ASSERT_NE(setup_, nullptr);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  Names Listing() const {  // temporaries would show here
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  static void Write(const std::string& path, const char* text) { std::ofstream(path) << text; }
  static int Mode(const std::string& p) { return int(std::filesystem::status(p).permissions()); }
  std::string dir_;
  std::unique_ptr<CMC_Setup> setup_;
};

TEST_F(SetupFileOnDisk, SavesAtomicallyKeepingTheModeAndLinks) {
  const mode_t old_mask = ::umask(027);
  EXPECT_EQ(axis::SaveSetupFile(*setup_, dir_ + "/new.json"), "");
  ::umask(old_mask);
  Write(dir_ + "/old.json", "old");
  ASSERT_EQ(::chmod((dir_ + "/old.json").c_str(), 0604), 0);
  EXPECT_EQ(axis::SaveSetupFile(*setup_, dir_ + "/old.json"), "");
  Write(dir_ + "/real.json", "old");
  ASSERT_EQ(::symlink("real.json", (dir_ + "/link.json").c_str()), 0);
  EXPECT_EQ(axis::SaveSetupFile(*setup_, dir_ + "/link.json"), "");
  // A file with two hard links is replaced under the name given; the other name keeps the old
  // contents (writing in place instead would not be atomic).
  Write(dir_ + "/hard.json", "old");
  ASSERT_EQ(::link((dir_ + "/hard.json").c_str(), (dir_ + "/other.json").c_str()), 0);
  EXPECT_EQ(axis::SaveSetupFile(*setup_, dir_ + "/hard.json"), "");
  EXPECT_EQ(Mode(dir_ + "/new.json"), 0640);  // 0666 less the umask
  EXPECT_EQ(Mode(dir_ + "/old.json"), 0604);
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ + "/link.json"));
  for (const char* name : {"/new.json", "/old.json", "/real.json", "/hard.json"})
    EXPECT_EQ(Read(dir_ + name), axis::SetupToText(*setup_)) << name;
  EXPECT_EQ(Read(dir_ + "/other.json"), "old");
  EXPECT_EQ(Listing(),
            (Names{"hard.json", "link.json", "new.json", "old.json", "other.json", "real.json"}));
}

// Only a regular file is written over (through a symbolic link too), and not a read-only one;
// whatever is refused is left as it was.
TEST_F(SetupFileOnDisk, WritesOverRegularFilesOnlyAndNotOverReadOnlyOnes) {
  const std::string d = dir_ + "/", fifo = d + "fifo", read_only = d + "read-only.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(::mkdir((d + "folder").c_str(), 0755), 0);
  Write(read_only, "old");
  ASSERT_EQ(::chmod(read_only.c_str(), 0444), 0);
  for (const auto& [link, to] : {std::pair{"to-fifo", "fifo"},
                                 {"dangling", "missing.json"},
                                 {"loop", "loop"},
                                 {"to-read-only", "read-only.json"}})
    ASSERT_EQ(::symlink(to, (d + link).c_str()), 0);
  const std::string no = ", not a regular file; nothing was written";
  const std::string ro = ": the file is read-only; nothing was written";
  const std::pair<std::string, std::string> rows[] = {
      // where to save, the error after it
      {fifo, ": a named pipe (FIFO)" + no},
      {d + "folder", ": a folder" + no},
      {d + "to-fifo", ": links to " + fifo + ", a named pipe (FIFO)" + no},
      {d + "dangling", ": links to missing.json, which does not exist; nothing was written"},
      {d + "loop",
       ": cannot follow the symbolic link: Too many levels of symbolic links; nothing "
       "was written"},
      {read_only, ro},
      {d + "to-read-only", ro},
      {d + "folder/", ": a folder" + no},
      {d + "absent/", ": names no file; nothing was written"}};
  for (const auto& [path, error] : rows)
    EXPECT_EQ(axis::SaveSetupFile(*setup_, path), path + error);
  EXPECT_EQ(Read(read_only), "old");
  EXPECT_TRUE(std::filesystem::is_fifo(fifo) && std::filesystem::is_symlink(d + "dangling"));
  EXPECT_EQ(Listing(), (Names{"dangling", "fifo", "folder", "loop", "read-only.json", "to-fifo",
                              "to-read-only"}));
}

// A save killed between naming its new file and renaming it leaves that file; the next save of the
// same file removes such files whose process is gone, and only those.
TEST_F(SetupFileOnDisk, TemporariesOfKilledSavesAreRemovedByTheNextSave) {
  const pid_t gone = ::fork();
  if (gone == 0) std::_Exit(0);
  ASSERT_GT(gone, 0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string mine = axis::TemporaryNamePrefix(dir_ + "/setup.json");
  const std::string stale = mine + std::to_string(gone) + ".AbC123",
                    live = mine + std::to_string(::getpid()) + ".AbC123",
                    other_host = ".setup.json.elsewhere." + std::to_string(gone) + ".AbC123",
                    other_file =
                        axis::TemporaryNamePrefix("other.json") + std::to_string(gone) + ".AbC123",
                    not_ours = ".setup.json.AbC123";
  for (const std::string& name : {stale, live, other_host, other_file, not_ours})
    Write(dir_ + "/" + name, "partial");
  EXPECT_EQ(axis::SaveSetupFile(*setup_, dir_ + "/setup.json"), "");
  Names expected = {live, other_host, other_file, not_ours, "setup.json"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(), expected);
}

TEST_F(SetupFileOnDisk, FailedSavesLeaveTheOldFileAndNoTemporary) {
  const std::string missing = dir_ + "/no/such/folder/x.json";
  EXPECT_EQ(
      axis::SaveSetupFile(*setup_, missing),
      missing + ": cannot create a temporary file in " + dir_ + "/no/such/folder/: " + kNoFile);
  const std::string path = dir_ + "/kept.json";  // a kept section that is not JSON: no writing
  Write(path, "old contents");
  setup_->ExtraSections().emplace_back("broken", "{not json");
  EXPECT_EQ(axis::SaveSetupFile(*setup_, path),
            path + ": /broken: the section's stored text is not JSON; nothing was written");
  EXPECT_EQ(Read(path), "old contents");
  EXPECT_EQ(Listing(), (Names{"kept.json"}));
  // SetupToText still gives a loadable document, holding the text as a string.
  const axis::LoadResult back = axis::LoadSetupText(axis::SetupToText(*setup_), "text");
  ASSERT_TRUE(back) << back.error;
  EXPECT_EQ(back.setup->ExtraSections().back(), (Pairs::value_type{"broken", "\"{not json\""}));
  // Files that cannot be read are named.
  EXPECT_EQ(axis::LoadSetupFile(dir_ + "/absent.json").error,
            dir_ + "/absent.json: cannot read: " + kNoFile);
  EXPECT_EQ(axis::LoadSetupFile(dir_).error, dir_ + ": cannot read: " + kIsDir);
}

// Setup files and motor databases are read up to 64 MiB: a larger regular file is refused by its
// size, a pipe or device once more has come, text in memory by its length.
TEST_F(SetupFileOnDisk, InputsLargerThanTheLimitAreRefusedBeforeTheyAreRead) {
  const std::string sparse = dir_ + "/huge.json";
  Write(sparse, "{");
  ASSERT_EQ(::truncate(sparse.c_str(), off_t{1} << 30), 0);
  const std::string big(axis::kMaxJsonFileBytes + 1, ' ');
  const std::string setup = ": too large for a setup file (more than 64 MiB)";
  const std::pair<std::string, std::string> rows[] = {
      // the error, the one expected
      {axis::LoadSetupFile(sparse).error, sparse + setup},
      {axis::LoadSetupFile("/dev/zero").error, "/dev/zero" + setup},
      {axis::LoadSetupText(big, "text").error, "text" + setup},
      {axis::LoadMotorDatabaseFile(sparse).error,
       sparse + ": too large for a motor database (more than 64 MiB)"}};
  for (const auto& [error, expected] : rows) EXPECT_EQ(error, expected);
  // Saving a setup that could not be read back writes nothing.
  setup_->ExtraSections().emplace_back("big", "\"" + big + "\"");
  EXPECT_EQ(axis::SaveSetupFile(*setup_, dir_ + "/out.json"),
            dir_ + "/out.json" + setup + "; nothing was written");
  EXPECT_EQ(Listing(), (Names{"huge.json"}));
}

// Running out of memory while loading is an error like any other, not an abort.
TEST_F(SetupFileOnDisk, RunningOutOfMemoryIsReportedNotThrown) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's allocator aborts instead of throwing under a memory limit";
#else
  const std::string path = dir_ + "/many.json";  // 16 million values: 256 MB of JSON values
  std::ofstream(path) << "{\"many\": [" << Repeat("0,", 16 << 20) << "0]}";
  EXPECT_EXIT(
      {
        rlimit limit{};
        ::getrlimit(RLIMIT_AS, &limit);
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line) && !line.starts_with("VmSize:")) {
        }
        limit.rlim_cur = (std::stoul(line.substr(7)) << 10) + (128 << 20);  // in use + 128 MB
        ::setrlimit(RLIMIT_AS, &limit);
        const axis::LoadResult loaded = axis::LoadSetupFile(path);
        std::fprintf(stderr, "%s\n", loaded.error.c_str());
        std::_Exit(loaded ? 1 : 0);
      },
      ::testing::ExitedWithCode(0), path + ": not enough memory to read it");
#endif
}

}  // namespace
