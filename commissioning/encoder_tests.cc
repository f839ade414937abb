#include "commissioning/encoder_tests.h"

#include <cmath>
#include <string>

#include "conversions/calculator.h"
#include "conversions/configuration.h"

namespace {

constexpr const char* kConnectionsRoutine = "Encoder_Connection_Test";
constexpr const char* kConnectionsStatus[] = {"Launching code for test", "Running test",
                                              "Test finished"};

constexpr const char* kResolutionRoutine = "Encoder_Resolution_And_Direction_Test";
constexpr const char* kResolutionStatus[] = {
    "Launching code for the preliminary test",
    "Running preliminary test",
    "Launching code for the encoder resolution and direction test",
    "Waiting for the test to complete",
    "Processing test results",
    "Test finished"};

// The routine's electrical angle "THTST" (a turn in 65536) in radians, a quarter turn ahead.
constexpr double kRadPerAngleCount = 9.587379924285257e-05;  // 2 pi / 65536
constexpr double kAngleOffset = 16384.0;

// Fast enough for the counter to follow a hand; faster while the field turns.
constexpr unsigned kHandTickMs = 20;
constexpr unsigned kTurningTickMs = 10;

// Encoder pulses: the counter moved by more than a count or two of noise.
constexpr long kLeastMove = 2;

}  // namespace

const char* const CTestEncoderConnections::kFailureText =
    "No encoder pulses have been detected.\r\nCheck the encoder connection and power supply.";

const char* const CDetectEncoderResolution::kFailureText =
    "Check if during test the motor shaft is turning. If YES, the encoder connections or, motor "
    "phases are wrongly connected. Change the Reverse encoder counting checkbox or switch any two "
    "of the motor phase connections to the drive, or the A and B encoder channels. Otherwise, "
    "check the motor phase connections. If these are OK, try also to increase the test current.";

// --- CTestEncoderConnections ---------------------------------------------------------------------

CTestEncoderConnections::CTestEncoderConnections(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CSensorTestDlg(setup, kTemplate, parent) {
  continuous_run_ = 1;
  step_count_ = 3;
}

int CTestEncoderConnections::OnInitDialog() {
  CMyTestDlg::OnInitDialog();
  AttachDiagrams(false);
  LoadImage(main_, kConnectionsRoutine);
  SetChildText(kHallsEdit, "");
  SetChildText(kPositionEdit, "");
  return 1;
}

int CTestEncoderConnections::BeginTest() {
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  last_position_ = 0;
  ResetSensorDisplay();
  SetChildText(kHallsEdit, "");
  SetChildText(kPositionEdit, "");
  SetInfoText(kConnectionsStatus[0]);
  if (!Launch(kConnectionsRoutine, main_)) return 0;
  SetInfoText(kConnectionsStatus[1]);
  return RearmTimer(kHandTickMs) ? 1 : 0;
}

void CTestEncoderConnections::OnPoll() {
  if (step_index_ != 2) {
    TestFailed(1);
    return;
  }
  if (CheckDriveFaults(1, kestrel::kShortCircuitMask) == 0 || !ShowIndex()) return;
  long position = 0;
  if (!ReadCount("APOS", position)) return;
  ShowPosition(position);
  if (position != last_position_) {
    last_position_ = position;
    if (position > kLeastMove || position < -kLeastMove) pulses_seen_ = true;
  }
  long hall = 0;
  if (!ReadCount("HALL", hall)) return;
  ShowHall(static_cast<int>(hall));
  RearmTimer(kHandTickMs);
}

// Stop judges the run: pulses seen or not. The routine keeps the axis free until it is told to
// end, by "var_i2" = 1 (the power stage is switched off as the run ends in any case).
void CTestEncoderConnections::OnStopPressed() {
  if (!pulses_seen_) {
    Fail(kFailureText);
    return;
  }
  PassAndEndRoutine(kConnectionsStatus[2]);
}

// --- CDetectEncoderResolution --------------------------------------------------------------------

CDetectEncoderResolution::CDetectEncoderResolution(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CSensorTestDlg(setup, kTemplate, parent) {
  step_count_ = 6;
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
  if (HasReverseCounting()) AddCheckParameterControls("ReverseCounting", kReverseCounting);
  if (const CMC_Parameter* resolution = kestrel::FindOptional(setup_, "EncRes")) {
    resolution_ = resolution->DetachedCopy();
    AddUserParameterControls(*resolution_, kResolutionEdit, kResolutionUnit);
  }
}

CDetectEncoderResolution::~CDetectEncoderResolution() = default;

bool CDetectEncoderResolution::HasReverseCounting() {
  return kestrel::FindOptional(setup_, "ReverseCounting") != nullptr;
}

int CDetectEncoderResolution::OnInitDialog() {
  AttachDiagrams(true);
  LoadImage(main_, kResolutionRoutine);
  LoadImage(preliminary_, kestrel::kPreliminaryRoutine);
  CMyTestDlg::OnInitDialog();
  EnableChild(kReverseCounting, HasReverseCounting() ? 1 : 0);
  return 1;
}

double CDetectEncoderResolution::DetectedResolution() const { return detected_m_; }

int CDetectEncoderResolution::BeginTest() {
  SetChildText(kResolutionEdit, "");
  SetChildText(kHallsEdit, "");
  SetChildText(kPositionEdit, "");
  ResetSensorDisplay();
  phase_.SetTheta(0.0);
  if (!CurrentCounts("TestCurrent", test_current_counts_)) return 0;
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  SetInfoText(kResolutionStatus[0]);
  return StartPreliminary(preliminary_, test_current_counts_, kResolutionStatus[1]) ? 1 : 0;
}

void CDetectEncoderResolution::OnPoll() {
  // The box reaches the register with every tick; the drive gets it with the next launch, so a
  // routine that runs keeps counting the way it started.
  if (HasReverseCounting()) kestrel::EncodeCOUNTINGDIR(setup_);
  switch (step_index_) {
    case 2:
      if (!PreliminaryFinished(preliminary_, reftst_, nullptr, CurrentBack::kNotZero)) return;
      SetInfoText(kResolutionStatus[2]);
      [[fallthrough]];
    case 3:
      if (!WriteInputs(main_, {{"RefTest", reftst_}, {"PolesPairs", 1.0}}) ||
          !Launch(kResolutionRoutine, main_))
        return;
      reverse_at_launch_ =
          kestrel::Trunc(kestrel::OptionalValue(setup_, "ReverseCounting", 0.0)) != 0;
      SetInfoText(kResolutionStatus[3]);
      RearmTimer();
      return;
    case 4: {
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
      if (GetAxisOn(on) == 0) {
        Fail(msc_pszErrInternal);
        return;
      }
      if (on != 0) {
        LiveTick();
        return;
      }
      if (CheckDriveFaults(1, kestrel::kShortCircuitEnableMask) == 0) return;
      SetInfoText(kResolutionStatus[4]);
      RearmTimer();
      return;
    }
    case 5:
      SetInfoText(kResolutionStatus[5]);
      Judge();
      return;
    default:
      TestFailed(1);
  }
}

void CDetectEncoderResolution::LiveTick() {
  double hall = 0.0;
  if (!ReadResult(main_, "H123", hall) || !ShowIndex()) return;
  long count = 0;
  if (!ReadCount("var_lf_long", count)) return;
  ShowPosition(count);
  if (count != 0) pulses_seen_ = true;
  double thtst = 0.0;
  if (!ReadDriveVariable("THTST", true, thtst)) return;
  phase_.SetTheta((thtst + kAngleOffset) * kRadPerAngleCount);
  ShowHall(kestrel::Trunc(hall));
  RearmTimer(kTurningTickMs);
}

void CDetectEncoderResolution::Judge() {
  double counts = 0.0;  // over one pole pitch
  if (!ReadDriveVariable("var_lf_long", true, counts)) return;
  if (counts != 0.0)
    detected_direction_ = counts > 0.0 ? reverse_at_launch_ : 1 - reverse_at_launch_;
  if (!(counts > 0.0)) {
    Fail(kFailureText);
    return;
  }
  if (resolution_ != nullptr) {
    const double resolution_m = kestrel::OptionalValue(setup_, "PolePitch") / counts;
    if (!std::isfinite(resolution_m)) {  // a setup without a pole pitch
      Fail(msc_pszErrInternal);
      return;
    }
    resolution_->SetValueInBaseUnit(resolution_m);
    detected_m_ = resolution_->GetValueInBaseUnit();
    RefreshParameterControls("EncRes");
  }
  TestSucceeded(1);
}

void CDetectEncoderResolution::OnCancel() {
  CMC_Parameter* resolution = kestrel::FindOptional(setup_, "EncRes");
  if (result_ != 1 || resolution == nullptr || resolution_ == nullptr) {
    CSensorTestDlg::OnCancel();
    return;
  }
  resolution->ChangeUnit(resolution_->GetUnitName());
  const std::string old_text = resolution->PrintValue() + " [" + resolution->GetUnitName() + "]";
  const std::string new_text = resolution_->PrintValue() + " [" + resolution_->GetUnitName() + "]";
  if (new_text != old_text) {
    switch (AskToKeepValues(
        {{"Encoder resolution", old_text, new_text}},
        "A different value than specified has been detected for the following parameter:")) {
      case axis::kIdCancel:
        return;
      case axis::kIdYes:
        resolution->SetValueInBaseUnit(resolution_->GetValueInBaseUnit());
        break;
      default:  // No: the setup keeps its value
        break;
    }
  }
  EndDialog(axis::kIdOk);
}
