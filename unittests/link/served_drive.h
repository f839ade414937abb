// A drive served over the link on a thread of its own, for as long as a test holds it: over
// loopback TCP on a free port, or over a pseudo-terminal.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "host/link/drive_server.h"
#include "host/link/fault_injection.h"

namespace axis::testing {

class ServedDrive {
 public:
  enum class Line { kTcp, kPty };

  ServedDrive(link::SessionDriveFactory make_drive, Line line,
              std::optional<link::FaultPlan> faults = std::nullopt,
              link::ServerOptions options = {})
      : server_(std::move(make_drive), options) {
    std::string error;
    const auto spoil = [faults](std::unique_ptr<link::ByteStream> stream) {
      if (!faults) return stream;
      return std::unique_ptr<link::ByteStream>(new link::FaultyStream(std::move(stream), *faults));
    };
    if (line == Line::kTcp) {
      listener_ = link::TcpListener::Listen("127.0.0.1", 0, error);
      if (!listener_) {
        ADD_FAILURE() << error;
        return;
      }
      endpoint_ = "tcp:127.0.0.1:" + std::to_string(listener_->port());
      thread_ = std::thread([this, spoil] {
        server_.ServeClients(
            *listener_, stop_, [](const std::string&) {}, spoil);
      });
    } else {
      pty_ = link::PtyPort::Open(error);
      if (!pty_) {
        ADD_FAILURE() << error;
        return;
      }
      endpoint_ = "serial:" + pty_->path();
      line_ = spoil(pty_->TakeStream());
      thread_ = std::thread([this] { server_.Serve(*line_, stop_); });
    }
  }
  ~ServedDrive() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  const std::string& endpoint() const { return endpoint_; }

 private:
  link::DriveServer server_;
  std::unique_ptr<link::TcpListener> listener_;
  std::unique_ptr<link::PtyPort> pty_;
  std::unique_ptr<link::ByteStream> line_;
  std::atomic<bool> stop_{false};
  std::string endpoint_;
  std::thread thread_;
};

}  // namespace axis::testing
