// CMyTestDlg: the base of the plug-in's commissioning tests.
//
// Every test runs one or two drive routines and follows them with the 20 ms polling timer (a
// state machine over the step index that SetInfoText advances). This base holds what all tests
// share: the routine protocol (waiting for a routine, the values the preliminary positioning
// routine leaves for the main one, launching), reading drive variables, the drive fault check, and
// the question that proposes identified values when the dialog is closed.
//
// Tests other than the speed and position tuning tests zero "ABSTART_MINMOVE" while they run (no
// minimum move at the motor start); a test that ends without OK puts the old value back, so that
// a cancelled test leaves the setup as it found it.
#pragma once

#include <string>
#include <vector>

#include "host/test_dlg.h"

namespace kestrel {

// The "MER" bits a test checks, with the texts they fail with, in the order they are tested.
struct DriveFault {
  unsigned bit;
  const char* text;
};
inline constexpr DriveFault kDriveFaults[] = {
    {0x0002, "Drive / Motor shortcircuit protection triggered."},
    {0x0008, "Drive / Motor control error protection triggered."},
    {0x0020, "Hall sensor is missing."},
    {0x0040, "Drive / Motor stopped due to positive limit switch input triggered."},
    {0x0080, "Drive / Motor stopped due to negative limit switch input triggered."},
    {0x8000, "Drive / Motor ENABLE input is in DISABLED state."},
};
// Fault masks in use: short circuit only; short circuit and ENABLE; every bit.
inline constexpr unsigned kShortCircuitMask = 0x0002;
inline constexpr unsigned kShortCircuitEnableMask = 0x8002;
inline constexpr unsigned kAllFaultsMask = 0xFFFF;

// One line of the close question: the label, the old and the new value as text.
struct ChangedValue {
  std::string label;
  std::string old_text;
  std::string new_text;
};

// The labels of the routines the tests run.
inline constexpr const char* kPreliminaryRoutine = "Initial_Positioning_Test";

}  // namespace kestrel

class CMyTestDlg : public CMC_TestDlg {
 public:
  CMyTestDlg(CMC_Setup& setup, int template_id, int flag, CMC_EditSetupDlg* parent);
  ~CMyTestDlg() override;

  // 1 when the drive reports none of the faults selected by `mask`; otherwise the fault's text
  // (or the internal error when "MER" cannot be read) becomes the error text, the run fails when
  // `end_test` is non-zero, and 0 is returned.
  int CheckDriveFaults(int end_test, unsigned mask);

  void OnTimer(int id) override;

 protected:
  // The test's state machine, run on each tick of the polling timer while a run goes on (the
  // timer is killed before; re-arm it to go on polling).
  virtual void OnPoll() {}

  // Sets the image's name from its label and loads it.
  void LoadImage(CMC_CoffFormat& image, const char* label);
  // Starts the polling timer; false (the run failed) when it cannot be started.
  bool RearmTimer(unsigned period_ms = kPollPeriodMs);

  // Where a routine stands after one poll.
  enum class Routine { kWaiting, kFinished, kFailed };
  // Polls the routine of `image`: not begun yet (faults of `mask` checked), running, or finished
  // (faults checked once more). Re-arms the timer while waiting; fails the run on an error.
  Routine PollRoutine(CMC_CoffFormat& image, unsigned mask);
  // How the test current the preliminary routine reads back is judged: a positive current; or
  // any current but zero (the tests that may position the motor either way).
  enum class CurrentBack { kPositive, kNotZero };
  // Polls the preliminary positioning routine (short circuit and ENABLE watched); true once it
  // has finished and its results are read: "In1" read back and checked, then "REFTST_V" and,
  // unless `rinctst` is null, "RINCTST_V" in internal units. False while it runs and when the
  // run failed.
  bool PreliminaryFinished(CMC_CoffFormat& preliminary, double& reftst, double* rinctst,
                           CurrentBack rule = CurrentBack::kPositive);
  // Writes the user variables into the image, each write failing the run on error.
  bool WriteInputs(CMC_CoffFormat& image, const axis::UserVariables& inputs);
  // Launches the routine; the internal error fails the run when the drive refuses.
  bool Launch(const char* label, CMC_CoffFormat& image, CMC_Logger* logger = nullptr);
  // Reads a drive variable from the drive, in internal or base units; a missing variable or a
  // failed read fails the run.
  bool ReadDriveVariable(const char* name, bool internal, double& value);
  // Reads a user variable of the image; failure, or a value the routine did not deliver, fails
  // the run.
  bool ReadResult(CMC_CoffFormat& image, const char* name, double& value);
  // Fails the run with this error text.
  void Fail(const std::string& text);

  // A current parameter ("TestCurrent", "TestProtectionCurrent") in the drive's current counts,
  // truncated toward zero. The routines take it as a signed 16-bit number: a current whose count
  // does not fit is refused with a message naming the largest current the drive takes, instead
  // of reaching the drive wrapped. False (a message shown) when refused or missing.
  bool CurrentCounts(const char* name, int& counts);
  // The same for any parameter the drive takes as a signed 16-bit count: `what` and `unit` name
  // and `holder` (what holds it in the drive) name it in the message, `counts_per_unit` is its
  // scale.
  bool Int16Counts(const char* name, const char* what, const char* holder, double counts_per_unit,
                   const char* unit, int& counts);

  // The first steps of every test that positions the motor before its main routine: "In1" (the
  // test current in counts) written into the preliminary image, the preliminary routine launched,
  // the status text of the waiting step shown and the polling started. False when the run failed.
  bool StartPreliminary(CMC_CoffFormat& preliminary, int test_current_counts,
                        const char* waiting_text);

  // The close question for the values a test identified: Yes (kIdYes), No (kIdNo) or Cancel
  // (kIdCancel); kIdOk when there was nothing to ask (no changed value, or the last run did not
  // succeed).
  // `intro` opens the question (default: the one for one or several parameters).
  int AskToKeepValues(const std::vector<kestrel::ChangedValue>& changed,
                      const char* intro = kChangedValuesIntro);
  static constexpr const char* kChangedValuesIntro =
      "A different value than specified has been detected for the following parameter(s):";

 private:
  CMC_Parameter* min_move_ = nullptr;  // "ABSTART_MINMOVE", zeroed while the test runs
  double saved_min_move_ = 0.0;
};
