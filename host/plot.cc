#include "host/plot.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>

#include "host/edit_setup_dlg.h"
#include "host/file_replace.h"
#include "host/number_text.h"
#include "host/platform.h"
#include "host/plot_picture.h"
#include "host/text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Red, green, blue of each palette entry (see RGB16 in plot.h).
constexpr std::array<std::array<int, 3>, 16> kPalette = {{
    {0x00, 0x00, 0x00},  // black
    {0x3a, 0x3f, 0x44},  // slate
    {0xd6, 0x27, 0x28},  // red
    {0xff, 0x7f, 0x0e},  // orange
    {0x00, 0x6d, 0x6f},  // teal
    {0x1f, 0x5f, 0xbf},  // blue
    {0x17, 0xbe, 0xcf},  // cyan
    {0xbc, 0xbd, 0x22},  // olive
    {0x2c, 0xa0, 0x2c},  // green
    {0x94, 0x67, 0xbd},  // purple
    {0x8c, 0x56, 0x4b},  // brown
    {0xe3, 0x77, 0xc2},  // pink
    {0x7f, 0x7f, 0x7f},  // grey
    {0x9e, 0xc5, 0xe8},  // light blue
    {0x98, 0xdf, 0x8a},  // light green
    {0xff, 0xff, 0xff},  // white
}};

// One CSV field: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

std::string Titled(const std::string& label, const std::string& unit) {
  return unit.empty() ? label : label + " [" + unit + "]";
}

// A span widened so that a range drawn from it has room: a margin of `margin` x span on both
// sides, or 10 % of the value (1 at zero) when there is no span. The ends stay finite.
axis::Range Widened(double lo, double hi, double margin) {
  double pad = margin * hi - margin * lo;  // no overflow where hi - lo would overflow
  if (!(lo < hi)) pad = lo == 0.0 ? 1.0 : 0.1 * std::fabs(lo);
  const double min = std::max(lo - pad, -DBL_MAX), max = std::min(hi + pad, DBL_MAX);
  if (min < max) return {min, max};
  // The value is so large that the pad vanishes against it.
  return {std::nextafter(lo, -DBL_MAX), std::nextafter(hi, DBL_MAX)};
}

struct Extent {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void Take(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool Empty() const { return lo > hi; }
};

int AttachTo(int control_id, CMC_EditSetupDlg* dialog, axis::CustomControl* model) {
  if (dialog == nullptr) return 0;
  dialog->AttachCustom(control_id, model);
  return 1;
}

bool EndsWithNoCase(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         axis::EqualsNoCase(std::string_view(text).substr(text.size() - tail.size()), tail);
}

}  // namespace

namespace axis {

std::string ColourHex(Colour colour) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text = "#";
  for (int part : {RedOf(colour), GreenOf(colour), BlueOf(colour)}) {
    text.push_back(kDigits[part >> 4]);
    text.push_back(kDigits[part & 0xF]);
  }
  return text;
}

}  // namespace axis

axis::Colour RGB16(int index) {
  const auto& rgb = kPalette[static_cast<size_t>(((index % 16) + 16) % 16)];
  return axis::MakeColour(rgb[0], rgb[1], rgb[2]);
}

// --- curves --------------------------------------------------------------------------------------

CXYCurve::CXYCurve(int x_column, int y_column, int axis, axis::Colour colour, int line_width)
    : x_column_(x_column),
      y_column_(y_column),
      axis_(std::max(axis, 1)),
      colour_(colour),
      line_width_(std::clamp(line_width, 1, 16)) {}

void CXYCurve::SetPoint(size_t index, double x, double y) {
  if (index < points_.size()) {
    points_[index] = {x, y};
    return;
  }
  points_.resize(index, {kNaN, kNaN});
  points_.push_back({x, y});
}

CGraphFilter::CGraphFilter() : columns_{{"t", "s"}} {}

CXYCurve& CGraphFilter::Add(CXYCurve curve) {
  curves_.push_back(std::make_unique<CXYCurve>(std::move(curve)));
  return *curves_.back();
}

CXYCurve* CGraphFilter::GetCurve(int index) {
  return index >= 0 && index < GetCount() ? curves_[static_cast<size_t>(index)].get() : nullptr;
}

const CXYCurve* CGraphFilter::GetCurve(int index) const {
  return index >= 0 && index < GetCount() ? curves_[static_cast<size_t>(index)].get() : nullptr;
}

void CGraphFilter::SetColumn(int column, std::string name, std::string unit) {
  if (column < 0) return;
  if (column >= GetColumnCount()) columns_.resize(static_cast<size_t>(column) + 1);
  columns_[static_cast<size_t>(column)] = {std::move(name), std::move(unit)};
}

std::string CGraphFilter::ColumnName(int column) const {
  return column >= 0 && column < GetColumnCount() ? columns_[static_cast<size_t>(column)].name : "";
}

std::string CGraphFilter::ColumnUnit(int column) const {
  return column >= 0 && column < GetColumnCount() ? columns_[static_cast<size_t>(column)].unit : "";
}

void CGraphFilter::RemoveDataColumns() { columns_.resize(1); }

std::string CGraphFilter::CurveName(const CXYCurve& curve) const {
  return curve.GetName().empty() ? ColumnName(curve.GetYColumn()) : curve.GetName();
}

std::string CGraphFilter::CurveUnit(const CXYCurve& curve) const {
  return curve.GetUnit().empty() ? ColumnUnit(curve.GetYColumn()) : curve.GetUnit();
}

void CGraphFilter::AddRow(const std::vector<double>& row) {
  const auto value = [&row](int column) {
    return column >= 0 && static_cast<size_t>(column) < row.size()
               ? row[static_cast<size_t>(column)]
               : kNaN;
  };
  for (const auto& curve : curves_)
    curve->AddPoint(value(curve->GetXColumn()), value(curve->GetYColumn()));
}

void CGraphFilter::SetRow(size_t index, const std::vector<double>& row) {
  const auto value = [&row](int column) {
    return column >= 0 && static_cast<size_t>(column) < row.size()
               ? row[static_cast<size_t>(column)]
               : kNaN;
  };
  for (const auto& curve : curves_)
    curve->SetPoint(index, value(curve->GetXColumn()), value(curve->GetYColumn()));
}

void CGraphFilter::SetScreen(int divisions, axis::Range x) {
  divisions_ = std::max(divisions, 0);
  if (std::isfinite(x.min) && std::isfinite(x.max) && x.min < x.max) screen_x_ = x;
}

void CGraphFilter::SetColumnDivision(int column, double scale, double offset) {
  if (column < 0) return;
  if (static_cast<size_t>(column) >= column_divisions_.size())
    column_divisions_.resize(static_cast<size_t>(column) + 1);
  auto& division = column_divisions_[static_cast<size_t>(column)];
  if (std::isfinite(scale) && scale > 0.0 && std::isfinite(offset)) {
    division = Division{scale, offset};
  } else {
    division.reset();
  }
}

const CGraphFilter::Division* CGraphFilter::ColumnDivision(int column) const {
  if (column < 0 || static_cast<size_t>(column) >= column_divisions_.size()) return nullptr;
  const auto& division = column_divisions_[static_cast<size_t>(column)];
  return division ? &*division : nullptr;
}

void CGraphFilter::RemoveAllPoints() {
  for (const auto& curve : curves_) curve->RemoveAllPoints();
}

std::string CGraphFilter::AsciiText() const {
  std::string text = "t_s";
  size_t rows = 0;
  for (const auto& curve : curves_) {
    const std::string unit = CurveUnit(*curve);
    const std::string name = CurveName(*curve) + (unit.empty() ? "" : "_" + unit);
    text += "," + CsvField(axis::Latin1ToUtf8(name));
    rows = std::max(rows, curve->Points().size());
  }
  text += "\n";
  for (size_t i = 0; i < rows; ++i) {
    std::string line;
    for (const auto& curve : curves_) {
      if (i < curve->Points().size()) {
        if (line.empty()) line = axis::FormatNumber(curve->Points()[i].x);
        break;
      }
    }
    for (const auto& curve : curves_) {
      line += ",";
      if (i < curve->Points().size()) line += axis::FormatNumber(curve->Points()[i].y);
    }
    text += line + "\n";
  }
  return text;
}

std::string CGraphFilter::ExportToASCII(const std::string& path) const {
  return axis::ReplaceFileAtomically(path, AsciiText());
}

CGraphDocument::CGraphDocument() { Add(); }

CGraphFilter* CGraphDocument::GetAt(int index) {
  return index >= 0 && index < GetCount() ? sets_[static_cast<size_t>(index)].get() : nullptr;
}

const CGraphFilter* CGraphDocument::GetAt(int index) const {
  return index >= 0 && index < GetCount() ? sets_[static_cast<size_t>(index)].get() : nullptr;
}

CGraphFilter& CGraphDocument::Add() {
  sets_.push_back(std::make_unique<CGraphFilter>());
  return *sets_.back();
}

// --- plots ---------------------------------------------------------------------------------------

CGraphWindow::CGraphWindow(int axes, int options)
    : axes_(std::clamp(axes, 1, kMaxAxes)),
      options_(options),
      y_ranges_(static_cast<size_t>(axes_), axis::Range{-1.0, 1.0}),
      y_titles_(static_cast<size_t>(axes_)) {}

int CGraphWindow::SubclassDlgItem(int control_id, CMC_EditSetupDlg* dialog, CGraphFilter* curves) {
  curves_ = curves;
  ++redraw_count_;
  control_id_ = control_id;
  return AttachTo(control_id, dialog, this);
}

int CGraphWindow::AxisOf(const CXYCurve& curve) const {
  return curve.GetAxis() <= axes_ ? curve.GetAxis() : 1;
}

bool CGraphWindow::AxisUsed(int axis) const {
  if (curves_ == nullptr) return false;
  for (int i = 0; i < curves_->GetCount(); ++i) {
    if (AxisOf(*curves_->GetCurve(i)) == axis) return true;
  }
  return false;
}

void CGraphWindow::UpdatePoint(int index) {
  if (index < 0) return;
  const auto i = static_cast<size_t>(index);
  updated_first_ = updated_ ? std::min(updated_first_, i) : i;
  updated_last_ = updated_ ? std::max(updated_last_, i) : i;
  updated_ = true;
  Changed();
}

bool CGraphWindow::TakeUpdatedPoints(size_t& first, size_t& last) {
  if (!updated_) return false;
  first = updated_first_;
  last = updated_last_;
  updated_ = false;
  return true;
}

axis::Range CGraphWindow::CurveYRange(const CXYCurve& curve) const {
  const axis::Range range = GetYRange(AxisOf(curve));
  const CGraphFilter::Division* division =
      curves_ != nullptr ? curves_->ColumnDivision(curve.GetYColumn()) : nullptr;
  if (division == nullptr) return range;
  return {division->offset + range.min * division->scale,
          division->offset + range.max * division->scale};
}

int CGraphWindow::ContextMenu() const {
  if (context_menu_ >= 0) return context_menu_;
  return curves_ != nullptr && curves_->GetDivisions() > 0 ? axis::kScopeMenu : 0;
}

void CGraphWindow::DoZoomOut() {
  if (curves_ != nullptr && curves_->GetDivisions() > 0) {
    const double half = 0.5 * curves_->GetDivisions();
    x_range_ = curves_->GetScreenX();
    std::fill(y_ranges_.begin(), y_ranges_.end(), axis::Range{-half, half});
    Redraw();
    return;
  }
  Extent x;
  std::vector<Extent> y(static_cast<size_t>(axes_));
  for (int i = 0; curves_ != nullptr && i < curves_->GetCount(); ++i) {
    const CXYCurve& curve = *curves_->GetCurve(i);
    Extent& along_y = y[static_cast<size_t>(AxisOf(curve) - 1)];
    for (const axis::XYPoint& p : curve.Points()) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      x.Take(p.x);
      along_y.Take(p.y);
    }
  }
  x_range_ = x.Empty() ? axis::Range{0.0, 1.0} : Widened(x.lo, x.hi, 0.0);
  for (size_t a = 0; a < y.size(); ++a)
    y_ranges_[a] = y[a].Empty() ? axis::Range{-1.0, 1.0} : Widened(y[a].lo, y[a].hi, 0.05);
  Redraw();
}

axis::Range CGraphWindow::GetYRange(int axis) const {
  return y_ranges_[static_cast<size_t>(axis >= 1 && axis <= axes_ ? axis - 1 : 0)];
}

bool CGraphWindow::SetXRange(double min, double max) {
  if (!std::isfinite(min) || !std::isfinite(max) || !(min < max)) return false;
  x_range_ = {min, max};
  Redraw();
  return true;
}

bool CGraphWindow::SetYRange(int axis, double min, double max) {
  if (axis < 1 || axis > axes_ || !std::isfinite(min) || !std::isfinite(max) || !(min < max))
    return false;
  y_ranges_[static_cast<size_t>(axis - 1)] = {min, max};
  Redraw();
  return true;
}

void CGraphWindow::SetXLabel(std::string label, std::string unit) {
  x_title_ = {true, std::move(label), std::move(unit)};
  ++redraw_count_;
}

void CGraphWindow::SetYLabel(int axis, std::string label, std::string unit) {
  if (axis < 1 || axis > axes_) return;
  y_titles_[static_cast<size_t>(axis - 1)] = {true, std::move(label), std::move(unit)};
  ++redraw_count_;
}

std::string CGraphWindow::XTitle() const { return Titled(x_title_.label, x_title_.unit); }

std::string CGraphWindow::YTitle(int axis) const {
  if (axis < 1 || axis > axes_) return "";
  const Title& title = y_titles_[static_cast<size_t>(axis - 1)];
  if (title.set) return Titled(title.label, title.unit);
  std::string names, unit;
  bool one_unit = true, first = true;
  for (int i = 0; curves_ != nullptr && i < curves_->GetCount(); ++i) {
    const CXYCurve& curve = *curves_->GetCurve(i);
    if (AxisOf(curve) != axis) continue;
    const std::string curve_unit = curves_->CurveUnit(curve);
    names += (first ? "" : ", ") + curves_->CurveName(curve);
    if (first) unit = curve_unit;
    one_unit = one_unit && curve_unit == unit;
    first = false;
  }
  return Titled(names, one_unit ? unit : "");
}

int CGraphWindow::CreateWMF(const char* name) {
  axis::Platform* platform = axis::GetPlatform();
  if (platform == nullptr) return 0;
  const std::string base = name != nullptr && *name != '\0' ? name : "Plot";
  const std::optional<std::string> path =
      platform->AskFileName({.save = true,
                             .title = "Save Picture",
                             .filter = "SVG pictures (*.svg)|*.svg|PNG pictures (*.png)|*.png",
                             .default_name = base + ".svg"});
  if (!path) return 0;
  std::string error;
  if (EndsWithNoCase(*path, ".png")) {
    const axis::PngWriter writer = axis::GetPngWriter();
    error = writer != nullptr
                ? writer(*this, axis::kPictureWidth, axis::kPictureHeight, *path)
                : *path + ": PNG pictures are drawn by the desktop front end; save as SVG";
  } else {
    error = axis::WritePlotSvg(*this, *path, axis::kPictureWidth, axis::kPictureHeight);
  }
  if (error.empty()) return 1;
  axis::ShowMessage({.text = "Cannot save the picture: " + error,
                     .buttons = axis::MessageButtons::kOk,
                     .icon = axis::MessageIcon::kWarning});
  return 0;
}

// --- bars ----------------------------------------------------------------------------------------

int CBarGraph::SubclassDlgItem(int control_id, CMC_EditSetupDlg* dialog) {
  return AttachTo(control_id, dialog, this);
}

CBarGraph::Geometry CBarGraph::Layout() const {
  Geometry g;
  if (!std::isfinite(left_) || !std::isfinite(right_) || left_ == right_ || std::isnan(value_) ||
      std::isnan(reference_))
    return g;
  // Scaled by halves, so that limits of opposite signs near the largest double cannot overflow.
  const auto fraction = [this](double v) {
    return (0.5 * v - 0.5 * left_) / (0.5 * right_ - 0.5 * left_);
  };
  const double to = fraction(value_);
  g.drawn = true;
  g.below = to < 0.0;
  g.above = to > 1.0;
  g.to = std::clamp(to, 0.0, 1.0);
  g.from = std::clamp(fraction(reference_), 0.0, 1.0);
  return g;
}
