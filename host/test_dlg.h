// CMC_TestDlg: the host's base of a commissioning test dialog.
//
// A test is a setup dialog (its parameter controls edit the setup) that runs routines in the
// attached drive (CMC_Setup::GetComm) and follows them with a 20 ms timer. The base gives the
// frame every test shares, the run state the tests read and write, and the drive services:
//
// - Controls every test template has: Start/Stop (10000), "Close" (2), "Help" (10024), the
//   "Test purpose" group and text (10014, 10015), the status text (10001), the result text (10002),
//   the "&Details" button (10003, hidden) and the result icon (10004, a picture: "TEST_OK" or
//   "TEST_FAILED").
// - Start/Stop: without a run, BeginTest starts one; during a run it stops it: the timer is
//   killed and the drive is told to end the routine and switch the power stage off. Closing the
//   dialog during a run stops the run the same way first.
// - Before every launch the setup's registers that differ from what the drive was last sent are
//   written to it, so the routine runs on the setup being tested.
// - The user variables a test writes, reads and launches with must be declared for the routine in
//   the setup's "routines" section; anything else fails with a text naming it.
// - TestFailed shows the error text in the result text with the failure icon; TestSucceeded shows
//   "Test succeeded." with the success icon. With a non-zero argument the run ends (running flag
//   0, timer killed, the drive's power stage switched off, Start/Stop back to "Start"); the result
//   becomes 0 or 1.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/edit_setup_dlg.h"
#include "host/logger.h"  // callers pass a CMC_SingleAxisLogger* where a CMC_Logger* is taken
#include "host/routine_image.h"

class CMC_TestDlg : public CMC_EditSetupDlg {
 public:
  enum : int {
    kStartStop = 10000,
    kStatusText = 10001,
    kResultText = 10002,
    kDetailsButton = 10003,
    kResultIcon = 10004,
    kPurposeGroup = 10014,
    kPurposeText = 10015,
  };
  static constexpr int kPollTimer = 1;
  static constexpr unsigned kPollPeriodMs = 20;

  // An internal fault: a missing variable, a launch refused, a value the routine did not deliver.
  static const char* const msc_pszErrInternal;
  // The routine reports a test current of zero or less.
  static const char* const msc_pszErrInZero;
  // What an undelivered user variable reads.
  static constexpr double kUndelivered = 1.2345e100;

  CMC_TestDlg(CMC_Setup& setup, int template_id, int flag, CMC_EditSetupDlg* parent);
  ~CMC_TestDlg() override;

  // Starts a run; the test's own sequence. Returns non-zero when a run was started.
  virtual int BeginTest() { return 0; }
  // The Start/Stop button's action. Stop during a continuous run (continuous_run_ set) only sets
  // the stop request and leaves the ending of the run to the test.
  void OnBtnStartStop();

  // Launches the routine of `image` (its label) with the inputs written into the image. With a
  // single-axis logger the drive records while the routine runs; with a scope logger the routine
  // is launched without a record and the drive's oscilloscope is then armed (BeginUploadData),
  // a refusal failing the call. Non-zero when launched; otherwise the error text says why.
  // `progress` and `context` are unused.
  int ExecuteCode(const char* label, CMC_CoffFormat* image, CMC_Logger* logger,
                  void* progress = nullptr, void* context = nullptr);
  // A user variable of the routine of `image`: read from the drive / written into the image before
  // the launch (into the running routine too once it runs). Non-zero on success; otherwise
  // `error` (and the error text) say why.
  int GetUserVariableValue(CMC_CoffFormat* image, const char* name, double& value,
                           std::string& error);
  int SetUserVariableValue(CMC_CoffFormat* image, const char* name, double value,
                           std::string& error);
  // Whether the drive's power stage is on; non-zero on success.
  int GetAxisOn(int& on);
  // Shows the status text and moves the step index on by one.
  void SetInfoText(const char* text);
  void TestFailed(int end_run);
  void TestSucceeded(int end_run);
  // The name of the image of the routine `label` ("routines/<label>").
  std::string GetOutPathName(const char* label) const;

  // The text of the last failure of the drive link (after a failed ReadFromChip, ...).
  std::string CommErrorText() const;

  int OnInitDialog() override;
  void OnCommand(int id) override;
  void OnCancel() override;

  // Run state, read by front ends and tests.
  bool TestRunning() const { return running_flag_ != 0; }
  int TestResult() const { return result_; }
  const std::string& ErrorText() const { return error_text_; }
  uint16_t StepIndex() const { return step_index_; }

 protected:
  // Ends a run without a verdict: the timer killed, the drive told to stop (power stage off).
  void StopRun();

  // The run state the tests read and write.
  int running_flag_ = 0;
  int result_ = -1;
  std::string error_text_;
  uint16_t step_count_ = 0;
  uint16_t step_index_ = 0;
  int continuous_run_ = 0;
  int stop_request_ = 0;

 private:
  struct Routine {
    std::vector<std::string> inputs, outputs;
  };
  const Routine* FindRoutine(const std::string& label, std::string& error);
  bool Declared(const CMC_CoffFormat& image, const std::string& name, bool input,
                std::string& error);
  bool WriteRegisters(CMC_Comm& comm);
  void ShowVerdict(bool passed, int end_run);

  std::map<std::string, Routine> routines_;
  std::string routines_error_;  // why the setup's "routines" section cannot be read
  bool routines_read_ = false;
  std::map<std::string, double> sent_registers_;  // what the drive was last sent
  std::vector<CMC_CoffFormat*> launched_;         // the images launched in the present run
};
