// The profile entry points on large host profiles, beside raw I/O of the
// same bytes: each entry point loads the whole file, and Config (with one
// value changed) saves it back (written, synced, renamed), while raw I/O
// only reads the bytes, writes them and syncs. The run ends with each entry point's
// time as a multiple of raw I/O, and its growth from 1 MB to 10 MB beside
// raw I/O's. Run it with --benchmark_repetitions=5 for medians.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "support/fakes.h"

namespace k2t::testing {
namespace {

namespace fs = std::filesystem;

// A host profile of about `bytes`: many host sections of keys with
// attributes, references, comments and indentation, and the module's
// section in the middle.
std::string GenerateProfile(std::size_t bytes) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- host profile -->\r\n<profile>\r\n";
  bool section_written = false;
  for (int n = 0; text.size() < bytes; ++n) {
    if (!section_written && text.size() > bytes / 2) {
      text += "  <iTalvo_K2T_Pendant><BUTTON0>5</BUTTON0><Vel>3</Vel><S2>0.001</S2><Fun1>Flood</Fun1></iTalvo_K2T_Pendant>\r\n";
      section_written = true;
    }
    text += "  <Section" + std::to_string(n) + " Kind='axis' Note=\"say &quot;hi&quot;\">\r\n";
    for (int k = 0; k < 8; ++k)
      text += "    <Key" + std::to_string(k) + ">value " + std::to_string(n * 8 + k) + " &amp; more &#65;</Key" +
              std::to_string(k) + ">\r\n";
    text += "    <!-- note " + std::to_string(n) + " -->\r\n  </Section" + std::to_string(n) + ">\r\n";
  }
  return text + "</profile>\r\n";
}

// The profile of a size, written once per run into a folder on disk (the
// entry points write where the host keeps its profile, not in memory).
const std::string& ProfileFile(std::size_t megabytes) {
  static const struct Folder {
    Folder() {
      std::string pattern = fs::temp_directory_path() / "k2t-profile-bench-XXXXXX";
      path = ::mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
    std::string path;
  } folder;
  static std::map<std::size_t, std::string> files;
  std::string& path = files[megabytes];
  if (path.empty()) {
    path = folder.path + "/profile-" + std::to_string(megabytes) + "MB.xml";
    std::ofstream(path, std::ios::binary) << GenerateProfile(megabytes << 20);
  }
  return path;
}

void RawIo(benchmark::State& state) {
  const std::string& path = ProfileFile(static_cast<std::size_t>(state.range(0)));
  const std::string copy = path + ".raw";
  std::vector<char> buffer(fs::file_size(path));
  for (auto _ : state) {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
    std::fclose(in);
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, buffer.data(), n) != static_cast<ssize_t>(n) || ::fsync(fd) != 0)
      state.SkipWithError("raw write failed");
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * buffer.size()));
}

enum class Entry { kSetProName, kPostInitControl, kConfig };

template <Entry entry>
void EntryPoint(benchmark::State& state) {
  const std::string& path = ProfileFile(static_cast<std::size_t>(state.range(0)));
  FakeHost host;
  FakePlatform platform;
  Module module(platform);
  host.Install(module.host);
  module.SetProName(path.c_str());
  // The user changes one value in every Config, so each one saves; the
  // other entry points read a profile that needs nothing written back.
  platform.dialog = [](PendantSettings& settings) { settings.delaySteps ^= 1; };
  for (auto _ : state) {
    if constexpr (entry == Entry::kSetProName) module.SetProName(path.c_str());
    if constexpr (entry == Entry::kPostInitControl) module.PostInitControl();
    if constexpr (entry == Entry::kConfig) module.Config();
  }
  if (entry != Entry::kSetProName && module.settings.functionKeyLabel[1] != "Flood")
    state.SkipWithError("the profile was not read");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(path)));
}

#define K2T_PROFILE_BENCHMARK(fn) BENCHMARK(fn)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime()
K2T_PROFILE_BENCHMARK(RawIo);
K2T_PROFILE_BENCHMARK(EntryPoint<Entry::kSetProName>)->Name("SetProName");
K2T_PROFILE_BENCHMARK(EntryPoint<Entry::kPostInitControl>)->Name("PostInitControl");
K2T_PROFILE_BENCHMARK(EntryPoint<Entry::kConfig>)->Name("Config");

// The console report, then each entry point against raw I/O.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With repetitions, the median stands for the benchmark; the disk's
    // sync times vary from run to run.
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || (run.run_type == Run::RT_Iteration && !times_.count(run.run_name.str())))
        times_[run.run_name.str()] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto time = [this](const std::string& name, int mb) {
      const auto it = times_.find(name + "/" + std::to_string(mb) + "/real_time");
      return it == times_.end() ? 0.0 : it->second;
    };
    std::printf("\n%-16s %12s %12s %14s\n", "vs raw I/O", "1 MB", "10 MB", "growth 1->10");
    std::printf("%-16s %12s %12s %13.1fx\n", "RawIo", "1.00x", "10 MB", time("RawIo", 10) / time("RawIo", 1));
    for (const char* name : {"SetProName", "PostInitControl", "Config"})
      std::printf("%-16s %11.2fx %11.2fx %13.1fx\n", name, time(name, 1) / time("RawIo", 1),
                  time(name, 10) / time("RawIo", 10), time(name, 10) / time(name, 1));
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace
}  // namespace k2t::testing

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  k2t::testing::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
