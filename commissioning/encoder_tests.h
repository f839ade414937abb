// The incremental encoder's tests.
//
// CTestEncoderConnections leaves the motor free ("Encoder_Connection_Test") while the user moves
// it by hand, shows the position counter, the captured index and the Hall state live, and on Stop
// passes when the counter moved by more than two counts (a count or two is noise on a still
// motor). Stop then writes "var_i2" = 1, which tells the routine to end.
//
// CDetectEncoderResolution positions the motor, then "Encoder_Resolution_And_Direction_Test"
// turns the field through one pole pitch under control and leaves the counts it moved in
// "var_lf_long". The resolution is the pole pitch over those counts; a negative count means the
// encoder counts against the motor's direction. The result goes into a detached copy of "EncRes"
// and reaches the setup only when the user accepts it on close.
#pragma once

#include <limits>
#include <memory>

#include "commissioning/sensor_test_dlg.h"

class CTestEncoderConnections : public CSensorTestDlg {
 public:
  enum : int { kTemplate = 291 };
  static const char* const kFailureText;

  CTestEncoderConnections(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  // Enter does not end a test that runs until it is stopped.
  void OnOK() override {}
  int BeginTest() override;

 protected:
  void OnPoll() override;
  void OnStopPressed() override;

 private:
  CMC_CoffFormat main_;
  long last_position_ = 0;
};

class CDetectEncoderResolution : public CSensorTestDlg {
 public:
  enum : int {
    kTemplate = 292,
    kTestCurrentEdit = 1005,
    kTestCurrentUnit = 1017,
    kReverseCounting = 3357,
    kResolutionUnit = 3351,
    kResolutionEdit = 3352,
  };
  static const char* const kFailureText;

  CDetectEncoderResolution(CMC_Setup& setup, CMC_EditSetupDlg* parent);
  ~CDetectEncoderResolution() override;

  int OnInitDialog() override;
  // The reverse counting box reaches the drive's "COUNTINGDIR" with the next run; nothing else
  // follows a change here.
  void OnChangedParameterValue(const char*) override {}
  int BeginTest() override;
  void OnCancel() override;

  // The resolution found by the last run, in the copy's base unit (NaN before one succeeded).
  double DetectedResolution() const;
  // The "ReverseCounting" value under which the encoder counts with the motor, from the sign of
  // the count of the last run that measured one (-1 when none did): the value it had during
  // that run for a positive count, the other one for a negative count.
  int DetectedDirection() const { return detected_direction_; }

 protected:
  void OnPoll() override;

 private:
  void LiveTick();
  void Judge();
  bool HasReverseCounting();

  std::unique_ptr<CMC_Parameter> resolution_;  // the detached copy of "EncRes"
  CMC_CoffFormat main_, preliminary_;
  int test_current_counts_ = 0;
  double reftst_ = 0.0;
  int reverse_at_launch_ = 0;
  int detected_direction_ = -1;
  double detected_m_ = std::numeric_limits<double>::quiet_NaN();
};
