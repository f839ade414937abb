// Placeholder until the logger lands (branch plots): the part of CMC_SingleAxisLogger that the
// test dialog uses.
#pragma once

#include "host/comm.h"

class CMC_SingleAxisLogger {
 public:
  const axis::LogRequest& Request() const { return request_; }

 private:
  axis::LogRequest request_;
};
