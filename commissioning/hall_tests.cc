#include "commissioning/hall_tests.h"

#include <string>

#include "conversions/calculator.h"

namespace {

constexpr const char* kSignalsRoutine = "Hall_Signals_Connection_Test";
constexpr const char* kSignalsStatus[] = {"Launching code for test", "Running test",
                                          "Test finished"};

constexpr const char* kConfigurationRoutine = "Hall_Configuration_Detection_Test";
constexpr const char* kConfigurationStatus[] = {
    "Launching code for the preliminary test", "Running the preliminary test",
    "Launching code for the Hall configuration detection test", "Running the test"};

// The Hall states a working sensor set goes through in a pole pair.
constexpr int kSectors = 6;
// Hall configurations that exist: the sequences 2 to 13.
constexpr int kFirstConfiguration = 2;
constexpr int kPastLastConfiguration = 14;

// The routine's electrical angle "THTST" (a turn in 65536) in radians. This test shows it 3000
// counts (16.5 electrical degrees) further on than the encoder resolution test does.
constexpr double kRadPerAngleCount = 9.587379924285257e-05;  // 2 pi / 65536
constexpr double kAngleOffset = 19384.0;

// Both levels of an input seen.
constexpr int kLowAndHigh = 3;

}  // namespace

const char* const CTestHallSignals::kFailureText =
    "No transitions detected on one or more HALL signals. Check HALL sensor connectors and power "
    "supply.";
const char* const CTestHallSignals::kTransitionsText =
    "The test did not detect all three HALL transitions.";

const char* const CTestHallConfiguration::kFailureText =
    "No valid combination was detected. Possibly, Hall signal(s) non functional.\nPlease do the "
    "Hall signals connection test. If the Hall signals connection test is OK, increase the test "
    "current and repeat the test.";

// --- CTestHallSignals ----------------------------------------------------------------------------

CTestHallSignals::CTestHallSignals(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CSensorTestDlg(setup, kTemplate, parent) {
  continuous_run_ = 1;
  step_count_ = 3;
}

int CTestHallSignals::OnInitDialog() {
  AttachDiagrams(false);
  LoadImage(main_, kSignalsRoutine);
  return CMyTestDlg::OnInitDialog();
}

void CTestHallSignals::DoDataExchange() {
  CMyTestDlg::DoDataExchange();
  const int edits[] = {kHall1Edit, kHall2Edit, kHall3Edit};
  for (int input = 0; input < 3; ++input) SetChildText(edits[input], verdicts_[input].c_str());
}

int CTestHallSignals::BeginTest() {
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  for (int input = 0; input < 3; ++input) {
    verdicts_[input].clear();
    levels_[input] = 0;
  }
  DoDataExchange();
  ResetSensorDisplay();
  SetChildText(kHallsEdit, "");
  SetInfoText(kSignalsStatus[0]);
  if (!Launch(kSignalsRoutine, main_) || !RearmTimer()) return 0;
  SetInfoText(kSignalsStatus[1]);
  return 1;
}

void CTestHallSignals::OnPoll() {
  if (step_index_ != 2) {
    TestFailed(1);
    return;
  }
  if (CheckDriveFaults(1, kestrel::kShortCircuitMask) == 0) return;
  long position = 0, hall = 0;
  if (!ReadCount("APOS", position) || !ReadCount("HALL", hall)) return;
  ShowPosition(position);
  if (ShowHall(static_cast<int>(hall)) && FindHallState(static_cast<int>(hall)) != nullptr) {
    // Hall1 is bit 2 of the state, Hall3 bit 0: each input seen at the level its bit has.
    for (int input = 0; input < 3; ++input)
      levels_[input] |= ((hall >> (2 - input)) & 1) != 0 ? 2 : 1;
  }
  RearmTimer();
}

void CTestHallSignals::OnStopPressed() {
  double sectors = 0.0, bad = 0.0;
  if (!ReadDriveVariable("var_i2", true, sectors) || !ReadResult(main_, "bad", bad)) return;
  bool all_ok = true;
  for (int input = 0; input < 3; ++input) {
    verdicts_[input] = levels_[input] == kLowAndHigh ? "OK" : "Bad";
    all_ok = all_ok && levels_[input] == kLowAndHigh;
  }
  DoDataExchange();
  if (bad != 0.0 || sectors != kSectors) {
    Fail(kFailureText);
    return;
  }
  if (!all_ok) {
    Fail(kTransitionsText);
    return;
  }
  PassAndEndRoutine(kSignalsStatus[2]);
}

// --- CTestHallConfiguration ----------------------------------------------------------------------

CTestHallConfiguration::CTestHallConfiguration(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CSensorTestDlg(setup, kTemplate, parent) {
  step_count_ = 4;
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
}

int CTestHallConfiguration::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  AttachDiagrams(true);
  LoadImage(main_, kConfigurationRoutine);
  LoadImage(preliminary_, kestrel::kPreliminaryRoutine);
  return 1;
}

void CTestHallConfiguration::DoDataExchange() {
  CMyTestDlg::DoDataExchange();
  SetChildText(kPositionEdit, std::to_string(position_).c_str());
  SetChildText(kConfigurationEdit, configuration_text_.c_str());
}

int CTestHallConfiguration::BeginTest() {
  if (!CurrentCounts("TestCurrent", test_current_counts_)) return 0;
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  SetChildText(kHallsEdit, "");
  ResetSensorDisplay();
  phase_.SetTheta(0.0);
  position_ = 0;
  configuration_text_.clear();
  DoDataExchange();
  SetInfoText(kConfigurationStatus[0]);
  return StartPreliminary(preliminary_, test_current_counts_, kConfigurationStatus[1]) ? 1 : 0;
}

void CTestHallConfiguration::OnPoll() {
  switch (step_index_) {
    case 2:
      if (!PreliminaryFinished(preliminary_, reftst_, &rinctst_, CurrentBack::kNotZero)) return;
      SetInfoText(kConfigurationStatus[2]);
      [[fallthrough]];
    case 3:
      if (!WriteInputs(main_, {{"In1", static_cast<double>(test_current_counts_)},
                               {"RefTest", reftst_},
                               {"RIncTest", rinctst_}}) ||
          !Launch(kConfigurationRoutine, main_))
        return;
      SetInfoText(kConfigurationStatus[3]);
      RearmTimer();
      return;
    case 4:
      Follow();
      return;
    default:
      TestFailed(1);
  }
}

// While the field turns, every Hall state met stays marked.
void CTestHallConfiguration::Follow() {
  double started = 0.0;
  std::string error;
  if (GetUserVariableValue(&main_, "STARTED", started, error) == 0) {
    TestFailed(1);
    return;
  }
  if (started == 0.0) {
    if (CheckDriveFaults(1, kestrel::kShortCircuitEnableMask) != 0) RearmTimer();
    return;
  }
  int on = 0;
  double hall = 0.0;
  if (GetAxisOn(on) == 0) {
    TestFailed(1);
    return;
  }
  if (!ReadResult(main_, "H123", hall)) return;
  ShowHall(kestrel::Trunc(hall), false);
  if (on != 0) {
    RearmTimer();
    return;
  }
  Judge();
}

void CTestHallConfiguration::Judge() {
  if (CheckDriveFaults(1, kestrel::kShortCircuitEnableMask) == 0) return;
  long position = 0, configuration = 0;
  double angle = 0.0;
  if (!ReadCount("APOS", position) || !ReadDriveVariable("THTST", true, angle) ||
      !ReadCount("HALLCASE", configuration))
    return;
  configuration_ = static_cast<int>(configuration);
  configuration_text_ = std::to_string(configuration_);
  position_ = position;
  DoDataExchange();
  encoder_.SetPosition(position);
  phase_.SetTheta((kestrel::Trunc(angle) + kAngleOffset) * kRadPerAngleCount);
  if (configuration < kFirstConfiguration || configuration >= kPastLastConfiguration) {
    Fail(kFailureText);
    return;
  }
  double shift = 0.0;
  if (!ReadResult(main_, "delta_el_pos", shift)) return;
  shift_ = kestrel::Trunc(shift);
  TestSucceeded(1);
}

void CTestHallConfiguration::OnCancel() {
  CMC_Parameter* configuration = kestrel::FindOptional(setup_, "HALLCASE");
  CMC_Parameter* shift = kestrel::FindOptional(setup_, "HALL30");
  if (result_ != 1 || configuration == nullptr || shift == nullptr) {
    CSensorTestDlg::OnCancel();
    return;
  }
  const int old_configuration = kestrel::Trunc(configuration->GetValueInBaseUnit());
  const int old_shift = kestrel::Trunc(shift->GetValueInBaseUnit());
  if (old_configuration == configuration_ && old_shift == shift_) {
    CSensorTestDlg::OnCancel();
    return;
  }
  switch (AskToKeepValues(
      {{"Hall configuration", std::to_string(old_configuration), std::to_string(configuration_)},
       {"Hall sensors shift", std::to_string(old_shift), std::to_string(shift_)}})) {
    case axis::kIdYes:
      configuration->SetValueInBaseUnit(configuration_);
      shift->SetValueInBaseUnit(shift_);
      EndDialog(axis::kIdOk);
      return;
    case axis::kIdNo:
      EndDialog(axis::kIdCancel);  // the setup was never changed
      return;
    default:  // Cancel: the dialog stays open
      return;
  }
}
