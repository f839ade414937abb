// The host's error reports: failures found where no dialog is there to show them (a parameter a
// calculator looked for and did not find, a dialog template that did not load).
#pragma once

#include <functional>
#include <string>

namespace axis {

// Receives the host's error reports (the command line prints them on stderr, the desktop front
// end shows them). With no reporter installed, reports are dropped.
using ErrorReporter = std::function<void(const std::string& message)>;
void SetErrorReporter(ErrorReporter reporter);
void ReportError(const std::string& message);

}  // namespace axis
