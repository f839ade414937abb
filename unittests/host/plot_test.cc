// Plot and bar models, their pictures and their CSV text, headless.
#include "host/plot.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/dialog_test_support.h"
#include "host/number_text.h"
#include "host/plot_picture.h"

namespace axis {
namespace {

namespace fs = std::filesystem;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A curve on `axis` holding the given points.
CXYCurve Curve(int axis, std::vector<XYPoint> points, Colour colour = RGB16(2)) {
  CXYCurve curve(0, 1, axis, colour, 2);
  for (const XYPoint& p : points) curve.AddPoint(p.x, p.y);
  return curve;
}

TEST(Palette, SixteenDistinctColoursRepeatingEverySixteen) {
  std::set<Colour> colours;
  for (int i = 0; i < 16; ++i) colours.insert(RGB16(i));
  EXPECT_EQ(colours.size(), 16u);
  for (int i : {-17, -1, 0, 2, 5, 15, 16, 18, 1000}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(RGB16(i), RGB16(((i % 16) + 16) % 16));
  }
  EXPECT_EQ(ColourHex(MakeColour(0x12, 0xab, 0xff)), "#12abff");
  EXPECT_EQ(MakeColour(0xff, 0, 0), 0x0000ffu);  // the byte order of control text colours
}

TEST(CGraphWindow, ZoomOutFitsEveryCurveWithAMarginOnY) {
  constexpr double kMax = DBL_MAX;
  // clang-format off
  const struct { const char* name; std::vector<XYPoint> left, right; Range x, y1, y2; } rows[] = {
      {"both axes", {{0, 0}, {1, 10}, {2, 0}}, {{0.5, -4}, {1.5, 4}},
       {0, 2}, {-0.5, 10.5}, {-4.4, 4.4}},
      {"points that are not finite are skipped", {{0, 1}, {1, kNaN}, {kInf, 5}, {2, 3}, {3, -kInf}},
       {}, {0, 2}, {0.9, 3.1}, {-1, 1}},
      {"a constant curve", {{0, 5}, {1, 5}}, {}, {0, 1}, {4.5, 5.5}, {-1, 1}},
      {"a constant zero", {{0, 0}, {4, 0}}, {}, {0, 4}, {-1, 1}, {-1, 1}},
      {"one point", {{3, -2}}, {}, {2.7, 3.3}, {-2.2, -1.8}, {-1, 1}},
      {"no point", {}, {}, {0, 1}, {-1, 1}, {-1, 1}},
      {"only NaN", {{kNaN, kNaN}}, {}, {0, 1}, {-1, 1}, {-1, 1}},
      {"the whole double range stays finite", {{-kMax, -kMax}, {kMax, kMax}}, {},
       {-kMax, kMax}, {-kMax, kMax}, {-1, 1}},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CGraphFilter curves;
    curves.Add(Curve(1, row.left));
    curves.Add(Curve(2, row.right));
    CGraphWindow plot(2, 0);
    plot.SetCurves(&curves);
    plot.DoZoomOut();
    const Range got[] = {plot.GetXRange(), plot.GetYRange(1), plot.GetYRange(2)};
    const Range want[] = {row.x, row.y1, row.y2};
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(i == 0 ? "x" : i == 1 ? "axis 1" : "axis 2");
      EXPECT_NEAR(got[i].min, want[i].min, 1e-12 * std::max(1.0, std::fabs(want[i].min)));
      EXPECT_NEAR(got[i].max, want[i].max, 1e-12 * std::max(1.0, std::fabs(want[i].max)));
    }
  }
}

TEST(CGraphWindow, CurvesOnAnAxisThePlotLacksGoToAxisOne) {
  CGraphFilter curves;
  curves.Add(Curve(1, {{0, 1}, {1, 2}}));
  curves.Add(Curve(3, {{0, -3}, {1, 7}}));
  CGraphWindow plot(2, 0);
  plot.SetCurves(&curves);
  plot.DoZoomOut();
  EXPECT_EQ(plot.AxisOf(*curves.GetCurve(1)), 1);
  EXPECT_DOUBLE_EQ(plot.GetYRange(1).min, -3.5);
  EXPECT_DOUBLE_EQ(plot.GetYRange(1).max, 7.5);
  EXPECT_FALSE(plot.AxisUsed(2));
  EXPECT_EQ(CGraphWindow(9, 0).GetAxesCount(), CGraphWindow::kMaxAxes);
  EXPECT_EQ(CGraphWindow(0, 0).GetAxesCount(), 1);
}

TEST(CGraphWindow, ZoomRangesMustBeFiniteAndIncreasing) {
  // clang-format off
  const struct { int axis; double min, max; bool taken; } rows[] = {
      {0, 0, 1, true}, {0, -5, -4, true}, {0, 1, 1, false}, {0, 2, 1, false},
      {0, kNaN, 1, false}, {0, 0, kInf, false}, {1, 0, 1, true}, {2, 0, 1, true},
      {3, 0, 1, false}, {-1, 0, 1, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.axis << ": " << row.min << ".." << row.max);
    CGraphWindow plot(2, 0);
    const Range before = row.axis == 0 ? plot.GetXRange() : plot.GetYRange(row.axis);
    const bool taken = row.axis == 0 ? plot.SetXRange(row.min, row.max)
                                     : plot.SetYRange(row.axis, row.min, row.max);
    EXPECT_EQ(taken, row.taken);
    if (row.axis < 1 || row.axis > 2) continue;
    const Range after = plot.GetYRange(row.axis);
    EXPECT_EQ(after, (row.taken ? Range{row.min, row.max} : before));
  }
}

TEST(CGraphWindow, AxisTitlesNameTheirCurvesUnlessSet) {
  CGraphFilter curves;
  curves.SetColumn(1, "Current_Reference", "A");
  curves.SetColumn(2, "Motor_Current", "A");
  curves.SetColumn(3, "Voltage_Reference", "V");
  curves.Add(CXYCurve(0, 1, 1, RGB16(2), 2));
  curves.Add(CXYCurve(0, 3, 2, RGB16(8), 2));
  curves.Add(CXYCurve(0, 2, 1, RGB16(5), 2));
  CGraphWindow plot(2, 0);
  plot.SetCurves(&curves);
  EXPECT_EQ(plot.XTitle(), "t [s]");
  EXPECT_EQ(plot.YTitle(1), "Current_Reference, Motor_Current [A]");
  EXPECT_EQ(plot.YTitle(2), "Voltage_Reference [V]");
  curves.GetCurve(1)->SetUnit("mV");  // the curve's own unit
  curves.Add(CXYCurve(0, 3, 2, RGB16(9), 2));
  EXPECT_EQ(plot.YTitle(2), "Voltage_Reference, Voltage_Reference") << "units differ";
  plot.SetYLabel(1, "Current", "A");
  plot.SetXLabel("Time", "");
  EXPECT_EQ(plot.YTitle(1), "Current [A]");
  EXPECT_EQ(plot.XTitle(), "Time");
}

TEST(CBarGraph, TheDrawingClampsTheValueButTheModelKeepsIt) {
  constexpr double kMax = DBL_MAX;
  // clang-format off
  const struct { const char* name; double left, right, value, reference;
                 bool drawn; double from, to; bool below, above; } rows[] = {
      {"inside", -1.5, 1.5, 0.75, 0, true, 0.5, 0.75, false, false},
      {"beyond the right limit", -1.5, 1.5, 3, 0, true, 0.5, 1, false, true},
      {"beyond the left limit", -1.5, 1.5, -2, 0, true, 0.5, 0, true, false},
      {"reference moved", -2, 2, -1, 1, true, 0.75, 0.25, false, false},
      {"reference beyond a limit", 0, 10, 5, -20, true, 0, 0.5, false, false},
      {"limits reversed", 1, -1, 0.5, 0, true, 0.5, 0.25, false, false},
      {"an infinite value", -1, 1, kInf, 0, true, 0.5, 1, false, true},
      {"limits at the largest doubles", -kMax, kMax, kMax, 0, true, 0.5, 1, false, false},
      {"equal limits", 2, 2, 2, 0, false, 0, 0, false, false},
      {"a NaN value", -1, 1, kNaN, 0, false, 0, 0, false, false},
      {"a NaN reference", -1, 1, 0.5, kNaN, false, 0, 0, false, false},
      {"an infinite limit", -kInf, 1, 0.5, 0, false, 0, 0, false, false},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CBarGraph bar;
    bar.SetLimits(row.left, row.right);
    bar.SetCurrentValue(row.value);
    bar.SetDrawingReference(row.reference);
    const CBarGraph::Geometry g = bar.Layout();
    EXPECT_EQ(g.drawn, row.drawn);
    if (std::isnan(row.value)) {
      EXPECT_TRUE(std::isnan(bar.GetCurrentValue()));
    } else {
      EXPECT_EQ(bar.GetCurrentValue(), row.value);
    }
    if (!row.drawn) continue;
    EXPECT_DOUBLE_EQ(g.from, row.from);
    EXPECT_DOUBLE_EQ(g.to, row.to);
    EXPECT_EQ(g.below, row.below);
    EXPECT_EQ(g.above, row.above);
  }
  CBarGraph bar;
  EXPECT_EQ(bar.GetDrawingReference(), 0.0);
  bar.SetLeftLimit(-3);
  bar.SetRightLimit(5);
  EXPECT_EQ(bar.GetLeftLimit(), -3);
  EXPECT_EQ(bar.GetRightLimit(), 5);
}

TEST(CGraphFilter, RowsFeedEachCurveItsColumns) {
  CGraphFilter curves;
  curves.Add(CXYCurve(0, 2, 1, RGB16(2), 2));
  curves.Add(CXYCurve(1, 3, 2, RGB16(5), 2));
  curves.Add(CXYCurve(0, 7, 1, RGB16(8), 2));
  curves.AddRow({0.5, 10, 20, 30});
  curves.AddRow({0.6, 11});  // columns 2 and 3 missing
  const struct {
    int curve;
    size_t point;
    double x, y;
  } rows[] = {
      {0, 0, 0.5, 20},   {1, 0, 10, 30},   {2, 0, 0.5, kNaN},
      {0, 1, 0.6, kNaN}, {1, 1, 11, kNaN}, {2, 1, 0.6, kNaN},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << "curve " << row.curve << " point " << row.point);
    const XYPoint p = curves.GetCurve(row.curve)->Points().at(row.point);
    EXPECT_EQ(p.x, row.x);
    if (std::isnan(row.y)) {
      EXPECT_TRUE(std::isnan(p.y)) << p.y;
    } else {
      EXPECT_EQ(p.y, row.y);
    }
  }
  curves.RemoveAllPoints();
  EXPECT_TRUE(curves.GetCurve(0)->Points().empty());
  EXPECT_EQ(curves.GetCurve(3), nullptr);
  EXPECT_EQ(curves.GetCurve(-1), nullptr);
  CGraphDocument document;
  EXPECT_EQ(document.GetCount(), 1);
  EXPECT_NE(document.GetAt(0), nullptr);
  EXPECT_EQ(document.GetAt(1), nullptr);
  const CGraphFilter& added = document.Add();
  EXPECT_EQ(&added, document.GetAt(1));
}

TEST(CGraphFilter, AsciiTextIsCsvWithOneColumnPerCurve) {
  CGraphFilter curves;
  curves.SetColumn(1, "Current_Reference", "A");
  curves.SetColumn(2, "Motor_Current", "A");
  curves.SetColumn(3, "Voltage_Reference", "V");
  curves.SetColumn(4, "T",
                   "\xB0"
                   "C");
  curves.Add(CXYCurve(0, 1, 1, RGB16(2), 2));
  curves.Add(CXYCurve(0, 3, 2, RGB16(8), 2));
  curves.Add(CXYCurve(0, 4, 1, RGB16(5), 2));
  CXYCurve& named = curves.Add(CXYCurve(0, 5, 1, RGB16(9), 2));  // a column without a name
  named.SetName("Phase \"A\", measured");
  curves.AddRow({0, 0.001, 99, -2.5, 25, 7});
  curves.AddRow({0.0005, 1e-07, 99, kNaN, -kInf, 8});
  named.AddPoint(0.001, 3);  // one point more than the others
  EXPECT_EQ(curves.AsciiText(),
            "t_s,Current_Reference_A,Voltage_Reference_V,T_\xC2\xB0"
            "C,"
            "\"Phase \"\"A\"\", measured\"\n"
            "0,0.001,-2.5,25,7\n"
            "0.0005,1e-07,nan,-inf,8\n"
            "0.001,,,,3\n");
  EXPECT_EQ(CGraphFilter().AsciiText(), "t_s\n");

  const fs::path folder = fs::path(::testing::TempDir()) / "ascii_export";
  fs::create_directories(folder);
  const fs::path file = folder / "curves.csv";
  EXPECT_EQ(curves.ExportToASCII(file.string()), "");
  EXPECT_EQ(ReadFile(file), curves.AsciiText());
  EXPECT_NE(curves.ExportToASCII((folder / "missing" / "curves.csv").string()), "");
}

TEST(AxisTicks, StepsOfOneTwoFiveWithLabelsAsWritten) {
  // clang-format off
  const struct { Range range; int count; std::vector<std::string> labels; } rows[] = {
      {{0, 1}, 6, {"0", "0.2", "0.4", "0.6", "0.8", "1"}},
      {{0, 0.3}, 4, {"0", "0.1", "0.2", "0.3"}},
      {{-1.2, 3.7}, 6, {"-1", "0", "1", "2", "3"}},
      {{-0.5, 0.5}, 3, {"-0.5", "0", "0.5"}},
      {{1e6, 1.000004e6}, 5, {"1000000", "1000001", "1000002", "1000003", "1000004"}},
      {{0.00012, 0.00031}, 3, {"0.0002", "0.0003"}},
      {{-2e-9, 0}, 2, {"-2e-09", "0"}},
      {{0, 100}, 1, {"0", "100"}},  // at least two ticks
      {{5, 5}, 5, {}},
      {{6, 5}, 5, {}},
      {{kNaN, 1}, 5, {}},
      {{0, kInf}, 5, {}},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.range.min << ".." << row.range.max);
    std::vector<std::string> labels;
    for (const Tick& t : AxisTicks(row.range, row.count)) {
      labels.push_back(t.label);
      EXPECT_EQ(ParseNumber(t.label).value_or(kNaN), t.value);  // the label is the value
    }
    EXPECT_EQ(labels, row.labels);
  }
  const std::vector<Tick> widest = AxisTicks({-DBL_MAX, DBL_MAX}, 5);
  ASSERT_GE(widest.size(), 2u);
  for (size_t i = 1; i < widest.size(); ++i) EXPECT_LT(widest[i - 1].value, widest[i].value);
}

// A plot of 800 x 500 px using both axes has its area at x 64..736, y 16..456.
class PlotPicture : public ::testing::Test {
 protected:
  PlotPicture() {
    curves_.SetColumn(1, "Current_Reference", "A");
    curves_.SetColumn(2, "Voltage_Reference", "V");
    curves_.Add(Curve(1, {{0, 0}, {1, 10}, {2, 0}}, RGB16(2))).SetName("Current_Reference");
    curves_.Add(Curve(2, {{0, -1}, {2, 1}}, RGB16(8))).SetName("A&B <x>");
    plot_.SetCurves(&curves_);
    plot_.DoZoomOut();  // x 0..2, axis 1 -0.5..10.5, axis 2 -1.1..1.1
  }

  CGraphFilter curves_;
  CGraphWindow plot_{2, 0};
};

TEST_F(PlotPicture, CurvesMapIntoTheAreaAndAreClippedToIt) {
  const PlotArea area = PlotAreaOf(plot_, 800, 500);
  EXPECT_EQ(area.left, 64);
  EXPECT_EQ(area.top, 16);
  EXPECT_EQ(area.width, 672);
  EXPECT_EQ(area.height, 440);
  ASSERT_TRUE(plot_.SetXRange(0, 4));
  ASSERT_TRUE(plot_.SetYRange(1, 0, 10));
  // clang-format off
  const struct { const char* name; std::vector<XYPoint> points; std::vector<std::vector<Pixel>> runs; } rows[] = {
      {"inside", {{0, 0}, {2, 5}, {4, 10}}, {{{64, 456}, {400, 236}, {736, 16}}}},
      {"leaving on the right", {{2, 5}, {8, 5}}, {{{400, 236}, {736, 236}}}},
      {"out and back in", {{0, 5}, {2, 15}, {4, 5}}, {{{64, 236}, {232, 16}}, {{568, 16}, {736, 236}}}},
      {"crossing from outside to outside", {{-2, -5}, {6, 15}}, {{{64, 456}, {736, 16}}}},
      {"wholly outside", {{-2, 11}, {6, 20}}, {}},
      {"NaN breaks the line", {{0, 0}, {1, kNaN}, {2, 5}, {4, 10}}, {{{400, 236}, {736, 16}}}},
      {"a lone point", {{2, 5}}, {}},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<std::vector<Pixel>> runs = CurvePolylines(plot_, Curve(1, row.points), area);
    ASSERT_EQ(runs.size(), row.runs.size());
    for (size_t r = 0; r < runs.size(); ++r) {
      ASSERT_EQ(runs[r].size(), row.runs[r].size()) << "run " << r;
      for (size_t k = 0; k < runs[r].size(); ++k) {
        EXPECT_NEAR(runs[r][k].x, row.runs[r][k].x, 1e-9) << "run " << r << " point " << k;
        EXPECT_NEAR(runs[r][k].y, row.runs[r][k].y, 1e-9) << "run " << r << " point " << k;
      }
    }
  }
}

// The <polyline> elements of an SVG text: class, stroke, width and the points read back.
struct Polyline {
  std::string klass, stroke, width;
  std::vector<Pixel> points;
};
std::vector<Polyline> Polylines(const std::string& svg) {
  std::vector<Polyline> found;
  const std::regex element(
      "<polyline class=\"([^\"]*)\" stroke=\"([^\"]*)\" stroke-width=\"([^\"]*)\" "
      "points=\"([^\"]*)\"/>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), element);
       it != std::sregex_iterator(); ++it) {
    Polyline line{(*it)[1], (*it)[2], (*it)[3], {}};
    std::stringstream points((*it)[4]);
    std::string pair;
    while (points >> pair) {
      const size_t comma = pair.find(',');
      line.points.push_back({ParseNumber(pair.substr(0, comma)).value_or(kNaN),
                             ParseNumber(pair.substr(comma + 1)).value_or(kNaN)});
    }
    found.push_back(line);
  }
  return found;
}

// Elements nest and close, and every '&' starts one of the entities the writer uses.
void ExpectWellFormed(const std::string& svg) {
  ASSERT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  std::vector<std::string> open;
  const std::regex tag("<(/?)([A-Za-z][A-Za-z0-9:-]*)((?:\"[^\"]*\"|[^>\"])*?)(/?)>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), tag); it != std::sregex_iterator();
       ++it) {
    const std::string name = (*it)[2];
    if ((*it)[1] == "/") {
      ASSERT_FALSE(open.empty()) << "</" << name << "> closes nothing";
      ASSERT_EQ(open.back(), name);
      open.pop_back();
    } else if ((*it)[4] != "/") {
      open.push_back(name);
    }
  }
  EXPECT_TRUE(open.empty()) << open.size() << " elements left open";
  EXPECT_EQ(std::count(svg.begin(), svg.end(), '<'), std::count(svg.begin(), svg.end(), '>'));
  const std::regex bare_ampersand("&(?!amp;|lt;|gt;|quot;)");
  EXPECT_FALSE(std::regex_search(svg, bare_ampersand));
}

TEST_F(PlotPicture, SvgHoldsEachCurveAsAPolylineInItsColour) {
  const std::string svg = PlotSvg(plot_, 800, 500);
  ExpectWellFormed(svg);
  const std::vector<Polyline> lines = Polylines(svg);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].klass, "curve curve-0");
  EXPECT_EQ(lines[0].stroke, ColourHex(RGB16(2)));
  EXPECT_EQ(lines[0].width, "2");
  EXPECT_EQ(lines[1].klass, "curve curve-1");
  EXPECT_EQ(lines[1].stroke, ColourHex(RGB16(8)));
  // Axis 1 spans -0.5..10.5 over 440 px, axis 2 -1.1..1.1.
  const std::vector<std::vector<Pixel>> want = {{{64, 436}, {400, 36}, {736, 436}},
                                                {{64, 436}, {736, 36}}};
  for (size_t c = 0; c < want.size(); ++c) {
    ASSERT_EQ(lines[c].points.size(), want[c].size()) << "curve " << c;
    for (size_t k = 0; k < want[c].size(); ++k) {
      EXPECT_NEAR(lines[c].points[k].x, want[c][k].x, 0.005) << "curve " << c << " point " << k;
      EXPECT_NEAR(lines[c].points[k].y, want[c][k].y, 0.005) << "curve " << c << " point " << k;
    }
  }
  EXPECT_NE(svg.find(">A&amp;B &lt;x&gt; [A]</text>"), std::string::npos) << "legend";
  EXPECT_NE(svg.find(">t [s]</text>"), std::string::npos);

  CGraphWindow bare(2, CGraphWindow::kNoLegend | CGraphWindow::kNoGrid);
  bare.SetCurves(&curves_);
  const std::string plain = PlotSvg(bare, 800, 500);
  ExpectWellFormed(plain);
  EXPECT_EQ(plain.find("class=\"legend\""), std::string::npos);
  EXPECT_EQ(plain.find("class=\"grid\""), std::string::npos);
}

TEST_F(PlotPicture, DegeneratePicturesStayWellFormed) {
  CGraphFilter nan_curves;
  nan_curves.Add(Curve(1, {{kNaN, 1}, {kInf, -kInf}}));
  CGraphWindow empty(2, 0), nan_plot(2, 0);
  nan_plot.SetCurves(&nan_curves);
  nan_plot.DoZoomOut();
  for (const CGraphWindow* plot : {&empty, &nan_plot, &plot_}) {
    const std::pair<int, int> sizes[] = {{800, 500}, {0, 0}, {-5, 3}, {100000, 20}};
    for (const auto& [w, h] : sizes) {
      SCOPED_TRACE(::testing::Message() << w << " x " << h);
      const std::string svg = PlotSvg(*plot, w, h);
      ExpectWellFormed(svg);
      for (const Polyline& line : Polylines(svg)) {
        for (const Pixel& p : line.points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
      }
    }
  }
}

// Plots and bars attached to a dialog control: a change of the model is a change of the control.
class AttachedControls : public testing::DialogTest {};

TEST_F(AttachedControls, ModelChangesRedrawTheirControl) {
  CMC_Setup setup;
  testing::RecordingDlg dlg(setup, 900);
  std::vector<int> changed;
  dlg.SetChangeListener([&changed](int id) { changed.push_back(id); });
  CGraphFilter curves;
  CGraphWindow plot(2, 0);
  CBarGraph bar;
  EXPECT_EQ(plot.SubclassDlgItem(1095, &dlg, &curves), 1);
  EXPECT_EQ(bar.SubclassDlgItem(1096, &dlg), 1);
  EXPECT_EQ(dlg.Control(1095)->custom, &plot);
  EXPECT_EQ(dlg.Control(1096)->custom, &bar);
  EXPECT_EQ(plot.GetCurves(), &curves);
  changed.clear();
  const uint64_t redraws = plot.GetRedrawCount();
  plot.UpdateLastPoint();
  EXPECT_EQ(plot.GetRedrawCount(), redraws) << "appended points need no new drawing";
  plot.RefreshGraph();
  plot.DoZoomOut();
  EXPECT_EQ(plot.GetRedrawCount(), redraws + 2);
  bar.SetCurrentValue(2);  // stored only
  bar.Repaint();
  EXPECT_EQ(changed, (std::vector<int>{1095, 1095, 1095, 1096}));
  EXPECT_EQ(plot.SubclassDlgItem(1362, nullptr, &curves), 0);
  {
    CBarGraph short_lived;
    EXPECT_EQ(short_lived.SubclassDlgItem(1096, &dlg), 1);
  }
  EXPECT_EQ(dlg.Control(1096)->custom, nullptr) << "a model that went away is detached";
}

TEST_F(AttachedControls, CreateWmfWritesTheSvgOrAPngThroughTheFrontEnd) {
  const fs::path folder = fs::path(::testing::TempDir()) / "create_wmf";
  fs::remove_all(folder);
  fs::create_directories(folder);
  CGraphFilter curves;
  curves.Add(Curve(1, {{0, 0}, {1, 1}}));
  CGraphWindow plot(2, 0);
  plot.SetCurves(&curves);

  platform_.AnswerFileName((folder / "SpeedTuning.svg").string());
  EXPECT_EQ(plot.CreateWMF("SpeedTuning"), 1);
  ASSERT_EQ(platform_.FileNameLog().size(), 1u);
  EXPECT_TRUE(platform_.FileNameLog()[0].save);
  EXPECT_EQ(platform_.FileNameLog()[0].default_name, "SpeedTuning.svg");
  EXPECT_EQ(ReadFile(folder / "SpeedTuning.svg"), PlotSvg(plot, 800, 500));

  platform_.AnswerFileName(std::nullopt);
  EXPECT_EQ(plot.CreateWMF(nullptr), 0);
  EXPECT_EQ(platform_.FileNameLog()[1].default_name, "Plot.svg");

  // PNG: refused without the desktop, drawn by the writer it installs.
  platform_.AnswerFileName((folder / "a.PNG").string());
  EXPECT_EQ(plot.CreateWMF("a"), 0);
  ASSERT_EQ(platform_.MessageLog().size(), 1u);
  EXPECT_NE(platform_.MessageLog()[0].request.text.find("PNG"), std::string::npos);
  static std::vector<std::string> drawn;
  SetPngWriter([](const CustomControl& control, int w, int h, const std::string& path) {
    drawn.push_back(std::string(control.Kind()) + " " + std::to_string(w) + "x" +
                    std::to_string(h) + " " + fs::path(path).filename().string());
    return std::string();
  });
  platform_.AnswerFileName((folder / "b.png").string());
  EXPECT_EQ(plot.CreateWMF("b"), 1);
  SetPngWriter(nullptr);
  EXPECT_EQ(drawn, std::vector<std::string>{"plot 800x500 b.png"});

  platform_.AnswerFileName((folder / "missing" / "c.svg").string());
  EXPECT_EQ(plot.CreateWMF("c"), 0);
  EXPECT_EQ(platform_.MessageLog().size(), 2u);
}

}  // namespace
}  // namespace axis
