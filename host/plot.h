// Plots and bar graphs: the models behind the pictures the commissioning tests draw.
//
// A curve set (CGraphFilter) holds curves (CXYCurve) and the names of the columns its points
// carry. Points arrive as rows, one value per column (column 0 is the time in s); each curve takes
// its x and y from two columns of every row. A document (CGraphDocument) holds curve sets; every
// logger owns one and fills its set 0 (host/logger.h).
//
// A plot (CGraphWindow) shows one curve set in a dialog control: the x range and one y range per
// axis (the zoom state), the axis titles and the options. A bar graph (CBarGraph) shows one value
// on a horizontal bar between two limits. Both are custom controls (host/custom_control.h): the
// desktop draws them with the widgets registered for "plot" and "bar" (app/gui), pictures of a
// plot are written by the host itself as SVG (host/plot_picture.h) and, on the desktop, as PNG.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/custom_control.h"

class CMC_EditSetupDlg;

namespace axis {

// A colour as 0x00BBGGRR (red is 0x0000FF), the form control text colours take.
using Colour = uint32_t;
constexpr Colour MakeColour(int red, int green, int blue) {
  return static_cast<Colour>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr int RedOf(Colour c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(Colour c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(Colour c) { return static_cast<int>((c >> 16) & 0xFF); }
// "#rrggbb".
std::string ColourHex(Colour colour);

struct XYPoint {
  double x = 0.0;
  double y = 0.0;
};

struct Range {
  double min = 0.0;
  double max = 1.0;
  bool operator==(const Range&) const = default;
};

}  // namespace axis

// The n-th colour of the host's 16-colour palette, chosen to read well on white; the index is
// taken modulo 16 (RGB16(18) is RGB16(2), RGB16(-1) is RGB16(15)).
//
//   0 black   #000000     4 teal       #006d6f    8 green  #2ca02c    12 grey        #7f7f7f
//   1 slate   #3a3f44     5 blue       #1f5fbf    9 purple #9467bd    13 light blue  #9ec5e8
//   2 red     #d62728     6 cyan       #17becf   10 brown  #8c564b    14 light green #98df8a
//   3 orange  #ff7f0e     7 olive      #bcbd22   11 pink   #e377c2    15 white       #ffffff
//
// The tests' curves take 2 (a reference), 5 (its feedback), 8 and 9 (the inner loop's pair), 1
// and 4 (the motionless start's current and angle).
axis::Colour RGB16(int index);

// One curve of a curve set: which columns of the set's rows are its x and y, the y axis it is
// drawn against (1 left, 2 right; 3 and 4 exist in plots made with more axes), its colour and
// line width (px), a name and a unit (empty: those of its y column), and its points.
class CXYCurve {
 public:
  // An axis below 1 is taken as 1; a line width outside 1..16 px is brought into that range.
  CXYCurve(int x_column, int y_column, int axis, axis::Colour colour, int line_width);

  int GetXColumn() const { return x_column_; }
  int GetYColumn() const { return y_column_; }
  int GetAxis() const { return axis_; }
  axis::Colour GetColour() const { return colour_; }
  int GetLineWidth() const { return line_width_; }
  const std::string& GetName() const { return name_; }
  const std::string& GetUnit() const { return unit_; }
  void SetName(std::string name) { name_ = std::move(name); }
  void SetUnit(std::string unit) { unit_ = std::move(unit); }

  const std::vector<axis::XYPoint>& Points() const { return points_; }
  void AddPoint(double x, double y) { points_.push_back({x, y}); }
  // Replaces point `index`; past the end, the points between become NaN.
  void SetPoint(size_t index, double x, double y);
  void RemoveAllPoints() { points_.clear(); }

 private:
  int x_column_;
  int y_column_;
  int axis_;
  axis::Colour colour_;
  int line_width_;
  std::string name_;
  std::string unit_;
  std::vector<axis::XYPoint> points_;
};

// A curve set: the curves drawn together in one plot and the columns of the rows they are fed.
class CGraphFilter {
 public:
  CGraphFilter();  // one column, 0: "t" in "s"

  // Adds a curve (its points are kept) and returns it; the set owns it.
  CXYCurve& Add(CXYCurve curve);
  int GetCount() const { return static_cast<int>(curves_.size()); }
  // The curve at `index`, or null.
  CXYCurve* GetCurve(int index);
  const CXYCurve* GetCurve(int index) const;
  void RemoveAllCurves() { curves_.clear(); }

  // The name and unit (Latin-1) of a column; setting one past the end adds unnamed columns up to
  // it. Column 0 is the time.
  void SetColumn(int column, std::string name, std::string unit);
  int GetColumnCount() const { return static_cast<int>(columns_.size()); }
  std::string ColumnName(int column) const;  // "" for a column that does not exist
  std::string ColumnUnit(int column) const;
  // Forgets every column after the time.
  void RemoveDataColumns();
  // A curve's name and unit as shown: its own, else its y column's.
  std::string CurveName(const CXYCurve& curve) const;
  std::string CurveUnit(const CXYCurve& curve) const;

  // A row of values, one per column: every curve takes the point (row[x column], row[y column]);
  // a column the row lacks gives NaN.
  void AddRow(const std::vector<double>& row);
  // The same as point `index` of every curve (a circular buffer's slot), see CXYCurve::SetPoint.
  void SetRow(size_t index, const std::vector<double>& row);

  // An oscilloscope's screen: `divisions` vertical divisions (0: an ordinary plot) over the time
  // span `x`. A column with a division scale is drawn at (value - offset) / scale divisions from
  // the screen's centre line: `scale` units per division, `offset` the value on the centre line.
  struct Division {
    double scale = 1.0;
    double offset = 0.0;
  };
  void SetScreen(int divisions, axis::Range x);
  int GetDivisions() const { return divisions_; }
  axis::Range GetScreenX() const { return screen_x_; }
  // A scale that is not positive and finite, or an offset that is not finite, removes the column's.
  void SetColumnDivision(int column, double scale, double offset);
  const Division* ColumnDivision(int column) const;  // null when the column has none
  // Empties every curve.
  void RemoveAllPoints();

  // The curves as CSV (UTF-8, lines ending in "\n"): a header "t_s" and one column per curve,
  // named "<name>_<unit>" ("<name>" without a unit), then one line per point index with the time
  // (the x of the first curve that has that point; the curves of a set share the time as x) and
  // each curve's y. A curve shorter than the longest leaves its cells empty; numbers are written
  // with axis::FormatNumber ("nan", "inf" where they are not finite); a field holding a comma, a
  // quote or a line break is quoted.
  std::string AsciiText() const;
  // Writes AsciiText() to `path` (replacing the file atomically). Returns "" on success, else why.
  std::string ExportToASCII(const std::string& path) const;

 private:
  struct Column {
    std::string name;
    std::string unit;
  };
  std::vector<std::unique_ptr<CXYCurve>> curves_;
  std::vector<Column> columns_;
  int divisions_ = 0;
  axis::Range screen_x_{0.0, 1.0};
  std::vector<std::optional<Division>> column_divisions_;
};

// The curve sets of a logger (or of a plot of its own): set 0 exists from the start.
class CGraphDocument {
 public:
  CGraphDocument();
  // The set at `index`, or null.
  CGraphFilter* GetAt(int index);
  const CGraphFilter* GetAt(int index) const;
  int GetCount() const { return static_cast<int>(sets_.size()); }
  // Appends an empty set and returns it.
  CGraphFilter& Add();

 private:
  std::vector<std::unique_ptr<CGraphFilter>> sets_;
};

// A plot of one curve set in a dialog control.
//
// Zoom state: the x range and one y range per axis. DoZoomOut fits them to the finite points of
// the curves: x exactly, each y axis with a margin of 5 % of its span on both sides. A range
// without span (one point, a constant curve) is widened around its value by 10 % of it (by 1 at
// zero); an axis without a finite point gets x 0..1 or y -1..1. Ranges set by hand must be finite
// and increasing, or they are refused.
//
// A curve set with a screen (an oscilloscope's, CGraphFilter::SetScreen) is zoomed out to the
// screen instead: x over its time span, every y axis from -divisions/2 to +divisions/2, in
// divisions; a curve whose y column has a division scale is drawn in divisions (CurveYRange).
class CGraphWindow : public axis::CustomControl {
 public:
  static constexpr int kMaxAxes = 4;
  // Options.
  static constexpr int kNoLegend = 1;
  static constexpr int kNoGrid = 2;

  // `axes`: how many y axes (brought into 1..kMaxAxes); `options`: kNoLegend | kNoGrid. The tests'
  // plots are made with (2, 0): a left and a right axis, a grid and a legend.
  CGraphWindow(int axes, int options);

  std::string_view Kind() const override { return "plot"; }

  // Shows `curves` (not owned; null for none) in control `control_id` of `dialog` (null: no
  // dialog). Returns 1 when attached to a dialog.
  int SubclassDlgItem(int control_id, CMC_EditSetupDlg* dialog, CGraphFilter* curves);
  void SetCurves(CGraphFilter* curves) {
    curves_ = curves;
    Redraw();
  }
  const CGraphFilter* GetCurves() const { return curves_; }
  int GetControlId() const { return control_id_; }
  int GetAxesCount() const { return axes_; }
  int GetOptions() const { return options_; }

  // Draw everything again (the curves or the settings changed).
  void RefreshGraph() { Redraw(); }
  // Fit the ranges to the curves (see above) and draw everything again.
  void DoZoomOut();
  // Points were appended to the curves, nothing else changed: a drawing may add just their lines.
  void UpdateLastPoint() { Changed(); }
  // Point `index` of the curves (a slot of a circular buffer) was replaced: a drawing may redraw
  // just the lines around it. A negative index is ignored.
  void UpdatePoint(int index);
  // The replaced points since the last call, as the smallest and largest index; false when none.
  // The widget drawing the plot takes them.
  bool TakeUpdatedPoints(size_t& first, size_t& last);
  // Counts the changes that need everything drawn again (all but UpdateLastPoint), so that a
  // widget may keep its drawing of the curves and add the appended points while it stays the same.
  uint64_t GetRedrawCount() const { return redraw_count_; }

  axis::Range GetXRange() const { return x_range_; }
  // The range of axis 1..GetAxesCount(); another axis answers with axis 1's.
  axis::Range GetYRange(int axis) const;
  // Zoom to a range; false (nothing changed) unless min < max, both finite.
  bool SetXRange(double min, double max);
  bool SetYRange(int axis, double min, double max);
  // The axis a curve is drawn against: its own when this plot has it, else axis 1.
  int AxisOf(const CXYCurve& curve) const;
  // Whether any curve is drawn against the axis.
  bool AxisUsed(int axis) const;
  // The range of y values a curve's y spans on the plot: its axis's range, or, for a column with a
  // division scale, that range (in divisions) as values: offset + divisions x scale.
  axis::Range CurveYRange(const CXYCurve& curve) const;

  // The host menu (HostMenu) a right-click over the plot offers, 0 for none. Unless set, a plot
  // of an oscilloscope's screen offers the scope's menu (kScopeMenu), any other plot none.
  void SetContextMenu(int menu_id) { context_menu_ = menu_id; }
  int ContextMenu() const override;

  // Axis titles (Latin-1): "label [unit]", or the label alone without a unit. The x axis is "t"
  // in "s" unless set; a y axis not set names its curves, with their unit when they share one.
  void SetXLabel(std::string label, std::string unit);
  void SetYLabel(int axis, std::string label, std::string unit);
  std::string XTitle() const;
  std::string YTitle(int axis) const;

  // Picture export: asks the user for a file (default "<name>.svg"; "Plot" without a name) and
  // writes an SVG picture (800 x 500) there, or a PNG when the name chosen ends in ".png" and the
  // desktop front end is running. Returns 1 when written, 0 when cancelled or failed (a failure
  // is shown in a message box).
  int CreateWMF(const char* name);

 private:
  void Redraw() {
    ++redraw_count_;
    Changed();
  }

  struct Title {
    bool set = false;
    std::string label;
    std::string unit;
  };

  CGraphFilter* curves_ = nullptr;
  int control_id_ = 0;
  int axes_;
  int options_;
  axis::Range x_range_{0.0, 1.0};
  std::vector<axis::Range> y_ranges_;
  int context_menu_ = -1;  // -1: by the curve set
  bool updated_ = false;
  size_t updated_first_ = 0, updated_last_ = 0;
  Title x_title_{true, "t", "s"};
  std::vector<Title> y_titles_;
  uint64_t redraw_count_ = 0;
};

// A horizontal bar between a left and a right limit showing one value, drawn from the drawing
// reference (0 unless set) to the value. The setters only store; Repaint draws again. The value is
// kept as given: only the drawing clamps it to the limits.
class CBarGraph : public axis::CustomControl {
 public:
  std::string_view Kind() const override { return "bar"; }

  // Shows the bar in control `control_id` of `dialog`; 1 when attached.
  int SubclassDlgItem(int control_id, CMC_EditSetupDlg* dialog);

  void SetLeftLimit(double value) { left_ = value; }
  void SetRightLimit(double value) { right_ = value; }
  void SetLimits(double left, double right) {
    left_ = left;
    right_ = right;
  }
  void SetCurrentValue(double value) { value_ = value; }
  void SetDrawingReference(double value) { reference_ = value; }
  double GetDrawingReference() const { return reference_; }
  double GetLeftLimit() const { return left_; }
  double GetRightLimit() const { return right_; }
  double GetCurrentValue() const { return value_; }
  void SetColour(axis::Colour colour) { colour_ = colour; }
  axis::Colour GetColour() const { return colour_; }
  void Repaint() { Changed(); }

  // What the drawing shows, as fractions of the bar's width (0 at the left limit, 1 at the right
  // one; a left limit above the right one runs the scale from right to left). `drawn` is false,
  // and nothing but the frame is drawn, when a limit is not finite, the limits are equal, or the
  // value or the reference is NaN. `below` / `above` say the value lies beyond the left / right
  // end and was clamped there.
  struct Geometry {
    bool drawn = false;
    double from = 0.0;  // the reference
    double to = 0.0;    // the value
    bool below = false;
    bool above = false;
  };
  Geometry Layout() const;

 private:
  double left_ = 0.0;
  double right_ = 1.0;
  double value_ = 0.0;
  double reference_ = 0.0;
  axis::Colour colour_ = RGB16(5);
};
