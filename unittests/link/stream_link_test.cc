// The link end to end over loopback TCP and a pseudo-terminal: every operation reaches the drive
// and comes back, failures carry the drive's text, a bad line is met with retries that never run
// a request twice, and a lost or silent drive is reported instead of hanging.
#include "host/link/stream_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/served_drive.h"
#include "support/scripted_drive.h"

namespace axis::testing {
namespace {

using link::StreamLink;

// A scripted drive with an oscilloscope: arming it queues two scope messages.
class ScopedDrive : public ScriptedDrive {
 public:
  bool StartScope(const ScopeRequest& request) override {
    armed = request;
    pending.push_back({3, 1, kScopeFrameKind, 7, 8, 9});
    pending.push_back({1, 2, kScopeFrameKind, 10});
    return true;
  }
  ScopeRequest armed;
  std::vector<UnsolicitedMessage> pending;

 protected:
  void TakeUnsolicited(std::vector<UnsolicitedMessage>& messages) override {
    for (auto& m : pending) messages.push_back(std::move(m));
    pending.clear();
  }
};

class LinkOverLine : public ::testing::TestWithParam<ServedDrive::Line> {
 protected:
  // Serves `drive` (taken by the first session) and connects to it.
  std::unique_ptr<StreamLink> Connect(std::unique_ptr<ScriptedDrive> drive,
                                      std::optional<link::FaultPlan> faults = std::nullopt,
                                      link::LinkOptions options = {},
                                      link::ServerOptions server = {}) {
    drive_ = drive.get();
    served_ = std::make_unique<ServedDrive>(
        [d = std::shared_ptr<ScriptedDrive>(std::move(drive))](
            const Clock&, std::string& error) mutable -> std::unique_ptr<CMC_Comm> {
          if (!d) error = "switched on once only";
          return d ? std::unique_ptr<CMC_Comm>(new Forward(std::move(d))) : nullptr;
        },
        GetParam(), faults, server);
    std::string error;
    auto link = StreamLink::Open(served_->endpoint(), options, error);
    EXPECT_NE(link, nullptr) << error;
    return link;
  }

  // Hands the session a drive it shares with the test (which reads what it recorded).
  class Forward : public ScopedDrive {
   public:
    explicit Forward(std::shared_ptr<ScriptedDrive> d) : d_(std::move(d)) {}
    bool ReadVariable(std::string_view n, double& v) override { return d_->ReadVariable(n, v); }
    bool WriteVariable(std::string_view n, double v) override { return d_->WriteVariable(n, v); }
    bool ReadRegister(std::string_view n, double& v) override { return d_->ReadRegister(n, v); }
    bool WriteRegister(std::string_view n, double v) override { return d_->WriteRegister(n, v); }
    bool ExecuteString(std::string_view c) override { return d_->ExecuteString(c); }
    bool Launch(std::string_view l, const UserVariables& i, const LogRequest* r) override {
      return d_->Launch(l, i, r);
    }
    bool ReadUserVariable(std::string_view l, std::string_view n, double& v) override {
      return d_->ReadUserVariable(l, n, v);
    }
    bool WriteUserVariable(std::string_view l, std::string_view n, double v) override {
      return d_->WriteUserVariable(l, n, v);
    }
    bool GetAxisOn(bool& on) override { return d_->GetAxisOn(on); }
    bool AxisOff() override { return d_->AxisOff(); }
    bool UploadLog(std::vector<LogPoint>& p) override { return d_->UploadLog(p); }
    std::string GetLastErrorText() const override { return d_->GetLastErrorText(); }
    bool StartScope(const ScopeRequest& r) override {
      auto* scoped = dynamic_cast<ScopedDrive*>(d_.get());
      return scoped != nullptr && scoped->StartScope(r) && ScopedDrive::StartScope(r);
    }

   private:
    std::shared_ptr<ScriptedDrive> d_;
  };

  ScriptedDrive* drive_ = nullptr;
  std::unique_ptr<ServedDrive> served_;
};

TEST_P(LinkOverLine, EveryOperationReachesTheDriveAndComesBack) {
  auto owned = std::make_unique<ScriptedDrive>();
  owned->variables = {{"APOS", -12345.0}, {"MER", 0.0}};
  owned->registers = {{"KPI", 0.1 + 0.2}};
  owned->log = {{0.0, 1.5, -2.5}, {1e-4, 1e300, -0.0}};
  owned->axis_on = true;
  auto link = Connect(std::move(owned));
  ASSERT_NE(link, nullptr);
  double v = 0.0;
  bool on = false;
  EXPECT_TRUE(link->ReadVariable("APOS", v));
  EXPECT_EQ(v, -12345.0);
  EXPECT_TRUE(link->ReadRegister("KPI", v));
  EXPECT_EQ(v, 0.1 + 0.2);  // every bit of a double crosses
  EXPECT_TRUE(link->WriteRegister("SFTKPI", 3.0));
  EXPECT_TRUE(link->WriteVariable("MER", 0.0));
  EXPECT_TRUE(link->ExecuteString("!CAP;ENCAPI1;"));
  const LogRequest log{{"IQ", "APOS"}, 2000, LogRequest::Rate::kSlowLoop, 3};
  EXPECT_TRUE(link->Launch("Ident_R_or_Rs", {{"Uref", 0.25}, {"Count", 7.0}}, &log));
  EXPECT_TRUE(link->Launch("Encoder_Connection_Test", {}, nullptr));
  EXPECT_TRUE(link->WriteUserVariable("Ident_R_or_Rs", "Stop", 1.0));
  EXPECT_TRUE(link->ReadUserVariable("Ident_R_or_Rs", "Uref", v));
  EXPECT_EQ(v, 0.25);
  EXPECT_TRUE(link->GetAxisOn(on));
  EXPECT_TRUE(on);
  EXPECT_TRUE(link->AxisOff());
  std::vector<LogPoint> points;
  EXPECT_TRUE(link->UploadLog(points));
  EXPECT_EQ(points, drive_->log);

  EXPECT_EQ(drive_->commands, std::vector<std::string>{"!CAP;ENCAPI1;"});
  ASSERT_EQ(drive_->launches.size(), 2u);
  EXPECT_EQ(drive_->launches[0].inputs, (UserVariables{{"Uref", 0.25}, {"Count", 7.0}}));
  EXPECT_TRUE(drive_->launches[0].logged);
  EXPECT_EQ(drive_->launches[0].log.variables, log.variables);
  EXPECT_EQ(drive_->launches[0].log.points, 2000);
  EXPECT_EQ(drive_->launches[0].log.rate, LogRequest::Rate::kSlowLoop);
  EXPECT_EQ(drive_->launches[0].log.every, 3);
  EXPECT_FALSE(drive_->launches[1].logged);
  EXPECT_EQ(drive_->axis_off_calls, 1);
  EXPECT_EQ(link->identity().version, link::kProtocolVersion);
  EXPECT_EQ(link->identity().text, "drive");
}

TEST_P(LinkOverLine, TheDrivesRefusalsArriveAsTheLinksErrorText) {
  auto link = Connect(std::make_unique<ScriptedDrive>());
  ASSERT_NE(link, nullptr);
  double v = 0.0;
  EXPECT_FALSE(link->ReadVariable("XYZ", v));
  EXPECT_EQ(link->GetLastErrorText(), "no \"XYZ\" in the drive");
  drive_->has_log = false;
  std::vector<LogPoint> points{{1.0}};
  EXPECT_FALSE(link->UploadLog(points));
  EXPECT_EQ(link->GetLastErrorText(), "no record");
  EXPECT_EQ(points.size(), 1u);        // untouched on failure
  EXPECT_FALSE(link->StartScope({}));  // this drive has no oscilloscope
}

std::vector<UnsolicitedMessage> g_received;
int Receive(const uint16_t* words, int count) {
  g_received.emplace_back(words, words + count);
  return 1;
}

TEST_P(LinkOverLine, UnsolicitedMessagesArriveInOrderBetweenAnswers) {
  auto link = Connect(std::make_unique<ScopedDrive>());
  ASSERT_NE(link, nullptr);
  ScopeRequest request;
  request.variables = {"APOS", "IQ"};
  request.points = 500;
  request.mode = ScopeRequest::Mode::kSingle;
  request.trigger_variable = "IQ";
  request.trigger_level = -2.5;
  request.pretrigger_points = 50;
  EXPECT_TRUE(link->StartScope(request));
  auto* scoped = static_cast<ScopedDrive*>(drive_);
  EXPECT_EQ(scoped->armed.variables, request.variables);
  EXPECT_EQ(scoped->armed.trigger_level, -2.5);
  EXPECT_EQ(scoped->armed.mode, ScopeRequest::Mode::kSingle);
  EXPECT_EQ(scoped->armed.pretrigger_points, 50);
  double v = 0.0;
  link->ReadVariable("nothing", v);  // an answer after the messages
  g_received.clear();
  link->CheckForUnrequestedMessages(&Receive);
  const std::vector<UnsolicitedMessage> expected = {{3, 1, kScopeFrameKind, 7, 8, 9},
                                                    {1, 2, kScopeFrameKind, 10}};
  EXPECT_EQ(g_received, expected);
}

TEST_P(LinkOverLine, ADriveOnTheWallClockReportsAFaultUnasked) {
  link::ServerOptions server;
  server.watch_faults = true;
  auto owned = std::make_unique<ScriptedDrive>();
  owned->variables = {{"MER", 0.0}};
  auto link = Connect(std::move(owned), std::nullopt, {}, server);
  ASSERT_NE(link, nullptr);
  EXPECT_NE(link->identity().capabilities & link::kFaultMessages, 0u);
  ASSERT_TRUE(link->WriteVariable("MER", 0x10004));  // the drive's fault register changes
  g_received.clear();
  for (int i = 0; i < 200 && g_received.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    link->CheckForUnrequestedMessages(&Receive);
  }
  ASSERT_EQ(g_received.size(), 1u);
  EXPECT_EQ(g_received[0][2], link::kFaultMessageKind);
  EXPECT_EQ(std::vector<uint16_t>(g_received[0].begin() + 3, g_received[0].end()),
            (std::vector<uint16_t>{0x0004, 0x0001}));
  EXPECT_EQ(link->last_fault(), 0x10004u);
}

TEST_P(LinkOverLine, ADriveInRealTimeIsNeverOvertakenByTheHostsClock) {
  link::ServerOptions server;
  server.allow_host_time = false;  // as a real drive
  VirtualClock host;
  link::LinkOptions options;
  options.host_clock = &host;
  auto owned = std::make_unique<ScriptedDrive>();
  owned->variables = {{"APOS", 3.0}};
  auto link = Connect(std::move(owned), std::nullopt, options, server);
  ASSERT_NE(link, nullptr);
  EXPECT_FALSE(link->follows_host_time());
  host.Advance(300 * kNsPerMs);  // the headless user waits 300 ms of its time
  const auto start = std::chrono::steady_clock::now();
  double v = 0.0;
  EXPECT_TRUE(link->ReadVariable("APOS", v));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
}

TEST_P(LinkOverLine, RetriesOnABadLineNeverRunARequestTwice) {
  link::FaultPlan faults;
  faults.drop = 0.08;
  faults.corrupt = 0.08;
  faults.truncate = 0.04;
  faults.seed = 11;
  link::LinkOptions options;
  options.answer_timeout_ms = 30;
  options.retries = 8;
  auto link = Connect(std::make_unique<ScriptedDrive>(), faults, options);
  ASSERT_NE(link, nullptr);
  constexpr int kWrites = 150;
  for (int i = 0; i < kWrites; ++i) {
    ASSERT_TRUE(link->WriteRegister("KPP", i)) << link->GetLastErrorText();
    ASSERT_TRUE(link->Launch("Encoder_Connection_Test", {{"n", double(i)}}, nullptr));
  }
  ASSERT_EQ(drive_->written.size(), size_t{kWrites});
  for (int i = 0; i < kWrites; ++i) EXPECT_EQ(drive_->written[size_t(i)].second, i);
  EXPECT_EQ(drive_->launches.size(), size_t{kWrites});
  EXPECT_GT(link->counters().retries, 10);  // the line really was bad
}

TEST_P(LinkOverLine, ADriveThatFallsSilentIsReportedWithinTheTimeout) {
  link::FaultPlan faults;
  faults.stall_after_frames = 4;
  link::LinkOptions options;
  options.answer_timeout_ms = 40;
  options.retries = 2;
  auto link = Connect(std::make_unique<ScriptedDrive>(), faults, options);
  ASSERT_NE(link, nullptr);
  double v = 0.0;
  ScriptedDrive* d = drive_;
  d->variables["APOS"] = 1.0;
  EXPECT_TRUE(link->ReadVariable("APOS", v));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(link->ReadVariable("APOS", v));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // no hang
  EXPECT_EQ(link->GetLastErrorText(),
            "the drive does not answer (no answer to ReadVariable after 3 tries)");
}

// Only a connection can be cut: a serial line has none.
class CutLink : public LinkOverLine {};

TEST_P(CutLink, ALostLinkIsReportedAndTheNextOperationReconnects) {
  link::FaultPlan faults;
  faults.cut_after_frames = 6;
  link::LinkOptions options;
  options.answer_timeout_ms = 200;
  drive_ = nullptr;
  served_ = std::make_unique<ServedDrive>(
      [](const Clock&, std::string&) -> std::unique_ptr<CMC_Comm> {
        auto d = std::make_unique<ScriptedDrive>();
        d->variables["APOS"] = 5.0;
        return d;
      },
      GetParam(), faults);
  std::string error;
  auto link = StreamLink::Open(served_->endpoint(), options, error);
  ASSERT_NE(link, nullptr) << error;
  double v = 0.0;
  int failures = 0;
  for (int i = 0; i < 5; ++i) {
    if (link->ReadVariable("APOS", v)) continue;
    ++failures;
    EXPECT_EQ(link->GetLastErrorText().rfind("the link was lost (", 0), 0u)
        << link->GetLastErrorText();
  }
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(link->counters().reconnects, 1);
  EXPECT_EQ(v, 5.0);
}

TEST_P(LinkOverLine, AnOperationTheWaitHookStartsIsAnsweredAfterTheOneInFlight) {
  link::FaultPlan slow;  // every frame held back: the hook runs while the answer is awaited
  slow.delay = 1.0;
  slow.delay_ms = 25;
  link::LinkOptions options;
  StreamLink* self = nullptr;
  double inner = 0.0;
  int inner_calls = 0;
  bool inner_ok = false;
  options.wait_hook = [&] {
    if (self != nullptr && inner_calls++ == 0) inner_ok = self->ReadVariable("B", inner);
  };
  auto owned = std::make_unique<ScriptedDrive>();
  owned->variables = {{"A", 1.0}, {"B", 2.0}};
  auto link = Connect(std::move(owned), slow, options);
  ASSERT_NE(link, nullptr);
  self = link.get();
  double outer = 0.0;
  EXPECT_TRUE(link->ReadVariable("A", outer)) << link->GetLastErrorText();
  EXPECT_TRUE(inner_ok);
  EXPECT_EQ(outer, 1.0);
  EXPECT_EQ(inner, 2.0);
  EXPECT_EQ(drive_->calls(), 2);  // each ran once
}

INSTANTIATE_TEST_SUITE_P(Lines, LinkOverLine,
                         ::testing::Values(ServedDrive::Line::kTcp, ServedDrive::Line::kPty),
                         [](const auto& info) {
                           return info.param == ServedDrive::Line::kTcp ? "Tcp" : "Pty";
                         });

INSTANTIATE_TEST_SUITE_P(Tcp, CutLink, ::testing::Values(ServedDrive::Line::kTcp));

TEST(LinkEndpoints, BadEndpointsAndAbsentDrivesGiveClearTexts) {
  const std::pair<const char*, const char*> rows[] = {
      {"udp:host:1", "is no drive link (tcp:HOST:PORT or serial:PATH[@BAUD])"},
      {"tcp:host", "is not HOST:PORT"},
      {"tcp:127.0.0.1:0", "port from 1 to 65535"},
      {"serial:/dev/ttyS0@1234", "is not a baud rate"},
      {"serial:", "needs the device path"},
      {"serial:/nonexistent/tty", "the drive cannot be reached (cannot open"},
  };
  for (const auto& [endpoint, text] : rows) {
    std::string error;
    EXPECT_EQ(StreamLink::Open(endpoint, {}, error), nullptr) << endpoint;
    EXPECT_NE(error.find(text), std::string::npos) << endpoint << ": " << error;
  }
}

}  // namespace
}  // namespace axis::testing
