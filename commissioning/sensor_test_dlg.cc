#include "commissioning/sensor_test_dlg.h"

#include <cmath>
#include <cstdint>
#include <string>

#include "conversions/calculator.h"
#include "host/numeric.h"

namespace {

constexpr CSensorTestDlg::HallState kHallStates[] = {
    {1, "001", 0}, {3, "011", 1}, {2, "010", 2}, {6, "110", 3}, {4, "100", 4}, {5, "101", 5},
};

// Hall diagram slice states.
constexpr int kVisited = 1;
constexpr int kPresent = 2;

}  // namespace

const CSensorTestDlg::HallState* CSensorTestDlg::FindHallState(int value) {
  for (const HallState& state : kHallStates) {
    if (state.value == value) return &state;
  }
  return nullptr;
}

CSensorTestDlg::CSensorTestDlg(CMC_Setup& setup, int template_id, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, template_id, 0, parent) {}

// The diagrams are members: they leave their controls before they are destroyed, ahead of the
// dialog base.
CSensorTestDlg::~CSensorTestDlg() {
  for (int id : {kEncoderDiagram, kPhaseDiagram, kHallDiagram}) AttachCustom(id, nullptr);
}

void CSensorTestDlg::AttachDiagrams(bool phase_enabled) {
  AttachCustom(kEncoderDiagram, &encoder_);
  AttachCustom(kHallDiagram, &hall_);
  AttachCustom(kPhaseDiagram, &phase_);
  encoder_.EnableDiagram();
  hall_.EnableDiagram();
  if (phase_enabled) {
    phase_.EnableDiagram();
  } else {
    phase_.DisableDiagram();
  }
}

long CSensorTestDlg::CountsPerPolePitch() {
  const CMC_Parameter* pitch = kestrel::FindOptional(setup_, "PolePitch");
  const CMC_Parameter* resolution = kestrel::FindOptional(setup_, "EncRes");
  if (pitch == nullptr || resolution == nullptr) return 0;
  const double counts = pitch->GetValueInInternalUnit() / resolution->GetValueInInternalUnit();
  if (!(std::fabs(counts) < 2147483648.0)) return 0;  // also NaN and a division by zero
  return static_cast<long>(std::trunc(counts));
}

void CSensorTestDlg::ResetSensorDisplay() {
  const long n = CountsPerPolePitch();
  encoder_.SetLimits(-n, n);
  encoder_.SetPosition(0);
  hall_.ResetDiagramStatus();
  hall_.RepaintDiagram();
  last_hall_.reset();
  pulses_seen_ = false;
  capture_armed_ = false;
}

bool CSensorTestDlg::ShowHall(int value, bool demote) {
  if (last_hall_ == value) return false;
  last_hall_ = value;
  if (demote) {
    for (int i = 0; i < hall_.GetSliceNumber(); ++i) {
      if (hall_.GetSliceStatus(i) == kPresent) hall_.SetSliceStatus(i, kVisited);
    }
  }
  if (const HallState* state = FindHallState(value)) {
    SetChildText(kHallsEdit, state->text);
    hall_.SetSliceStatus(state->slice, kPresent);
  }
  hall_.RepaintDiagram();
  return true;
}

void CSensorTestDlg::ShowPosition(long position) {
  SetChildText(kPositionEdit, std::to_string(position).c_str());
  encoder_.SetPosition(position);
}

bool CSensorTestDlg::ReadCount(const char* name, long& count) {
  double value = 0.0;
  if (!ReadDriveVariable(name, true, value)) return false;
  count = static_cast<long>(axis::TruncToInt64(value));
  return true;
}

bool CSensorTestDlg::ShowIndex() {
  if (pulses_seen_ && !capture_armed_) {
    capture_armed_ = true;
    // Arms the capture of the encoder's index position on the drive's first capture input.
    if (setup_.ExecuteString("!CAP;ENCAPI1;", 0, nullptr) == 0) {
      Fail(CommErrorText());
      return false;
    }
  }
  long index = 0;
  if (!ReadCount("CAPPOS", index)) return false;
  SetChildText(kIndexEdit, index == 0 ? "not detected" : std::to_string(index).c_str());
  return true;
}

void CSensorTestDlg::OnCommand(int id) {
  if (id == kStartStop && running_flag_ != 0 && continuous_run_ != 0) {
    KillTimer(kPollTimer);
    OnStopPressed();
    return;
  }
  CMyTestDlg::OnCommand(id);
}

void CSensorTestDlg::PassAndEndRoutine(const char* finished) {
  SetInfoText(finished);
  TestSucceeded(1);
  CMC_Variable* end = setup_.FindVariable("var_i2", 1);
  if (end == nullptr) {
    Fail(msc_pszErrInternal);
    return;
  }
  end->SetValueInInternalUnit(1.0);
  if (end->WriteToChip() == 0) Fail(CommErrorText());
}
