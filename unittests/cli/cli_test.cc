// The axiscore command line, run as a user runs it: the real executable and plug-in on copies of
// the bundled setups.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "host/dialog_template.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder of its own, so that test programs running at the same time never share one.
    std::string pattern = (fs::path(::testing::TempDir()) / "axiscore-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    for (const char* name : {"demo-linear.json", "minimal-linear.json", "demo-rotary.json"}) {
      fs::copy_file(fs::path(AXIS_SETUPS_DIR) / name, dir_ / name);
    }
  }
  void TearDown() override { fs::remove_all(dir_); }

  // `environment`: "NAME=value" settings and "-u NAME" removals for env(1); `program`: another
  // copy of axiscore, quoted for the shell. Run in the test's own folder.
  Result Run(const std::vector<std::string>& args, const std::string& environment = "",
             const std::string& program = Quote(AXIS_BIN_DIR "/axiscore")) {
    std::string command = "cd " + Quote(dir_.string()) + " && env " + environment + " " + program;
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " >" + Quote((dir_ / "stdout").string()) + " 2>" + Quote((dir_ / "stderr").string());
    Result result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(dir_ / "stdout");
    result.err = ReadFile(dir_ / "stderr");
    return result;
  }
  std::string Path(const char* name) { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(Cli, ErrorsGoToStderrWithStatusTwo) {
  const std::string demo = Path("demo-linear.json"), help = " (see axiscore --help)\n";
  const std::string not_number = "\" is not a number\n";
  // clang-format off
  const std::pair<std::vector<std::string>, std::string> rows[] = {  // "" only checks the prefix
      {{"frobnicate", demo}, "unknown command \"frobnicate\"" + help},
      {{"get", demo}, "wrong number of arguments for get" + help},
      {{"show", demo, "--fast"}, "unknown option \"--fast\"" + help},
      {{"get", demo, "PWM_freq", "-o", "x"}, "get does not take -o\n"},
      {{"get", demo, "PWM_freq", "NoSuchThing"}, "unknown parameter \"NoSuchThing\"\n"},
      {{"--plugin", "/nonexistent.so", "get", demo, "PWM_freq"},
       "cannot load the plug-in \"/nonexistent.so\": /nonexistent.so: cannot open shared object "
       "file: No such file or directory\n"},
      {{"tune", demo, "torque"}, "unknown loop \"torque\" (current, speed or position)\n"},
      {{"set", demo, "PWM_freq=fast"}, "PWM_freq: \"fast" + not_number},
      {{"set", demo, "PWM_freq=inf"}, "PWM_freq: \"inf" + not_number},
      {{"set", demo, "PWM_freq=1e999"}, "PWM_freq: \"1e999\" is too large or too small a number\n"},
      {{"set", demo, "PWM_freq=16mm"},
       "PWM_freq: unit \"mm\" does not measure what \"Hz\" measures\n"},
      {{"set", demo, "PWM_freq=16 furlongs"}, "PWM_freq: unknown unit \"furlongs\"\n"},
      {{"set", demo, "PWM_freq=2,5kHz"},
       "PWM_freq: \"2,5kHz\" is not a number (the decimal mark is a point: \"2.5kHz\")\n"},
      {{"set", demo, "PWM_freq"}, "expected NAME=VALUE, got \"PWM_freq\"\n"},
      {{"scale", demo, "furlong", "APOS"}, "unknown unit \"furlong\"\n"},
      {{"scale", demo, "rad", "APOS"}, "unit \"rad\" does not measure APOS (its base unit is \"m\")\n"},
      {{"scale", demo, "m", "NoSuchThing"}, "no parameter or variable is named \"NoSuchThing\"\n"},
      {{"scale", demo, "\xff", "APOS"}, "unknown unit \"\\xFF\"\n"},
      {{"offset", demo, "furlong"}, "unknown unit \"furlong\"\n"},
      {{"tune", Path("minimal-linear.json"), "speed"},
       "the speed controller cannot be tuned: the setup lacks \"PosSpd_in_FastLoop\"\n"},
      // A plug-in named without a folder is that file here, not a library searched for.
      {{"--plugin", "libkestrel.so", "get", demo, "PWM_freq"},
       "cannot load the plug-in \"libkestrel.so\": ./libkestrel.so: cannot open shared object "
       "file: No such file or directory\n"},
      {{"test", demo, "torque"},
       "unknown test \"torque\" (phase, rl, current, vdc, encoder-connections, "
       "encoder-resolution, hall-signals, hall-configuration, angle, analogue, mass, speed, position)\n"},
      {{"test", demo, "rl", "--answer", "maybe"}, "--answer takes yes or no, not \"maybe\"\n"},
      {{"test", demo, "rl", "--stop-after", "-3"},
       "--stop-after takes seconds from 0 to 1000000, not \"-3\"\n"},
      {{"test", demo, "vdc", "--export", "bus.csv"}, "--export: the vdc test plots no curves\n"},
      {{"test", demo, "rl", "--sim", "furlongs=3"}, ""},
      {{"test", demo, "rl", "--sim", "R"}, "--sim takes KEY=VALUE, not \"R\"\n"},
      {{"show", Path("absent.json")}, ""}};
  // clang-format on
  for (const auto& [args, err] : rows) {
    SCOPED_TRACE(args[0] + " " + args.back());
    const Result r = Run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(err.empty() ? r.err.substr(0, 10) : r.err, "axiscore: " + err);
  }
}

// A setup someone sent: a name in Latin-1, names and units with control characters, and a
// quantity of the DC bus, whose base unit "V " has a blank.
std::string Careless(const std::string& demo_text) {
  std::string text = demo_text;
  const std::string extra =
      R"(    {"name": "K\u00fchlung", "value": 1.5, "min": 0, "max": 2, "unit": "s"},)"
      "\n"
      R"(    {"name": "Red\u001b[31m\nPWM_freq\t1", "value": 0, "min": 0, "max": 1, "unit": ""},)"
      "\n"
      R"(    {"name": "Bus", "value": 24, "min": 0, "max": 100, "unit": "V "},)"
      "\n"
      R"(    {"name": "Tiny", "value": 0, "min": 0, "max": 1, "unit": ""},)"
      "\n";
  const size_t at = text.find("  \"parameters\": [\n");
  if (at != std::string::npos) text.insert(text.find('\n', at) + 1, extra);
  return text;
}

// Exact outputs, the same in a decimal-comma locale: numbers are the shortest text that reads
// back as the same double (whole numbers written out), names and units UTF-8, control characters
// escaped.
TEST_F(Cli, OutputsAreExactInAnyLocale) {
  const std::string demo = Path("demo-linear.json"), sent = Path("sent.json");
  std::ofstream(sent) << Careless(ReadFile(demo));
  // clang-format off
  const struct { std::vector<std::string> args; std::string out; } rows[] = {
      {{"get", demo, "dsp_freq", "PolePitch"},
       "DSP_freq\t40000000\tHz\t40000000\t40000000\nPolePitch\t0.03\tm\t0.001\t0.2\n"},
      {{"get", sent, "K\xc3\xbchlung"}, "K\xc3\xbchlung\t1.5\ts\t0\t2\n"},
      {{"show", sent, "red"},
       "Name                                       Value  Unit                 Minimum             Maximum\n"
       "Red\\x1B[31m\\x0APWM_freq\\x091                   0                             0                   1\n"},
      // One encoder count is 1 µm of travel: 1e-06 m, 0.001 mm, 1 µm.
      {{"scale", demo, "m", "APOS"}, "1e-06\n"},
      {{"scale", demo, "mm", "APOS"}, "0.001\n"},
      {{"scale", demo, "\xc2\xb5m", "Motor_Position"}, "1\n"},
      {{"offset", demo, "A"}, "0\n"},
      // The temperature sensor reads 9927.27 counts at 0 degrees: the same in every unit of it.
      {{"offset", demo, "\xc2\xb0" "C"}, "-9927.272727272728\n"},
      {{"set", sent, "Bus=48 V", "Tiny=1e-310", "K\xc3\xbchlung=250ms", "-o", Path("out.json")}, ""},
      {{"get", Path("out.json"), "bus", "tiny", "k\xc3\xbchlung"},
       "Bus\t48\tV \t0\t100\nTiny\t1e-310\t\t0\t1\nK\xc3\xbchlung\t0.25\ts\t0\t2\n"}};
  // clang-format on
  for (const char* locale : {"C", "de_DE.UTF-8"}) {
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(locale) + ": " + row.args[0] + " " + row.args.back());
      const Result r = Run(row.args, std::string("LC_ALL=") + locale);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, row.out);
    }
  }
}

TEST_F(Cli, SetAcceptsUnitsAndRefusesOutOfRangeWithoutTouchingTheFile) {
  const std::string demo = Path("demo-linear.json");
  const std::string before = ReadFile(demo);
  Result r = Run({"set", demo, "PWM_freq=16kHz", "PolePitch=1e9"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("PolePitch: 1000000000 is outside the range [0.001, 0.2] m\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(demo), before) << "a refused set must not write anything";

  r = Run({"set", demo, "PWM_freq=16kHz", "PolePitch= 32 mm", "-o", Path("out.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(demo), before) << "with -o the input stays as it was";
  r = Run({"get", Path("out.json"), "PWM_freq", "PolePitch"});
  EXPECT_NE(r.out.find("PWM_freq\t16000\tHz"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("PolePitch\t0.032\tm"), std::string::npos) << r.out;
}

TEST_F(Cli, EncodeAfterSetUpdatesTheRegistersInPlace) {
  const std::string demo = Path("demo-linear.json");
  ASSERT_EQ(Run({"set", demo, "PWM_freq=16kHz"}).status, 0);
  const Result r = Run({"encode", demo});
  ASSERT_EQ(r.status, 0) << r.err;
  // PWMPER = DSP_freq / 2 / PWM_freq = 40 MHz / 32 kHz = 1250 timer clocks.
  EXPECT_EQ(Run({"get", demo, "PWMPER"}).out.rfind("PWMPER\t1250\t", 0), 0u);
}

TEST_F(Cli, DiffListsChangedParametersAndExitsOneWhenTheyDiffer) {
  const std::string demo = Path("demo-linear.json");
  Result r = Run({"diff", demo, demo});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(Run({"set", demo, "PolePitch=32mm", "-o", Path("b.json")}).status, 0);
  r = Run({"diff", demo, Path("b.json")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "PolePitch\tA: 0.03 m [0.001, 0.2] shown in mm\tB: 0.032 m [0.001, 0.2] shown in mm\n");
  r = Run({"diff", demo, Path("minimal-linear.json")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("KPTHT\tonly in A: "), std::string::npos);
}

TEST_F(Cli, ShowFiltersByPatternAndUsesDisplayUnits) {
  const Result r = Run({"show", Path("demo-linear.json"), "polepitch"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("PolePitch"), std::string::npos);
  EXPECT_NE(r.out.find(" 30 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mm"), std::string::npos);
  EXPECT_EQ(Run({"show", Path("demo-linear.json"), "zzz*"}).status, 2);
}

TEST_F(Cli, ComputeAndTuneRunOnEveryBundledSetup) {
  for (const char* name : {"demo-linear.json", "minimal-linear.json", "demo-rotary.json"}) {
    SCOPED_TRACE(name);
    Result r = Run({"compute", Path(name)});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "a complete setup derives without a missing name";
    for (const char* loop : {"current", "speed", "position"}) {
      r = Run({"tune", Path(name), loop});
      // The speed tuning needs "PosSpd_in_FastLoop", which the minimal drive does not have.
      const bool tunable =
          std::string(loop) != "speed" || std::string(name) != "minimal-linear.json";
      EXPECT_EQ(r.status, tunable ? 0 : 2) << loop << ": " << r.err;
    }
  }
}

TEST_F(Cli, TuneWritesGainsTheRegistersCanHold) {
  const std::string demo = Path("demo-linear.json");
  ASSERT_EQ(Run({"set", demo, "PB_S=200"}).status, 0);
  ASSERT_EQ(Run({"tune", demo, "speed"}).status, 0);
  std::istringstream lines(Run({"get", demo, "Kp_S_scl", "KPS", "SFTKPS"}).out);
  double values[3] = {};  // the gain, its mantissa and its shift
  for (double& value : values) {
    std::string name, rest;
    lines >> name >> value;
    std::getline(lines, rest);
  }
  const auto [kp, mantissa, shift] = values;
  EXPECT_GT(kp, 0.0);
  EXPECT_EQ(mantissa, std::round(mantissa));
  EXPECT_LE(mantissa, 32767);
  // The gain shown is exactly the one the registers give.
  EXPECT_DOUBLE_EQ(kp, mantissa * std::ldexp(1.0, static_cast<int>(shift)) / 32767.0);
}

TEST_F(Cli, TestRunsOnTheSimulatedDriveAndWritesOnlyWhatItKeeps) {
  const std::string demo = Path("demo-linear.json"), original = ReadFile(demo);
  const std::string out = Path("out.json"), csv = Path("step.csv");
  const std::string no_routines =
      "The setup describes no drive routines (it has no \"routines\" section).\n";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;           // the failure text
    bool writes_out;           // out.json holds the kept result
    std::string out_contains;  // a line of standard output
  } rows[] = {
      {{"rl", "--sim", "R=4", "-o", out}, 0, "", true, "result: succeeded\nR\t3.99"},
      {{"rl", "--sim", "R=4", "--answer", "no", "-o", out}, 0, "", false, "R\t3.99"},
      {{"phase", "--sim", "R=5", "-o", out}, 0, "", false, "IA\t1.5\tA\nIB\t-0.75\tA\n"},
      {{"phase", "--sim", "openPhase=C", "-o", out},
       1,
       "Possible causes of failure:\n\t- one of the motor phases is disconnected",
       false,
       "result: failed\n"},
      {{"current", "--tune", "--stop-after", "0.001", "-o", out}, 1, "", false, "Test stopped\n"},
      {{"current", "--tune", "--export", csv, "-o", out}, 0, "", true, "Uploading results\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0] + " " + row.args[2]);
    std::filesystem::remove(out);
    std::vector<std::string> args = {"test", demo};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Result r = Run(args);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err.substr(0, row.err.size()), row.err);
    EXPECT_NE(r.out.find(row.out_contains), std::string::npos) << r.out;
    EXPECT_EQ(std::filesystem::exists(out), row.writes_out);
    EXPECT_EQ(ReadFile(demo), original);
  }
  EXPECT_EQ(ReadFile(csv).substr(0, 60),
            "t_s,Current_Reference_A,Voltage_Reference_V,Motor_Current_A\n");
  // Without -o the kept result goes into the setup itself; a setup without routines cannot run.
  EXPECT_EQ(Run({"test", demo, "vdc", "--sim", "vdc=24"}).status, 0);
  EXPECT_EQ(Run({"get", demo, "Vdc"}).out, "Vdc\t24\tV\t5\t90\n");
  const Result minimal = Run({"test", Path("minimal-linear.json"), "rl"});
  EXPECT_EQ(minimal.status, 1);
  EXPECT_EQ(minimal.err, no_routines);
}

TEST_F(Cli, HelpListsEveryCommandAndVersionNamesTheRelease) {
  const Result r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* command : {"compute", "encode", "get", "set", "show", "scale", "offset", "tune",
                              "diff", "edit", "render"}) {
    EXPECT_NE(r.out.find(std::string("  ") + command + " "), std::string::npos) << command;
  }
  for (const char* option : {"--version", "-V"}) {
    const Result v = Run({option, "get"});  // answered before any command runs
    EXPECT_EQ(v.status, 0) << option;
    EXPECT_EQ(v.out, "axiscore " AXIS_VERSION "\n") << option;
  }
}

}  // namespace

#ifdef AXIS_HAVE_GUI
namespace {

// Width and height from a PNG file's header, {0, 0} when it is not a PNG.
std::pair<uint32_t, uint32_t> PngSize(const std::string& bytes) {
  if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
  auto be32 = [&](size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
  };
  return {be32(16), be32(20)};
}

TEST_F(Cli, RenderDrawsEverySetupDialogAtItsSizeAndLeavesTheSetupAlone) {
  const std::string demo = Path("demo-linear.json");
  const std::string before = ReadFile(demo);
  const fs::path pictures = dir_ / "pictures";  // made by render
  // The motor setup dialog reads the user's motor database: an empty configuration folder here.
  const Result r = Run({"render", demo, pictures.string()},
                       "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" + Quote(Path("config")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(demo), before);
  int drawn = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(AXIS_BIN_DIR) / "resources/dialogs")) {
    const axis::TemplateResult loaded = axis::LoadDialogTemplateFile(entry.path().string());
    ASSERT_TRUE(loaded) << loaded.error;
    const fs::path png = pictures / (entry.path().stem().string() + ".png");
    SCOPED_TRACE(png.string());
    // Every template of the program belongs to a dialog the plug-in opens.
    EXPECT_NE(r.out.find(png.string() + "\n"), std::string::npos) << r.out;
    const auto [width, height] = PngSize(ReadFile(png));
    EXPECT_EQ(width, static_cast<uint32_t>(loaded.dialog->width));
    EXPECT_EQ(height, static_cast<uint32_t>(loaded.dialog->height));
    ++drawn;
  }
  EXPECT_GE(drawn, 7);
}

// The desktop front end, and Qt with it, is loaded only by the commands that draw or edit: the
// dynamic loader's own account of the libraries it opens for each command.
TEST_F(Cli, OnlyTheCommandsThatDrawLoadQt) {
  const std::string png = Path("template.png");
  const struct {
    std::vector<std::string> args;
    bool draws;
  } rows[] = {{{"--help"}, false},
              {{"get", Path("demo-linear.json"), "PWM_freq"}, false},
              {{"compute", Path("demo-linear.json")}, false},
              {{"render-template", "106", png}, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args[0]);
    const Result r = Run(row.args, "LD_DEBUG=files QT_QPA_PLATFORM=offscreen");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("libaxiscore-gui.so") != std::string::npos, row.draws);
    EXPECT_EQ(r.err.find("libQt6Core.so") != std::string::npos, row.draws);
  }
  EXPECT_TRUE(fs::exists(png));
}

// A copy of the command line and its libraries without the front end beside them: the commands
// that need it say so, the others work.
TEST_F(Cli, CommandsThatDrawSayWhenTheDesktopFrontEndIsMissing) {
  const fs::path bin = dir_ / "bin";
  fs::create_directory(bin);
  for (const char* file : {"axiscore", "libaxiscore.so", "libkestrel.so"})
    fs::copy_file(fs::path(AXIS_BIN_DIR) / file, bin / file);
  const std::string axiscore = Quote((bin / "axiscore").string());
  const std::string demo = Path("demo-linear.json");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"edit", demo}, {"render", demo, Path("pictures")}}) {
    const Result r = Run(args, "", axiscore);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(
        r.err.rfind(
            "axiscore: " + args[0] + " needs the desktop front end, which cannot be loaded (", 0),
        0u)
        << r.err;
    EXPECT_NE(r.err.find("libaxiscore-gui.so: cannot open shared object file"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(Run({"get", demo, "PWM_freq"}, "", axiscore).status, 0);
}

TEST_F(Cli, EditWithoutADisplaySaysSoAndWritesNothing) {
  const std::string demo = Path("demo-linear.json");
  const std::string before = ReadFile(demo);
  const Result r = Run({"edit", demo, "-o", Path("out.json")},
                       "-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(
      r.err,
      "axiscore: no display to show the editor on: neither DISPLAY nor WAYLAND_DISPLAY is set "
      "(run it in a desktop session, or choose a Qt platform with QT_QPA_PLATFORM)\n");
  EXPECT_EQ(ReadFile(demo), before);
  EXPECT_FALSE(fs::exists(Path("out.json")));
}

}  // namespace
#endif
