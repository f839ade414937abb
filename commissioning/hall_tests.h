// The digital Hall sensors' tests.
//
// CTestHallSignals leaves the motor free ("Hall_Signals_Connection_Test") while the user moves it
// by hand through the six Hall states. For each of the three inputs it notes whether it was seen
// low and high; on Stop an input seen both ways is "OK", else "Bad". The run passes when the
// routine counted all six sectors ("var_i2" = 6), saw no invalid state ("bad" = 0) and every
// input is "OK". The routine counts sectors in "var_i2" and ends when the host writes it: the
// drive takes the write itself as the command, whatever the value, so a count can never be read
// as one; the test reads the count before it writes.
//
// CTestHallConfiguration positions the motor, then "Hall_Configuration_Detection_Test" turns the
// field through the Hall states and leaves the sequence it found in "HALLCASE" (2 to 13) and the
// shift between the Hall edges and the electrical angle in its "delta_el_pos". Both are proposed
// on close; the setup changes only when the user accepts.
#pragma once

#include <string>

#include "commissioning/sensor_test_dlg.h"

class CTestHallSignals : public CSensorTestDlg {
 public:
  enum : int { kTemplate = 293, kHall1Edit = 1029, kHall2Edit = 1030, kHall3Edit = 1031 };
  static const char* const kFailureText;
  static const char* const kTransitionsText;

  CTestHallSignals(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void DoDataExchange() override;
  // Enter does not end a test that runs until it is stopped.
  void OnOK() override {}
  int BeginTest() override;

  // Bit 0: the input was seen low; bit 1: seen high. Inputs 0 to 2 are Hall1 to Hall3.
  int LevelsSeen(int input) const { return levels_[input]; }

 protected:
  void OnPoll() override;
  void OnStopPressed() override;

 private:
  CMC_CoffFormat main_;
  int levels_[3] = {};
  std::string verdicts_[3];
};

class CTestHallConfiguration : public CSensorTestDlg {
 public:
  enum : int {
    kTemplate = 294,
    kTestCurrentEdit = 1005,
    kTestCurrentUnit = 1017,
    kConfigurationEdit = 1020,
  };
  static const char* const kFailureText;

  CTestHallConfiguration(CMC_Setup& setup, CMC_EditSetupDlg* parent);

  int OnInitDialog() override;
  void DoDataExchange() override;
  int BeginTest() override;
  void OnCancel() override;

  int DetectedConfiguration() const { return configuration_; }
  int DetectedShift() const { return shift_; }

 protected:
  void OnPoll() override;

 private:
  void Follow();
  void Judge();

  CMC_CoffFormat main_, preliminary_;
  int configuration_ = 0, shift_ = 0;
  long position_ = 0;
  std::string configuration_text_;
  int test_current_counts_ = 0;
  double reftst_ = 0.0, rinctst_ = 0.0;
};
