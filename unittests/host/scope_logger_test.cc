// The scope logger against a scripted drive with an oscilloscope: its request, its frames in the
// circular buffer, its settings text and files, its scales, and the scope graph's menu.
#include "host/scope_logger.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "host/dialog_test_support.h"
#include "host/test_dlg.h"
#include "support/scripted_drive.h"
#include "support/test_setup.h"

namespace axis {
namespace {

namespace fs = std::filesystem;
using testing::TestSetup;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();
const std::string kCelsius =
    "\xB0"
    "C";

// A current unit is 0.125 A, a speed unit 1 mm/s, a temperature unit half a degree from -50 degC.
double Factor(CMC_Setup*, const char* unit, const char*) {
  const std::string u = unit;
  return u == "A" ? 0.125 : u == "m/s" ? 0.001 : u == kCelsius ? 0.5 : 1.0;
}
double Offset(CMC_Setup*, const char* unit) { return unit == kCelsius ? -100.0 : 0.0; }

// A drive with an oscilloscope: it records the requests and hands out the frames queued.
class ScopeDrive : public testing::ScriptedDrive {
 public:
  bool StartScope(const ScopeRequest& request) override {
    starts.push_back(request);
    return has_scope;
  }
  bool StopScope() override {
    ++stops;
    return true;
  }
  std::vector<ScopeRequest> starts;
  int stops = 0;
  bool has_scope = true;
};

// The payload bytes of a frame, as the handler gives them to OnFrameReceive.
std::vector<unsigned char> Payload(uint16_t flags, int channels, int first,
                                   std::vector<float> values) {
  const UnsolicitedMessage m = EncodeScopeFrame({flags, channels, first, std::move(values)}, 1);
  std::vector<unsigned char> bytes(2 * (m.size() - 3));
  std::memcpy(bytes.data(), m.data() + 3, bytes.size());
  return bytes;
}
int Receive(CMC_ScopeLogger& scope, const std::vector<unsigned char>& bytes) {
  return scope.OnFrameReceive(static_cast<int>(bytes.size()), bytes.data());
}

class ScopeLoggerTest : public testing::DialogTest {
 protected:
  ScopeLoggerTest() {
    setup_.Variable("Motor_Current", "A").Variable("Load_Speed", "m/s");
    setup_.Variable("Drive_Temperature", kCelsius.c_str());
    setup_.Physical({{"Ts_S", 0.0005, "s"}});
    setup_->SetScaleProvider({&Factor, &Offset});
    setup_->SetComm(&drive_);
  }
  // Two channels (current, speed), their curves, `points` per acquisition.
  void TwoChannels(CMC_ScopeLogger& scope, int points = 10) {
    scope.AddVariable("Motor_Current", 1);
    scope.AddVariable("Load_Speed", 1);
    scope.GetDocument().GetAt(0)->Add(CXYCurve(0, 1, 1, RGB16(2), 2));
    scope.GetDocument().GetAt(0)->Add(CXYCurve(0, 2, 2, RGB16(5), 2));
    std::string text = scope.SettingsText();
    text.replace(text.find("\"points\":1000"), 13, "\"points\":" + std::to_string(points));
    ASSERT_EQ(scope.SetSettingsText(text), 1) << scope.GetLastErrorText();
    ASSERT_EQ(scope.ChangeSettings(0.005 * points, 4, 1, "Load_Speed", 0.25, 20), 1);
    ASSERT_EQ(scope.LocateItems(), 1);
  }
  const CXYCurve& Curve(CMC_ScopeLogger& scope, int i) {
    return *scope.GetDocument().GetAt(0)->GetCurve(i);
  }

  TestSetup setup_;
  ScopeDrive drive_;
};

TEST_F(ScopeLoggerTest, RequestTakesWholeSlowLoopPeriodsAndTheLevelInInternalUnits) {
  // clang-format off
  const struct { double time_base; const char* trigger; double level; int every; double internal;
                 int pretrigger; } rows[] = {
      {0.5, "Load_Speed", 0.25, 1, 250.0, 250},          // 0.5 ms a sample: one period
      {2.0, "Motor_Current", -1.5, 4, -12.0, 250},       // 2 ms: four
      {1.3, "Drive_Temperature", 10.0, 3, 120.0, 250},   // 2.6 periods: the nearest whole number
      {0.1, nullptr, 3.0, 1, 3.0, 250},                  // faster than the loop: every period
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.time_base);
    CMC_ScopeLogger scope(*setup_);
    scope.AddVariable("Motor_Current", 1);
    ASSERT_EQ(scope.ChangeSettings(row.time_base, 2, 0, row.trigger, row.level, 25), 1);
    const ScopeRequest r = scope.Request();
    EXPECT_EQ(r.points, 1000);
    EXPECT_EQ(r.every, row.every);
    EXPECT_DOUBLE_EQ(r.trigger_level, row.internal);
    EXPECT_EQ(r.pretrigger_points, row.pretrigger);
    EXPECT_EQ(r.mode, ScopeRequest::Mode::kNormal);
    EXPECT_FALSE(r.rising);
    EXPECT_DOUBLE_EQ(scope.SamplePeriod(), row.every * 0.0005);
  }
  CMC_ScopeLogger scope(*setup_);
  for (double bad : {0.0, -1.0, kNaN, std::numeric_limits<double>::infinity()})
    EXPECT_EQ(scope.ChangeSettings(bad, 1, 1, nullptr, 0.0, 0), 0);
  EXPECT_EQ(scope.ChangeSettings(1.0, 3, 1, nullptr, 0.0, 0), 0) << "no mode 3";
  EXPECT_EQ(scope.ChangeSettings(1.0, 1, 1, nullptr, kNaN, 0), 0);
  for (const char* name : {"Motor_Current", "Load_Speed", "Drive_Temperature", "Motor_Current"})
    EXPECT_EQ(scope.AddVariable(name, 1), 1);
  EXPECT_EQ(scope.AddVariable("Load_Speed", 1), 0) << "four channels at most";
}

TEST_F(ScopeLoggerTest, FramesFillTheCircularBufferAndSayWhatToDraw) {
  CMC_ScopeLogger scope(*setup_);
  TwoChannels(scope);
  ASSERT_EQ(scope.BeginUploadData(), 1) << scope.GetLastErrorText();
  // clang-format off
  const struct { uint16_t flags; int first, samples; int drawn_first, drawn_count; bool draw; } rows[] = {
      {ScopeFrame::kFirst, 0, 6, 0, 6, true},
      {ScopeFrame::kLast, 6, 4, 6, 4, true},
      {ScopeFrame::kFirst, 0, 3, 0, 3, false},   // the next acquisition overwrites from slot 0
      {0, 3, 2, 0, 5, true},                     // both frames to draw at once
      {0, 8, 4, 8, 4, true},                     // samples 8..11 in slots 8, 9, 0, 1
      {0, 2, 9, 0, 0, false},
      {0, 1, 5, 2, 10, true},                    // more than the buffer: all of it
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.first);
    std::vector<float> values;
    for (int s = 0; s < row.samples; ++s) {
      values.push_back(static_cast<float>(8 * (row.first + s)));  // (first + s) A
      values.push_back(-500.0f);                                  // -0.5 m/s
    }
    EXPECT_EQ(Receive(scope, Payload(row.flags, 2, row.first, values)), row.samples);
    if (!row.draw) continue;
    int first = -1, count = -1;
    scope.GetPointsToBeDrawn(first, count);
    EXPECT_EQ(first, row.drawn_first);
    EXPECT_EQ(count, row.drawn_count);
  }
  int first = -1, count = -1;
  scope.GetPointsToBeDrawn(first, count);
  EXPECT_EQ(count, 0);
  // Slot 0 last took sample 10, slot 3 sample 3; 10 periods of 0.5 ms a sample.
  ASSERT_EQ(Curve(scope, 0).Points().size(), 10u);
  EXPECT_DOUBLE_EQ(Curve(scope, 0).Points()[0].y, 10.0);
  EXPECT_DOUBLE_EQ(Curve(scope, 0).Points()[0].x, 0.0);
  EXPECT_DOUBLE_EQ(Curve(scope, 0).Points()[3].y, 3.0);
  EXPECT_DOUBLE_EQ(Curve(scope, 0).Points()[3].x, 0.015);
  EXPECT_DOUBLE_EQ(Curve(scope, 1).Points()[3].y, -0.5);
  EXPECT_EQ(scope.DoGracefulStop(), 0);

  const std::vector<std::vector<unsigned char>> malformed = {
      {}, {1, 0, 1}, Payload(0, 3, 0, {1, 2, 3})};  // empty, odd, three channels for two
  for (const auto& bytes : malformed) EXPECT_EQ(Receive(scope, bytes), -1);
  EXPECT_EQ(scope.OnFrameReceive(-4, nullptr), -1);
  EXPECT_EQ(Receive(scope, Payload(ScopeFrame::kFinal | ScopeFrame::kLast, 1, 9, {8})), 1);
  EXPECT_EQ(scope.DoGracefulStop(), 1) << "a single shot has ended";

  scope.EndUploadData();
  EXPECT_EQ(drive_.stops, 1);
  EXPECT_EQ(scope.UploadInProgress(), 0);
  ASSERT_EQ(scope.BeginUploadData(), 1);
  EXPECT_EQ(scope.DoGracefulStop(), 0) << "armed anew";
  EXPECT_EQ(drive_.starts.size(), 2u);
  drive_.has_scope = false;
  EXPECT_EQ(scope.BeginUploadData(), 0);
  EXPECT_EQ(scope.UploadInProgress(), 0);
}

TEST_F(ScopeLoggerTest, ChannelScalesStepAlong125) {
  EXPECT_DOUBLE_EQ(CMC_ScopeLogger::CeilScale125(2.5), 5.0);
  EXPECT_DOUBLE_EQ(CMC_ScopeLogger::CeilScale125(0.3), 0.5);
  EXPECT_DOUBLE_EQ(CMC_ScopeLogger::CeilScale125(0.2), 0.2);
  EXPECT_DOUBLE_EQ(CMC_ScopeLogger::CeilScale125(7.0), 10.0);
  // clang-format off
  const struct { double scale; int step; double want; int changed; } rows[] = {
      {1, 1, 2, 1}, {2, 1, 5, 1}, {5, 1, 10, 1}, {1, -1, 0.5, 1}, {0.5, -1, 0.2, 1},
      {0.2, -1, 0.1, 1}, {1, 3, 10, 1}, {100, -4, 5, 1}, {0.3, 1, 0.5, 1}, {0.3, -1, 0.2, 1},
      {1, 0, 1, 0}, {1e9, 1, 1e9, 0}, {1e-9, -1, 1e-9, 0}, {1, -2147483647 - 1, 1e-9, 1},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.scale << " by " << row.step);
    CMC_ScopeLogger scope(*setup_);
    scope.AddVariable("Motor_Current", 1);
    ASSERT_EQ(scope.RescaleVariable(0, "A", row.scale, 0.25), 1);
    EXPECT_EQ(scope.ChangeChannelScale(0, row.step), row.changed);
    EXPECT_NEAR(scope.Channels()[0].scale, row.want, 1e-12 * row.want);
    EXPECT_EQ(scope.Channels()[0].offset, 0.25);
    EXPECT_EQ(scope.ChangeChannelScale(1, 1), 0) << "no channel 1";
  }
  CMC_ScopeLogger scope(*setup_);
  scope.AddVariable("Motor_Current", 1);
  for (double bad : {0.0, -1.0, kNaN}) EXPECT_EQ(scope.RescaleVariable(0, "A", bad, 0), 0);
  EXPECT_EQ(scope.RescaleVariable(0, "A", 1, kNaN), 0);
}

TEST_F(ScopeLoggerTest, AutoscaleFitsEachChannelWithinTheScreen) {
  // clang-format off
  const struct { float lo, hi; double scale, offset; } rows[] = {
      {0, 10, 2, 6},        // span 10 / 6 -> 2 per division; middle 5 -> 3 divisions up
      {3, 3, 0.5, 3},       // constant: half its magnitude / 3 ... 0.5; on the value
      {-40, -10, 5, -25},   // span 30 -> 5; middle -25
      {-1, 2, 0.5, 0.5},    // span 3 -> 0.5; middle 0.5 is one division
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lo);
    CMC_ScopeLogger scope(*setup_);
    TwoChannels(scope);
    ASSERT_EQ(scope.RescaleVariable(1, "m/s", 1000, 0), 1);
    std::vector<float> values;
    for (float v : {row.lo, row.hi, row.lo}) values.insert(values.end(), {8 * v, kNoValue});
    ASSERT_EQ(Receive(scope, Payload(0, 2, 0, values)), 3);
    EXPECT_EQ(scope.Autoscale(), 1);
    EXPECT_DOUBLE_EQ(scope.Channels()[0].scale, row.scale);
    EXPECT_DOUBLE_EQ(scope.Channels()[0].offset, row.offset);
    EXPECT_EQ(scope.Channels()[1].scale, 1000) << "no finite point: kept";
    EXPECT_EQ(scope.Autoscale(), 0) << "fitted already";
  }
}

TEST_F(ScopeLoggerTest, SettingsTextRoundTripsAndRefusesWhatIsMalformed) {
  CMC_ScopeLogger scope(*setup_);
  TwoChannels(scope, 400);
  ASSERT_EQ(scope.RescaleVariable(0, "mA", 0.2, -0.4), 1);
  ASSERT_EQ(scope.ChangeSettings(0.75, 2, 0, "Motor_Current", -1.5, 30), 1);
  const std::string text = scope.SettingsText();
  EXPECT_EQ(text.find('\n'), std::string::npos) << "one line";

  CMC_ScopeLogger copy(*setup_);
  ASSERT_EQ(copy.SetSettingsText(text), 1) << copy.GetLastErrorText();
  EXPECT_EQ(copy.SettingsText(), text);
  EXPECT_EQ(copy.GetPointsNo(), 400);
  EXPECT_EQ(copy.Channels()[0].unit, "mA");
  EXPECT_EQ(copy.GetDocument().GetAt(0)->GetCount(), 2);
  EXPECT_EQ(copy.Request().trigger_level, -12.0);

  scope.SaveSettingsToSetupOption("SpeedTuningOscSettings");
  CMC_ScopeLogger from_option(*setup_);
  EXPECT_EQ(from_option.LoadSettingsFromSetupOption("SpeedTuningOscSettings"), 1);
  EXPECT_EQ(from_option.SettingsText(), text);
  EXPECT_EQ(from_option.LoadSettingsFromSetupOption("NoSuchOption"), 0);

  const auto edited = [&](const std::string& from, const std::string& to) {
    std::string t = text;
    const size_t at = t.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? "" : t.replace(at, from.size(), to);
  };
  const std::vector<std::string> malformed = {
      "",
      "{",
      "[]",
      "{}",
      edited("\"mode\":2", "\"mode\":3"),
      edited("\"slope\":0", "\"slope\":7"),
      edited("\"scale\":0.2", "\"scale\":0"),
      edited("\"time_base_s\":0.75", "\"time_base_s\":-1"),
      edited("\"points\":400", "\"points\":1"),
      edited("\"pretrigger_percent\":30", "\"pretrigger_percent\":101"),
      edited("\"y\":2", "\"y\":7"),
      edited("\"colour\":\"#d62728\"", "\"colour\":\"red\""),
      edited("\"unit\":\"mA\"", "\"unit\":\"\\u20ac\""),
      edited("\"level\":-1.5", "\"level\":\"low\""),
      edited("\"channels\":[", "\"channels\":[{},{},{},"),
  };
  for (const std::string& bad : malformed) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(copy.SetSettingsText(bad), 0);
    EXPECT_FALSE(copy.GetLastErrorText().empty());
    EXPECT_EQ(copy.SettingsText(), text) << "unchanged";
  }
}

TEST_F(ScopeLoggerTest, FilesHoldSettingsAndPointsAndMalformedOnesAreRefused) {
  const fs::path folder = fs::temp_directory_path() / ("scope_test_" + std::to_string(getpid()));
  fs::create_directories(folder);
  CMC_ScopeLogger scope(*setup_);
  TwoChannels(scope);
  ASSERT_EQ(Receive(scope, Payload(0, 2, 2, {8, kNoValue, 16, -250})), 2);
  const std::string path = (folder / "run.scope").string();
  ASSERT_EQ(scope.Save(path.c_str()), 1) << scope.GetLastErrorText();

  CMC_ScopeLogger loaded(*setup_);
  ASSERT_EQ(loaded.Load(path.c_str()), 1) << loaded.GetLastErrorText();
  EXPECT_EQ(loaded.SettingsText(), scope.SettingsText());
  const std::vector<XYPoint>& points = Curve(loaded, 1).Points();
  ASSERT_EQ(points.size(), 4u) << "slots 0 and 1 stay empty";
  EXPECT_TRUE(std::isnan(points[0].x));
  EXPECT_TRUE(std::isnan(points[2].y)) << "NaN kept";
  EXPECT_DOUBLE_EQ(points[3].y, -0.25);
  EXPECT_DOUBLE_EQ(Curve(loaded, 0).Points()[3].y, 2.0);
  EXPECT_EQ(loaded.Autoscale(), 1) << "the points are held";
  const std::string held = loaded.SettingsText();

  std::ifstream in(path);
  const std::string good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto variant = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    const size_t at = t.find(from);
    return at == std::string::npos ? std::string("no ") + from : t.replace(at, from.size(), to);
  };
  const std::vector<std::string> malformed = {
      "",
      "not json",
      "[1]",
      variant("axiscore-scope", "other"),
      variant("\"version\": 1", "\"version\": 2"),
      variant("\"points\": [", "\"points\": [[10, 0, 1, 2],"),
      variant("\"points\": [", "\"points\": [[0, 0, 1],"),
      variant("\"points\": [", "\"points\": [[0, null, 1, 2],"),
      variant("\"settings\"", "\"setting\""),
  };
  for (const std::string& bad : malformed) {
    SCOPED_TRACE(bad.substr(0, 60));
    std::ofstream(folder / "bad.scope") << bad;
    HeadlessPlatform& platform = FreshPlatform();
    EXPECT_EQ(loaded.Load((folder / "bad.scope").string().c_str()), 0);
    ASSERT_EQ(platform.MessageLog().size(), 1u);
    EXPECT_NE(platform.MessageLog()[0].request.text.find("bad.scope"), std::string::npos);
    EXPECT_EQ(loaded.SettingsText(), held) << "unchanged";
  }
  EXPECT_EQ(loaded.Load((folder / "missing.scope").string().c_str()), 0);
  fs::remove_all(folder);
}

TEST_F(ScopeLoggerTest, ResetForgetsChannelsCurvesAndSettings) {
  CMC_ScopeLogger scope(*setup_);
  const std::string fresh = scope.SettingsText();
  TwoChannels(scope);
  scope.SetDefaultValues();
  EXPECT_EQ(scope.SettingsText(), fresh);
  EXPECT_EQ(scope.GetVariablesCount(), 0);
  EXPECT_EQ(scope.GetDocument().GetAt(0)->GetCount(), 0);
}

TEST_F(ScopeLoggerTest, EditTakesTheTypedSettingsAndRefusesWhatIsNoNumber) {
  const testing::ResourceFolder resources(std::string(AXIS_UNITTESTS_DIR) + "/../resources");
  CMC_ScopeLogger scope(*setup_);
  TwoChannels(scope);
  const std::string before = scope.SettingsText();
  HeadlessPlatform& refused = FreshPlatform();
  refused.Type(1202, "-1").Click(1).Type(1202, "0.5").Type(1241, "x").Click(1).EndCancel();
  EXPECT_EQ(scope.Edit(nullptr), 0);
  EXPECT_EQ(refused.MessageLog().size(), 2u) << "one warning per refusal, the dialog stays";
  EXPECT_EQ(scope.SettingsText(), before);

  FreshPlatform()
      .Type(1202, "0.25")
      .SelectCombo(1205, 1)  // Normal
      .SelectCombo(1207, 0)  // no trigger
      .SelectCombo(1209, 0)  // falling
      .Type(1211, "-2")
      .Type(1213, "40")
      .Type(1241, "0.02")
      .Type(1242, "-0.1")
      .Click(1);
  EXPECT_EQ(scope.Edit(nullptr), 1);
  EXPECT_EQ(scope.GetTimeBase(), 0.25);
  EXPECT_EQ(scope.GetMode(), 2);
  EXPECT_EQ(scope.GetTriggerVariable(), "");
  EXPECT_EQ(scope.GetSlope(), 0);
  EXPECT_EQ(scope.GetLevel(), -2.0);
  EXPECT_EQ(scope.GetPretrigger(), 40);
  EXPECT_EQ(scope.Channels()[1].scale, 0.02);
  EXPECT_EQ(scope.Channels()[1].offset, -0.1);
  EXPECT_EQ(scope.Channels()[0].scale, 1.0);
  FreshPlatform().Click(1);
  EXPECT_EQ(scope.Edit(nullptr), 0) << "OK without a change";
}

// The scope graph's menu and channel-scale message as a user gives them, on the test template.
class GraphDlg : public testing::RecordingDlg {
 public:
  using RecordingDlg::RecordingDlg;
  void OnGraphMessage(int id, int channel, int step) override {
    log.push_back("graph:" + std::to_string(id) + "," + std::to_string(channel) + "," +
                  std::to_string(step));
  }
};

TEST_F(ScopeLoggerTest, ContextMenuCommandsReachTheDialog) {
  CMC_ScopeLogger scope(*setup_);
  TwoChannels(scope);
  CGraphWindow graph(4, 0), plain(2, 0);
  CGraphFilter other;
  // clang-format off
  const struct { std::optional<int> answer; std::vector<std::string> log; size_t errors; } rows[] = {
      {kScopeAutoscale, {"command:10064"}, 0},
      {kScopeExportText, {"command:10069"}, 0},
      {std::nullopt, {}, 0},     // dismissed
      {4242, {}, 1},             // not on the menu
  };
  // clang-format on
  for (const auto& row : rows) {
    HeadlessPlatform& platform = FreshPlatform();
    GraphDlg dialog(*setup_, 900);
    graph.SubclassDlgItem(1095, &dialog, scope.GetDocument().GetAt(0));
    plain.SubclassDlgItem(1096, &dialog, &other);
    platform.RightClick(1096).RightClick(1095).AnswerMenu(row.answer).EndCancel();
    dialog.DoModal();
    EXPECT_EQ(dialog.log, row.log);
    ASSERT_EQ(platform.MenuLog().size(), 1u) << "the plain plot has no menu";
    EXPECT_EQ(platform.MenuLog()[0].control_id, 1095);
    EXPECT_EQ(platform.MenuLog()[0].items.size(), 8u);
    EXPECT_EQ(platform.ScriptErrors().size(), row.errors);
  }
  GraphDlg dialog(*setup_, 900);
  graph.SubclassDlgItem(1095, &dialog, scope.GetDocument().GetAt(0));
  EXPECT_TRUE(dialog.UserGraphMessage(1095, 1, -2));
  EXPECT_FALSE(dialog.UserGraphMessage(1, 0, 1)) << "not a plot";
  EXPECT_EQ(dialog.log, std::vector<std::string>{"graph:1095,1,-2"});
}

// A test dialog launching a routine with the scope logger.
TEST_F(ScopeLoggerTest, ExecuteCodeLaunchesWithoutARecordThenArmsTheScope) {
  setup_->ExtraSections().push_back(
      {"routines", R"({"Speed_Test": {"inputs": [], "outputs": []}})"});
  CMC_ScopeLogger scope(*setup_);
  TwoChannels(scope);
  CMC_TestDlg dialog(*setup_, 900, 0, nullptr);
  CMC_CoffFormat image;
  image.SetFileName(dialog.GetOutPathName("Speed_Test"));
  ASSERT_EQ(image.ReadCoff(), 1);
  ASSERT_EQ(dialog.ExecuteCode("Speed_Test", &image, &scope), 1) << dialog.ErrorText();
  ASSERT_EQ(drive_.launches.size(), 1u);
  EXPECT_FALSE(drive_.launches[0].logged);
  ASSERT_EQ(drive_.starts.size(), 1u);
  EXPECT_EQ(drive_.starts[0].variables, (std::vector<std::string>{"Motor_Current", "Load_Speed"}));
  EXPECT_EQ(drive_.starts[0].mode, ScopeRequest::Mode::kSingle);
  EXPECT_EQ(scope.UploadInProgress(), 1);

  drive_.has_scope = false;
  EXPECT_EQ(dialog.ExecuteCode("Speed_Test", &image, &scope), 0);
  CMC_SingleAxisLogger recorder(*setup_, nullptr);
  recorder.ChangeSettings(100, 1, 1);
  EXPECT_EQ(dialog.ExecuteCode("Speed_Test", &image, &recorder), 1);
  EXPECT_TRUE(drive_.launches.back().logged);
  EXPECT_EQ(drive_.starts.size(), 2u) << "a record arms no scope";
}

}  // namespace
}  // namespace axis
