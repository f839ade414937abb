// The speed and position controller tuning tests.
//
// The user sets test current limits and a reference profile on the "Test Parameters" tab, then on
// the "Test" tab tunes the gains from a passband ("Tune"; the total mass may be identified first),
// runs the profile and watches the reference, the load's answer and an inner-loop pair, and may
// change the gains while the axis moves: they reach the drive at once. The record is shown after
// the run (data logger) or live (on-line plot: the drive's scope where it has one, else two
// variables polled into a simple oscilloscope view). OK hands the test's current limits over to
// the drive's protection and start-up parameters.
//
// CTuningTestDlg holds everything the two tests share, over a table of the names that differ
// (CTuningTestDlg::Names); CTestSpeedTuning and CTestPositionTuning add what is their own.
#pragma once

#include <memory>
#include <string>

#include "commissioning/plot_test_dlg.h"
#include "commissioning/tuning_profile.h"
#include "host/scope_logger.h"

class CTuningTestDlg : public CPlotTestDlg {
 public:
  enum : int {
    kProtectionEdit = 3281,
    kProtectionUnit = 3279,
    kLimitEdit = 3284,
    kLimitUnit = 3283,
    kStartLabel = 3285,
    kStartEdit = 3287,
    kStartUnit = 3286,
    kTpEdit = 1314,
    kTpUnit = 1315,
    kTnEdit = 1317,
    kTnUnit = 1318,
    kTapEdit = 1327,
    kTapUnit = 1328,
    kTanEdit = 1330,
    kTanUnit = 1331,
    kMultiCycle = 1332,
    kTypeLabel = 1323,
    kTypeFirst = 3528,
    kTypeLast = 3530,
    kLimitPicture = 1305,
    kProfilePicture = 1322,
    kIPSatEdit = 1345,
    kIPSatUnit = 1346,
    kIPSatLower = 1347,
    kIPSatSlider = 1348,
    kIPSatUpper = 1349,
    kFeedForwardGroup = 1350,
    kKffsEdit = 1352,
    kKffsLower = 1353,
    kKffsSlider = 1354,
    kKffsUpper = 1355,
    kKffaEdit = 1357,
    kKffaLower = 1358,
    kKffaSlider = 1359,
    kKffaUpper = 1360,
    kPassBandEdit = 1379,
    kPassBandUnit = 1380,
    kPassBandLower = 1381,
    kPassBandSlider = 1382,
    kPassBandUpper = 1383,
    kRatioLabel = 1384,
    kRatioEdit = 1385,
    kRatioLower = 1386,
    kRatioSlider = 1387,
    kRatioUpper = 1388,
    kTune = 1390,
    kFilters = 3510,
    kDataLogger = 1368,
    kOnlinePlot = 1369,
    kOscilloscope = 1362,
    kSwatchReference = 3331,
    kSwatchLoad = 3332,
    kPause = 10016,
    kContinue = 10017,
    kMassLabel = 3269,
    kMassEdit = 3270,
    kMassUnit = 3288,
    // Plot commands (the scope's context menu and the plot buttons).
    kScopeEdit = 10062,
    kScopeReset = 10063,
    kScopeAutoscale = 10064,
    kScopeLoad = 10065,
    kScopeSave = 10066,
    kSavePlotsMenu = 10067,
    kExportPicture = 10068,
    kExportText = 10069,
  };
  // Status texts 6: the routine's protection verdict.
  static const char* const kProtectionTripped;
  static const char* const kLimitNotBelowProtection;
  static const char* const kTotalBelowMotorMass;
  static const char* const kStartCurrentWarning;  // %.2f: how long the start current lasts
  static const char* const kNoMotorMass;

  // What differs between the two tests.
  struct Names {
    kestrel::TunedLoop loop;
    int template_id;
    int help_context;
    const char* final_value;  // "TestSpeed"
    int final_edit, final_unit;
    const char *tp, *tn, *tap, *tan, *type, *multi_cycle, *online_plot;
    const char *kp, *ki, *ipsat, *pass_band;
    const char *osc_settings, *plot_name;
    int identify;
    int readouts[4];  // reference label and value, load label and value
    const char* procedure;
    const char* limit_picture;    // with a sinusoidal commutation
    const char* limit_picture_0;  // "CommutationMethod" 0
  };

  ~CTuningTestDlg() override;

  int OnInitDialog() override;
  void DoDataExchange() override;
  void OnCommand(int id) override;
  void OnOK() override;
  void OnChangedParameterValue(const char* name) override;
  void OnChangedParameterUnit(const char* name) override;
  void OnRefreshParameterValue(const char* name) override;
  int BeginTest() override;
  // The scope graph's menu: none during a run, "Reset" only once the scope is customised.
  std::vector<axis::MenuItem> OnContextMenu(int id) override;
  // A channel's scale stepped on the scope graph.
  void OnGraphMessage(int id, int channel, int step) override;

  // The channels recorded: reference, load feedback, inner reference, inner feedback.
  const char* Channel(int i) const { return channels_[i]; }
  const std::string& MainRoutine() const { return main_label_; }
  CMC_ScopeLogger* Scope() { return scope_.get(); }
  CGraphWindow& ScopeGraph() { return scope_graph_; }
  CMC_Oscilloscope& OscilloscopeView() { return oscilloscope_; }
  bool ScopeCustomised() const { return customised_; }
  // The segment table of the last launch.
  const kestrel::SegmentTable& Segments() const { return segments_; }

  // Receives the drive's unsolicited messages while a tuning test is open.
  static int OnUnsolicitedMessage(const uint16_t* words, int count);

 protected:
  CTuningTestDlg(CMC_Setup& setup, const Names& names, CMC_EditSetupDlg* parent);

  void OnPoll() override;
  bool TestPageAllowed() override;
  void OnTabChanged(int id, int page) override;

  // The test's own parts: the gains' registers, the limits written before the launch, and the
  // rules that differ.
  virtual void EncodeChangedGain(const char* name) = 0;
  virtual void WriteChangedGain(const char* name) = 0;
  virtual void TuneGains() = 0;
  virtual bool WriteLimits() = 0;
  virtual void ApplyFeedForwardRules(bool running) = 0;
  virtual void RescaleAfterChange(const char* name) = 0;
  // Whether the preliminary positioning runs at this start.
  virtual bool PreliminaryNeeded();
  void RescaleTestedChannels();
  void RescaleInnerChannels();
  void RescaleSpeedPair();
  void SetScopeTrigger();

  bool Is(const char* name, const char* other) const;
  double Value(const char* name);
  int Flag(const char* name);
  bool IsMotorMassUnknown() { return Flag("isMotorMassUnknown") != 0; }
  CMC_CoffFormat& main_image() { return main_; }

  const Names& names_;
  const char* channels_[4] = {};
  std::string main_label_;
  bool has_type_ = false;
  bool preliminary_done_ = false;  // the position test skips it after a good run
  int page_ = kParametersPage;

 private:
  void BindControls();
  void ShowPictures();
  void SetupDataLoggerPlot();
  void SetupScopePlot();
  void AttachScopeGraph();
  void CheckMotorMass();
  void UpdateMassRatio(bool from_total);
  void Identify();
  void OpenFilters();
  void Tune();
  void StartStop();
  void PlotCommand(int id);
  bool Launch();
  bool SendReferenceSegments();
  int CheckTestFlag(int end_test);
  void PrepareOnlineView();
  void RunLivePollingLoop();
  void RunScopeStreamingLoop();
  void UploadDataLoggerResults();
  void PollDataLoggerRun();
  bool LiveLoopGoesOn() const;
  int FrameReceived(const uint16_t* words, int count);

  CMC_CoffFormat preliminary_, main_;
  int start_current_counts_ = 0;
  bool preliminary_ran_ = false;
  double reftst_ = 0.0, rinctst_ = 0.0;
  kestrel::SegmentTable segments_{};
  std::unique_ptr<CMC_ScopeLogger> scope_;
  CGraphWindow scope_graph_{4, 0};
  CMC_Oscilloscope oscilloscope_;
  UnsolicitedMsgHandler previous_handler_ = nullptr;
  bool handler_registered_ = false;
  bool customised_ = false;
  bool frame_received_ = false;
  bool paused_ = false;
  bool live_loop_ = false;
};

class CTestSpeedTuning : public CTuningTestDlg {
 public:
  static constexpr int kTemplate = 102;
  static constexpr int kIdentify = 3271;
  CTestSpeedTuning(CMC_Setup& setup, CMC_EditSetupDlg* parent);

 protected:
  void EncodeChangedGain(const char* name) override;
  void WriteChangedGain(const char* name) override;
  void TuneGains() override;
  bool WriteLimits() override;
  void ApplyFeedForwardRules(bool running) override;
  void RescaleAfterChange(const char* name) override;
};

class CTestPositionTuning : public CTuningTestDlg {
 public:
  static constexpr int kTemplate = 103;
  static constexpr int kIdentify = 3305;
  enum : int {
    kSpeedLimitGroup = 3403,
    kSpeedLimitLabel = 1101,
    kSpeedLimitEdit = 1043,
    kSpeedLimitUnit = 1044,
    kKdEdit = 1508,
    kKdLower = 1509,
    kKdSlider = 1510,
    kKdUpper = 1511,
    kKdFilterEdit = 1513,
  };
  CTestPositionTuning(CMC_Setup& setup, CMC_EditSetupDlg* parent);

 protected:
  void EncodeChangedGain(const char* name) override;
  void WriteChangedGain(const char* name) override;
  void TuneGains() override;
  bool WriteLimits() override;
  void ApplyFeedForwardRules(bool running) override;
  void RescaleAfterChange(const char* name) override;
  bool PreliminaryNeeded() override;

 private:
  bool cascade_ = false;  // "PositionControlType" 1: the speed loop inside the position loop
};
