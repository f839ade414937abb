// The plug-in's module object.
//
// One instance lives for as long as the library is loaded. It keeps no setup state; it registers
// the plug-in's single-step services with the host when the library is loaded and withdraws them
// when it is unloaded (host/plugin_services.h).
#pragma once

class CKestrelApp {
 public:
  CKestrelApp();
  ~CKestrelApp();
  CKestrelApp(const CKestrelApp&) = delete;
  CKestrelApp& operator=(const CKestrelApp&) = delete;
};
