// The drive link on loopback TCP: one variable read (request and answer), a 2000-point by
// 4-channel logger upload, and how many scope frames per second cross.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "host/link/drive_server.h"
#include "host/link/stream_link.h"
#include "host/scope_frame.h"

namespace {

using namespace axis;

// A drive that answers at once, so that the figures are the link's own.
class QuickDrive final : public CMC_Comm {
 public:
  QuickDrive() : log_(2000, LogPoint{0.0, 1.0, 2.0, 3.0, 4.0}) {
    ScopeFrame frame;
    frame.channels = 4;
    frame.values.assign(4 * ScopeFrame::kMaxSamplesPerFrame, 1.5f);
    frame_ = EncodeScopeFrame(frame, 0);
  }
  bool ReadVariable(std::string_view, double& v) override { return v = 42.0, true; }
  bool WriteVariable(std::string_view, double) override { return true; }
  bool ReadRegister(std::string_view, double& v) override { return v = 1.0, true; }
  bool WriteRegister(std::string_view, double) override { return true; }
  bool ExecuteString(std::string_view) override { return true; }
  bool Launch(std::string_view, const UserVariables&, const LogRequest*) override { return true; }
  bool ReadUserVariable(std::string_view, std::string_view, double& v) override {
    return v = 0.0, true;
  }
  bool WriteUserVariable(std::string_view, std::string_view, double) override { return true; }
  bool GetAxisOn(bool& on) override { return on = false, true; }
  bool AxisOff() override { return true; }
  bool UploadLog(std::vector<LogPoint>& points) override { return points = log_, true; }
  std::string GetLastErrorText() const override { return ""; }
  bool StartScope(const ScopeRequest&) override { return armed_ = true; }

 protected:
  // Sixteen full frames every time it is asked, while armed.
  void TakeUnsolicited(std::vector<UnsolicitedMessage>& messages) override {
    for (int i = 0; armed_ && i < kFramesPerPoll; ++i) messages.push_back(frame_);
  }

 public:
  static constexpr int kFramesPerPoll = 16;

 private:
  std::vector<LogPoint> log_;
  UnsolicitedMessage frame_;
  bool armed_ = false;
};

class Served {
 public:
  Served()
      : server_([](const Clock&, std::string&) { return std::make_unique<QuickDrive>(); }, {}) {
    std::string error;
    listener_ = link::TcpListener::Listen("127.0.0.1", 0, error);
    thread_ =
        std::thread([this] { server_.ServeClients(*listener_, stop_, [](const std::string&) {}); });
    link::LinkOptions options;
    options.host_clock = &clock_;  // a Poll then brings the scope frames
    link_ = link::StreamLink::Open("tcp:127.0.0.1:" + std::to_string(listener_->port()), options,
                                   error);
  }
  ~Served() {
    link_.reset();
    stop_.store(true);
    thread_.join();
  }
  link::StreamLink* link() { return link_.get(); }

 private:
  VirtualClock clock_;
  link::DriveServer server_;
  std::unique_ptr<link::TcpListener> listener_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::unique_ptr<link::StreamLink> link_;
};

void BM_LinkReadVariable(benchmark::State& state) {
  Served served;
  double v = 0.0;
  for (auto _ : state) {
    if (!served.link()->ReadVariable("APOS", v)) state.SkipWithError("the read failed");
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_LinkReadVariable)->Unit(benchmark::kMicrosecond);

void BM_LinkUploadLog2000x4(benchmark::State& state) {
  Served served;
  std::vector<LogPoint> points;
  for (auto _ : state) {
    if (!served.link()->UploadLog(points)) state.SkipWithError("the upload failed");
  }
  state.SetBytesProcessed(state.iterations() * 2000 * 5 * 8);
}
BENCHMARK(BM_LinkUploadLog2000x4)->Unit(benchmark::kMillisecond);

int CountFrames(const uint16_t*, int) { return 1; }

void BM_LinkScopeFrames(benchmark::State& state) {
  Served served;
  if (!served.link()->StartScope({})) state.SkipWithError("the scope was not armed");
  for (auto _ : state) served.link()->CheckForUnrequestedMessages(&CountFrames);
  // Each frame: 256 samples of 4 channels.
  state.SetItemsProcessed(state.iterations() * QuickDrive::kFramesPerPoll);
  state.SetBytesProcessed(state.iterations() * QuickDrive::kFramesPerPoll *
                          (7 + 8 * ScopeFrame::kMaxSamplesPerFrame) * 2);
}
BENCHMARK(BM_LinkScopeFrames)->Unit(benchmark::kMicrosecond);

}  // namespace
