#include "commissioning/tuning_test.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "commissioning/mass_test.h"
#include "commissioning/tuning_profile.h"
#include "conversions/calculator.h"
#include "conversions/configuration.h"
#include "conversions/gains.h"
#include "conversions/motion_units.h"
#include "conversions/periods.h"
#include "conversions/scales.h"
#include "editor/filters_dialog.h"
#include "editor/mass_question.h"
#include "host/number_text.h"
#include "host/numeric.h"
#include "host/platform.h"
#include "host/text.h"
#include "passes/passes.h"
#include "tuning/biquad.h"
#include "tuning/tuning_service.h"

namespace {

using Dlg = CTuningTestDlg;

constexpr const char* kStatus[] = {"Launching the application for preliminary test",
                                   "Waiting preliminary test to be finished",
                                   "Launching the application for test",
                                   "Running test",
                                   "Uploading results",
                                   "Test running. Press \"Stop\" to end the test"};
constexpr int kUploadingStatus = 4;
constexpr int kRunningContinuouslyStatus = 5;
constexpr unsigned kLiveFaultMask = 0xFFDF;  // every fault but the missing Hall sensor
constexpr unsigned kScopePollMs = 1;
constexpr unsigned kLivePollMs = 1;
constexpr int kDataLoggerPoints = 2000;

#define KESTREL_PROCEDURE(what)                                                                 \
  "1. Check/setup the test current limits and " what                                            \
  " profile below\r\n2. Go to the \"Test\" tab and press the \"Tune\" button\r\n3. "            \
  "Check/identify the total mass, then set the desired passband and tune the controller\r\n4. " \
  "Press the \"Start\" button\r\n5. Wait until the test begins and displays the results\r\n6. " \
  "If needed, change the controller parameters during the test, until you get satisfactory "    \
  "results"

const Dlg::Names kSpeedNames = {
    .loop = kestrel::TunedLoop::kSpeed,
    .template_id = CTestSpeedTuning::kTemplate,
    .help_context = 0x40102,
    .final_value = "TestSpeed",
    .final_edit = 1320,
    .final_unit = 1321,
    .tp = "TPS",
    .tn = "TNS",
    .tap = "TaPS",
    .tan = "TaNS",
    .type = "SpeedTestReferenceType",
    .multi_cycle = "MultiCycleS",
    .online_plot = "OnlinePlotS",
    .kp = "Kp_S_scl",
    .ki = "Ki_S_scl",
    .ipsat = "IPSatS",
    .pass_band = "PB_S",
    .osc_settings = "SpeedTuningOscSettings",
    .plot_name = "SpeedTuning",
    .identify = CTestSpeedTuning::kIdentify,
    .readouts = {1363, 1364, 1365, 1366},
    .procedure = KESTREL_PROCEDURE("speed"),
    .limit_picture = "308",
    .limit_picture_0 = "311",
};

const Dlg::Names kPositionNames = {
    .loop = kestrel::TunedLoop::kPosition,
    .template_id = CTestPositionTuning::kTemplate,
    .help_context = 0x40103,
    .final_value = "TestPosition",
    .final_edit = 1501,
    .final_unit = 1502,
    .tp = "TPP",
    .tn = "TNP",
    .tap = "TaPP",
    .tan = "TaNP",
    .type = "PositionTestReferenceType",
    .multi_cycle = "MultiCycleP",
    .online_plot = "OnlinePlotP",
    .kp = "Kp_P_scl",
    .ki = "Ki_P_scl",
    .ipsat = "IPSatP",
    .pass_band = "PB_P",
    .osc_settings = "PositionTuningOscSettings",
    .plot_name = "PositionTuning",
    .identify = CTestPositionTuning::kIdentify,
    .readouts = {1517, 1518, 1519, 1520},
    .procedure = KESTREL_PROCEDURE("position"),
    .limit_picture = "309",
    .limit_picture_0 = "310",
};
#undef KESTREL_PROCEDURE

// The test whose handler receives the drive's unsolicited messages.
CTuningTestDlg* g_frame_receiver = nullptr;

constexpr int kGainControls[] = {Dlg::kKpEdit,     Dlg::kKpLower,    Dlg::kKpSlider,
                                 Dlg::kKpUpper,    Dlg::kKiEdit,     Dlg::kKiLower,
                                 Dlg::kKiSlider,   Dlg::kKiUpper,    Dlg::kIPSatEdit,
                                 Dlg::kIPSatUnit,  Dlg::kIPSatLower, Dlg::kIPSatSlider,
                                 Dlg::kIPSatUpper, Dlg::kKffaEdit,   Dlg::kKffaLower,
                                 Dlg::kKffaSlider, Dlg::kKffaUpper,  0};
constexpr int kPositionGainControls[] = {CTestPositionTuning::kKdEdit,
                                         CTestPositionTuning::kKdLower,
                                         CTestPositionTuning::kKdSlider,
                                         CTestPositionTuning::kKdUpper,
                                         Dlg::kKffsEdit,
                                         Dlg::kKffsLower,
                                         Dlg::kKffsSlider,
                                         Dlg::kKffsUpper,
                                         0};
constexpr int kRatioControls[] = {Dlg::kRatioLabel,  Dlg::kRatioEdit,  Dlg::kRatioLower,
                                  Dlg::kRatioSlider, Dlg::kRatioUpper, 0};
constexpr int kStartCurrentControls[] = {Dlg::kStartLabel, Dlg::kStartEdit, Dlg::kStartUnit, 0};
constexpr int kTypeControls[] = {Dlg::kTypeLabel, Dlg::kTypeFirst, Dlg::kTypeFirst + 1,
                                 Dlg::kTypeLast, 0};
constexpr int kFeedForward[] = {1350, 1351, 1352, 1353, 1354, 1355,
                                1356, 1357, 1358, 1359, 1360, 0};
constexpr int kSpeedFeedForward[] = {1351, 1352, 1353, 1354, 1355, 0};
constexpr int kAccelerationFeedForward[] = {1356, 1357, 1358, 1359, 1360, 0};

int16_t Int16Of(double internal) {
  // The routine takes the commutation reference as a 16-bit number, rounded in single precision.
  const int rounded = TG_Round(static_cast<float>(internal));
  return static_cast<int16_t>(std::clamp(rounded, -32768, 32767));
}

}  // namespace

const char* const CTuningTestDlg::kProtectionTripped =
    "Test failed!\nCurrent protection triggered during test!";
const char* const CTuningTestDlg::kLimitNotBelowProtection =
    "Over current protection must be greater than Drive current limit. Recommended value for "
    "Drive current limit is maximum 90% of Over current protection.";
const char* const CTuningTestDlg::kTotalBelowMotorMass =
    "You have chosen a value for the total mass that is lower than the value of the motor "
    "mass.\nThe application will assume the motor mass is unknown.";
const char* const CTuningTestDlg::kStartCurrentWarning =
    "You have set a start current bigger than the nominal current! The start current will be "
    "applied for %.2f s.\n\nThe motor must withstand this over current condition or it may be "
    "damaged.";
const char* const CTuningTestDlg::kNoMotorMass =
    "The motor mass is zero, so the load to motor mass ratio cannot be computed. Set the motor "
    "mass in the motor setup, or mark it as unknown.";

// --- construction --------------------------------------------------------------------------------

CTuningTestDlg::CTuningTestDlg(CMC_Setup& setup, const Names& names, CMC_EditSetupDlg* parent)
    : CPlotTestDlg(setup, names.template_id, parent), names_(names) {
  step_count_ = Flag(names_.online_plot) != 0 ? 4 : 5;
  has_type_ = kestrel::FindOptional(setup_, "SpeedTestReferenceType") != nullptr;
  const double scale = names_.loop == kestrel::TunedLoop::kSpeed
                           ? kestrel::LoadSpeedScale(setup_)
                           : kestrel::LoadPositionScale(setup_);
  kestrel::QuantizeTestValue(kestrel::FindOptional(setup_, names_.final_value), scale);
  BindControls();
  logger_ = std::make_unique<CMC_SingleAxisLogger>(setup_, nullptr);
  if (axis::TruncToInt(std::atof(setup_.GetOptionNoError("hasOscilloscope").c_str())) != 0) {
    scope_ = std::make_unique<CMC_ScopeLogger>(setup_);
    if (CMC_Comm* comm = setup_.GetComm()) {
      previous_handler_ = comm->RegisterReceiveUnsolicitedMsgHandler(&OnUnsolicitedMessage);
      handler_registered_ = true;
    }
    g_frame_receiver = this;
  }
}

CTuningTestDlg::~CTuningTestDlg() {
  if (handler_registered_) {
    if (CMC_Comm* comm = setup_.GetComm())
      comm->RegisterReceiveUnsolicitedMsgHandler(previous_handler_);
  }
  if (g_frame_receiver == this) g_frame_receiver = nullptr;
  AttachCustom(kOscilloscope, nullptr);
}

void CTuningTestDlg::BindControls() {
  AddParameterControls("TestProtectionCurrent", kProtectionEdit, kProtectionUnit);
  AddParameterControls("TestLimitCurrent", kLimitEdit, kLimitUnit);
  AddParameterControls("TestStartCurrent", kStartEdit, kStartUnit);
  AddParameterControls(names_.final_value, names_.final_edit, names_.final_unit);
  AddParameterControls(names_.tp, kTpEdit, kTpUnit);
  AddParameterControls(names_.tn, kTnEdit, kTnUnit);
  AddParameterControls(names_.tap, kTapEdit, kTapUnit);
  AddParameterControls(names_.tan, kTanEdit, kTanUnit);
  AddCheckParameterControls(names_.multi_cycle, kMultiCycle);
  if (has_type_) AddSwitchParameterControls(names_.type, kTypeFirst, kTypeLast);
  AddSwitchParameterControls(names_.online_plot, kDataLogger, kOnlinePlot);
  AddGainSlider(names_.kp, kKpSlider, kKpEdit, 0, kKpLower, kKpUpper);
  AddGainSlider(names_.ki, kKiSlider, kKiEdit, 0, kKiLower, kKiUpper);
  AddGainSlider(names_.ipsat, kIPSatSlider, kIPSatEdit, kIPSatUnit, kIPSatLower, kIPSatUpper);
  AddGainSlider("KFFS_scl", kKffsSlider, kKffsEdit, 0, kKffsLower, kKffsUpper);
  AddGainSlider("KFFA_scl", kKffaSlider, kKffaEdit, 0, kKffaLower, kKffaUpper);
  AddGainSlider(names_.pass_band, kPassBandSlider, kPassBandEdit, kPassBandUnit, kPassBandLower,
                kPassBandUpper);
  AddGainSlider("Mload_over_M", kRatioSlider, kRatioEdit, 0, kRatioLower, kRatioUpper);
  AddParameterControls("Mt", kMassEdit, kMassUnit);
}

int CTuningTestDlg::OnInitDialog() {
  CPlotTestDlg::OnInitDialog();
  ShowPictures();
  LoadImage(preliminary_, kestrel::kPreliminaryRoutine);
  LoadImage(main_, main_label_.c_str());
  SetChildText(kProcedureText, names_.procedure);
  SetChildText(names_.readouts[1], "");
  SetChildText(names_.readouts[3], "");
  // The read-outs' legend: a dash in each trace's colour.
  SetChildText(kSwatchReference, "\x97\x97");
  SetChildText(kSwatchLoad, "\x97\x97");
  SetTextColour(kSwatchReference, static_cast<int>(RGB16(2)));
  SetTextColour(kSwatchLoad, static_cast<int>(RGB16(5)));
  SelectTab(kTabs, kParametersPage);
  SetupDataLoggerPlot();
  if (scope_) {
    SetChildText(kOnlinePlot, "Scope");
    customised_ = scope_->LoadSettingsFromSetupOption(names_.osc_settings) != 0;
    if (!customised_) SetupScopePlot();
    AttachScopeGraph();
  } else {
    oscilloscope_.SubclassDlgItem(kOscilloscope, this);
  }
  CheckMotorMass();
  RefreshAllParameters();
  EnableChild(kFilters, kestrel::FindOptional(setup_, "IQREF_BQ_INI") != nullptr);
  ShowTab(kParametersPage);
  return 1;
}

void CTuningTestDlg::ShowPictures() {
  SetButtonImage(kLimitPicture,
                 Flag("CommutationMethod") != 0 ? names_.limit_picture : names_.limit_picture_0);
  const int type = has_type_ ? Flag(names_.type) : 0;
  SetButtonImage(kProfilePicture, type == 1 ? "3067" : type == 2 ? "3066" : "296");
}

void CTuningTestDlg::CheckMotorMass() {
  if (Value("M") > Value("Mt") && !IsMotorMassUnknown()) {
    CMassQuestion question(setup_, this);
    question.DoModal();
  }
  // The ratio from the masses the question left: a raised total mass gives the small positive
  // ratio it stands for (the masses before it would give a negative one), and a motor mass the
  // user chose to disregard gives none.
  const double motor = Value("M");
  CMC_Parameter* ratio = kestrel::FindOptional(setup_, "Mload_over_M");
  if (ratio != nullptr && !IsMotorMassUnknown() && motor != 0.0)
    ratio->SetValueInBaseUnit((Value("Mt") - motor) / motor);
}

// --- plots ---------------------------------------------------------------------------------------

void CTuningTestDlg::SetupDataLoggerPlot() {
  logger_->ChangeSettings(kDataLoggerPoints, 1, 1);
  for (const char* channel : channels_) logger_->AddVariable(channel, 1);
  logger_->CorrectPointsNo();
  CGraphFilter& curves = *logger_->GetDocument().GetAt(0);
  curves.RemoveAllCurves();
  curves.Add(CXYCurve(0, 1, 1, RGB16(2), 2));  // the reference
  curves.Add(CXYCurve(0, 3, 2, RGB16(8), 2));  // the inner reference, on the right axis
  curves.Add(CXYCurve(0, 2, 1, RGB16(5), 2));  // the load's answer
  curves.Add(CXYCurve(0, 4, 2, RGB16(9), 2));  // the inner feedback
  logger_->LocateItems();
  plot_.SubclassDlgItem(kPlot, this, &curves);
  plot_.RefreshGraph();
}

void CTuningTestDlg::SetupScopePlot() {
  for (const char* channel : channels_) scope_->AddVariable(channel, 1);
  CGraphFilter& curves = *scope_->GetDocument().GetAt(0);
  curves.RemoveAllCurves();
  const int colours[] = {2, 5, 8, 9};
  for (int i = 0; i < 4; ++i) curves.Add(CXYCurve(0, i + 1, 1, RGB16(colours[i]), 2));
  SetScopeTrigger();
  RescaleTestedChannels();
  if (std::strcmp(channels_[2], "Speed_Reference") == 0) {
    RescaleSpeedPair();
  } else {
    RescaleInnerChannels();
  }
}

void CTuningTestDlg::AttachScopeGraph() {
  scope_graph_.SubclassDlgItem(kOscilloscope, this, scope_->GetDocument().GetAt(0));
  scope_graph_.RefreshGraph();
}

void CTuningTestDlg::SetScopeTrigger() {
  if (!scope_ || customised_) return;
  const kestrel::ProfileTimes times{Value(names_.tap), Value(names_.tp), Value(names_.tan),
                                    Value(names_.tn)};
  const int type = has_type_ ? Flag(names_.type) : 0;
  const CMC_Parameter* final_value = kestrel::FindOptional(setup_, names_.final_value);
  if (final_value == nullptr) {
    // No profile to trigger on: free-running acquisitions over the whole profile.
    const int speed_type = has_type_ ? Flag("SpeedTestReferenceType") : 0;
    const double span =
        speed_type == 2
            ? 2 * times.first_ramp_s + times.dwell_s + 2 * times.second_ramp_s + times.end_dwell_s
            : times.first_ramp_s + times.dwell_s + times.second_ramp_s + times.end_dwell_s;
    scope_->ChangeSettings(span, 1, 1, nullptr, 0.0, 0);
  } else {
    const kestrel::ScopeTrigger t =
        kestrel::ComputeScopeTrigger(names_.loop, kestrel::V(final_value), type, has_type_, times,
                                     Flag(names_.multi_cycle) != 0);
    scope_->ChangeSettings(t.time_base_s, t.mode, t.slope, channels_[0], t.level,
                           t.pretrigger_percent);
  }
  scope_->LocateItems();
}

void CTuningTestDlg::RescaleTestedChannels() {
  if (!scope_ || customised_) return;
  const CMC_Parameter* p = kestrel::FindOptional(setup_, names_.final_value);
  if (p == nullptr) return;
  const double v = p->GetValueInDisplayUnit();
  const double step = kestrel::ScaleStep(std::fabs(v / 4.0));
  for (int channel : {0, 1})
    scope_->RescaleVariable(channel, p->GetUnitName(), step, v >= 0.0 ? 0.0 : -4.0 * step);
}

void CTuningTestDlg::RescaleInnerChannels() {
  if (!scope_ || customised_) return;
  const CMC_Parameter* p = kestrel::FindOptional(setup_, "TestLimitCurrent");
  if (p == nullptr) return;
  const double step = kestrel::ScaleStep(p->GetValueInDisplayUnit() / 3.0);
  for (int channel : {2, 3}) scope_->RescaleVariable(channel, p->GetUnitName(), step, 2.0 * step);
}

void CTuningTestDlg::RescaleSpeedPair() {
  if (!scope_ || customised_) return;
  CMC_Parameter* speed = kestrel::FindOptional(setup_, "TestSpeed");
  const double shortest = std::min(Value("TaPP"), Value("TaNP"));
  if (speed == nullptr || !(shortest > 0.0)) return;
  // The speed the profile reaches, in the speed test's display unit; "TestSpeed" is left as it
  // was.
  const double saved = speed->GetValueInBaseUnit();
  speed->SetValueInBaseUnit(Value("TestPosition") / shortest);
  const double v = speed->GetValueInDisplayUnit();
  speed->SetValueInBaseUnit(saved);
  const double step = kestrel::ScaleStep(std::fabs(v / 2.0));
  for (int channel : {2, 3})
    scope_->RescaleVariable(channel, speed->GetUnitName(), step, 2.0 * step);
}

int CTuningTestDlg::OnUnsolicitedMessage(const uint16_t* words, int count) {
  if (words == nullptr || count < 3 || words[2] != axis::kScopeFrameKind ||
      g_frame_receiver == nullptr)
    return axis::kScopeFrameKind;
  return g_frame_receiver->FrameReceived(words, count);
}

int CTuningTestDlg::FrameReceived(const uint16_t* words, int count) {
  if (!scope_) return axis::kScopeFrameKind;
  // The frame's own length, never beyond what arrived.
  const int payload_words = std::min<int>(words[0], count - 3);
  const int added =
      scope_->OnFrameReceive(2 * payload_words, reinterpret_cast<const unsigned char*>(words + 3));
  if (added < 1) return added;
  frame_received_ = true;
  const int points = scope_->GetPointsNo();
  if (points <= 0) return added;  // a scope without a buffer has nothing to draw
  int first = 0, drawn = 0;
  scope_->GetPointsToBeDrawn(first, drawn);
  int index = first;
  for (int i = 0; i < drawn; ++i) {
    scope_graph_.UpdatePoint(index);
    index = (index + 1) % points;
    if (index == 0) scope_graph_.RefreshGraph();
  }
  return added;
}

// --- controls ------------------------------------------------------------------------------------

bool CTuningTestDlg::Is(const char* name, const char* other) const {
  return name != nullptr && other != nullptr && axis::EqualsNoCase(name, other);
}

double CTuningTestDlg::Value(const char* name) { return kestrel::OptionalValue(setup_, name); }

int CTuningTestDlg::Flag(const char* name) { return kestrel::Trunc(Value(name)); }

void CTuningTestDlg::DoDataExchange() {
  CPlotTestDlg::DoDataExchange();
  const bool running = running_flag_ != 0;
  const bool online = Flag(names_.online_plot) != 0;
  const bool repeat = Flag(names_.multi_cycle) != 0;
  const bool scope = scope_ != nullptr;
  const bool test_page = page_ == kTestPage;
  EnableChild(axis::kIdOk, !running);
  EnableChild(kDataLogger, !running);
  EnableChild(names_.identify, !running);
  EnableChild(kOnlinePlot, !running && (repeat || scope));
  const int pause[] = {kPause, kContinue, 0};
  ShowChildren(pause, !scope);
  if (!live_loop_) EnableChildren(pause, 0);
  const bool gains = !running || online;
  EnableChildren(kGainControls, gains);
  if (names_.loop == kestrel::TunedLoop::kPosition) EnableChildren(kPositionGainControls, gains);
  EnableChild(kSavePlots, test_page && !(online && !scope));
  ShowChild(kPlot, !online);
  ShowChild(kOscilloscope, online);
  const int readouts[] = {names_.readouts[0],
                          names_.readouts[1],
                          names_.readouts[2],
                          names_.readouts[3],
                          kSwatchReference,
                          kSwatchLoad,
                          0};
  ShowChildren(readouts, running && online && !scope);
  ShowChildren(kStartCurrentControls, Flag("StartMode") == 0 && Flag("CommutationMethod") != 0);
  EnableChildren(kRatioControls, !IsMotorMassUnknown());
  ApplyFeedForwardRules(running);
  ShowChildren(kTypeControls, has_type_);
  EnableChild(kFilters, kestrel::FindOptional(setup_, "IQREF_BQ_INI") != nullptr);
  ShowChild(kDetailsButton, test_page && result_ != -1 && !error_text_.empty());
}

bool CTuningTestDlg::TestPageAllowed() {
  if (Value("TestLimitCurrent") < Value("TestProtectionCurrent")) return true;
  MessageBox(kLimitNotBelowProtection, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
  return false;
}

void CTuningTestDlg::OnTabChanged(int id, int page) {
  CPlotTestDlg::OnTabChanged(id, page);
  if (id != kTabs) return;
  const int before = page_;
  page_ = Control(kTabs) != nullptr ? Control(kTabs)->selection : page;
  if (page_ == kTestPage && before != kTestPage) preliminary_done_ = false;
  DoDataExchange();
}

void CTuningTestDlg::OnChangedParameterValue(const char* name) {
  if (Is(name, names_.multi_cycle)) {
    if (Flag(names_.multi_cycle) == 0 && !scope_) {
      setup_.SetParameterValueInBaseUnit(names_.online_plot, 0.0);
      RefreshAllParameters();
    }
  } else if (Is(name, "Mt") || Is(name, "Mload_over_M")) {
    if (!IsMotorMassUnknown()) UpdateMassRatio(Is(name, "Mt"));
  } else if (Is(name, names_.final_value)) {
    const double scale = names_.loop == kestrel::TunedLoop::kSpeed
                             ? kestrel::LoadSpeedScale(setup_)
                             : kestrel::LoadPositionScale(setup_);
    kestrel::QuantizeTestValue(kestrel::FindOptional(setup_, names_.final_value), scale);
  } else {
    EncodeChangedGain(name);
  }
  if (scope_) RescaleAfterChange(name);
  if (Is(name, names_.online_plot) || Is(name, names_.multi_cycle)) DoDataExchange();
  CPlotTestDlg::OnChangedParameterValue(name);
}

void CTuningTestDlg::OnChangedParameterUnit(const char* name) {
  if (Is(name, names_.final_value)) RescaleTestedChannels();
  if (Is(name, "TestLimitCurrent") && !(names_.loop == kestrel::TunedLoop::kPosition &&
                                        std::strcmp(channels_[2], "Speed_Reference") == 0))
    RescaleInnerChannels();
  CPlotTestDlg::OnChangedParameterUnit(name);
}

void CTuningTestDlg::UpdateMassRatio(bool from_total) {
  const double motor = Value("M");
  if (motor == 0.0) {
    MessageBox(kNoMotorMass, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    return;
  }
  if (from_total) {
    setup_.SetParameterValueInBaseUnit("Mload_over_M",
                                       RoundDecimalValue((Value("Mt") - motor) / motor, 3));
    RefreshParameterControls("Mload_over_M");
  } else {
    setup_.SetParameterValueInBaseUnit("Mt",
                                       RoundDecimalValue((Value("Mload_over_M") + 1.0) * motor, 3));
    RefreshParameterControls("Mt");
  }
}

void CTuningTestDlg::OnRefreshParameterValue(const char* name) {
  if (Is(name, "Mt")) {
    if (Value("M") > Value("Mt") && !IsMotorMassUnknown()) {
      MessageBox(kTotalBelowMotorMass, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
      setup_.SetParameterValueInBaseUnit("isMotorMassUnknown", 1.0);
      DoDataExchange();
    }
  } else if (Is(name, "TestStartCurrent")) {
    if (Value("TestStartCurrent") > 100.0) {
      char text[400];
      std::snprintf(text, sizeof text, kStartCurrentWarning, 2.0 * Value("time_AB"));
      MessageBox(text, axis::MessageButtons::kOk, axis::MessageIcon::kWarning);
    }
  } else if (has_type_ && Is(name, names_.type)) {
    ShowPictures();
    if (names_.loop == kestrel::TunedLoop::kSpeed) RescaleTestedChannels();
    SetScopeTrigger();
  }
  if (running_flag_ != 0) {
    // The registers follow the new gain before they go to the drive (the host refreshes a value
    // before it reports it changed).
    EncodeChangedGain(name);
    WriteChangedGain(name);
  }
  CPlotTestDlg::OnRefreshParameterValue(name);
}

void CTuningTestDlg::OnCommand(int id) {
  switch (id) {
    case kTune:
      Tune();
      return;
    case kFilters:
      OpenFilters();
      return;
    case kStartStop:
      StartStop();
      DoDataExchange();
      return;
    case kPause:
    case kContinue:
      paused_ = id == kPause;
      EnableChild(kPause, !paused_);
      EnableChild(kContinue, paused_);
      return;
    case kSavePlots:
    case kSavePlotsMenu:
    case kExportPicture:
    case kExportText:
    case kScopeEdit:
    case kScopeReset:
    case kScopeAutoscale:
    case kScopeLoad:
    case kScopeSave:
      PlotCommand(id);
      return;
    default:
      break;
  }
  if (id == names_.identify) {
    Identify();
    return;
  }
  CPlotTestDlg::OnCommand(id);
}

std::vector<axis::MenuItem> CTuningTestDlg::OnContextMenu(int id) {
  if (!scope_ || running_flag_ != 0 || id != kOscilloscope) return {};
  std::vector<axis::MenuItem> items = CPlotTestDlg::OnContextMenu(id);
  for (axis::MenuItem& item : items)
    if (item.command == kScopeReset) item.enabled = customised_;
  return items;
}

void CTuningTestDlg::OnGraphMessage(int id, int channel, int step) {
  if (!scope_ || id != kOscilloscope) return;
  if (scope_->ChangeChannelScale(channel, step) == 0) return;
  customised_ = true;
  scope_graph_.RefreshGraph();
}

void CTuningTestDlg::StartStop() {
  if (running_flag_ != 0 && scope_ && Flag(names_.online_plot) != 0 &&
      scope_->UploadInProgress() != 0) {
    scope_->EndUploadData();
    if (scope_->UploadInProgress() != 0) return;
    continuous_run_ = 0;
    stop_request_ = 1;
  }
  OnBtnStartStop();
}

void CTuningTestDlg::Tune() {
  // The gains as the registers hold them: computed, encoded, derived back.
  TuneGains();
  RefreshAllParameters();
}

void CTuningTestDlg::Identify() {
  CTotalMassTest mass(setup_, this);
  if (mass.DoModal() == axis::kIdOk) OnChangedParameterValue("Mt");
  RefreshAllParameters();
  DoDataExchange();
}

void CTuningTestDlg::OpenFilters() {
  if (kestrel::FindOptional(setup_, "IQREF_BQ_INI") == nullptr) return;
  kestrel::ComputeRegistersFromParameters(setup_);
  kestrel::ComputeParametersFromRegisters(setup_);
  CFiltersDialog filters(setup_, this, running_flag_);
  if (filters.DoModal() == axis::kIdOk) {
    kestrel::ComputeRegistersFromParameters(setup_);
    kestrel::ComputeParametersFromRegisters(setup_);
    if (running_flag_ != 0) filters.WriteBiquadsToDrive();
  }
  RefreshAllParameters();
  DoDataExchange();
}

void CTuningTestDlg::PlotCommand(int id) {
  if (running_flag_ != 0) return;
  const bool online = Flag(names_.online_plot) != 0 && scope_;
  CGraphWindow& graph = online ? scope_graph_ : plot_;
  CMC_Logger* logger = online ? static_cast<CMC_Logger*>(scope_.get()) : logger_.get();
  const auto changed = [&] {
    customised_ = true;
    AttachScopeGraph();
  };
  switch (id) {
    case kSavePlots:
    case kSavePlotsMenu:
      if (logger != nullptr) logger->SaveGraph(names_.plot_name);
      return;
    case kExportPicture:
      graph.CreateWMF(names_.plot_name);
      return;
    case kExportText: {
      const CGraphFilter* curves = graph.GetCurves();
      axis::Platform* platform = axis::GetPlatform();
      if (curves == nullptr || platform == nullptr) return;
      const auto path =
          platform->AskFileName({.save = true,
                                 .title = "Export Text",
                                 .filter = "CSV files (*.csv)|*.csv",
                                 .default_name = std::string(names_.plot_name) + ".csv"});
      if (!path) return;
      const std::string error = curves->ExportToASCII(*path);
      if (!error.empty()) MessageBox(error, axis::MessageButtons::kOk, axis::MessageIcon::kError);
      return;
    }
    default:
      break;
  }
  if (!scope_) return;
  switch (id) {
    case kScopeEdit:
      if (scope_->Edit(this) != 0) changed();
      return;
    case kScopeAutoscale:
      if (scope_->Autoscale() != 0) changed();
      return;
    case kScopeReset:
      if (!customised_) return;
      customised_ = false;
      scope_->SetDefaultValues();
      SetupScopePlot();
      AttachScopeGraph();
      return;
    case kScopeLoad: {
      axis::Platform* platform = axis::GetPlatform();
      if (platform == nullptr) return;
      const auto path =
          platform->AskFileName({.save = false,
                                 .title = "Load Scope",
                                 .filter = "Scope files (*.scope)|*.scope",
                                 .default_name = std::string(names_.plot_name) + ".scope"});
      if (path && scope_->Load(path->c_str()) != 0) changed();
      return;
    }
    case kScopeSave: {
      axis::Platform* platform = axis::GetPlatform();
      if (platform == nullptr) return;
      const auto path =
          platform->AskFileName({.save = true,
                                 .title = "Save Scope",
                                 .filter = "Scope files (*.scope)|*.scope",
                                 .default_name = std::string(names_.plot_name) + ".scope"});
      if (path) scope_->Save(path->c_str());
      return;
    }
    default:
      return;
  }
}

void CTuningTestDlg::OnOK() {
  CPlotTestDlg::OnOK();
  if (customised_ && scope_) {
    scope_->SaveSettingsToSetupOption(names_.osc_settings);
  } else {
    setup_.ClearOption(names_.osc_settings);
  }
  const auto copy = [&](const char* from, const char* to) {
    if (kestrel::FindOptional(setup_, from) != nullptr)
      setup_.SetParameterValueInBaseUnit(to, Value(from));
  };
  copy("TestProtectionCurrent", "Imax_Prot");
  copy("TestLimitCurrent", "IlimPS");
  copy("TestStartCurrent", "StartCurrent");
}

// --- the run -------------------------------------------------------------------------------------

bool CTuningTestDlg::PreliminaryNeeded() {
  return Flag("CommutationMethod") != 0 && Flag("StartMode") == 0;
}

int CTuningTestDlg::BeginTest() {
  RefreshAllParameters();
  const bool preliminary = PreliminaryNeeded();  // before the last result is cleared
  stop_request_ = 0;
  running_flag_ = 1;
  continuous_run_ = 0;
  preliminary_ran_ = false;
  step_count_ = Flag(names_.online_plot) != 0 ? 4 : 5;
  result_ = -1;
  if (preliminary) {
    step_index_ = 0;
    preliminary_ran_ = true;
    SetInfoText(kStatus[0]);
    double per_A = 0.0;
    if (!kestrel::CurrentScale(setup_, per_A)) {
      Fail(msc_pszErrInternal);
      return 0;
    }
    const double nominal = std::min(Value("In") * per_A, Value("InPS") * per_A);
    start_current_counts_ = axis::TruncToInt(Value("TestStartCurrent") / 100.0 * nominal);
    return StartPreliminary(preliminary_, start_current_counts_, kStatus[1]) ? 1 : 0;
  }
  step_index_ = 2;
  SetInfoText(kStatus[2]);
  return RearmTimer() ? 1 : 0;
}

void CTuningTestDlg::OnPoll() {
  switch (step_index_) {
    case 2:
      if (!PreliminaryFinished(preliminary_, reftst_, &rinctst_)) return;
      SetInfoText(kStatus[2]);
      [[fallthrough]];
    case 3:
      Launch();
      return;
    case 4:
      if (Flag(names_.online_plot) != 0) {
        if (scope_) {
          RunScopeStreamingLoop();
        } else {
          RunLivePollingLoop();
        }
        return;
      }
      PollDataLoggerRun();
      return;
    case 5:
      UploadDataLoggerResults();
      return;
    default:
      Fail(msc_pszErrInternal);
  }
}

bool CTuningTestDlg::Launch() {
  const bool online = Flag(names_.online_plot) != 0;
  const bool repeat = Flag(names_.multi_cycle) != 0;
  const double reftst =
      preliminary_ran_ ? reftst_ : setup_.GetParameterValueInInternalUnit("REFTST");
  const double rinctst =
      preliminary_ran_ ? rinctst_ : setup_.GetParameterValueInInternalUnit("RINCTST");
  if (!WriteInputs(main_, {{"RefTest", Int16Of(reftst)}, {"RIncTest", Int16Of(rinctst)}}) ||
      !WriteLimits() || !SendReferenceSegments())
    return false;
  continuous_run_ = repeat ? 1 : 0;
  if (online && !scope_) PrepareOnlineView();
  if (kestrel::HasStartupMinimumMove(setup_)) kestrel::EncodeABSTART_MINMOVE(setup_);
  if (!CMyTestDlg::Launch(main_label_.c_str(), main_, online ? nullptr : logger_.get()))
    return false;
  if (online && scope_) {
    if (scope_->BeginUploadData() == 0) {
      Fail(scope_->GetLastErrorText().empty() ? msc_pszErrInternal : scope_->GetLastErrorText());
      return false;
    }
  }
  SetInfoText(kStatus[repeat ? kRunningContinuouslyStatus : step_index_]);
  stop_request_ = 0;
  if (!RearmTimer(online && scope_ ? kScopePollMs : kPollPeriodMs)) return false;
  if (online) {
    if (scope_) {
      AttachScopeGraph();
    } else {
      oscilloscope_.Repaint();
    }
  }
  DoDataExchange();
  return true;
}

bool CTuningTestDlg::SendReferenceSegments() {
  const double scale = names_.loop == kestrel::TunedLoop::kSpeed
                           ? kestrel::LoadSpeedScale(setup_)
                           : kestrel::LoadPositionScale(setup_);
  const int32_t final_counts = TG_Round(Value(names_.final_value) * scale);
  const kestrel::ProfileTimes times{Value(names_.tap), Value(names_.tp), Value(names_.tan),
                                    Value(names_.tn)};
  segments_ = kestrel::ComputeReferenceSegments(
      names_.loop, final_counts, has_type_ ? Flag(names_.type) : 0, times, kestrel::Ts_S(setup_));
  if (const char* refusal = kestrel::RefuseSegments(segments_)) {
    Fail(refusal);
    return false;
  }
  axis::UserVariables inputs;
  for (size_t i = 0; i < segments_.size(); ++i) {
    inputs.push_back({"a" + std::to_string(i), static_cast<double>(segments_[i].count)});
    inputs.push_back({"b" + std::to_string(i), segments_[i].increment / 65536.0});
  }
  inputs.push_back({"MultiC", Flag(names_.multi_cycle) != 0 ? 1.0 : 0.0});
  return WriteInputs(main_, inputs);
}

int CTuningTestDlg::CheckTestFlag(int end_test) {
  double flag = 0.0;
  std::string error;
  const auto fail = [&](const std::string& text) {
    error_text_ = text;
    if (end_test != 0) TestFailed(1);
    return 0;
  };
  if (GetUserVariableValue(&main_, "test_flag", flag, error) == 0) return fail(error);
  if (flag == kUndelivered) return fail(msc_pszErrInternal);
  if (flag <= 0.0) return fail(kProtectionTripped);
  return 1;
}

void CTuningTestDlg::PollDataLoggerRun() {
  if (continuous_run_ == 0) {
    double started = 0.0;
    std::string error;
    if (GetUserVariableValue(&main_, "STARTED", started, error) == 0) {
      TestFailed(1);
      return;
    }
    if (started == 0.0 || started == kUndelivered) {
      if (CheckDriveFaults(1, kestrel::kAllFaultsMask) != 0) RearmTimer();
      return;
    }
    int on = 0;
    if (GetAxisOn(on) == 0) {
      TestFailed(1);
      return;
    }
    if (on == 0) SetInfoText(kStatus[kUploadingStatus]);
    RearmTimer();
    return;
  }
  // A repeated profile runs until the user stops it or the routine reports a failure.
  if (stop_request_ != 0) {
    RefreshAllParameters();
    SetInfoText(kStatus[kUploadingStatus]);
    RearmTimer(1);
    return;
  }
  if (CheckTestFlag(0) == 0 || CheckDriveFaults(0, kLiveFaultMask) == 0) stop_request_ = 1;
  RearmTimer();
}

void CTuningTestDlg::UploadDataLoggerResults() {
  const bool good = CheckDriveFaults(0, kLiveFaultMask) != 0 && CheckTestFlag(0) != 0;
  if (!good) stop_request_ = 0;
  continuous_run_ = good ? 0 : 1;  // from here on: the failed-run marker
  if (!logger_ || logger_->BeginUploadData() == 0) {
    // A run that failed before the drive recorded anything says why it failed.
    if (good || error_text_.empty()) error_text_ = msc_pszErrInternal;
    TestFailed(1);
    return;
  }
  plot_.RefreshGraph();
  if (!ReadPoints()) return;
  if (CheckDriveFaults(1, kLiveFaultMask) == 0 || CheckTestFlag(1) == 0) return;
  preliminary_done_ = true;
  TestSucceeded(1);
  RefreshAllParameters();
}

void CTuningTestDlg::PrepareOnlineView() {
  const double scale = names_.loop == kestrel::TunedLoop::kSpeed
                           ? kestrel::LoadSpeedScale(setup_)
                           : kestrel::LoadPositionScale(setup_);
  const double f = TG_Round(Value(names_.final_value) * scale);
  // A bidirectional profile swings to -F as far as to +F: the view holds both.
  const bool both_ways = has_type_ && Flag(names_.type) == 2;
  oscilloscope_.Initialize("", 2, 0);
  const int colours[] = {2, 5};
  for (int i = 0; i < 2; ++i) {
    CMC_Oscilloscope::Item* item = oscilloscope_.GetItem(i);
    if (item == nullptr) continue;
    const double other_end = both_ways ? -1.2 * f : -0.2 * f;
    item->upper = std::max(1.2 * f, other_end);
    item->lower = std::min(1.2 * f, other_end);
    item->colour = RGB16(colours[i]);
  }
}

bool CTuningTestDlg::LiveLoopGoesOn() const {
  return stop_request_ == 0 && running_flag_ != 0 && IsRunning();
}

void CTuningTestDlg::RunLivePollingLoop() {
  paused_ = false;
  live_loop_ = true;
  EnableChild(kPause, 1);
  EnableChild(kContinue, 0);
  struct LoopEnd {
    bool& flag;
    ~LoopEnd() { flag = false; }
  } loop_end{live_loop_};
  CMC_Variable* reference = setup_.FindVariable(channels_[0], 1);
  CMC_Variable* load = setup_.FindVariable(channels_[1], 1);
  if (reference == nullptr || load == nullptr) {
    Fail(msc_pszErrInternal);
    return;
  }
  load->ChangeUnit(reference->GetUnitName());
  const auto show = [&](int control, const CMC_Variable& v) {
    const std::string unit = v.GetUnitName();
    SetChildText(control, (v.PrintValue() + (unit.empty() ? " IU" : " " + unit)).c_str());
  };
  axis::Platform* platform = axis::GetPlatform();
  while (LiveLoopGoesOn()) {
    if (!paused_) {
      if (reference->ReadFromChip() == 0 || load->ReadFromChip() == 0) {
        Fail(msc_pszErrInternal);
        return;
      }
      oscilloscope_.GetItem(0)->value = reference->GetValueInInternalUnit();
      oscilloscope_.GetItem(1)->value = load->GetValueInInternalUnit();
      oscilloscope_.UpdateLastPoint();
      show(names_.readouts[1], *reference);
      show(names_.readouts[3], *load);
    }
    if (CheckDriveFaults(1, kLiveFaultMask) == 0 || CheckTestFlag(1) == 0) return;
    if (platform == nullptr) break;
    platform->Idle(kLivePollMs);
  }
  if (stop_request_ == 0) return;  // closed or stopped from outside: no verdict
  stop_request_ = 0;
  continuous_run_ = 0;
  preliminary_done_ = true;
  TestSucceeded(1);
}

void CTuningTestDlg::RunScopeStreamingLoop() {
  if (stop_request_ != 0) {
    scope_->EndUploadData();
    return;
  }
  axis::Platform* platform = axis::GetPlatform();
  CMC_Comm* comm = setup_.GetComm();
  while (running_flag_ != 0 && IsRunning()) {
    frame_received_ = false;
    if (scope_->DoGracefulStop() != 0) {
      const bool good = CheckDriveFaults(0, kLiveFaultMask) != 0 && CheckTestFlag(0) != 0;
      const std::string why = error_text_;
      continuous_run_ = 0;
      OnBtnStartStop();
      stop_request_ = 0;
      preliminary_done_ = good;
      if (good) {
        TestSucceeded(1);
      } else {
        error_text_ = why;
        TestFailed(1);
      }
      scope_->EndUploadData();
      return;
    }
    if (comm != nullptr) comm->CheckForUnrequestedMessages(&OnUnsolicitedMessage);
    if (scope_->UploadInProgress() == 0) {
      if (error_text_.empty()) error_text_ = CommErrorText();
      TestFailed(1);
      scope_->EndUploadData();
      return;
    }
    if (!frame_received_ && (CheckDriveFaults(1, kLiveFaultMask) == 0 || CheckTestFlag(1) == 0)) {
      scope_->EndUploadData();
      return;
    }
    if (platform == nullptr) return;
    platform->Idle(kScopePollMs);
    if (stop_request_ != 0) {
      scope_->EndUploadData();
      if (running_flag_ != 0) {
        stop_request_ = 0;
        continuous_run_ = 0;
        preliminary_done_ = true;
        TestSucceeded(1);
      }
      return;
    }
  }
}

// --- the speed test ------------------------------------------------------------------------------

CTestSpeedTuning::CTestSpeedTuning(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CTuningTestDlg(setup, kSpeedNames, parent) {
  channels_[0] = "Speed_Reference";
  channels_[1] = "Load_Speed";
  channels_[2] = "Current_Reference";
  channels_[3] = "Motor_Current";
  main_label_ = "Speed_Controller_Tuning_Test";
}

void CTestSpeedTuning::EncodeChangedGain(const char* name) {
  if (Is(name, "Kp_S_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKPS, kestrel::EncodeKPS});
  } else if (Is(name, "Ki_S_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKIS, kestrel::EncodeKIS});
  } else if (Is(name, "IPSatS")) {
    kestrel::EncodeIMAXS(setup_);
  } else if (Is(name, "KFFS_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTSFFW, kestrel::EncodeKFFS, kestrel::EncodeKFFA});
  } else if (Is(name, "KFFA_scl") && !IsMotorMassUnknown()) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTAFFW, kestrel::EncodeSFTKFF, kestrel::EncodeKFFA});
  }
}

void CTestSpeedTuning::WriteChangedGain(const char* name) {
  if (Is(name, "Kp_S_scl")) WriteToDrive({"SFTKPS", "KPS"});
  if (Is(name, "Ki_S_scl")) WriteToDrive({"SFTKIS", "KIS"});
  if (Is(name, "IPSatS")) WriteToDrive({"IMAXS"});
  if (Is(name, "KFFS_scl")) WriteToDrive({"SFTSFFW", "KFFS", "KFFA"});
  if (Is(name, "KFFA_scl")) WriteToDrive({"SFTAFFW", "SFTKFF", "KFFA"});
}

void CTestSpeedTuning::TuneGains() {
  kestrel::TuneAndEncode(setup_, kestrel::Loop::kSpeed);
  if (running_flag_ != 0) WriteToDrive({"SFTKPS", "KPS", "SFTKIS", "KIS"});
}

bool CTestSpeedTuning::WriteLimits() {
  return WriteInputs(
      main_image(),
      {{"IlimPS_Test",
        axis::TruncToInt(setup_.GetParameterValueInInternalUnit("TestLimitCurrent"))},
       {"Imax_Prot_Test",
        axis::TruncToInt(setup_.GetParameterValueInInternalUnit("TestProtectionCurrent"))}});
}

void CTestSpeedTuning::ApplyFeedForwardRules(bool) {
  if (kestrel::FindOptional(setup_, "SpeedForward") != nullptr) {
    EnableChildren(kFeedForward, Flag("ControlMode") == 1 && Flag("PosSpd_in_FastLoop") == 0);
  } else {
    EnableChildren(kSpeedFeedForward, 0);
  }
}

void CTestSpeedTuning::RescaleAfterChange(const char* name) {
  if (Is(name, "TestSpeed")) {
    RescaleTestedChannels();
    SetScopeTrigger();
  } else if (Is(name, "TestLimitCurrent")) {
    RescaleInnerChannels();
  } else if (Is(name, "MultiCycleS") || Is(name, "TPS") || Is(name, "TNS") || Is(name, "TaPS") ||
             Is(name, "TaNS")) {
    SetScopeTrigger();
  }
}

// --- the position test ---------------------------------------------------------------------------

CTestPositionTuning::CTestPositionTuning(CMC_Setup& setup, CMC_EditSetupDlg* parent)
    : CTuningTestDlg(setup, kPositionNames, parent) {
  cascade_ = Flag("PositionControlType") == 1;
  channels_[0] = "Target_Position";
  channels_[1] = "Load_Position";
  channels_[2] = cascade_ ? "Speed_Reference" : "Current_Reference";
  channels_[3] = cascade_ ? "Load_Speed" : "Motor_Current";
  main_label_ = cascade_ ? "Position_Controller_Tuning_Test_with_SpdCtrl"
                         : "Position_Controller_Tuning_Test_without_SpdCtrl";
  if (cascade_) AddParameterControls("Limit_Speed", kSpeedLimitEdit, kSpeedLimitUnit);
  AddGainSlider("Kd_P_scl", kKdSlider, kKdEdit, 0, kKdLower, kKdUpper);
  AddParameterControls("filter_D", kKdFilterEdit, 0);
}

void CTestPositionTuning::EncodeChangedGain(const char* name) {
  if (Is(name, "Kp_P_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKPP, kestrel::EncodeKPP});
  } else if (Is(name, "Ki_P_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKIP, kestrel::EncodeKIP});
  } else if (Is(name, "Kd_P_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTKDP, kestrel::EncodeKDP});
  } else if (Is(name, "filter_D")) {
    kestrel::EncodeKDFP(setup_);
  } else if (Is(name, "IPSatP")) {
    kestrel::EncodeIMAXP(setup_);
  } else if (Is(name, "KFFS_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTSFFW, kestrel::EncodeKFFS, kestrel::EncodeKFFA});
  } else if (Is(name, "KFFA_scl")) {
    kestrel::RunAll(setup_, {kestrel::EncodeSFTAFFW, kestrel::EncodeSFTKFF, kestrel::EncodeKFFA});
  }
}

void CTestPositionTuning::WriteChangedGain(const char* name) {
  if (Is(name, "Kp_P_scl")) WriteToDrive({"SFTKPP", "KPP"});
  if (Is(name, "Ki_P_scl")) WriteToDrive({"SFTKIP", "KIP"});
  if (Is(name, "Kd_P_scl")) WriteToDrive({"SFTKDP", "KDP"});
  if (Is(name, "filter_D")) WriteToDrive({"KDFP"});
  if (Is(name, "IPSatP")) WriteToDrive({"IMAXP"});
  if (Is(name, "KFFS_scl")) WriteToDrive({"SFTSFFW", "KFFS", "KFFA"});
  if (Is(name, "KFFA_scl")) WriteToDrive({"SFTAFFW", "SFTKFF", "KFFA"});
}

void CTestPositionTuning::TuneGains() {
  kestrel::TuneAndEncode(setup_, kestrel::Loop::kPosition);
  if (running_flag_ != 0) WriteToDrive({"SFTKPP", "KPP", "SFTKIP", "KIP", "SFTKDP", "KDP"});
}

bool CTestPositionTuning::WriteLimits() {
  setup_.SetParameterValueInBaseUnit("IlimPS", Value("TestLimitCurrent"));
  axis::UserVariables limits;
  if (cascade_) {
    kestrel::RunAll(setup_, {kestrel::EncodeIMAXS, kestrel::EncodeSATS, kestrel::EncodeSATP});
    limits.push_back({"LimitSpeed_Test",
                      axis::TruncToInt(setup_.GetParameterValueInInternalUnit("Limit_Speed"))});
  } else {
    limits.push_back(
        {"IlimPS_Test", axis::TruncToInt(setup_.GetParameterValueInInternalUnit("IlimPS"))});
  }
  limits.push_back({"Imax_Prot_Test", axis::TruncToInt(setup_.GetParameterValueInInternalUnit(
                                          "TestProtectionCurrent"))});
  return WriteInputs(main_image(), limits);
}

void CTestPositionTuning::ApplyFeedForwardRules(bool) {
  const int mode = Flag("ControlMode"), type = Flag("PositionControlType");
  const int fast = Flag("PosSpd_in_FastLoop");
  const int speed_limit[] = {kSpeedLimitGroup, kSpeedLimitLabel, kSpeedLimitEdit, kSpeedLimitUnit,
                             0};
  EnableChildren(speed_limit, mode == 0 && type == 1);
  if (kestrel::FindOptional(setup_, "SpeedForward") != nullptr) {
    EnableChildren(kFeedForward, fast == 0 && mode == 0 && (type == 0 || type == 1));
    return;
  }
  EnableChildren(kSpeedFeedForward, mode == 0 && type == 1);
  EnableChildren(kAccelerationFeedForward, !(mode == 0 && type != 1 && fast == 1));
}

void CTestPositionTuning::RescaleAfterChange(const char* name) {
  if (Is(name, "TestPosition")) {
    RescaleTestedChannels();
    if (cascade_) RescaleSpeedPair();
    SetScopeTrigger();
  } else if (Is(name, "TestLimitCurrent")) {
    if (!cascade_) RescaleInnerChannels();
  } else if (Is(name, "TaPP") || Is(name, "TaNP")) {
    if (cascade_) RescaleSpeedPair();
    SetScopeTrigger();
  } else if (Is(name, "MultiCycleP") || Is(name, "TPP") || Is(name, "TNP")) {
    SetScopeTrigger();
  }
}

bool CTestPositionTuning::PreliminaryNeeded() {
  // A good run leaves the motor commutated: the next start on the same tab goes straight on.
  if (preliminary_done_ && result_ == 1) return false;
  return CTuningTestDlg::PreliminaryNeeded();
}
