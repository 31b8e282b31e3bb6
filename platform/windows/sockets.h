// The socket library (version 1.1), started once for the module. Not from
// DllMain: WSAStartup may load other libraries, which the loader lock held
// there forbids. The first InitControl starts it, on the host's thread, and
// StopPlug ends it.
#pragma once

namespace k2t::windows_platform {

class SocketLibrary {
 public:
  using Startup = int (*)(unsigned short version);  // 0 on success, as WSAStartup
  using Cleanup = void (*)();
  using Tell = void (*)(const char* message);

  // The system's socket library and message box by default; tests pass their own.
  SocketLibrary();
  SocketLibrary(Startup startup, Cleanup cleanup, Tell tell)
      : startup_(startup), cleanup_(cleanup), tell_(tell) {}

  // Starts the library unless it runs already; on failure tells the user
  // "Sockets Init Failed" once and refuses from then on. False when refused.
  bool Start();
  // Ends what Start began.
  void Stop();
  bool refused() const { return refused_; }

 private:
  Startup startup_;
  Cleanup cleanup_;
  Tell tell_;
  bool running_ = false;
  bool refused_ = false;
};

}  // namespace k2t::windows_platform
