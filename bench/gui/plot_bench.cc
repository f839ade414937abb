// Refresh rate of the desktop's live plots (offscreen, 800 x 500 px, QPainter): one refresh is the
// model's change followed by the widget drawn whole, as a repaint draws it. Items are refreshes.
//
//   LivePlotAppend      4 curves growing to 2000 points, one point each per refresh (a data
//                       logger's upload or a live run drawn point by point)
//   PlotFullRedraw      4 curves of 2000 points drawn anew at every refresh (any zoom or change)
//   ScopeGraphStream    a scope screen of 4 x 2000 points, 10 points of each replaced in place per
//                       refresh (a scope streaming at 2 kHz refreshed 200 times a second)
//   OscilloscopeView    the simple view's 2 traces of 2000 points, one point each per refresh
//                       (the live polling loop)
#include <benchmark/benchmark.h>

#include <QImage>
#include <cmath>

#include "app/gui/plot_widgets.h"

namespace {

constexpr int kPoints = 2000, kCurves = 4;

void AddCurves(CGraphFilter& curves) {
  for (int c = 0; c < kCurves; ++c) curves.Add(CXYCurve(0, c + 1, 1 + c % 2, RGB16(2 + 3 * c), 2));
}

std::vector<double> Row(int i) {
  const double t = i * 1e-3;
  return {t, std::sin(40 * t), std::cos(40 * t), 0.5 * std::sin(90 * t), 0.5 * std::cos(70 * t)};
}

QImage Canvas() { return QImage(800, 500, QImage::Format_ARGB32_Premultiplied); }

void BM_LivePlotAppend(benchmark::State& state) {
  CGraphFilter curves;
  AddCurves(curves);
  CGraphWindow plot(2, 0);
  plot.SetCurves(&curves);
  plot.SetXRange(0, kPoints * 1e-3);
  plot.SetYRange(1, -1.2, 1.2);
  plot.SetYRange(2, -1.2, 1.2);
  axis::gui::PlotWidget widget(plot, nullptr);
  widget.resize(800, 500);
  QImage image = Canvas();
  int i = 0;
  for (auto _ : state) {
    if (i == kPoints) {  // a new run: the widget draws anew
      curves.RemoveAllPoints();
      plot.RefreshGraph();
      i = 0;
    }
    curves.AddRow(Row(i++));
    plot.UpdateLastPoint();
    widget.render(&image);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LivePlotAppend);

void BM_PlotFullRedraw(benchmark::State& state) {
  CGraphFilter curves;
  AddCurves(curves);
  for (int i = 0; i < kPoints; ++i) curves.AddRow(Row(i));
  CGraphWindow plot(2, 0);
  plot.SetCurves(&curves);
  plot.DoZoomOut();
  axis::gui::PlotWidget widget(plot, nullptr);
  widget.resize(800, 500);
  QImage image = Canvas();
  for (auto _ : state) {
    plot.RefreshGraph();
    widget.render(&image);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlotFullRedraw)->Unit(benchmark::kMillisecond);

void BM_ScopeGraphStream(benchmark::State& state) {
  CGraphFilter curves;
  AddCurves(curves);
  curves.SetScreen(8, {0.0, kPoints * 1e-3});
  for (int c = 1; c <= kCurves; ++c) curves.SetColumnDivision(c, 0.25, 0.0);
  for (int i = 0; i < kPoints; ++i) curves.AddRow(Row(i));
  CGraphWindow plot(4, 0);
  plot.SetCurves(&curves);
  plot.DoZoomOut();
  axis::gui::PlotWidget widget(plot, nullptr);
  widget.SetInteractive(&plot, nullptr);
  widget.resize(800, 500);
  QImage image = Canvas();
  widget.render(&image);
  int slot = 0, sample = kPoints;
  for (auto _ : state) {
    for (int k = 0; k < 10; ++k) {
      std::vector<double> row = Row(sample++);
      row[0] = slot * 1e-3;
      curves.SetRow(static_cast<size_t>(slot), row);
      plot.UpdatePoint(slot);
      slot = (slot + 1) % kPoints;
    }
    widget.render(&image);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ScopeGraphStream);

void BM_OscilloscopeView(benchmark::State& state) {
  CMC_Oscilloscope view;
  view.Initialize("", 2, 0);
  *view.GetItem(0) = {1.2, -0.2, 0.0, RGB16(2)};
  *view.GetItem(1) = {1.2, -0.2, 0.0, RGB16(5)};
  axis::gui::OscilloscopeWidget widget(view, nullptr);
  widget.resize(800, 500);
  QImage image = Canvas();
  int i = 0;
  for (auto _ : state) {
    const std::vector<double> row = Row(i++);
    view.GetItem(0)->value = row[1];
    view.GetItem(1)->value = row[2];
    view.UpdateLastPoint();
    widget.render(&image);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OscilloscopeView);

}  // namespace
