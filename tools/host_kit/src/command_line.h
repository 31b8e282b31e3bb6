// A host program's command line: options that are flags or take the next
// argument as their value, and -h/--help and --version answered alike by
// every program. What the options mean, and how they go together, stays
// with each program.
#pragma once

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace host_kit {

class CommandLine {
 public:
  // Says what is wrong with a value: false and `error` set.
  using Take = std::function<bool(const std::string& value, std::string& error)>;
  enum class Result {
    kRun,    // every option taken
    kDone,   // help or the version printed: the program ends with status 0
    kError,  // `error` says why
  };

  // `usage` is printed for -h and --help, "PROGRAM VERSION" for --version.
  CommandLine(std::string program, std::string version, std::function<std::string()> usage);

  // Any of `names` sets `on`.
  CommandLine& Flag(std::initializer_list<std::string_view> names, bool& on);
  // Any of `names` takes the next argument into `out`, as it is.
  CommandLine& Value(std::initializer_list<std::string_view> names, std::string& out);
  // Any of `names` hands the next argument to `take`.
  CommandLine& Value(std::initializer_list<std::string_view> names, Take take);

  // Options are taken in order; help and the version end the parse where
  // they stand, an error at the first bad option.
  Result Parse(int argc, const char* const* argv, std::string& error, std::FILE* out = stdout) const;

 private:
  struct Option {
    std::vector<std::string> names;
    bool* flag = nullptr;  // a flag, else a value for `take`
    Take take;
  };
  const Option* Find(std::string_view name) const;

  std::string program_, version_;
  std::function<std::string()> usage_;
  std::vector<Option> options_;
};

}  // namespace host_kit
