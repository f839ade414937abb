// Services a loaded plug-in offers the host besides its four exports.
//
// The plug-in's exports are fixed (ComputeAllOptions, EditSetup, GetScaleFactor, GetScaleOffset and
// the sinusoidal-mode flag). The command line also needs single steps of the plug-in's knowledge
// (the encoding pass, a controller tuning). The plug-in's module object registers those here when
// the library is loaded and withdraws them when it is unloaded, so the host still never links the
// plug-in and the export list stays exactly as the drive family's hosts expect.
#pragma once

#include <string>
#include <vector>

class CMC_Setup;

namespace axis {

// A service works on a setup; non-zero result = done.
using SetupService = int (*)(CMC_Setup* setup);

// Services named "open-dialog-<template id>" open one setup dialog on its own, modally, through
// the installed platform, and return its modal result (1 OK, 2 Cancel, -1 not run: no platform or
// no template; 0: the dialog does not open on this setup). The plug-in registers its dialogs; the
// host registers its own (the CANopen settings).
inline constexpr const char* kOpenDialogServicePrefix = "open-dialog-";
// "open-dialog-<template id>".
std::string OpenDialogServiceName(int template_id);
// The template ids of the dialogs that can be opened on their own, in increasing order.
std::vector<int> OpenDialogIds();

// Registers (or replaces) a named service.
void RegisterSetupService(const char* name, SetupService service);
// Withdraws the named service.
void UnregisterSetupService(const char* name);
// The service of that name, or null.
SetupService FindSetupService(const std::string& name);
std::vector<std::string> SetupServiceNames();

}  // namespace axis
