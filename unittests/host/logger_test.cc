// The single-axis logger against a scripted drive: its request, its upload, its points in internal
// and physical units, its curves and its saved files.
#include "host/logger.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "host/dialog_test_support.h"
#include "support/scripted_drive.h"
#include "support/test_setup.h"

namespace axis {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedDrive;
using testing::TestSetup;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const std::string kCelsius =
    "\xB0"
    "C";

// The drive's units: a current unit is 0.125 A, a voltage unit 0.25 V, a temperature unit half a
// degree counted from -50 degC (internal 100 is 0 degC).
double Factor(CMC_Setup*, const char* unit, const char*) {
  const std::string u = unit;
  return u == "A" ? 0.125 : u == "V" ? 0.25 : u == kCelsius ? 0.5 : 1.0;
}
double Offset(CMC_Setup*, const char* unit) { return unit == kCelsius ? -100.0 : 0.0; }

class LoggerTest : public testing::DialogTest {
 protected:
  LoggerTest() {
    setup_.Variable("Current_Reference", "A")
        .Variable("Motor_Current", "A")
        .Variable("Voltage_Reference", "V")
        .Variable("Drive_Temperature", kCelsius.c_str())
        .Variable("IQ", "A")
        .Variable("ID", "A");
    setup_->SetScaleProvider({&Factor, &Offset});
    setup_->SetComm(&drive_);
  }

  // The current tuning test's set-up, with the temperature and "IQ" (not plotted) added.
  void SetUpAsTheCurrentTest(CMC_SingleAxisLogger& logger) {
    ASSERT_EQ(logger.ChangeSettings(100, 2, 1), 1);
    logger.AddVariable("Current_Reference", 1);
    logger.AddVariable("IQ", 0);
    logger.AddVariable("Motor_Current", 1);
    logger.AddVariable("Voltage_Reference", 1);
    logger.AddVariable("Drive_Temperature", 1);
    logger.CorrectPointsNo();
    CGraphFilter& curves = *logger.GetDocument().GetAt(0);
    curves.Add(CXYCurve(0, 1, 1, RGB16(2), 2));
    curves.Add(CXYCurve(0, 3, 2, RGB16(8), 2));
    curves.Add(CXYCurve(0, 2, 1, RGB16(5), 2));
    curves.Add(CXYCurve(0, 4, 2, RGB16(9), 2));
    ASSERT_EQ(logger.LocateItems(), 1) << logger.GetLastErrorText();
  }

  TestSetup setup_;
  ScriptedDrive drive_;
};

TEST_F(LoggerTest, RequestFollowsTheSettings) {
  using Rate = LogRequest::Rate;
  // clang-format off
  const struct { int points, log_type, every, variables; int want_points; Rate rate; } rows[] = {
      {100, 2, 1, 3, 100, Rate::kFastLoop},
      {2000, 1, 1, 4, 2000, Rate::kSlowLoop},
      {400, 1, 3, 1, 400, Rate::kSlowLoop},
      {5000, 2, 1, 8, 2048, Rate::kFastLoop},  // not corrected yet: the request is
      {0, 1, 1, 1, 1, Rate::kSlowLoop},
  };
  // clang-format on
  const char* const names[] = {
      "IQ", "ID", "Motor_Current", "Current_Reference", "Voltage_Reference",
      "IQ", "ID", "Motor_Current"};
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.points << " points, type " << row.log_type);
    CMC_SingleAxisLogger logger(*setup_, nullptr);
    ASSERT_EQ(logger.ChangeSettings(row.points, row.log_type, row.every), 1);
    for (int i = 0; i < row.variables; ++i) logger.AddVariable(names[i], 0);
    const LogRequest request = logger.Request();
    EXPECT_EQ(request.points, row.want_points);
    EXPECT_EQ(request.rate, row.rate);
    EXPECT_EQ(request.every, row.every);
    EXPECT_EQ(request.variables, std::vector<std::string>(names, names + row.variables));
  }

  CMC_SingleAxisLogger logger(*setup_, nullptr);
  ASSERT_EQ(logger.ChangeSettings(300, 2, 2), 1);
  EXPECT_EQ(logger.ChangeSettings(100, 3, 1), 0) << "no such log type";
  EXPECT_EQ(logger.ChangeSettings(100, 0, 1), 0);
  EXPECT_EQ(logger.ChangeSettings(100, 1, 0), 0) << "keeps no sample";
  EXPECT_EQ(logger.Request().points, 300);
  EXPECT_EQ(logger.Request().rate, Rate::kFastLoop);
  EXPECT_EQ(logger.Request().every, 2);
}

TEST_F(LoggerTest, CorrectPointsNoKeepsWhatTheLogMemoryHolds) {
  // clang-format off
  const struct { int points, variables, corrected; } rows[] = {
      {100, 3, 100}, {0, 1, 1}, {-7, 1, 1}, {1, 1, 1}, {4096, 4, 4096}, {4097, 4, 4096},
      {5000, 1, 4096}, {5000, 0, 4096}, {5000, 8, 2048}, {3000, 5, 3000}, {4000, 5, 3276},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.points << " points of " << row.variables);
    CMC_SingleAxisLogger logger(*setup_, nullptr);
    logger.ChangeSettings(row.points, 1, 1);
    for (int i = 0; i < row.variables; ++i) logger.AddVariable("IQ", 0);
    EXPECT_EQ(logger.GetPointsNo(), row.points) << "before";
    EXPECT_EQ(logger.CorrectPointsNo(), row.corrected);
    EXPECT_EQ(logger.GetPointsNo(), row.corrected);
  }
}

TEST_F(LoggerTest, ReadPointWithAnArrayGivesTheDrivesInternalValues) {
  CMC_SingleAxisLogger logger(*setup_, nullptr);
  logger.ChangeSettings(400, 2, 1);
  logger.AddVariable("IQ", 0);
  logger.AddVariable("ID", 0);
  logger.AddVariable("Drive_Temperature", 1);
  CGraphFilter& curves = *logger.GetDocument().GetAt(0);
  curves.Add(CXYCurve(0, 1, 1, RGB16(2), 2));
  drive_.log = {{0.0, 1200, -35, 300}, {0.001, 1190, -36, 301, 99}, {0.002}};
  ASSERT_EQ(logger.BeginUploadData(), 1) << logger.GetLastErrorText();
  EXPECT_EQ(logger.UploadInProgress(), 1);
  EXPECT_EQ(logger.GetValuesPerPoint(), 4);
  const std::vector<std::vector<double>> want = {
      {0.0, 1200, -35, 300}, {0.001, 1190, -36, 301}, {0.002, kNaN, kNaN, kNaN}};
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    double values[5] = {-1, -1, -1, -1, -1};
    ASSERT_EQ(logger.ReadPoint(values), 1);
    for (size_t k = 0; k < 4; ++k) {
      if (std::isnan(want[i][k])) {
        EXPECT_TRUE(std::isnan(values[k])) << k;
      } else {
        EXPECT_EQ(values[k], want[i][k]) << k;
      }
    }
    EXPECT_EQ(values[4], -1) << "written past the point";
  }
  double values[4];
  EXPECT_EQ(logger.ReadPoint(values), 0);
  EXPECT_EQ(logger.UploadInProgress(), 0);
  EXPECT_EQ(logger.ReadPoint(nullptr), 0);
  EXPECT_TRUE(curves.GetCurve(0)->Points().empty()) << "an array keeps points out of the curves";
}

TEST_F(LoggerTest, ReadPointWithoutAnArrayFillsTheCurvesInPhysicalUnits) {
  CMC_SingleAxisLogger logger(*setup_, nullptr);
  SetUpAsTheCurrentTest(logger);
  // Time, Current_Reference, IQ, Motor_Current, Voltage_Reference, Drive_Temperature.
  drive_.log = {{0.0, 1000, 7, 900, 40, 300}, {0.0005, -2000, 7, -1800, -8, 320}};
  ASSERT_EQ(logger.BeginUploadData(), 1);
  int read = 0;
  while (logger.ReadPoint(nullptr) != 0) ++read;
  EXPECT_EQ(read, 2);
  const CGraphFilter& curves = *logger.GetDocument().GetAt(0);
  EXPECT_EQ(curves.AsciiText(),
            "t_s,Current_Reference_A,Voltage_Reference_V,Motor_Current_A,"
            "Drive_Temperature_\xC2\xB0"
            "C\n"
            "0,125,10,112.5,100\n"
            "0.0005,-250,-2,-225,110\n");

  // A second upload replaces the curves' points.
  drive_.log = {{0.0, 500, 0, 0, 0, 100}};
  ASSERT_EQ(logger.BeginUploadData(), 1);
  EXPECT_EQ(curves.GetCurve(0)->Points().size(), 0u) << "emptied by the upload";
  ASSERT_EQ(logger.ReadPoint(nullptr), 1);
  EXPECT_EQ(curves.GetCurve(0)->Points().size(), 1u);
  EXPECT_EQ(curves.GetCurve(0)->Points()[0].y, 62.5);
  EXPECT_EQ(curves.GetCurve(3)->Points()[0].y, 0.0);
}

TEST_F(LoggerTest, WithoutARecordNothingCanBeRead) {
  // clang-format off
  const struct { const char* name; bool attached; bool has_log; std::vector<LogPoint> log;
                 int fail_at; const char* error; } rows[] = {
      {"no record", true, false, {}, -1, "no record"},
      {"an empty record", true, true, {}, -1, "the drive recorded no point"},
      {"no drive", false, true, {{0, 1}}, -1, "no drive is attached"},
      {"the link fails", true, true, {{0, 1}}, 0, "the drive does not answer"},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedDrive drive;
    drive.has_log = row.has_log;
    drive.log = row.log;
    drive.fail_at = row.fail_at;
    setup_->SetComm(row.attached ? &drive : nullptr);
    CMC_SingleAxisLogger logger(*setup_, nullptr);
    logger.ChangeSettings(10, 1, 1);
    logger.AddVariable("IQ", 1);
    EXPECT_EQ(logger.ReadPoint(nullptr), 0) << "before any upload";
    EXPECT_EQ(logger.BeginUploadData(), 0);
    EXPECT_EQ(logger.GetLastErrorText(), row.error);
    EXPECT_EQ(logger.UploadInProgress(), 0);
    double values[2];
    EXPECT_EQ(logger.ReadPoint(values), 0);
  }
}

TEST_F(LoggerTest, LocateItemsFindsEveryVariableInTheSetup) {
  CMC_SingleAxisLogger logger(*setup_, nullptr);
  logger.ChangeSettings(100, 1, 1);
  logger.AddVariable("motor_current", 1);  // case is ignored
  logger.AddVariable("Late", 1);
  EXPECT_EQ(logger.LocateItems(), 0);
  EXPECT_EQ(logger.GetLastErrorText(), "no drive variable \"Late\" in the setup");
  const CGraphFilter& curves = *logger.GetDocument().GetAt(0);
  EXPECT_EQ(curves.ColumnUnit(1), "A");
  EXPECT_EQ(curves.ColumnUnit(2), "");

  // Uploaded meanwhile, the missing variable stays in internal units.
  drive_.log = {{0, 2000, 2000}};
  logger.GetDocument().GetAt(0)->Add(CXYCurve(0, 2, 1, RGB16(2), 2));
  logger.GetDocument().GetAt(0)->Add(CXYCurve(0, 1, 1, RGB16(5), 2));
  ASSERT_EQ(logger.BeginUploadData(), 1);
  ASSERT_EQ(logger.ReadPoint(nullptr), 1);
  EXPECT_EQ(curves.GetCurve(0)->Points()[0].y, 2000);
  EXPECT_EQ(curves.GetCurve(1)->Points()[0].y, 250);

  setup_.Variable("Late", "V");
  EXPECT_EQ(logger.LocateItems(), 1);
  EXPECT_EQ(logger.GetLastErrorText(), "");
  EXPECT_EQ(curves.ColumnName(2), "Late");
  EXPECT_EQ(curves.ColumnUnit(2), "V");
}

TEST_F(LoggerTest, ChangeSettingsStartsANewSetUp) {
  CMC_SingleAxisLogger logger(*setup_, nullptr);
  logger.ChangeSettings(400, 1, 1);
  logger.AddVariable("IQ", 1);
  logger.AddVariable("Motor_Current", 1);
  logger.ChangeSettings(400, 2, 1);
  logger.AddVariable("IQ", 0);
  logger.AddVariable("ID", 1);
  EXPECT_EQ(logger.Request().variables, (std::vector<std::string>{"IQ", "ID"}));
  const CGraphFilter& curves = *logger.GetDocument().GetAt(0);
  EXPECT_EQ(curves.GetColumnCount(), 2);
  EXPECT_EQ(curves.ColumnName(1), "ID");
  EXPECT_EQ(logger.AddVariable("", 1), 0);
  EXPECT_EQ(logger.AddVariable(nullptr, 1), 0);
  EXPECT_EQ(logger.GetVariablesCount(), 2);
}

TEST_F(LoggerTest, SaveGraphWritesTheCurvesAndTheirPictureBeside) {
  const fs::path folder = fs::path(::testing::TempDir()) / "save_graph";
  fs::remove_all(folder);
  fs::create_directories(folder / "a.b");
  CMC_SingleAxisLogger logger(*setup_, nullptr);
  SetUpAsTheCurrentTest(logger);
  drive_.log = {{0.0, 1000, 7, 900, 40, 300}, {0.0005, -2000, 7, -1800, -8, 320}};
  ASSERT_EQ(logger.BeginUploadData(), 1);
  while (logger.ReadPoint(nullptr) != 0) {
  }
  const std::string csv = logger.GetDocument().GetAt(0)->AsciiText();

  // clang-format off
  const struct { const char* chosen; const char* picture; } rows[] = {
      {"run.csv", "run.svg"}, {"plots", "plots.svg"}, {"a.b/plots", "a.b/plots.svg"},
      {"x.svg", "x.svg.svg"}, {".hidden", ".hidden.svg"},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.chosen);
    HeadlessPlatform& platform = FreshPlatform();
    platform.AnswerFileName((folder / row.chosen).string());
    EXPECT_EQ(logger.SaveGraph("CurrentTuning"), 1) << logger.GetLastErrorText();
    ASSERT_EQ(platform.FileNameLog().size(), 1u);
    EXPECT_TRUE(platform.FileNameLog()[0].save);
    EXPECT_EQ(platform.FileNameLog()[0].default_name, "CurrentTuning.csv");
    std::ifstream in(folder / row.chosen, std::ios::binary), picture(folder / row.picture);
    std::stringstream text, svg;
    text << in.rdbuf();
    svg << picture.rdbuf();
    EXPECT_EQ(text.str(), csv);
    EXPECT_EQ(svg.str().rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.str().find("class=\"curve curve-3\""), std::string::npos);
  }

  HeadlessPlatform& cancelled = FreshPlatform();
  cancelled.AnswerFileName(std::nullopt);
  EXPECT_EQ(logger.SaveGraph(nullptr), 0);
  EXPECT_EQ(cancelled.FileNameLog()[0].default_name, "Plots.csv");
  EXPECT_TRUE(cancelled.MessageLog().empty());

  HeadlessPlatform& refused = FreshPlatform();
  refused.AnswerFileName((folder / "missing" / "run.csv").string());
  EXPECT_EQ(logger.SaveGraph("CurrentTuning"), 0);
  ASSERT_EQ(refused.MessageLog().size(), 1u);
  EXPECT_EQ(refused.MessageLog()[0].request.icon, MessageIcon::kWarning);
}

}  // namespace
}  // namespace axis
