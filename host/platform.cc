#include "host/platform.h"

namespace axis {

namespace {
Platform* g_platform = nullptr;
}  // namespace

int DefaultButton(MessageButtons buttons) {
  return (buttons == MessageButtons::kYesNo || buttons == MessageButtons::kYesNoCancel) ? kIdYes
                                                                                        : kIdOk;
}

bool OffersButton(const MessageBoxRequest& request, int answer) {
  if (answer == kIdHelp) return request.help_button;
  switch (request.buttons) {
    case MessageButtons::kOk:
      return answer == kIdOk;
    case MessageButtons::kOkCancel:
      return answer == kIdOk || answer == kIdCancel;
    case MessageButtons::kYesNo:
      return answer == kIdYes || answer == kIdNo;
    case MessageButtons::kYesNoCancel:
      return answer == kIdYes || answer == kIdNo || answer == kIdCancel;
  }
  return false;
}

std::vector<MenuItem> HostMenu(int menu_id) {
  if (menu_id != kScopeMenu) return {};
  return {{kScopeEdit, "&Edit..."},
          {kScopeReset, "&Reset"},
          {kScopeAutoscale, "&Autoscale"},
          {kScopeLoad, "&Load..."},
          {kScopeSave, "&Save..."},
          {kScopeSavePlots, "Save &plots"},
          {kScopeExportPicture, "Export p&icture"},
          {kScopeExportText, "Export &text"}};
}

const Clock& Platform::GetClock() const {
  static const SteadyClock wall;
  return wall;
}

void SetPlatform(Platform* platform) { g_platform = platform; }
Platform* GetPlatform() { return g_platform; }

int ShowMessage(const MessageBoxRequest& request) {
  return g_platform == nullptr ? DefaultButton(request.buttons)
                               : g_platform->ShowMessageBox(request);
}

}  // namespace axis
