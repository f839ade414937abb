// CSensorTestDlg: the live display the encoder and Hall tests share.
//
// While their routines run these tests show what the sensors report: the position counter (3131)
// and the encoder diagram (1024) between minus and plus one pole pitch of counts, the Hall state
// as three digits (3130) with the Hall diagram (1026) marking the present state and the ones
// visited, and, where the routine turns the field, the electrical angle on the phase diagram
// (1025). The encoder tests also arm the drive's index capture once encoder pulses were seen and
// show the captured index position (3132).
#pragma once

#include <optional>

#include "commissioning/my_test_dlg.h"
#include "host/diagrams.h"

class CSensorTestDlg : public CMyTestDlg {
 public:
  enum : int {
    kEncoderDiagram = 1024,
    kPhaseDiagram = 1025,
    kHallDiagram = 1026,
    kHallsEdit = 3130,
    kPositionEdit = 3131,
    kIndexEdit = 3132,
  };
  // A Hall value (Hall1 is bit 2, Hall2 bit 1, Hall3 bit 0) as the display shows it: its three
  // digits and its slice of the Hall diagram, in the order the states follow each other when
  // the motor moves forward. Null for 0 and 7, which no working sensor set gives.
  struct HallState {
    int value;
    const char* text;
    int slice;
  };
  static const HallState* FindHallState(int value);

  ~CSensorTestDlg() override;

  // In a test that runs until it is stopped, Stop judges the run (OnStopPressed).
  void OnCommand(int id) override;

  const CLinearEncoderDiagram& EncoderDiagram() const { return encoder_; }
  const CLinearHallDiagram& HallDiagram() const { return hall_; }
  const CPhaseDiagram& PhaseDiagram() const { return phase_; }

 protected:
  CSensorTestDlg(CMC_Setup& setup, int template_id, CMC_EditSetupDlg* parent);

  // Attaches the three diagrams to their controls; the phase diagram enabled or not.
  void AttachDiagrams(bool phase_enabled);
  // The encoder's counts per pole pitch: "PolePitch" over "EncRes" in internal units, truncated
  // toward zero; 0 when either is missing or the quotient is no count a 32-bit counter holds.
  long CountsPerPolePitch();
  // At the start of a run: the encoder diagram between -N and +N counts at 0, the Hall diagram
  // cleared and no Hall value shown yet, no pulses seen and the capture not armed.
  void ResetSensorDisplay();
  // Shows a Hall value when it differs from the last one shown: with `demote`, the present state
  // first becomes a visited one; a value 1 to 6 then shows its digits and becomes the present
  // state (any other value shows nothing new). True when the value was new.
  bool ShowHall(int value, bool demote = true);
  // Shows the position counter and moves the encoder diagram to it.
  void ShowPosition(long position);
  // Arms the drive's index capture once per run, on the first call after pulses were seen, and
  // shows the captured index position ("not detected" while the drive has captured none). False
  // when the run failed.
  bool ShowIndex();
  // Reads a drive variable in internal units, truncated toward zero; false when the run failed.
  bool ReadCount(const char* name, long& count);
  // Stop pressed during a run that goes on until it is stopped (the polling timer is killed).
  virtual void OnStopPressed() {}
  // A run stopped by the user passed: `finished` shown, the verdict, and "var_i2" = 1 written to
  // the drive, which tells the routine (that keeps the axis free) to end.
  void PassAndEndRoutine(const char* finished);

  CLinearEncoderDiagram encoder_;
  CLinearHallDiagram hall_;
  CPhaseDiagram phase_;
  bool pulses_seen_ = false;
  bool capture_armed_ = false;

 private:
  std::optional<int> last_hall_;
};
