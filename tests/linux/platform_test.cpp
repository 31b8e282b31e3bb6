// What only the Linux platform decides: how the module's file name is taken
// from its path.
#include <gtest/gtest.h>

#include "platform/linux/platform.h"

namespace k2t {
namespace {

// The file name of a path on Linux, where only '/' separates folders.
TEST(Title, OnLinuxABackslashBelongsToTheName) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"/usr/lib/k2t/K2TPendant.so", "K2TPendant.so"},
      {"my\\plugin.so", "my\\plugin.so"},
      {"/x\\y/a\\b.so", "a\\b.so"},
      {"plugin.so", "plugin.so"},
      {"/x.d/", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(linux_platform::FileNameOf(c.path), c.name) << c.path;
}

}  // namespace
}  // namespace k2t
