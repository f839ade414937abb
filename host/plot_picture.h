// Pictures of plots: where everything goes in a picture of a given size, and the SVG the host
// writes. The desktop's plot widget draws with the same layout, ticks and polylines, so that the
// screen, the SVG file and the PNG file show one picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/plot.h"

namespace axis {

// The size of exported pictures, px.
inline constexpr int kPictureWidth = 800;
inline constexpr int kPictureHeight = 500;

// The rectangle the curves are drawn in, px from the picture's top left corner.
struct PlotArea {
  double left = 0.0;
  double top = 0.0;
  double width = 0.0;
  double height = 0.0;
  double Right() const { return left + width; }
  double Bottom() const { return top + height; }
};

// The plot area of a picture of width x height px (each brought into 1..16384): 64 px on the left
// for axis 1's tick labels and title, 44 px below for the x axis's, 64 px on the right when a curve
// uses axis 2 (else 16), 16 px on top. A picture smaller than the margins has an empty area.
PlotArea PlotAreaOf(const CGraphWindow& plot, int width, int height);

// Ticks of an axis at a 1-2-5 step (..., 0.1, 0.2, 0.5, 1, 2, 5, ...), at most `max_count` of them
// (brought into 2..50), each within the range. Labels have the digits the step needs, so 3 x 0.1
// reads "0.3" and zero reads "0". Empty for a range that is not finite and increasing.
struct Tick {
  double value = 0.0;
  std::string label;
};
std::vector<Tick> AxisTicks(Range range, int max_count);
// How many ticks an axis of that length gets: one per 80 px along x, per 40 px along y (2 at
// least).
int TickCountX(double pixels);
int TickCountY(double pixels);

// A value's position in the picture: x by the plot's x range, y by the range of `axis`.
double XPixel(const CGraphWindow& plot, const PlotArea& area, double x);
double YPixel(const CGraphWindow& plot, int axis, const PlotArea& area, double y);

// A curve in picture pixels as runs of joined points: lines join consecutive points, a point that
// is not finite (or too far out to map) ends a run, and every line is clipped to the area, so a
// curve leaving the area and coming back gives two runs. A lone point draws nothing. From
// `first` on, only the lines from that point on (a drawing adding the points appended since), up
// to point `last` (a drawing redrawing the points replaced).
struct Pixel {
  double x = 0.0;
  double y = 0.0;
};
std::vector<std::vector<Pixel>> CurvePolylines(const CGraphWindow& plot, const CXYCurve& curve,
                                               const PlotArea& area, size_t first = 0,
                                               size_t last = SIZE_MAX);

// A legend line (Latin-1): "name [unit]", or the name alone; a column drawn in divisions adds its
// scale: "name [unit], 0.5/div".
std::string LegendText(const CGraphFilter& curves, const CXYCurve& curve);

// The plot as a standalone SVG 1.1 document (UTF-8) of width x height px:
// - a white background, the grid (x ticks and axis 1's ticks; unless kNoGrid) in light grey;
// - each run of each curve as <polyline class="curve curve-<index>" stroke="#rrggbb"
//   stroke-width="<line width>" points="x,y x,y ..."/>, inside a group clipped to the plot area;
//   coordinates in px with two decimals;
// - the frame of the plot area, tick marks and labels of the x axis, axis 1 (left) and axis 2
//   (right, when used), the axis titles;
// - the legend (unless kNoLegend) in the top left corner of the area: a swatch of each curve's
//   colour and its legend text.
// Every number is written with axis::FormatFixed / FormatNumber.
std::string PlotSvg(const CGraphWindow& plot, int width, int height);
// Writes PlotSvg to `path`, replacing the file atomically; "" on success, else why.
std::string WritePlotSvg(const CGraphWindow& plot, const std::string& path, int width, int height);

}  // namespace axis
