#include "plugin/kestrel_app.h"

#include "passes/passes.h"
#include "editor/dialog_catalogue.h"
#include "host/plugin_services.h"
#include "tuning/tuning_service.h"

namespace {

struct ServiceRow {
  const char* name;
  axis::SetupService service;
};

int EncodePass(CMC_Setup* setup) {
  if (setup == nullptr) return 0;
  kestrel::ComputeRegistersFromParameters(*setup);
  return 1;
}

int DerivePass(CMC_Setup* setup) {
  if (setup == nullptr) return 0;
  kestrel::ComputeParametersFromRegisters(*setup);
  return 1;
}

int TuneCurrent(CMC_Setup* setup) {
  return setup ? kestrel::TuneAndEncode(*setup, kestrel::Loop::kCurrent) : 0;
}
int TuneSpeed(CMC_Setup* setup) {
  return setup ? kestrel::TuneAndEncode(*setup, kestrel::Loop::kSpeed) : 0;
}
int TunePosition(CMC_Setup* setup) {
  return setup ? kestrel::TuneAndEncode(*setup, kestrel::Loop::kPosition) : 0;
}

const ServiceRow kServices[] = {
    {"encode-pass", &EncodePass}, {"derive-pass", &DerivePass},     {"tune-current", &TuneCurrent},
    {"tune-speed", &TuneSpeed},   {"tune-position", &TunePosition},
};

// The one module object of the library.
const CKestrelApp theApp;

}  // namespace

CKestrelApp::CKestrelApp() {
  for (const ServiceRow& row : kServices) axis::RegisterSetupService(row.name, row.service);
  for (const kestrel::SetupDialogEntry& dialog : kestrel::SetupDialogs())
    axis::RegisterSetupService(axis::OpenDialogServiceName(dialog.template_id).c_str(),
                               dialog.open);
}

CKestrelApp::~CKestrelApp() {
  for (const ServiceRow& row : kServices) axis::UnregisterSetupService(row.name);
  for (const kestrel::SetupDialogEntry& dialog : kestrel::SetupDialogs())
    axis::UnregisterSetupService(axis::OpenDialogServiceName(dialog.template_id).c_str());
}
