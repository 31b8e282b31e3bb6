// The module a host program loads when none is named: the built one in the
// build folder, the installed one, found from the program's folder,
// everywhere else.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "module_api.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kFromBin = "../lib/x86_64-linux-gnu/k2t/K2TPendant.so";

TEST(DefaultModulePath, BuiltInTheBuildFolderInstalledElsewhere) {
  struct Case {
    const char* what;
    std::string program_dir, build_dir, expected;
  };
  const Case cases[] = {
      {"run from its build folder", "/src/build/default/tools/bench", "/src/build/default/tools/bench",
       "/src/build/default/K2TPendant.so"},
      {"installed under /usr", "/usr/bin", "/src/build/default/tools/bench",
       "/usr/lib/x86_64-linux-gnu/k2t/K2TPendant.so"},
      {"unpacked anywhere", "/tmp/root/usr/bin", "/src/build/default/tools/bench",
       "/tmp/root/usr/lib/x86_64-linux-gnu/k2t/K2TPendant.so"},
      {"a build folder below the program's", "/src/build", "/src/build/default/tools/bench",
       "/src/lib/x86_64-linux-gnu/k2t/K2TPendant.so"},
      {"no build folder known", "/opt/k2t/bin", "", "/opt/k2t/lib/x86_64-linux-gnu/k2t/K2TPendant.so"},
      {"no program folder known", "", "/src/build/default/tools/bench", "/src/build/default/K2TPendant.so"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(host_kit::DefaultModulePath(c.program_dir, c.build_dir, "/src/build/default/K2TPendant.so", kFromBin),
              c.expected)
        << c.what;
  }
}

// A build folder reached through a link is still the build folder: the
// program's own folder comes without links.
TEST(DefaultModulePath, BuildFolderThroughALink) {
  const fs::path top = fs::temp_directory_path() / ("k2t-module-path-" + std::to_string(getpid()));
  fs::create_directories(top / "real/tools/bench");
  fs::create_directory_symlink(top / "real", top / "link");
  EXPECT_EQ(host_kit::DefaultModulePath((top / "real/tools/bench").string(), (top / "link/tools/bench").string(),
                                     "built.so", kFromBin),
            "built.so");
  fs::remove_all(top);
}

TEST(ProgramDir, IsTheFolderOfThisProgram) {
  const std::string dir = host_kit::ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(fs::exists(fs::path(dir) / "k2t_host_kit_tests"));
}

}  // namespace
