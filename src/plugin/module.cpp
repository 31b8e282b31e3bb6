#include "plugin/module.h"

#include <algorithm>
#include <cstring>

#include "config/propertiesdlg.h"
#include "plugin/host_codes.h"

namespace k2t {

std::string_view ModuleBaseName(std::string_view file_name) {
  const std::size_t dot = file_name.find_last_of('.');
  if (dot != std::string_view::npos) file_name = file_name.substr(0, dot);
  return file_name;
}

Module::Module(Platform& platform) : platform_(platform) {
  host.SetMessageLineWriter(platform_.HostMessageLine());
}

// Unloaded without StopPlug (a host that unloads the module early, or a
// process that exits): the host's loop, bus and callbacks are only promised
// until StopPlug and may already be freed, so the window releases what is the
// module's own and calls nothing of the host's.
Module::~Module() {
  if (!window_) return;
  window_->ForgetHost();
  window_.reset();
}

bool Module::InitControl(void* motion, void* setup, void* planner, void* host_window) {
  // A second InitControl replaces the window, as the host's own restart
  // would; a jog the old one runs is ended first, through the records it
  // was started in.
  if (window_) {
    window_->Shutdown();
    window_.reset();
  }
  host.SetRecords(motion, setup, planner);
  host_window_ = host_window;
  window_ = std::make_unique<DrovikWin>(*this);
  window_->SetPorts(platform_.CreateWindowPorts(*window_, host_window));
  return true;
}

std::unique_ptr<ProfileStore> Module::CreateStore() {
  return std::make_unique<ProfileStore>(profile_name_, platform_.CreateXmlDocument());
}

char* Module::SetProName(const char* profile_name) {
  profile_name_ = profile_name ? profile_name : "";
  CreateStore().reset();  // loads and saves: a missing profile comes into existence
  BuildTitle();
  return title_;
}

void Module::BuildTitle() {
  const std::string name = platform_.ModuleFileName();
  const std::string_view base = ModuleBaseName(name);
  const std::size_t fixed = std::strlen(kFixedTitle);
  const std::size_t n = std::min(base.size(), sizeof title_ - fixed - 1);
  std::memcpy(title_, base.data(), n);
  std::memcpy(title_ + n, kFixedTitle, fixed + 1);
}

void Module::PostInitControl() {
  auto store = CreateStore();
  const double step_size = LoadSettings(settings, *store, [this] {
    if (window_) window_->OpenPendant();
  });
  host.SetDRO(dro::kStepSize, step_size);
}

void Module::Config() {
  auto store = CreateStore();
  ReloadSettings(settings, *store);
  platform_.RunConfigDialog(settings);
  SaveSettings(settings, *store);
  // The user's edits would otherwise be lost without a word. (A failed save
  // at start-up stays silent.)
  ProfileSaveError error;
  if (!store->Finish(error)) platform_.ShowMessage(SaveFailedMessage(error));
}

void Module::Update() { counters.Step(); }

void Module::StopPlug() {
  if (!window_) return;
  window_->Shutdown();
  window_.reset();
}

}  // namespace k2t
