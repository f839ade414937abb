// `axiscore simulate` and `--drive`, as a user runs them: the served drive in a process of its
// own, a test run against it over TCP and over a pseudo-terminal, and Ctrl+C ending it cleanly.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/test_runner.h"

namespace {

namespace fs = std::filesystem;

const std::string kProgram = AXIS_BIN_DIR "/axiscore";

// The output (standard output, then standard error) and exit status of a command line.
std::pair<std::string, int> Shell(const std::string& command) {
  std::string text;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) text += buffer;
  const int status = pipe == nullptr ? -1 : pclose(pipe);
  return {text, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// `axiscore simulate` running in the background; its first line is the link to give --drive.
class Simulator {
 public:
  explicit Simulator(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      const int quiet = open("/dev/null", O_WRONLY);  // its notes of each host coming and going
      if (quiet >= 0) dup2(quiet, STDERR_FILENO);
      std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* lines = fdopen(out[0], "r");
    char line[512] = {};
    if (lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr) link_ = line;
    if (!link_.empty() && link_.back() == '\n') link_.pop_back();
    if (lines != nullptr) std::fclose(lines);
  }
  // Ctrl+C; the exit status.
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGINT);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Simulator() { Stop(); }
  const std::string& link() const { return link_; }

 private:
  pid_t pid_ = -1;
  std::string link_;
};

class Simulate : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(::testing::TempDir()) / "axiscore-sim-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    // The demo with a mass-test push the routine's 16-bit speed register holds.
    std::ifstream in(fs::path(AXIS_SETUPS_DIR) / "demo-linear.json");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string limit = R"("name": "TestMaxSpeed", "value": 100,)";
    ASSERT_NE(text.find(limit), std::string::npos);
    text.replace(text.find(limit), limit.size(), R"("name": "TestMaxSpeed", "value": 1,)");
    std::ofstream(dir_ / "demo.json") << text;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Setup() const { return (dir_ / "demo.json").string(); }
  // `axiscore test` of one test, with extra arguments; the tests that run until they are stopped
  // are stopped after 5 s of drive time.
  std::pair<std::string, int> TestRun(const std::string& test, const std::string& extra) {
    return Shell(kProgram + " test '" + Setup() + "' " + test + " --stop-after 5 -o '" +
                 (dir_ / "out.json").string() + "' " + extra);
  }
  fs::path dir_;
};

TEST_F(Simulate, EveryTestOverEitherLineFindsWhatItFindsInProcessAndCtrlCEndsTheServer) {
  std::vector<std::string> tests;  // every test the command line knows
  for (const axis::cli::TestEntry& entry : axis::cli::TestEntries()) tests.push_back(entry.name);
  std::vector<std::pair<std::string, int>> in_process;
  for (const std::string& test : tests) in_process.push_back(TestRun(test, ""));
  for (const char* line : {"--listen", "--pty"}) {
    std::vector<std::string> args = {"simulate", Setup()};
    args.push_back(line);
    if (std::string(line) == "--listen") args.push_back("127.0.0.1:0");
    Simulator simulator(args);
    ASSERT_FALSE(simulator.link().empty()) << line;
    for (size_t i = 0; i < tests.size(); ++i) {
      const auto [over_link, status] = TestRun(tests[i], "--drive " + simulator.link());
      EXPECT_EQ(status, in_process[i].second) << tests[i] << ": " << over_link;
      // The same lines, the drive's identity noted first.
      EXPECT_EQ(over_link.rfind("axiscore: drive: Simulated drive (Demo linear axis", 0), 0u)
          << over_link;
      EXPECT_NE(over_link.find(in_process[i].first), std::string::npos)
          << tests[i] << " over " << line << ":\n"
          << over_link;
    }
    EXPECT_EQ(simulator.Stop(), 0) << line;
  }
}

TEST_F(Simulate, MisusedOptionsAndAbsentDrivesAreClearErrors) {
  const std::pair<std::string, std::string> rows[] = {
      {"simulate '" + Setup() + "'", "simulate needs one of --listen HOST:PORT and --pty"},
      {"simulate '" + Setup() + "' --pty --faults drop=2", "--faults: \"drop=2\" is no fault"},
      {"simulate '" + Setup() + "' --listen nowhere", "--listen: \"nowhere\" is not HOST:PORT"},
      {"test '" + Setup() + "' rl --drive tcp:127.0.0.1:1",
       "the drive cannot be reached (cannot connect to 127.0.0.1:1"},
      {"test '" + Setup() + "' rl --drive udp:x", "is no drive link"},
      {"test '" + Setup() + "' rl --drive tcp:127.0.0.1:1 --sim seed=2",
       "--sim sets up the simulated drive of this process"},
      {"get '" + Setup() + "' R --drive tcp:127.0.0.1:1", "get does not take --drive"},
  };
  for (const auto& [args, text] : rows) {
    const auto [output, status] = Shell(kProgram + " " + args);
    EXPECT_EQ(status, 2) << args;
    EXPECT_NE(output.find(text), std::string::npos) << args << ": " << output;
  }
}

}  // namespace
