// The module's exported entry points: C linkage, plain names, forwarding to
// one module instance.
#include "platform/linux/config_dialog.h"
#include "platform/linux/platform.h"
#include "plugin/exports.h"

namespace {

k2t::Module* TheModule() {
  static k2t::linux_platform::LinuxPlatform platform(&k2t::linux_platform::RunConfigDialogOnLinux,
                                                     &k2t::linux_platform::ShowMessageOnLinux);
  static k2t::Module module(platform);
  return &module;
}

const k2t::ExportHooks kHooks{&TheModule};

}  // namespace

K2T_DEFINE_ENTRY_POINTS(extern "C" __attribute__((visibility("default"))), kHooks)
