#include "platform/windows/sockets.h"

#include <winsock2.h>
#include <windows.h>

namespace k2t::windows_platform {

namespace {

int SystemStartup(unsigned short version) {
  WSADATA data;
  return ::WSAStartup(version, &data);
}

void SystemCleanup() { ::WSACleanup(); }

void SystemTell(const char* message) { ::MessageBoxA(nullptr, message, "", MB_OK | MB_ICONERROR); }

}  // namespace

SocketLibrary::SocketLibrary() : SocketLibrary(&SystemStartup, &SystemCleanup, &SystemTell) {}

bool SocketLibrary::Start() {
  if (refused_) return false;
  if (running_) return true;
  if (startup_(MAKEWORD(1, 1)) != 0) {
    refused_ = true;
    tell_("Sockets Init Failed");
    return false;
  }
  running_ = true;
  return true;
}

void SocketLibrary::Stop() {
  if (!running_) return;
  running_ = false;
  cleanup_();
}

}  // namespace k2t::windows_platform
