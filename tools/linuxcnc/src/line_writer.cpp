#include "line_writer.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace k2tcnc {

struct LineWriter::Shared {
  int fd;
  std::size_t capacity;
  std::mutex mu;
  std::condition_variable cv;
  std::deque<std::string> lines;
  std::size_t dropped = 0;
  bool closing = false, finished = false;
  std::thread thread;

  // Whole lines; false once the fd is broken (a closed pipe), after which
  // nothing more is tried.
  bool Write(const std::string& line) {
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      const ssize_t n = write(fd, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    return true;
  }

  void Run() {
    bool broken = false;
    std::deque<std::string> batch;
    std::unique_lock lock(mu);
    while (true) {
      cv.wait(lock, [this] { return closing || !lines.empty(); });
      if (lines.empty()) break;
      batch.swap(lines);
      lock.unlock();
      for (std::string& line : batch) {
        line += '\n';
        if (!broken) broken = !Write(line);
      }
      batch.clear();
      lock.lock();
    }
    finished = true;
    cv.notify_all();
  }
};

LineWriter::LineWriter(int fd, std::size_t capacity) : shared_(std::make_shared<Shared>()) {
  shared_->fd = fd;
  shared_->capacity = capacity;
  // The thread keeps its own reference: it may outlive this object when the fd never drains.
  shared_->thread = std::thread([shared = shared_] { shared->Run(); });
}

namespace {
std::string Gap(std::size_t dropped) {
  return "(" + std::to_string(dropped) + " lines not shown: the output was not read)";
}
}  // namespace

LineWriter::~LineWriter() {
  std::unique_lock lock(shared_->mu);
  if (shared_->dropped > 0) shared_->lines.push_back(Gap(shared_->dropped));
  shared_->closing = true;
  shared_->cv.notify_all();
  const bool done = shared_->cv.wait_for(lock, std::chrono::duration<double>(kFlushSeconds),
                                         [this] { return shared_->finished; });
  lock.unlock();
  if (done) shared_->thread.join();
  else shared_->thread.detach();  // blocked on an fd nobody reads; the process ends without it
}

void LineWriter::Say(std::string line) {
  {
    std::lock_guard lock(shared_->mu);
    if (shared_->lines.size() >= shared_->capacity) {
      ++shared_->dropped;
      return;
    }
    if (shared_->dropped > 0) {
      shared_->lines.push_back(Gap(shared_->dropped));
      shared_->dropped = 0;
    }
    shared_->lines.push_back(std::move(line));
  }
  shared_->cv.notify_all();
}

}  // namespace k2tcnc
