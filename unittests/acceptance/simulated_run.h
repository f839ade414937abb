// End-to-end runs of the commissioning tests on the simulated drive, as `axiscore test` runs them:
// the plug-in's own dialog on the bundled demo setup, the command line's scripted user, and the
// drive built from the setup's "simulation" section with keys overridden per case.
#pragma once

#include <stdio.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli/test_runner.h"
#include "editor/dialog_catalogue.h"
#include "editor/editor_test_support.h"
#include "sim/setup_config.h"

namespace axis::testing {

struct SimulatedRun {
  cli::TestOutcome outcome;
  std::string printed;  // the status texts, the verdict and the values, as the command prints them
};

class SimulatedRunTest : public EditorTest {
 protected:
  // Runs the test named as on the command line, with these "KEY=VALUE" simulation keys.
  SimulatedRun Run(const char* test, const std::vector<std::string>& keys,
                   const cli::TestOptions& options = {}) {
    SimulatedRun run;
    const cli::TestEntry* entry = cli::FindTestEntry(test);
    if (entry == nullptr) {
      ADD_FAILURE() << "no test " << test;
      return run;
    }
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    run.outcome = cli::RunTest(
        *setup_, *entry, options,
        [&](const Clock& clock, std::string& error) -> std::unique_ptr<CMC_Comm> {
          return sim::DriveForSetup(*setup_, clock, keys, error);
        },
        [&](CMC_Setup& setup) { return Open(setup, entry->template_id); },
        [](DialogModel&, const std::string&) { return std::string("no pictures in these tests"); },
        out, out);
    std::fclose(out);
    run.printed = text == nullptr ? "" : text;
    std::free(text);
    EXPECT_TRUE(run.outcome.ran) << test << ": " << run.outcome.error;
    return run;
  }

  static int Open(CMC_Setup& setup, int template_id) {
    for (const kestrel::SetupDialogEntry& entry : kestrel::SetupDialogs())
      if (entry.template_id == template_id) return entry.open(&setup);
    ADD_FAILURE() << "no dialog " << template_id;
    return -1;
  }

  std::unique_ptr<CMC_Setup> setup_ = Bundled();
};

}  // namespace axis::testing
