#include "host/error_report.h"

#include <utility>

namespace axis {

namespace {
ErrorReporter& Reporter() {
  static ErrorReporter reporter;
  return reporter;
}
}  // namespace

void SetErrorReporter(ErrorReporter reporter) { Reporter() = std::move(reporter); }

void ReportError(const std::string& message) {
  if (Reporter()) Reporter()(message);
}

}  // namespace axis
