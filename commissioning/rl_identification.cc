#include "commissioning/rl_identification.h"

#include <cmath>
#include <numbers>
#include <vector>

#include "conversions/calculator.h"
#include "conversions/periods.h"
#include "conversions/scales.h"
#include "host/number_text.h"

namespace {

constexpr const char* kResistanceRoutine = "Ident_R_or_Rs";
constexpr const char* kInductanceRoutine = "Ident_L_or_Tau_el";
constexpr const char* kStatus[] = {"Launching code for preliminary test (1)",
                                   "Waiting preliminary test to be finished (1)",
                                   "Launching code for R test (1)",
                                   "Waiting R test to be finished (1)",
                                   "Launching code for preliminary test (2)",
                                   "Waiting preliminary test to be finished (2)",
                                   "Launching code for R test (2)",
                                   "Waiting R test to be finished (2)",
                                   "Launching code for L test",
                                   "Waiting L test to be finished"};
constexpr int kLogPoints = 400;
// The angle increment of the inductance run counts 65535 steps a period.
constexpr double kAngleStepsPerPeriod = 65535.0;

constexpr const char* kNoRecord =
    "The drive recorded no current during the test: the motor current could not be measured.";
constexpr const char* kSameCurrents =
    "Both current levels gave the same measured current, so the resistance cannot be computed. "
    "Check the motor connections and increase the test current.";
constexpr const char* kNoResistance =
    "The measured resistance is not positive. Check the motor connections and the test current.";
constexpr const char* kNoInductance =
    "The inductance cannot be computed from the current's answer: no current turned with the "
    "applied voltage, or the drive gave no frequency. Check the motor connections and the test "
    "current.";

// The running mean of the record's values: the first point sets it and every further point k
// (1, 2, ...) makes it ((k - 1) x mean + x) / k, so that with two points or more it is the mean
// of all but the first, which the drive takes before the current has settled.
class RunningMean {
 public:
  void Add(double x) {
    if (!started_) {
      mean_ = x;
      started_ = true;
      return;
    }
    ++further_;
    mean_ = ((further_ - 1) * mean_ + x) / further_;
  }
  double Value() const { return mean_; }
  bool Empty() const { return !started_; }

 private:
  bool started_ = false;
  double further_ = 0.0;
  double mean_ = 0.0;
};

}  // namespace

CTestRL::CTestRL(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CMyTestDlg(setup, kTemplate, 1, parent) {
  step_count_ = 10;
  AddParameterControls("R", kResistanceEdit, kResistanceUnit);
  AddParameterControls("L", kInductanceEdit, kInductanceUnit);
  AddParameterControls("TestCurrent", kTestCurrentEdit, kTestCurrentUnit);
  logger_ = std::make_unique<CMC_SingleAxisLogger>(setup_, nullptr);
  // What the destructor puts back should the dialog never open (OnInitDialog saves it again).
  if (const CMC_Parameter* vdc = kestrel::FindOptional(setup_, "Vdc"))
    saved_vdc_V_ = vdc->GetValueInBaseUnit();
}

CTestRL::~CTestRL() { RestoreVdc(); }

void CTestRL::RestoreVdc() {
  if (CMC_Parameter* vdc = kestrel::FindOptional(setup_, "Vdc"))
    vdc->SetValueInBaseUnit(saved_vdc_V_);
}

int CTestRL::OnInitDialog() {
  const auto value = [&](const char* name) {
    const CMC_Parameter* p = kestrel::FindOptional(setup_, name);
    return p == nullptr ? 0.0 : p->GetValueInBaseUnit();
  };
  saved_vdc_V_ = value("Vdc");
  saved_r_Ohm_ = value("R");
  saved_l_H_ = value("L");
  LoadImage(preliminary_, kestrel::kPreliminaryRoutine);
  LoadImage(resistance_, kResistanceRoutine);
  LoadImage(inductance_, kInductanceRoutine);
  return CMyTestDlg::OnInitDialog();
}

int CTestRL::BeginTest() {
  for (int id : {kResistanceEdit, kInductanceEdit, kResistanceUnit, kInductanceUnit})
    SetChildText(id, "");
  if (!CurrentCounts("TestCurrent", test_current_counts_)) {
    RefreshAllParameters();
    return 0;
  }
  running_flag_ = 1;
  result_ = -1;
  step_index_ = 0;
  SetInfoText(kStatus[0]);
  return StartPreliminary(preliminary_, test_current_counts_, kStatus[1]) ? 1 : 0;
}

void CTestRL::SetUpLogger(int log_type, std::initializer_list<const char*> variables) {
  logger_->ChangeSettings(kLogPoints, log_type, 1);
  for (const char* name : variables) logger_->AddVariable(name, 0);
  logger_->CorrectPointsNo();
}

bool CTestRL::LaunchResistanceRun(int current_counts, int log_type) {
  if (!WriteInputs(resistance_, {{"RefTest", reftst_},
                                 {"RIncTest", rinctst_},
                                 {"In1", static_cast<double>(current_counts)}}))
    return false;
  SetUpLogger(log_type, {"IQ"});
  if (!Launch(kResistanceRoutine, resistance_, logger_.get())) return false;
  SetInfoText(kStatus[step_index_]);
  return RearmTimer();
}

bool CTestRL::UploadMeans(double& mean_iq, double* mean_id, double* mean_square) {
  if (logger_->BeginUploadData() == 0) {
    Fail(logger_->RecordEmpty() ? kNoRecord : CommErrorText());
    return false;
  }
  std::vector<double> point(static_cast<size_t>(logger_->GetValuesPerPoint()));
  RunningMean iq, id, square;
  while (logger_->ReadPoint(point.data()) != 0) {
    iq.Add(point[1]);
    if (mean_id != nullptr && point.size() > 2) {
      id.Add(point[2]);
      square.Add(point[1] * point[1] + point[2] * point[2]);
    }
  }
  logger_->EndUploadData();
  if (iq.Empty()) {
    Fail(kNoRecord);
    return false;
  }
  mean_iq = iq.Value();
  if (mean_id != nullptr) *mean_id = id.Value();
  if (mean_square != nullptr) *mean_square = square.Value();
  return true;
}

void CTestRL::OnPoll() {
  constexpr unsigned kMask = kestrel::kShortCircuitEnableMask;
  switch (step_index_) {
    case 2:
      if (!PreliminaryFinished(preliminary_, reftst_, &rinctst_)) return;
      SetInfoText(kStatus[2]);
      [[fallthrough]];
    case 3:
      LaunchResistanceRun(test_current_counts_, 1);
      return;
    case 4:
      if (PollRoutine(resistance_, kMask) != Routine::kFinished ||
          !ReadDriveVariable("var_i1", true, u1_) || !UploadMeans(i1_, nullptr, nullptr))
        return;
      SetInfoText(kStatus[4]);
      [[fallthrough]];
    case 5:
      if (!WriteInputs(preliminary_, {{"In1", static_cast<double>(test_current_counts_ / 2)}}) ||
          !Launch(kestrel::kPreliminaryRoutine, preliminary_))
        return;
      SetInfoText(kStatus[5]);
      RearmTimer();
      return;
    case 6:
      if (!PreliminaryFinished(preliminary_, reftst_, &rinctst_)) return;
      SetInfoText(kStatus[6]);
      [[fallthrough]];
    case 7:
      LaunchResistanceRun(test_current_counts_ / 2, 2);
      return;
    case 8:
      if (PollRoutine(resistance_, kMask) != Routine::kFinished) return;
      AnalyseResistance();
      if (running_flag_ == 0) return;
      SetInfoText(kStatus[8]);
      [[fallthrough]];
    case 9:
      if (!WriteInputs(inductance_, {{"In1", static_cast<double>(test_current_counts_)}})) return;
      SetUpLogger(2, {"IQ", "ID"});
      if (!Launch(kInductanceRoutine, inductance_, logger_.get())) return;
      SetInfoText(kStatus[9]);
      RearmTimer();
      return;
    case 10:
      if (PollRoutine(inductance_, kMask) == Routine::kFinished) AnalyseInductance();
      return;
    default:
      TestFailed(1);
  }
}

// The voltages of the two runs are read as the drive holds them (internal units): "var_i1" in
// voltage-command counts, "var_u2" in DC-bus ADC counts.
void CTestRL::AnalyseResistance() {
  double u2 = 0.0, bus_counts = 0.0, i2 = 0.0;
  if (!ReadDriveVariable("var_i1", true, u2) || !ReadDriveVariable("var_u2", true, bus_counts) ||
      !UploadMeans(i2, nullptr, nullptr))
    return;
  CMC_Parameter* vdc = kestrel::FindOptional(setup_, "Vdc");
  double bus_counts_per_V = 0.0;
  if (vdc == nullptr || !kestrel::VdcScale(setup_, bus_counts_per_V) || !(bus_counts_per_V > 0.0)) {
    Fail(msc_pszErrInternal);
    return;
  }
  // From here on the voltage scale uses the DC bus as measured.
  vdc->SetValueInBaseUnit(bus_counts / bus_counts_per_V);
  double counts_per_A = 0.0, counts_per_V = 0.0;
  if (!kestrel::CurrentScale(setup_, counts_per_A) ||
      !kestrel::VoltageScale(setup_, counts_per_V)) {
    Fail(msc_pszErrInternal);
    return;
  }
  if (i1_ == i2) {
    Fail(kSameCurrents);
    return;
  }
  r_Ohm_ = ((u1_ - u2) / (i1_ - i2)) * counts_per_A / counts_per_V;
  if (!(r_Ohm_ > 0.0) || !std::isfinite(r_Ohm_)) Fail(kNoResistance);
}

void CTestRL::AnalyseInductance() {
  double amplitude = 0.0, angle_step = 0.0, mean_iq = 0.0, mean_id = 0.0, mean_square = 0.0;
  if (!ReadDriveVariable("var_i1", true, amplitude) ||
      !ReadDriveVariable("TINCTST", true, angle_step) ||
      !UploadMeans(mean_iq, &mean_id, &mean_square))
    return;
  double ts_c_s = 0.0, counts_per_A = 0.0, counts_per_V = 0.0;
  if (!kestrel::Ts_C(setup_, ts_c_s) || !kestrel::CurrentScale(setup_, counts_per_A) ||
      !kestrel::VoltageScale(setup_, counts_per_V)) {
    Fail(msc_pszErrInternal);
    return;
  }
  const double omega = 2.0 * std::numbers::pi * angle_step / (kAngleStepsPerPeriod * ts_c_s);
  if (!(omega > 0.0) || !(mean_square > 0.0)) {
    Fail(kNoInductance);
    return;
  }
  l_H_ = amplitude * mean_id * counts_per_A / (omega * mean_square * counts_per_V);
  if (!(l_H_ > 0.0) || !std::isfinite(l_H_)) {
    Fail(kNoInductance);
    return;
  }
  // A delta winding was measured as its equivalent star: a third of a branch.
  const CMC_Parameter* connection = kestrel::FindOptional(setup_, "MotorPhaseConnectionType");
  if (connection != nullptr && connection->GetValueInBaseUnit() == 1.0) {
    r_Ohm_ *= 3.0;
    l_H_ *= 3.0;
  }
  CMC_Parameter* l = kestrel::FindOptional(setup_, "L");
  CMC_Parameter* r = kestrel::FindOptional(setup_, "R");
  if (l == nullptr || r == nullptr) {
    Fail(msc_pszErrInternal);
    return;
  }
  l->SetValueInBaseUnit(l_H_);
  l_H_ = l->GetValueInBaseUnit();
  r->SetValueInBaseUnit(r_Ohm_);
  r_Ohm_ = r->GetValueInBaseUnit();
  RefreshParameterControls("R");
  RefreshParameterControls("L");
  TestSucceeded(1);
}

void CTestRL::OnCancel() {
  RestoreVdc();
  std::vector<kestrel::ChangedValue> changed;
  if (saved_r_Ohm_ != r_Ohm_)
    changed.push_back(
        {"Phase resistance", axis::FormatNumber(saved_r_Ohm_, 6), axis::FormatNumber(r_Ohm_, 6)});
  if (saved_l_H_ != l_H_)
    changed.push_back(
        {"Phase inductance", axis::FormatNumber(saved_l_H_, 6), axis::FormatNumber(l_H_, 6)});
  switch (AskToKeepValues(changed)) {
    case axis::kIdYes:
      EndDialog(axis::kIdOk);
      return;
    case axis::kIdCancel:
      return;
    case axis::kIdNo:
      setup_.SetParameterValueInBaseUnit("R", saved_r_Ohm_);
      setup_.SetParameterValueInBaseUnit("L", saved_l_H_);
      break;
    default:
      break;
  }
  CMyTestDlg::OnCancel();
}
