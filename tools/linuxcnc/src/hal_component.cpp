#include "hal_component.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

// LinuxCNC's HAL header, as its userspace components include it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#include <hal.h>
#pragma GCC diagnostic pop

extern char** environ;

namespace k2tcnc {

struct HalComponent::Pins {
  hal_bit_t* estop_ok;
  hal_bit_t* connected;
  hal_bit_t* watchdog;
};

namespace {

// LinuxCNC's realtime part (rtapi_app on this build) runs while its HAL does.
bool HalRuns() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    if (comm && std::getline(comm, name) && name == "rtapi_app") return true;
  }
  return false;
}

}  // namespace

bool HalComponent::Create(std::string& error) {
  if (id_ > 0) return true;
  if (!HalRuns()) {
    error = "LinuxCNC's HAL does not run (no rtapi_app)";
    return false;
  }
  const int id = hal_init(kName);
  if (id < 0) {
    error = "HAL refused the component " + std::string(kName) + " (" + std::strerror(-id) + ")";
    return false;
  }
  id_ = id;
  pins_ = static_cast<Pins*>(hal_malloc(sizeof(Pins)));
  int rc = pins_ ? 0 : -ENOMEM;
  if (rc == 0) rc = hal_pin_bit_newf(HAL_OUT, &pins_->estop_ok, id_, "%s.estop-ok", kName);
  if (rc == 0) rc = hal_pin_bit_newf(HAL_OUT, &pins_->connected, id_, "%s.connected", kName);
  if (rc == 0) rc = hal_pin_bit_newf(HAL_OUT, &pins_->watchdog, id_, "%s.watchdog", kName);
  if (rc != 0) {
    error = "HAL refused the pins of component " + std::string(kName) + " (" + std::strerror(-rc) + ")";
    hal_exit(id_);
    id_ = 0;
    pins_ = nullptr;
    return false;
  }
  *pins_->estop_ok = 0;
  *pins_->connected = 0;
  *pins_->watchdog = 0;
  hal_ready(id_);
  return true;
}

void HalComponent::Set(SafetyPins pins) {
  if (!pins_) return;
  *pins_->estop_ok = pins.estop_ok;
  *pins_->connected = pins.connected;
}

void HalComponent::Beat() {
  if (!pins_) return;
  beat_ = !beat_;
  *pins_->watchdog = beat_;
}

HalComponent::~HalComponent() {
  if (id_ <= 0) return;
  // What the E-stop chain sees of a bridge that has gone.
  *pins_->estop_ok = 0;
  *pins_->connected = 0;
  hal_exit(id_);
}

bool RunHalFile(const std::string& ini, const std::string& file, std::string& error) {
  const char* argv[] = {"halcmd", "-i", ini.c_str(), "-f", file.c_str(), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "halcmd", nullptr, nullptr, const_cast<char**>(argv), environ);
  if (rc != 0) {
    error = "cannot run halcmd for " + file + ": " + std::strerror(rc);
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "halcmd -f " + file + " failed (its own words are above)";
    return false;
  }
  return true;
}

}  // namespace k2tcnc
