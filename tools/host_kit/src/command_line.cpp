#include "command_line.h"

#include <algorithm>

namespace host_kit {

CommandLine::CommandLine(std::string program, std::string version, std::function<std::string()> usage)
    : program_(std::move(program)), version_(std::move(version)), usage_(std::move(usage)) {}

CommandLine& CommandLine::Flag(std::initializer_list<std::string_view> names, bool& on) {
  options_.push_back({{names.begin(), names.end()}, &on, {}});
  return *this;
}

CommandLine& CommandLine::Value(std::initializer_list<std::string_view> names, std::string& out) {
  return Value(names, [&out](const std::string& value, std::string&) {
    out = value;
    return true;
  });
}

CommandLine& CommandLine::Value(std::initializer_list<std::string_view> names, Take take) {
  options_.push_back({{names.begin(), names.end()}, nullptr, std::move(take)});
  return *this;
}

const CommandLine::Option* CommandLine::Find(std::string_view name) const {
  for (const Option& option : options_)
    if (std::find(option.names.begin(), option.names.end(), name) != option.names.end()) return &option;
  return nullptr;
}

CommandLine::Result CommandLine::Parse(int argc, const char* const* argv, std::string& error,
                                       std::FILE* out) const {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (const Option* option = Find(arg)) {
      if (option->flag) {
        *option->flag = true;
        continue;
      }
      if (i + 1 >= argc) {
        error = arg + " needs a value";
        return Result::kError;
      }
      if (!option->take(argv[++i], error)) return Result::kError;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(usage_().c_str(), out);
      return Result::kDone;
    } else if (arg == "--version") {
      std::fprintf(out, "%s %s\n", program_.c_str(), version_.c_str());
      return Result::kDone;
    } else {
      error = "unknown option " + arg;
      return Result::kError;
    }
  }
  return Result::kRun;
}

}  // namespace host_kit
