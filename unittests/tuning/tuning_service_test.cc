// The "Tune" of a loop: formula, then the gains encoded and derived back; a missing gain register
// refuses the whole tuning instead of leaving gains the drive cannot hold.
#include "tuning/tuning_service.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "host/setup_file.h"

namespace {

using kestrel::Loop;

std::unique_ptr<CMC_Setup> Demo() {
  axis::LoadResult loaded = axis::LoadSetupFile(AXIS_SETUPS_DIR "/demo-linear.json");
  EXPECT_TRUE(loaded) << loaded.error;
  return std::move(loaded.setup);
}

TEST(TuneAndEncode, GainsComeBackFromTheRegistersAndAMissingRegisterRefusesAll) {
  struct Row {
    Loop loop;
    std::vector<std::string> gains, registers;
  };
  // clang-format off
  const Row rows[] = {
      {Loop::kCurrent, {"Kp_C_scl", "Ki_C_scl"}, {"KPI", "SFTKPI", "KII", "SFTKII"}},
      {Loop::kSpeed, {"Kp_S_scl", "Ki_S_scl"}, {"KPS", "SFTKPS", "KIS", "SFTKIS"}},
      {Loop::kPosition, {"Kp_P_scl", "Ki_P_scl", "Kd_P_scl"},
       {"KPP", "SFTKPP", "KIP", "SFTKIP", "KDP", "SFTKDP"}},
  };
  // clang-format on
  std::vector<std::string> said;
  axis::SetErrorReporter([&](const std::string& m) { said.push_back(m); });
  for (const Row& row : rows) {
    auto setup = Demo();
    ASSERT_TRUE(setup);
    ASSERT_EQ(kestrel::TuneAndEncode(*setup, row.loop), 1);
    for (size_t i = 0; i < row.gains.size(); ++i) {
      const double mantissa =
          setup->FindParameter(row.registers[2 * i].c_str())->GetValueInBaseUnit();
      const double shift =
          setup->FindParameter(row.registers[2 * i + 1].c_str())->GetValueInBaseUnit();
      EXPECT_EQ(setup->FindParameter(row.gains[i].c_str())->GetValueInBaseUnit(),
                mantissa * std::ldexp(1.0, static_cast<int>(shift)) / 32767.0)
          << row.gains[i];
    }
    for (const std::string& missing : row.registers) {
      SCOPED_TRACE(missing);
      std::string text = axis::SetupToText(*Demo());
      const size_t at = text.find("{\"name\": \"" + missing + "\"");
      ASSERT_NE(at, std::string::npos);
      text.erase(text.rfind('\n', at) + 1, text.find('\n', at) - text.rfind('\n', at));
      auto without = axis::LoadSetupText(text, "demo").setup;
      ASSERT_TRUE(without);
      std::vector<double> before;
      for (const std::string& gain : row.gains)
        before.push_back(without->FindParameter(gain.c_str())->GetValueInBaseUnit());
      said.clear();
      EXPECT_EQ(kestrel::TuneAndEncode(*without, row.loop), 0);
      for (size_t i = 0; i < row.gains.size(); ++i)
        EXPECT_EQ(without->FindParameter(row.gains[i].c_str())->GetValueInBaseUnit(), before[i]);
      ASSERT_EQ(said.size(), 1u);
      EXPECT_NE(said[0].find(missing), std::string::npos) << said[0];
    }
  }
  axis::SetErrorReporter(nullptr);
}

}  // namespace
