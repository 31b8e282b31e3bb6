// The socket library: started once, ended once, and a failure told once,
// after which the module refuses to run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/sockets.h"

namespace k2t::windows_platform {
namespace {

std::vector<std::string> g_log;
int g_startup_result = 0;

int Startup(unsigned short version) {
  g_log.push_back("startup " + std::to_string(version));
  return g_startup_result;
}
void Cleanup() { g_log.push_back("cleanup"); }
void Tell(const char* message) { g_log.push_back(std::string("tell ") + message); }

TEST(SocketLibrary, StartsOnceAndEndsOnce) {
  g_log.clear();
  g_startup_result = 0;
  SocketLibrary sockets(&Startup, &Cleanup, &Tell);
  EXPECT_TRUE(sockets.Start());
  EXPECT_TRUE(sockets.Start());
  sockets.Stop();
  sockets.Stop();
  EXPECT_EQ(g_log, (std::vector<std::string>{"startup 257", "cleanup"}));  // version 1.1
}

TEST(SocketLibrary, FailureIsToldOnceAndRefusesFromThenOn) {
  g_log.clear();
  g_startup_result = 10092;  // WSAVERNOTSUPPORTED
  SocketLibrary sockets(&Startup, &Cleanup, &Tell);
  EXPECT_FALSE(sockets.Start());
  EXPECT_FALSE(sockets.Start());
  EXPECT_TRUE(sockets.refused());
  sockets.Stop();
  EXPECT_EQ(g_log, (std::vector<std::string>{"startup 257", "tell Sockets Init Failed"}));
}

}  // namespace
}  // namespace k2t::windows_platform
