// `axiscore test`: one commissioning test run headless, as a user would run it in the desktop,
// against a drive (the simulated one) on the headless platform's virtual clock.
//
// The scripted user presses "Tune" first where asked and the test has one, then Start, waits for
// the verdict (or presses Stop after the given drive time), then ends the dialog: after a run that
// succeeded and with the answer yes, the way that keeps its results (its OK button where it has
// one, else Close and Yes to its question); otherwise the way that discards them (Close, and No),
// so that a failed or stopped run never changes the setup. Status texts are printed as they
// appear, then the verdict and the values the test identified or measured.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/clock.h"
#include "host/comm.h"
#include "host/dialog_model.h"

class CMC_Setup;

namespace axis::cli {

// A test as the command line names it.
struct TestEntry {
  const char* name;  // "rl"
  int template_id;
  int tab_id = 0;  // a tab control to turn to its run page before Start (0: none)
  int run_page = 0;
  int tune_button = 0;  // 0: the test has no "Tune"
  bool plots = false;   // it plots curves (that --export can write)
  // Printed after the run: name, value, base unit (for the tests that write what they found
  // into the setup while they run).
  std::vector<const char*> parameters;
  struct Readout {
    int control;  // the dialog control whose text is the value
    const char* name;
    const char* unit;
    int unit_control = 0;  // a unit list whose selected unit is the value's (instead of `unit`)
  };
  // Printed like the parameters: name, value, unit. What a test keeps in the dialog until it
  // closes (and only then, if the user accepts, in the setup) is printed from the dialog.
  std::vector<Readout> readouts;
};

// The tests the command line knows, and one by name (null when unknown).
const std::vector<TestEntry>& TestEntries();
const TestEntry* FindTestEntry(const std::string& name);

struct TestOptions {
  bool keep = true;                    // --answer yes (default) or no
  std::optional<double> stop_after_s;  // --stop-after SECONDS of drive time
  bool tune = false;                   // --tune
  std::string export_csv;              // --export FILE.csv
  std::string picture_png;             // --picture FILE.png
};

struct TestOutcome {
  bool ran = false;        // the dialog ran (else `error` says why)
  bool succeeded = false;  // the last run's verdict
  bool kept = false;       // the dialog ended with OK: the setup holds what the test left
  std::string failure;     // the failure text as the dialog shows it ("" unless it failed)
  std::string error;
  std::string output_error;  // --export or --picture could not be written
};

// How the drive is made once the clock exists; null with `error` set when it cannot be.
using DriveFactory =
    std::function<std::unique_ptr<CMC_Comm>(const Clock& clock, std::string& error)>;
// How a dialog is drawn into a PNG ("" on success, else why).
using DialogPainter = std::function<std::string(DialogModel& dialog, const std::string& png)>;
// Opens the test's dialog on the setup (the plug-in's service) and returns its modal result.
using DialogOpener = std::function<int(CMC_Setup& setup)>;

TestOutcome RunTest(CMC_Setup& setup, const TestEntry& entry, const TestOptions& options,
                    const DriveFactory& make_drive, const DialogOpener& open,
                    const DialogPainter& paint, std::FILE* out, std::FILE* err);

}  // namespace axis::cli
