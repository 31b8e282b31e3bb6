// The command line as host programs read it: values, flags, aliases, help
// and the version where they stand, and each way it can be wrong.
#include "command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using host_kit::CommandLine;
using Result = CommandLine::Result;

struct Parsed {
  std::string module, rate;
  bool verbose = false, quiet = false;
  Result result = Result::kRun;
  std::string error, printed;
};

Parsed Parse(std::vector<const char*> args) {
  Parsed p;
  CommandLine command_line("prog", "1.2.3", [] { return std::string("usage: prog\n"); });
  command_line.Value({"--module"}, p.module)
      .Value({"--rate", "-r"},
             [&p](const std::string& value, std::string& error) {
               if (value == "bad") {
                 error = "--rate takes a number";
                 return false;
               }
               p.rate = value;
               return true;
             })
      .Flag({"--verbose", "-v"}, p.verbose)
      .Flag({"--quiet"}, p.quiet);
  args.insert(args.begin(), "prog");
  std::FILE* out = std::tmpfile();
  p.result = command_line.Parse(static_cast<int>(args.size()), args.data(), p.error, out);
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) p.printed += static_cast<char>(c);
  std::fclose(out);
  return p;
}

TEST(CommandLine, TakesOptionsInOrderAndStopsWhereItMust) {
  struct Case {
    const char* what;
    std::vector<const char*> args;
    Result result;
    std::string error, printed, module, rate;
    bool verbose;
  };
  const Case cases[] = {
      {"nothing", {}, Result::kRun, "", "", "", "", false},
      {"values and flags", {"--module", "/m.so", "-r", "40", "-v"}, Result::kRun, "", "", "/m.so", "40", true},
      {"a value that looks like an option", {"--module", "--verbose"}, Result::kRun, "", "", "--verbose", "", false},
      {"the last of a repeated value", {"--module", "a", "--module", "b"}, Result::kRun, "", "", "b", "", false},
      {"a value missing at the end", {"-v", "--module"}, Result::kError, "--module needs a value", "", "", "", true},
      {"a value refused", {"--rate", "bad", "-v"}, Result::kError, "--rate takes a number", "", "", "", false},
      {"an unknown option", {"--modul", "x"}, Result::kError, "unknown option --modul", "", "", "", false},
      {"a bare word", {"file"}, Result::kError, "unknown option file", "", "", "", false},
      {"help", {"-v", "-h", "--bogus"}, Result::kDone, "", "usage: prog\n", "", "", true},
      {"help, long", {"--help"}, Result::kDone, "", "usage: prog\n", "", "", false},
      {"the version", {"--version", "--module"}, Result::kDone, "", "prog 1.2.3\n", "", "", false},
      {"an error before help", {"--bogus", "--help"}, Result::kError, "unknown option --bogus", "", "", "", false},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.result, c.result) << c.what;
    EXPECT_EQ(p.error, c.error) << c.what;
    EXPECT_EQ(p.printed, c.printed) << c.what;
    EXPECT_EQ(p.module, c.module) << c.what;
    EXPECT_EQ(p.rate, c.rate) << c.what;
    EXPECT_EQ(p.verbose, c.verbose) << c.what;
    EXPECT_FALSE(p.quiet) << c.what;
  }
}

}  // namespace
