// Speed of the scope's frame handling as the tuning tests' frame handler does it: a frame of 256
// samples of 4 channels decoded into the circular buffer of 1000 points and curve set 0
// (OnFrameReceive), the points to draw asked for (GetPointsToBeDrawn) and each handed to the scope
// graph (CGraphWindow::UpdatePoint). Items are points (samples of all 4 channels).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/scope_frame.h"
#include "host/scope_logger.h"
#include "host/setup.h"

namespace {

void BM_ScopeFrames(benchmark::State& state) {
  CMC_Setup setup;
  const char* const names[] = {"Speed_Reference", "Load_Speed", "Current_Reference",
                               "Motor_Current"};
  CMC_ScopeLogger scope(setup);
  for (int c = 0; c < 4; ++c) {
    setup.AddVariable({.name = names[c], .base_unit = c < 2 ? "m/s" : "A"});
    scope.AddVariable(names[c], 1);
    scope.GetDocument().GetAt(0)->Add(CXYCurve(0, c + 1, c + 1, RGB16(2 + c), 2));
  }
  scope.LocateItems();
  CGraphWindow graph(4, 0);
  graph.SetCurves(scope.GetDocument().GetAt(0));
  // One acquisition of 1000 samples in frames of at most 256.
  std::vector<std::vector<unsigned char>> frames;
  for (int first = 0; first < scope.GetPointsNo(); first += axis::ScopeFrame::kMaxSamplesPerFrame) {
    axis::ScopeFrame frame{0, 4, first, {}};
    const int samples =
        std::min(axis::ScopeFrame::kMaxSamplesPerFrame, scope.GetPointsNo() - first);
    for (int s = 0; s < 4 * samples; ++s) frame.values.push_back(static_cast<float>(s % 97));
    const axis::UnsolicitedMessage m = axis::EncodeScopeFrame(frame, 1);
    frames.emplace_back(reinterpret_cast<const unsigned char*>(m.data() + 3),
                        reinterpret_cast<const unsigned char*>(m.data() + m.size()));
  }
  int64_t points = 0;
  size_t next = 0;
  for (auto _ : state) {
    const std::vector<unsigned char>& bytes = frames[next];
    next = (next + 1) % frames.size();
    if (scope.OnFrameReceive(static_cast<int>(bytes.size()), bytes.data()) < 1) {
      std::fprintf(stderr, "frame refused: %s\n", scope.GetLastErrorText().c_str());
      std::exit(2);
    }
    int first = 0, count = 0;
    scope.GetPointsToBeDrawn(first, count);
    for (int k = 0, index = first; k < count; ++k, index = (index + 1) % scope.GetPointsNo())
      graph.UpdatePoint(index);
    points += count;
  }
  state.SetItemsProcessed(points);
}
BENCHMARK(BM_ScopeFrames);

}  // namespace
