// Every commissioning test run over the link against the served simulated drive, as
// `axiscore test --drive` runs it against `axiscore simulate`: the served drive follows the run's
// virtual clock, so each run must print exactly what it prints with the drive in the process, also
// on a line that spoils frames; a connection cut in the middle fails the run with the link's text
// and leaves the setup as it was.
#include <gtest/gtest.h>

#include "acceptance/simulated_run.h"
#include "host/link/stream_link.h"
#include "link/served_drive.h"

namespace axis::testing {
namespace {

// Every test the command line knows.
std::vector<const char*> AllTests() {
  std::vector<const char*> names;
  for (const cli::TestEntry& entry : cli::TestEntries()) names.push_back(entry.name);
  return names;
}

class CommissioningOverLink : public SimulatedRunTest {
 protected:
  // The tests that run until they are stopped are stopped after a few seconds of drive time
  // (they poll the drive every 20 ms until then); the others end on their own before.
  static cli::TestOptions Options() {
    cli::TestOptions options;
    options.stop_after_s = 5.0;
    return options;
  }

  // The tests that watch the carriage moved by hand have it moved over two pole pitches.
  static std::vector<std::string> Keys(const std::string& test) {
    if (test == "encoder-connections" || test == "hall-signals") return {"hand=0:0,1:0.06"};
    return {};
  }

  std::unique_ptr<ServedDrive> Serve(ServedDrive::Line line,
                                     std::optional<link::FaultPlan> faults = std::nullopt,
                                     std::vector<std::string> keys = {}) {
    return std::make_unique<ServedDrive>(
        [this, keys](const Clock& clock, std::string& error) {
          return std::unique_ptr<CMC_Comm>(sim::DriveForSetup(*served_setup_, clock, keys, error));
        },
        line, faults);
  }

  SimulatedRun RunOver(const char* test, const std::string& endpoint,
                       link::LinkOptions options = {}) {
    SimulatedRun run;
    const cli::TestEntry* entry = cli::FindTestEntry(test);
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    run.outcome = cli::RunTest(
        *setup_, *entry, Options(),
        [&](const Clock& clock, std::string& error) -> std::unique_ptr<CMC_Comm> {
          options.host_clock = &clock;
          return link::StreamLink::Open(endpoint, options, error);
        },
        [&](CMC_Setup& setup) { return Open(setup, entry->template_id); },
        [](DialogModel&, const std::string&) { return std::string("no pictures"); }, out, out);
    std::fclose(out);
    run.printed = text == nullptr ? "" : text;
    std::free(text);
    return run;
  }

  // What the test prints with the drive in this process, on a fresh copy of the setup.
  std::string InProcess(const char* test) {
    setup_ = Bundled({{"TestMaxSpeed", 1.0}});  // a push the mass routine's register holds
    const std::string printed = Run(test, Keys(test), Options()).printed;
    EXPECT_NE(printed.find("result: succeeded"), std::string::npos) << test << ": " << printed;
    setup_ = Bundled({{"TestMaxSpeed", 1.0}});
    return printed;
  }

  void ExpectSameValues(ServedDrive::Line line) {
    for (const char* test : AllTests()) {
      const auto served = Serve(line, std::nullopt, Keys(test));
      const std::string expected = InProcess(test);
      const SimulatedRun run = RunOver(test, served->endpoint());
      EXPECT_TRUE(run.outcome.ran) << test << ": " << run.outcome.error;
      EXPECT_EQ(run.printed, expected) << test << " over " << served->endpoint();
    }
  }

  std::unique_ptr<CMC_Setup> served_setup_ = Bundled();  // the setup the drive was made from
};

TEST_F(CommissioningOverLink, EveryTestGivesTheSameValuesOverTcp) {
  ExpectSameValues(ServedDrive::Line::kTcp);
}

TEST_F(CommissioningOverLink, EveryTestGivesTheSameValuesOverAPseudoTerminal) {
  ExpectSameValues(ServedDrive::Line::kPty);
}

TEST_F(CommissioningOverLink, OnePercentOfFramesSpoiltChangesNoValue) {
  link::FaultPlan faults;
  faults.drop = 0.01;
  faults.corrupt = 0.01;
  faults.seed = 3;
  link::LinkOptions options;
  options.answer_timeout_ms = 25;  // loopback answers in well under a millisecond
  options.retries = 5;
  for (const char* test : AllTests()) {
    const auto served = Serve(ServedDrive::Line::kTcp, faults, Keys(test));
    const std::string expected = InProcess(test);
    const SimulatedRun run = RunOver(test, served->endpoint(), options);
    EXPECT_EQ(run.printed, expected) << test;
  }
}

// Every parameter's value, to see that nothing changed.
std::vector<double> Values(const CMC_Setup& setup) {
  std::vector<double> values;
  const CMC_Parameters& parameters = setup.GetParameters();
  for (int i = 0; i < parameters.GetParametersCount(); ++i)
    values.push_back(parameters[i]->GetValueInBaseUnit());
  return values;
}

TEST_F(CommissioningOverLink, ACutConnectionFailsTheTestLeavesTheSetupAndTheNextRunWorks) {
  link::FaultPlan faults;
  faults.cut_after_frames = 100;
  link::LinkOptions options;
  options.answer_timeout_ms = 200;
  for (const char* test : AllTests()) {
    const std::string expected = InProcess(test);
    const std::vector<double> before = Values(*setup_);
    {
      const auto served = Serve(ServedDrive::Line::kTcp, faults, Keys(test));
      const SimulatedRun cut = RunOver(test, served->endpoint(), options);
      EXPECT_FALSE(cut.outcome.succeeded) << test;
      EXPECT_FALSE(cut.outcome.kept) << test;
      EXPECT_NE(cut.outcome.failure.find("the link was lost"), std::string::npos)
          << test << ": " << cut.outcome.failure;
      EXPECT_EQ(Values(*setup_), before) << test;
    }
    const auto served = Serve(ServedDrive::Line::kTcp, std::nullopt, Keys(test));
    EXPECT_EQ(RunOver(test, served->endpoint(), options).printed, expected) << test;
  }
}

TEST_F(CommissioningOverLink, ADriveThatStopsAnsweringFailsTheTestWithinTheTimeout) {
  link::FaultPlan faults;
  faults.stall_after_frames = 60;
  link::LinkOptions options;
  options.answer_timeout_ms = 50;
  options.retries = 2;
  const std::vector<double> before = Values(*setup_);
  const auto served = Serve(ServedDrive::Line::kTcp, faults);
  const SimulatedRun run = RunOver("current", served->endpoint(), options);
  EXPECT_FALSE(run.outcome.succeeded);
  EXPECT_FALSE(run.outcome.kept);
  EXPECT_NE(run.outcome.failure.find("the drive does not answer"), std::string::npos)
      << run.outcome.failure;
  EXPECT_EQ(Values(*setup_), before);
}

}  // namespace
}  // namespace axis::testing
