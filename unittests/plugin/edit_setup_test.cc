// EditSetup through the loaded plug-in: the drive setup dialog run on a setup, 1 only when the user
// ended it with OK.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/dialog_test_support.h"
#include "host/headless_platform.h"
#include "host/plugin_loader.h"
#include "host/setup_file.h"
#include "support/test_setup.h"

namespace {

using axis::HeadlessPlatform;
using axis::testing::ResourceFolder;

class EditSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    plugin_ = axis::Plugin::Load(std::string(AXIS_BIN_DIR) + "/libkestrel.so", error);
    ASSERT_NE(plugin_, nullptr) << error;
    setup_ = Load();
    ASSERT_TRUE(setup_);
  }
  void TearDown() override { axis::SetPlatform(nullptr); }
  std::unique_ptr<CMC_Setup> Load() {
    axis::LoadResult loaded =
        axis::LoadSetupFile(std::string(AXIS_SETUPS_DIR) + "/demo-linear.json");
    EXPECT_TRUE(loaded) << loaded.error;
    if (loaded) loaded.setup->SetScaleProvider(plugin_->Scales());
    return std::move(loaded.setup);
  }
  int Edit(CMC_Setup* setup) { return plugin_->Exports().EditSetup(setup); }

  // Destroyed in reverse order: the setup goes before the plug-in its scales point into.
  ResourceFolder real_templates_{std::nullopt};
  std::unique_ptr<axis::Plugin> plugin_;
  std::unique_ptr<CMC_Setup> setup_;
  axis::testing::Reports errors_;
};

TEST_F(EditSetupTest, OneOnlyWhenTheDialogEndsWithOk) {
  const struct {
    const char* name;
    int end, result;  // end 0: the script runs dry, which cancels
  } rows[] = {{"OK", axis::kIdOk, 1}, {"Cancel", axis::kIdCancel, 0}, {"closed", 0, 0}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setup_ = Load();
    ASSERT_TRUE(setup_);
    HeadlessPlatform platform;
    axis::SetPlatform(&platform);
    setup_->ClearOption("IsClosedPosition");
    // 128 is selected (it warns), then the dialog ends.
    platform.SelectCombo(3136, 127);
    if (row.end != 0) platform.End(row.end);
    EXPECT_EQ(Edit(setup_.get()), row.result);
    ASSERT_EQ(platform.MessageLog().size(), 1u);
    // OK stores the axis ID, encodes it and writes the capability options.
    EXPECT_EQ(setup_->GetParameterValueInBaseUnit("AAR_table"), row.result == 1 ? 384 : 257);
    EXPECT_EQ(setup_->HasOption("IsClosedPosition"), row.result == 1);
    axis::SetPlatform(nullptr);
  }
}

TEST_F(EditSetupTest, ZeroWhenNothingCanBeShown) {
  EXPECT_EQ(Edit(nullptr), 0);
  // No platform: the setup is not touched at all.
  const double aar = setup_->GetParameterValueInBaseUnit("AAR_table");
  setup_->FindParameter("Kp_C_scl")->SetValueInBaseUnit(-1);
  EXPECT_EQ(Edit(setup_.get()), 0);
  EXPECT_EQ(setup_->GetParameterValueInBaseUnit("Kp_C_scl"), -1);
  EXPECT_EQ(setup_->GetParameterValueInBaseUnit("AAR_table"), aar);
  // A template that does not load is reported, and the dialog does not run.
  HeadlessPlatform platform;
  axis::SetPlatform(&platform);
  ResourceFolder no_templates(axis::testing::TestDataDirectory());
  platform.EndOk();
  EXPECT_EQ(Edit(setup_.get()), 0);
  EXPECT_EQ(platform.PendingActions(), 1u);
  ASSERT_FALSE(errors_.messages.empty());
  EXPECT_NE(errors_.messages.back().find("106"), std::string::npos) << errors_.messages.back();
}

}  // namespace
