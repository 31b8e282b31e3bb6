#include "real_pendant.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace host_kit {

namespace {

constexpr const char* kRuleHelp =
    "The bench needs read and write access to the pendant's /dev/hidraw node. Install the udev rule\n"
    "70-k2t-pendant.rules, which gives the logged-in user that access:\n"
    "  sudo cmake --install build/default --prefix /usr     (puts it into /usr/lib/udev/rules.d)\n"
    "  or: sudo cp platform/linux/udev/70-k2t-pendant.rules /etc/udev/rules.d/\n"
    "then: sudo udevadm control --reload && sudo udevadm trigger, and plug the pendant in again.";

// HID_ID=0003:000004D8:0000FCE8 in the hidraw device's uevent.
bool IsPendant(const std::filesystem::path& uevent) {
  std::ifstream in(uevent);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("HID_ID=", 0) != 0) continue;
    const std::string id = line.substr(7);
    const std::size_t a = id.find(':');
    const std::size_t b = a == std::string::npos ? a : id.find(':', a + 1);
    if (b == std::string::npos) return false;
    const unsigned long vendor = std::strtoul(id.substr(a + 1, b - a - 1).c_str(), nullptr, 16);
    const unsigned long product = std::strtoul(id.substr(b + 1).c_str(), nullptr, 16);
    return vendor == 0x04D8 && product == 0xFCE8;
  }
  return false;
}

// The /dev/hidraw nodes of the pendants plugged in.
std::vector<std::string> PendantNodes() {
  std::vector<std::string> nodes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/hidraw", ec))
    if (IsPendant(entry.path() / "device" / "uevent")) nodes.push_back("/dev/" + entry.path().filename().string());
  return nodes;
}

}  // namespace

bool RealPendantPresent() { return !PendantNodes().empty(); }

bool FindRealPendant(std::string& node, std::string& message) {
  const std::vector<std::string> nodes = PendantNodes();
  if (nodes.empty()) {
    message = "No K2T pendant (USB 04d8:fce8) is connected: no hidraw device has its ids.\n"
              "Plug it in and try again (lsusb should list 04d8:fce8).\n" + std::string(kRuleHelp);
    return false;
  }
  for (const std::string& candidate : nodes) {
    const int fd = open(candidate.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      close(fd);
      node = candidate;
      return true;
    }
    message = "The K2T pendant is at " + candidate + " but this user cannot open it (" + std::strerror(errno) +
              ").\n" + kRuleHelp;
  }
  return false;
}

}  // namespace host_kit
