#include "commissioning/mass_test.h"

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"
#include "host/number_text.h"

namespace {

constexpr const char* kMainRoutine = "Total_Mass_Identification_Test";
constexpr const char* kStatus[] = {"Launching code for preliminary test",
                                   "Waiting preliminary test to be finished",
                                   "Launching code for M test", "Waiting M test to be finished"};

// The routine's verdicts: a negative speed under a positive force ("test_flag" <= 0, or
// "delta_time" -1), no speed or no force (-2), the speed level not reached (any other code).
#define KESTREL_REVERSED_SPEED                                                                   \
  "When a POSITIVE force level is applied to the motor, the measured speed is NEGATIVE.\n"       \
  "Possible causes of failure:\n\t\tThe current controller is not tuned;\n\t\tThe encoder "      \
  "signals are reversed;\n\t\tCheck the current controller tuning;\n\t\tUse the test <<Detect "  \
  "number of lines>> to verify the encoder counting direction;\n\t\tCheck if the motor nominal " \
  "current was correctly set"
constexpr const char* kReversedSpeed = KESTREL_REVERSED_SPEED;
constexpr const char* kReversedSpeedCode = KESTREL_REVERSED_SPEED ".";
#undef KESTREL_REVERSED_SPEED
constexpr const char* kNoSpeed =
    "When trying to apply POSITIVE force to the motor, the measured speed is ZERO, or the "
    "reference force cannot be reached!\nPossible causes of failure:\n\t\tThe current controller "
    "is not tuned;\n\t\tThe encoder signals are missing;\n\t\tThe DC voltage level is not high "
    "enough;\n\t\tCheck the current controller tuning;\n\t\tUse the encoder <<Test connections>> "
    "to verify presence of the encoder signals\n\t\tCheck if the motor nominal current was "
    "correctly set.\n\t\tTry to decrease the test current.";
constexpr const char* kSpeedNotReached =
    "The motor does not reach the programmed speed level!\nYou may have a problem with the "
    "encoder or the initial positioning is not performed correctly. Check the encoder and motor "
    "connections. If these are OK, try to increase the test current.";

}  // namespace

const char* const CTotalMassTest::kProtectionBelowTestCurrent =
    "I protection must be greater or equal to Test current.";
const char* const CTotalMassTest::kNoSpeedChange =
    "The drive reports no change of speed during the test, so the mass cannot be computed. "
    "Check the encoder and increase the test current.";

CTotalMassTest::CTotalMassTest(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kTemplate, 1, parent) {
  step_count_ = 4;
  AddParameterControls("TestMaxSpeed", kMaxSpeedEdit, kMaxSpeedUnit);
  AddParameterControls("Mt", kMassEdit, kMassUnit);
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
  AddParameterControls("TestProtectionCurrent", kProtectionEdit, kProtectionUnit);
}

int CTotalMassTest::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  SetChildText(kMassEdit, "");
  LoadImage(main_, kMainRoutine);
  LoadImage(preliminary_, kestrel::kPreliminaryRoutine);
  saved_kg_ = identified_kg_ = kestrel::OptionalValue(setup_, "Mt");
  return 1;
}

void CTotalMassTest::OnCommand(int id) {
  if (id == kStartStop && running_flag_ == 0 &&
      setup_.GetParameterValueInBaseUnit("TestCurrent") >
          setup_.GetParameterValueInBaseUnit("TestProtectionCurrent")) {
    MessageBox(kProtectionBelowTestCurrent, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    return;
  }
  CMyTestDlg::OnCommand(id);
}

int CTotalMassTest::BeginTest() {
  RefreshAllParameters();
  SetChildText(kMassEdit, "");
  double speed_scale = 0.0;
  const bool scaled = kestrel::MotorSpeedScale(setup_, speed_scale);
  // Everything the routine takes as a 16-bit count is checked before anything runs.
  if (!CurrentCounts("TestCurrent", test_current_counts_) ||
      !CurrentCounts("TestProtectionCurrent", protection_counts_) ||
      !Int16Counts("TestMaxSpeed", "speed limit", "the drive's speed register",
                   scaled ? speed_scale : 0.0, "m/s", speed_limit_counts_))
    return 0;
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  SetInfoText(kStatus[0]);
  return StartPreliminary(preliminary_, test_current_counts_, kStatus[1]) ? 1 : 0;
}

void CTotalMassTest::OnPoll() {
  switch (step_index_) {
    case 2:
      if (!PreliminaryFinished(preliminary_, reftst_, &rinctst_)) return;
      SetInfoText(kStatus[2]);
      [[fallthrough]];
    case 3:
      if (!WriteInputs(main_, {{"RefTest", reftst_},
                               {"RIncTest", rinctst_},
                               {"In1", static_cast<double>(test_current_counts_)},
                               {"LimitSpeedMax", static_cast<double>(speed_limit_counts_)},
                               {"Imax_Prot_Test", static_cast<double>(protection_counts_)}}) ||
          !Launch(kMainRoutine, main_))
        return;
      SetInfoText(kStatus[3]);
      RearmTimer();
      return;
    case 4:
      if (PollRoutine(main_, kestrel::kAllFaultsMask) == Routine::kFinished) Analyse();
      return;
    default:
      return;
  }
}

void CTotalMassTest::Analyse() {
  double flag = 0.0, periods = 0.0, speed_change = 0.0;
  if (!ReadResult(main_, "test_flag", flag) || !ReadResult(main_, "delta_time", periods) ||
      !ReadResult(main_, "delta_speed", speed_change))
    return;
  if (flag <= 0.0) return Fail(kReversedSpeed);
  if (periods <= 0.0)
    return Fail(periods == -1.0   ? kReversedSpeedCode
                : periods == -2.0 ? kNoSpeed
                                  : kSpeedNotReached);
  if (speed_change == 0.0) return Fail(kNoSpeedChange);
  double speed_scale = 0.0, current_scale = 0.0;
  CMC_Parameter* mass = kestrel::FindOptional(setup_, "Mt");
  const CMC_Parameter* force_constant = kestrel::FindOptional(setup_, "Kf");
  if (mass == nullptr || force_constant == nullptr ||
      !kestrel::MotorSpeedScale(setup_, speed_scale) ||
      !kestrel::CurrentScale(setup_, current_scale) || current_scale == 0.0 || speed_scale == 0.0)
    return Fail(msc_pszErrInternal);
  // Force (N) x time (s) / speed change (m/s).
  const double force_N = test_current_counts_ / current_scale * kestrel::V(force_constant);
  const double time_s = periods * kestrel::Ts_S(setup_);
  const double speed_change_m_s = speed_change / speed_scale;
  mass->SetValueInBaseUnit(force_N * time_s / speed_change_m_s);
  identified_kg_ = mass->GetValueInBaseUnit();
  RefreshAllParameters();
  TestSucceeded(1);
}

void CTotalMassTest::OnOK() {
  CMyTestDlg::OnOK();
  setup_.SetParameterValueInBaseUnit("Imax_Prot",
                                     setup_.GetParameterValueInBaseUnit("TestProtectionCurrent"));
}

void CTotalMassTest::OnCancel() {
  const std::string old_text = axis::FormatNumberG(saved_kg_, 6);
  const std::string new_text = axis::FormatNumberG(identified_kg_, 6);
  std::vector<kestrel::ChangedValue> changed;
  if (old_text != new_text) changed.push_back({"Total mass", old_text, new_text});
  switch (AskToKeepValues(changed)) {
    case axis::kIdYes:
      OnOK();
      return;
    case axis::kIdCancel:
      return;
    case axis::kIdNo:
      setup_.SetParameterValueInBaseUnit("Mt", saved_kg_);
      break;
    default:
      break;
  }
  CMyTestDlg::OnCancel();
}
