// The speed and position tuning tests against a scripted drive: what each run sends, the
// verdicts, the live loops, the profile refusals and what OK hands over.
#include "commissioning/tuning_test.h"

#include "commissioning/commissioning_test_support.h"
#include "host/scope_frame.h"

namespace {

using namespace axis::testing;
using Speed = CTestSpeedTuning;
using Position = CTestPositionTuning;
using Base = CTuningTestDlg;

// The demo drive: 0.5 ms slow loop, 1 um counts, so 0.5 m/s is 250 speed counts per period; a
// start current of 50 % of min(3 A, 4 A) is 4914 current counts (3276 per A), the limit 7 A
// 22932 and the protection 8 A 26208. The bidirectional profile (0.05 s ramps, 0.2 s dwells):
// 100 samples of 2.5, 400 of 0, 200 of -2.5, 400 of 0, 99 of 250/99 (2.5252525 x 65536 =
// 165494.55, so 165495 in 16.16) and a last sample of -5 / 65536 that takes back the 99 x 0.45
// the rounding added.
const axis::UserVariables kSpeedInputs = {{"RefTest", 1200},
                                          {"RIncTest", -7},
                                          {"IlimPS_Test", 22932},
                                          {"Imax_Prot_Test", 26208},
                                          {"a0", 100},
                                          {"b0", 2.5},
                                          {"a1", 400},
                                          {"b1", 0},
                                          {"a2", 200},
                                          {"b2", -2.5},
                                          {"a3", 400},
                                          {"b3", 0},
                                          {"a4", 99},
                                          {"b4", 165495 / 65536.0},
                                          {"a5", 1},
                                          {"b5", -5 / 65536.0},
                                          {"MultiC", 0}};

const std::vector<axis::LogPoint> kRecord = {
    {0.0, 0, 0, 0, 0}, {0.0005, 2.5, 1.0, 900, 880}, {0.001, 5.0, 3.5, 950, 940}};

class TuningTest : public CommissioningTest {
 protected:
  Routine Preliminary() { return {.outputs = {{"In1", 4914}}}; }
  Routine Main(double flag, bool ends = true, double mer = 0) {
    return {
        .outputs = {{"test_flag", flag}}, .drive = {{"MER", mer}}, .log = kRecord, .ends = ends};
  }
  // Turns to the "Test" tab and presses Start.
  axis::HeadlessPlatform& Start() {
    return platform_.SelectTab(Base::kTabs, Base::kTestPage).Click(Base::kStartStop);
  }
};

TEST_F(TuningTest, ADataLoggerRunSendsTheProfileAndPlotsTheRecord) {
  Play({Preliminary(), Main(1)});
  Speed d(*setup_, nullptr);
  Start().Wait(200).Do([&](axis::DialogModel&) {
    EXPECT_EQ(d.TestResult(), 1) << d.ErrorText();
    EXPECT_EQ(platform_.statuses,
              (std::vector<std::string>{"Launching the application for preliminary test",
                                        "Waiting preliminary test to be finished",
                                        "Launching the application for test", "Running test",
                                        "Uploading results"}));
    ASSERT_EQ(Labels(), (std::vector<std::string>{"Initial_Positioning_Test",
                                                  "Speed_Controller_Tuning_Test"}));
    EXPECT_EQ(drive_.launches[0].inputs, (axis::UserVariables{{"In1", 4914}}));
    EXPECT_EQ(drive_.launches[1].inputs, kSpeedInputs);
    EXPECT_EQ(drive_.launches[1].log.variables,
              (std::vector<std::string>{"Speed_Reference", "Load_Speed", "Current_Reference",
                                        "Motor_Current"}));
    EXPECT_EQ(drive_.launches[1].log.points, 2000);
    EXPECT_EQ(d.Plot().GetCurves()->GetCurve(0)->Points().size(), kRecord.size());
  });
  platform_.Click(axis::kIdCancel);
  EXPECT_EQ(d.DoModal(), axis::kIdCancel);
}

TEST_F(TuningTest, VerdictsComeAfterTheUploadSoTheCurvesAreShown) {
  const struct {
    const char* name;
    double flag, mer;
    std::string error;
  } rows[] = {
      {"current protection", 0, 0, Base::kProtectionTripped},
      {"flag never delivered", CMC_TestDlg::kUndelivered, 0, ErrInternal()},
      {"short circuit", 1, 0x0002, "Drive / Motor shortcircuit protection triggered."},
      {"a missing Hall sensor is not a fault here", 1, 0x0020, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FreshDrive({{"MER", 0}, {"REFTST_V", 1200}, {"RINCTST_V", -7}});
    Play({Preliminary(), Main(row.flag, true, row.mer)});
    Speed d(*setup_, nullptr);
    Start().Wait(200).Click(axis::kIdCancel);
    d.DoModal();
    EXPECT_EQ(d.TestResult(), row.error.empty() ? 1 : 0);
    EXPECT_EQ(d.ErrorText(), row.error);
    EXPECT_EQ(d.Plot().GetCurves()->GetCurve(0)->Points().size(), kRecord.size());
  }
}

TEST_F(TuningTest, ARepeatedRunTakesGainsLiveAndUploadsWhenStopped) {
  Set(*setup_, "MultiCycleS", 1);
  Play({Preliminary(), Main(1, false)});
  Speed d(*setup_, nullptr);
  size_t before = 0;
  Start()
      .Wait(200)
      .Do([&](axis::DialogModel&) {
        EXPECT_TRUE(d.TestRunning());
        EXPECT_EQ(platform_.statuses.back(), "Test running. Press \"Stop\" to end the test");
        EXPECT_EQ(drive_.launches[1].inputs.back(), (std::pair<std::string, double>{"MultiC", 1}));
        before = drive_.written.size();
      })
      .Type(Base::kPassBandEdit, "400")
      .Click(Base::kTune)
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(WritesOf({"SFTKPS", "KPS", "SFTKIS", "KIS"}, before),
                  (std::vector<std::string>{"SFTKPS", "KPS", "SFTKIS", "KIS"}));
      })
      .Wait(100)
      .Click(Base::kStartStop)
      .Wait(100)
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(d.TestResult(), 1) << d.ErrorText();
        EXPECT_FALSE(d.TestRunning());
        EXPECT_GE(drive_.axis_off_calls, 1) << "the stopped run leaves the axis off";
      })
      .Click(axis::kIdCancel);
  d.DoModal();
}

TEST_F(TuningTest, TheOnlinePlotPollsUntilStopped) {
  Set(*setup_, {{"MultiCycleS", 1}, {"OnlinePlotS", 1}});
  drive_.variables["Speed_Reference"] = 250;
  drive_.variables["Load_Speed"] = 240;
  Play({Preliminary(), Main(1, false)});
  Speed d(*setup_, nullptr);
  size_t paused_at = 0;
  Start()
      .Wait(300)
      .Do([&](axis::DialogModel&) {
        EXPECT_TRUE(d.TestRunning());
        EXPECT_FALSE(drive_.launches[1].logged) << "no record: the view is fed live";
        EXPECT_EQ(d.GetChildText(1364), "0.5 m/s");
        EXPECT_EQ(d.GetChildText(1366), "0.48 m/s");
        EXPECT_GT(d.OscilloscopeView().History(0).size(), 50u);
      })
      .Do([&](axis::DialogModel&) { paused_at = drive_.written.size(); })
      .Type(Base::kKpEdit, "500")
      .Do([&](axis::DialogModel&) {
        // A gain typed during the on-line run reaches the drive as its registers now hold it.
        std::vector<std::pair<std::string, double>> want;
        for (const char* name : {"SFTKPS", "KPS"})
          want.emplace_back(name, setup_->FindParameter(name)->GetValueInInternalUnit());
        EXPECT_EQ(std::vector(drive_.written.begin() + paused_at, drive_.written.end()), want);
        EXPECT_NEAR(Get(*setup_, "Kp_S_scl"), 500.0, 0.5);
      })
      .Click(Base::kPause)
      .Do([&](axis::DialogModel&) { paused_at = d.OscilloscopeView().History(0).size(); })
      .Wait(50)
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(d.OscilloscopeView().History(0).size(), paused_at) << "paused";
      })
      .Click(Base::kStartStop)
      .Wait(50)
      .Do([&](axis::DialogModel&) { EXPECT_EQ(d.TestResult(), 1) << d.ErrorText(); })
      .Click(axis::kIdCancel);
  d.DoModal();
}

TEST_F(TuningTest, ProfilesTheDriveCannotRunLaunchNothing) {
  const struct {
    const char* name;
    bool position;
    const char* ramp;
    const char* message;
  } rows[] = {
      {"speed", false, "TaPS", kestrel::kSegmentSlopeRefused},
      {"position", true, "TaPP", kestrel::kSegmentCountRefused},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Play({Preliminary()});
    const size_t launches = drive_.launches.size();
    CMC_Parameter* ramp = setup_->FindParameter(row.ramp);
    ramp->SetMinInBaseUnit(0.0);
    ramp->SetValueInBaseUnit(0.0002);  // under half a sample
    std::unique_ptr<Base> d;
    if (row.position) {
      d = std::make_unique<Position>(*setup_, nullptr);
    } else {
      d = std::make_unique<Speed>(*setup_, nullptr);
    }
    Start().Wait(100).Click(axis::kIdCancel);
    d->DoModal();
    EXPECT_EQ(d->ErrorText(), row.message);
    EXPECT_EQ(drive_.launches.size(), launches + 1) << "only the preliminary positioning ran";
  }
}

TEST_F(TuningTest, TheTestTabNeedsALimitBelowTheProtectionAndOkHandsTheLimitsOver) {
  Set(*setup_, {{"TestLimitCurrent", 8}, {"TestProtectionCurrent", 8}, {"TestStartCurrent", 60}});
  Speed d(*setup_, nullptr);
  platform_.SelectTab(Base::kTabs, Base::kTestPage)
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(d.Control(Base::kTabs)->selection, Base::kParametersPage);
        EXPECT_EQ(Messages(platform_).back(), Base::kLimitNotBelowProtection);
      })
      .Type(Base::kLimitEdit, "6.5")
      .SelectTab(Base::kTabs, Base::kTestPage)
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(d.Control(Base::kTabs)->selection, Base::kTestPage);
      })
      .Click(axis::kIdOk);
  EXPECT_EQ(d.DoModal(), axis::kIdOk);
  EXPECT_EQ(Get(*setup_, "IlimPS"), 6.5);
  EXPECT_EQ(Get(*setup_, "Imax_Prot"), 8.0);
  EXPECT_EQ(Get(*setup_, "StartCurrent"), 60.0);
  EXPECT_TRUE(drive_.launches.empty());
}

TEST_F(TuningTest, ThePositionTestInTheCascadeSkipsThePositioningAfterAGoodRun) {
  Play({Preliminary(), Main(1), Main(1)});
  Position d(*setup_, nullptr);
  Start()
      .Wait(200)
      .Click(Base::kStartStop)
      .Wait(200)
      .Do([&](axis::DialogModel&) {
        EXPECT_EQ(d.TestResult(), 1) << d.ErrorText();
        ASSERT_EQ(Labels(),
                  (std::vector<std::string>{"Initial_Positioning_Test",
                                            "Position_Controller_Tuning_Test_with_SpdCtrl",
                                            "Position_Controller_Tuning_Test_with_SpdCtrl"}));
        const axis::UserVariables& second = drive_.launches[2].inputs;
        // Without the positioning, the setup's commutation reference.
        EXPECT_EQ(second[0], (std::pair<std::string, double>{"RefTest", 5250}));
        // 2 m/s is 1000 speed counts per period.
        EXPECT_EQ(second[2], (std::pair<std::string, double>{"LimitSpeed_Test", 1000}));
        EXPECT_EQ(drive_.launches[2].log.variables[2], "Speed_Reference");
      })
      .Click(axis::kIdCancel);
  d.DoModal();
}

TEST_F(TuningTest, TheScopeStreamsUntilItsSingleShotEndsAndItsSettingsPersist) {
  setup_->SetOption("hasOscilloscope", "1");
  Set(*setup_, "OnlinePlotS", 1);
  Play({Preliminary(), Main(1, false)});
  auto frame = [](uint16_t flags, int first) {
    axis::ScopeFrame f{.flags = flags, .channels = 4, .first_sample = first, .values = {}};
    for (int i = 0; i < 10; ++i) f.values.insert(f.values.end(), {250.f, 240.f, 900.f, 890.f});
    return axis::EncodeScopeFrame(f, static_cast<uint16_t>(first));
  };
  {
    Speed d(*setup_, nullptr);
    Start()
        .Wait(100)
        .Do([&](axis::DialogModel&) {
          EXPECT_EQ(d.GetChildText(Base::kOnlinePlot), "Scope");
          ASSERT_EQ(drive_.scopes.size(), 1u);
          EXPECT_EQ(drive_.scopes[0].trigger_variable, "Speed_Reference");
          EXPECT_EQ(drive_.scopes[0].mode, axis::ScopeRequest::Mode::kSingle);
          drive_.pending = {frame(axis::ScopeFrame::kFirst, 0),
                            frame(axis::ScopeFrame::kLast | axis::ScopeFrame::kFinal, 10)};
        })
        .Wait(100)
        .Do([&](axis::DialogModel&) {
          EXPECT_EQ(d.TestResult(), 1) << d.ErrorText();
          EXPECT_FALSE(drive_.scope_armed);
        })
        .Click(axis::kIdOk);
    EXPECT_EQ(d.DoModal(), axis::kIdOk);
    EXPECT_EQ(setup_->GetOptionNoError("SpeedTuningOscSettings"), "") << "not customised";
  }
  // Customised settings are kept at OK and taken at the next opening.
  Speed customised(*setup_, nullptr);
  platform_.SelectTab(Base::kTabs, Base::kTestPage).Do([&](axis::DialogModel& dialog) {
    EXPECT_TRUE(dialog.UserGraphMessage(Base::kOscilloscope, 1, 1));
    EXPECT_TRUE(customised.ScopeCustomised());
  });
  platform_.Click(axis::kIdOk);
  customised.DoModal();
  const std::string kept = setup_->GetOptionNoError("SpeedTuningOscSettings");
  Speed again(*setup_, nullptr);
  platform_.Do([&](axis::DialogModel&) {
    EXPECT_TRUE(again.ScopeCustomised());
    EXPECT_EQ(again.Scope()->SettingsText(), kept);
  });
  platform_.Click(axis::kIdCancel);
  again.DoModal();
}

TEST_F(TuningTest, TheMassQuestionIdentifyAndTheFiltersDuringARun) {
  // A motor heavier than the total mass: the question opens first; raising the total mass makes
  // it 1.01 M and the ratio the 0.01 that stands for.
  Set(*setup_, {{"M", 4.0}, {"Mt", 3.0}, {"MultiCycleS", 1}});
  platform_.Do([](axis::DialogModel& question) {
    EXPECT_EQ(question.Template().id, 3056);
    question.UserClick(axis::kIdOk);
  });
  Play({Preliminary(), Main(1, false)});
  Speed d(*setup_, nullptr);
  size_t before = 0;
  Start()
      .Do([&](axis::DialogModel&) {
        EXPECT_NEAR(Get(*setup_, "Mt"), 4.04, 1e-12);
        EXPECT_NEAR(Get(*setup_, "Mload_over_M"), 0.01, 1e-12);
      })
      .Wait(200)
      .Do([&](axis::DialogModel&) { before = drive_.written.size(); })
      .Click(Base::kFilters)
      .Do([&](axis::DialogModel& filters) {
        EXPECT_EQ(filters.Template().id, 295);
        EXPECT_FALSE(filters.Control(3485)->enabled) << "no switching filters while running";
        filters.UserClick(axis::kIdOk);
      })
      .Do([&](axis::DialogModel&) {
        // OK during the run writes the filters to the drive.
        EXPECT_EQ(WritesOf({"BQ1B0", "BQ2B0", "BQ3SF"}, before),
                  (std::vector<std::string>{"BQ1B0", "BQ2B0", "BQ3SF"}));
      })
      .Click(Base::kStartStop)
      .Wait(100)
      // Identify is the total mass test; the mass it keeps comes back as the total and the ratio.
      .Click(Speed::kIdentify)
      .Do([&](axis::DialogModel& mass) {
        EXPECT_EQ(mass.Template().id, 3041);
        setup_->SetParameterValueInBaseUnit("Mt", 6.0);
        mass.OnOK();
      })
      .Do([&](axis::DialogModel&) {
        EXPECT_NEAR(Get(*setup_, "Mload_over_M"), 0.5, 1e-12);
        EXPECT_EQ(d.GetChildText(Base::kMassEdit), "6");
      })
      .Click(axis::kIdCancel);
  d.DoModal();
}

}  // namespace
