// Saying something never waits for standard output to be read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "line_writer.h"

namespace k2tcnc {
namespace {

TEST(LineWriter, NeverWaitsForTheReader) {
  struct Row {
    int lines;
    bool read_while_saying;  // else the pipe fills and nobody reads until the end
    bool gap;                // lines were dropped, and that is said
  };
  const Row rows[] = {{3, true, false}, {20000, false, true}};
  for (const Row& row : rows) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string out;
    auto read_all = [&] {
      char buf[4096];
      for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    };
    std::thread reader;
    {
      LineWriter writer(fds[1], 100);
      if (row.read_while_saying) reader = std::thread(read_all);
      for (int i = 0; i < row.lines; ++i) writer.Say("line " + std::to_string(i));
      if (!reader.joinable()) reader = std::thread(read_all);
    }  // writes what it holds
    close(fds[1]);
    reader.join();
    close(fds[0]);

    // Every line said is either written, in order, or counted in a gap.
    int next = 0, shown = 0, dropped = 0;
    bool gap = false;
    for (std::size_t pos = 0, end; (end = out.find('\n', pos)) != std::string::npos; pos = end + 1) {
      const std::string line = out.substr(pos, end - pos);
      if (line.rfind("line ", 0) == 0) {
        const int n = std::stoi(line.substr(5));
        EXPECT_GE(n, next) << line;
        next = n + 1;
        ++shown;
      } else {
        gap = true;
        dropped += std::stoi(line.substr(1));  // "(N lines not shown: ...)"
      }
    }
    EXPECT_EQ(gap, row.gap) << row.lines;
    EXPECT_EQ(shown + dropped, row.lines);
  }
}

}  // namespace
}  // namespace k2tcnc
