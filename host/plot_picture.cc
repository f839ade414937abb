#include "host/plot_picture.h"

#include <algorithm>
#include <cmath>

#include "host/file_replace.h"
#include "host/number_text.h"
#include "host/text.h"

namespace axis {

namespace {

constexpr int kMaxPictureSide = 16384;
constexpr double kMarginSide = 64.0, kMarginNarrow = 16.0, kMarginBottom = 44.0;

const char* const kTextColour = "#3a3f44";
const char* const kGridColour = "#e3e6ea";

// A coordinate in px as SVG gets it.
std::string Px(double value) { return FormatFixed(value, 2); }

// Latin-1 text as UTF-8 XML character data or attribute value.
std::string Xml(const std::string& latin1) {
  std::string text;
  for (char c : Latin1ToUtf8(latin1)) {
    switch (c) {
      case '&':
        text += "&amp;";
        break;
      case '<':
        text += "&lt;";
        break;
      case '>':
        text += "&gt;";
        break;
      case '"':
        text += "&quot;";
        break;
      default:
        text.push_back(c);
    }
  }
  return text;
}

// Where a value lies along a range, 0 at min and 1 at max; scaled by halves so that wide ranges
// near the largest double do not overflow.
double Fraction(Range range, double value) {
  return (0.5 * value - 0.5 * range.min) / (0.5 * range.max - 0.5 * range.min);
}

// Clips the segment a-b to the unit square (Liang-Barsky); false when nothing of it lies inside.
// t0 and t1 are where the kept part starts and ends along it.
bool ClipToUnitSquare(Pixel a, Pixel b, double& t0, double& t1) {
  t0 = 0.0;
  t1 = 1.0;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.x, 1.0 - a.x, a.y, 1.0 - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0.0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
  }
  return t0 <= t1;
}

std::string Line(double x1, double y1, double x2, double y2) {
  return "<line x1=\"" + Px(x1) + "\" y1=\"" + Px(y1) + "\" x2=\"" + Px(x2) + "\" y2=\"" + Px(y2) +
         "\"/>\n";
}

std::string Text(double x, double y, const char* anchor, const std::string& latin1,
                 double rotate = 0.0) {
  std::string text = "<text x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" text-anchor=\"" + anchor + "\"";
  if (rotate != 0.0)
    text += " transform=\"rotate(" + FormatNumber(rotate) + " " + Px(x) + " " + Px(y) + ")\"";
  return text + ">" + Xml(latin1) + "</text>\n";
}

}  // namespace

PlotArea PlotAreaOf(const CGraphWindow& plot, int width, int height) {
  const double w = std::clamp(width, 1, kMaxPictureSide);
  const double h = std::clamp(height, 1, kMaxPictureSide);
  const double right = plot.AxisUsed(2) ? kMarginSide : kMarginNarrow;
  return {kMarginSide, kMarginNarrow, std::max(0.0, w - kMarginSide - right),
          std::max(0.0, h - kMarginNarrow - kMarginBottom)};
}

std::vector<Tick> AxisTicks(Range range, int max_count) {
  const double lo = range.min, hi = range.max;
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(lo < hi)) return {};
  max_count = std::clamp(max_count, 2, 50);
  // The span over max_count, computed by halves so that it cannot overflow.
  const double raw = (0.5 * hi - 0.5 * lo) / max_count * 2.0;
  const int exponent = static_cast<int>(std::floor(std::log10(raw)));
  const double largest = std::max(std::fabs(lo), std::fabs(hi));
  const int largest_exponent = static_cast<int>(std::floor(std::log10(largest)));
  // The smallest 1-2-5 step that leaves at most max_count ticks in the range.
  for (int e = exponent; e <= exponent + 2; ++e) {
    for (double mantissa : {1.0, 2.0, 5.0}) {
      const double step = mantissa * std::pow(10.0, e);
      if (!(step > 0.0) || !std::isfinite(step)) continue;
      // A hair of tolerance, so that 0.3 / 0.1 = 2.9999999999999996 still reaches the tick 0.3.
      const double first = std::ceil(lo / step - 1e-9), last = std::floor(hi / step + 1e-9);
      if (!(last - first + 1.0 <= max_count)) continue;
      // Digits enough to tell neighbouring ticks apart and to write the whole part of the largest.
      const int digits = std::clamp(largest_exponent - std::min(e, 0) + 1, 1, 17);
      const int count = static_cast<int>(last - first) + 1;
      std::vector<Tick> ticks;
      for (int i = 0; i < count; ++i) {
        const double approx = (first + i) * step + 0.0;  // + 0.0: no "-0"
        // The tick lies exactly where its label says: 0.6, not 3 x 0.2 = 0.6000000000000001.
        Tick tick{approx, FormatNumber(approx, digits)};
        tick.value = ParseNumber(tick.label).value_or(approx);
        if (tick.value < lo || tick.value > hi) continue;
        if (!ticks.empty() && tick.value <= ticks.back().value) continue;
        ticks.push_back(std::move(tick));
      }
      return ticks;
    }
  }
  return {};
}

int TickCountX(double pixels) { return std::clamp(static_cast<int>(pixels / 80.0) + 1, 2, 50); }
int TickCountY(double pixels) { return std::clamp(static_cast<int>(pixels / 40.0) + 1, 2, 50); }

double XPixel(const CGraphWindow& plot, const PlotArea& area, double x) {
  return area.left + Fraction(plot.GetXRange(), x) * area.width;
}

double YPixel(const CGraphWindow& plot, int axis, const PlotArea& area, double y) {
  return area.top + (1.0 - Fraction(plot.GetYRange(axis), y)) * area.height;
}

std::vector<std::vector<Pixel>> CurvePolylines(const CGraphWindow& plot, const CXYCurve& curve,
                                               const PlotArea& area, size_t first, size_t last) {
  const Range x_range = plot.GetXRange(), y_range = plot.CurveYRange(curve);
  const auto to_pixel = [&area](Pixel unit) {
    return Pixel{area.left + unit.x * area.width, area.top + (1.0 - unit.y) * area.height};
  };
  std::vector<std::vector<Pixel>> runs;
  bool open = false;  // the last run ends at the previous point, inside the area
  bool have_previous = false;
  Pixel previous;
  const std::vector<XYPoint>& points = curve.Points();
  const size_t end = last < points.size() ? last + 1 : points.size();
  for (size_t i = first; i < end; ++i) {
    const XYPoint& p = points[i];
    const Pixel unit{Fraction(x_range, p.x), Fraction(y_range, p.y)};
    if (!std::isfinite(unit.x) || !std::isfinite(unit.y)) {
      have_previous = open = false;
      continue;
    }
    if (have_previous) {
      double t0 = 0.0, t1 = 1.0;
      if (ClipToUnitSquare(previous, unit, t0, t1)) {
        const auto at = [&](double t) {
          return Pixel{previous.x + t * (unit.x - previous.x),
                       previous.y + t * (unit.y - previous.y)};
        };
        if (!(open && t0 == 0.0)) runs.push_back({to_pixel(at(t0))});
        runs.back().push_back(to_pixel(t1 == 1.0 ? unit : at(t1)));
        open = t1 == 1.0;
      } else {
        open = false;
      }
    }
    previous = unit;
    have_previous = true;
  }
  return runs;
}

std::string LegendText(const CGraphFilter& curves, const CXYCurve& curve) {
  const std::string unit = curves.CurveUnit(curve);
  const std::string name = curves.CurveName(curve);
  std::string text = unit.empty() ? name : name + " [" + unit + "]";
  if (const CGraphFilter::Division* d = curves.ColumnDivision(curve.GetYColumn()))
    text += ", " + FormatNumber(d->scale, 6) + "/div";
  return text;
}

std::string PlotSvg(const CGraphWindow& plot, int width, int height) {
  const int w = std::clamp(width, 1, kMaxPictureSide), h = std::clamp(height, 1, kMaxPictureSide);
  const PlotArea a = PlotAreaOf(plot, w, h);
  const CGraphFilter* curves = plot.GetCurves();
  const std::vector<Tick> x_ticks = AxisTicks(plot.GetXRange(), TickCountX(a.width));
  const std::vector<Tick> y_ticks = AxisTicks(plot.GetYRange(1), TickCountY(a.height));
  const bool right_axis = plot.AxisUsed(2);
  const std::vector<Tick> right_ticks =
      right_axis ? AxisTicks(plot.GetYRange(2), TickCountY(a.height)) : std::vector<Tick>{};

  const std::string area_rect = "x=\"" + Px(a.left) + "\" y=\"" + Px(a.top) + "\" width=\"" +
                                Px(a.width) + "\" height=\"" + Px(a.height) + "\"";
  std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + FormatNumber(w) +
         "\" height=\"" + FormatNumber(h) + "\" viewBox=\"0 0 " + FormatNumber(w) + " " +
         FormatNumber(h) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
  std::string title;
  for (int i = 0; curves != nullptr && i < curves->GetCount(); ++i)
    title += (i == 0 ? "" : ", ") + curves->CurveName(*curves->GetCurve(i));
  svg += "<title>" + Xml(title.empty() ? "Plot" : title) + "</title>\n";
  svg += "<defs><clipPath id=\"plot-area\"><rect " + area_rect + "/></clipPath></defs>\n";
  svg += "<rect width=\"" + FormatNumber(w) + "\" height=\"" + FormatNumber(h) +
         "\" fill=\"#ffffff\"/>\n";

  if ((plot.GetOptions() & CGraphWindow::kNoGrid) == 0) {
    svg += "<g class=\"grid\" stroke=\"" + std::string(kGridColour) + "\" stroke-width=\"1\">\n";
    for (const Tick& t : x_ticks) {
      const double x = XPixel(plot, a, t.value);
      svg += Line(x, a.top, x, a.Bottom());
    }
    for (const Tick& t : y_ticks) {
      const double y = YPixel(plot, 1, a, t.value);
      svg += Line(a.left, y, a.Right(), y);
    }
    svg += "</g>\n";
  }

  svg +=
      "<g class=\"curves\" clip-path=\"url(#plot-area)\" fill=\"none\" "
      "stroke-linejoin=\"round\" stroke-linecap=\"round\">\n";
  for (int i = 0; curves != nullptr && i < curves->GetCount(); ++i) {
    const CXYCurve& curve = *curves->GetCurve(i);
    for (const std::vector<Pixel>& run : CurvePolylines(plot, curve, a)) {
      svg += "<polyline class=\"curve curve-" + FormatNumber(i) + "\" stroke=\"" +
             ColourHex(curve.GetColour()) + "\" stroke-width=\"" +
             FormatNumber(curve.GetLineWidth()) + "\" points=\"";
      for (size_t k = 0; k < run.size(); ++k)
        svg += (k == 0 ? "" : " ") + Px(run[k].x) + "," + Px(run[k].y);
      svg += "\"/>\n";
    }
  }
  svg += "</g>\n";

  svg += "<rect class=\"frame\" " + area_rect + " fill=\"none\" stroke=\"" + kTextColour +
         "\" stroke-width=\"1\"/>\n";
  svg += "<g class=\"ticks\" stroke=\"" + std::string(kTextColour) + "\" stroke-width=\"1\">\n";
  for (const Tick& t : x_ticks) {
    const double x = XPixel(plot, a, t.value);
    svg += Line(x, a.Bottom(), x, a.Bottom() + 4);
  }
  for (const Tick& t : y_ticks) {
    const double y = YPixel(plot, 1, a, t.value);
    svg += Line(a.left - 4, y, a.left, y);
  }
  for (const Tick& t : right_ticks) {
    const double y = YPixel(plot, 2, a, t.value);
    svg += Line(a.Right(), y, a.Right() + 4, y);
  }
  svg += "</g>\n";

  svg += "<g class=\"labels\" fill=\"" + std::string(kTextColour) + "\">\n";
  for (const Tick& t : x_ticks)
    svg += Text(XPixel(plot, a, t.value), a.Bottom() + 17, "middle", t.label);
  for (const Tick& t : y_ticks)
    svg += Text(a.left - 6, YPixel(plot, 1, a, t.value) + 4, "end", t.label);
  for (const Tick& t : right_ticks)
    svg += Text(a.Right() + 6, YPixel(plot, 2, a, t.value) + 4, "start", t.label);
  svg += Text(a.left + a.width / 2, a.Bottom() + 36, "middle", plot.XTitle());
  svg += Text(14, a.top + a.height / 2, "middle", plot.YTitle(1), -90);
  if (right_axis) svg += Text(w - 8.0, a.top + a.height / 2, "middle", plot.YTitle(2), -90);
  svg += "</g>\n";

  if ((plot.GetOptions() & CGraphWindow::kNoLegend) == 0 && curves != nullptr &&
      curves->GetCount() > 0) {
    size_t longest = 0;
    for (int i = 0; i < curves->GetCount(); ++i)
      longest = std::max(longest, LegendText(*curves, *curves->GetCurve(i)).size());
    const double x = a.left + 8, y = a.top + 8;
    const double box_w = 40.0 + 7.0 * static_cast<double>(longest);
    const double box_h = 8.0 + 16.0 * curves->GetCount();
    svg += "<g class=\"legend\">\n<rect x=\"" + Px(x) + "\" y=\"" + Px(y) + "\" width=\"" +
           Px(box_w) + "\" height=\"" + Px(box_h) +
           "\" fill=\"#ffffff\" fill-opacity=\"0.85\" "
           "stroke=\"" +
           kGridColour + "\"/>\n";
    for (int i = 0; i < curves->GetCount(); ++i) {
      const CXYCurve& curve = *curves->GetCurve(i);
      const double row = y + 12.0 + 16.0 * i;
      svg += "<line class=\"swatch\" x1=\"" + Px(x + 6) + "\" y1=\"" + Px(row) + "\" x2=\"" +
             Px(x + 28) + "\" y2=\"" + Px(row) + "\" stroke=\"" + ColourHex(curve.GetColour()) +
             "\" stroke-width=\"" + FormatNumber(curve.GetLineWidth()) + "\"/>\n";
      svg += "<text x=\"" + Px(x + 34) + "\" y=\"" + Px(row + 4) + "\" fill=\"" + kTextColour +
             "\">" + Xml(LegendText(*curves, curve)) + "</text>\n";
    }
    svg += "</g>\n";
  }
  return svg + "</svg>\n";
}

std::string WritePlotSvg(const CGraphWindow& plot, const std::string& path, int width, int height) {
  return ReplaceFileAtomically(path, PlotSvg(plot, width, height));
}

}  // namespace axis
