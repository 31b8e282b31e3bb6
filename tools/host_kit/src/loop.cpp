#include "loop.h"

#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace host_kit {

unsigned VirtualLoop::AddTimer(unsigned /*period_ms*/, std::function<void()> fn) {
  const unsigned id = next_id_++;
  timers_[id] = std::move(fn);
  return id;
}

unsigned VirtualLoop::AddReader(int fd, std::function<void()> /*fn*/) {
  const unsigned id = next_id_++;
  readers_[id] = fd;
  return id;
}

void VirtualLoop::FireTimers() {
  std::vector<unsigned> ids;
  for (const auto& [id, fn] : timers_) ids.push_back(id);
  for (const unsigned id : ids) {
    const auto it = timers_.find(id);
    if (it == timers_.end()) continue;
    const std::function<void()> fn = it->second;  // the timer may remove itself
    fn();
  }
}

RealLoop::RealLoop() : epoll_fd_(epoll_create1(EPOLL_CLOEXEC)) {}

RealLoop::~RealLoop() {
  for (auto& [id, source] : sources_)
    if (source->owns_fd) close(source->fd);
  if (epoll_fd_ >= 0) close(epoll_fd_);
}

unsigned RealLoop::Add(int fd, bool owns_fd, std::function<void()> fn) {
  const unsigned id = next_id_++;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u32 = id;
  if (epoll_fd_ < 0 || epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
    if (owns_fd) close(fd);
    return 0;
  }
  sources_[id] = std::make_shared<Source>(Source{fd, owns_fd, std::move(fn)});
  return id;
}

void RealLoop::Remove(unsigned id) {
  const auto it = sources_.find(id);
  if (it == sources_.end()) return;
  epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, it->second->fd, nullptr);
  if (it->second->owns_fd) close(it->second->fd);
  sources_.erase(it);
}

unsigned RealLoop::AddTimer(unsigned period_ms, std::function<void()> fn) {
  if (period_ms == 0) return 0;
  const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (fd < 0) return 0;
  itimerspec timing{};
  timing.it_interval.tv_sec = period_ms / 1000;
  timing.it_interval.tv_nsec = static_cast<long>(period_ms % 1000) * 1000000L;
  timing.it_value = timing.it_interval;
  if (timerfd_settime(fd, 0, &timing, nullptr) != 0) {
    close(fd);
    return 0;
  }
  // A late loop runs a timer once, not once per missed period: the module
  // counts ticks, and a burst of them would not be 25 ms apart anyway.
  return Add(fd, true, [fd, fn = std::move(fn)] {
    std::uint64_t expirations = 0;
    if (read(fd, &expirations, sizeof expirations) == static_cast<ssize_t>(sizeof expirations)) fn();
  });
}

unsigned RealLoop::AddReader(int fd, std::function<void()> fn) { return Add(fd, false, std::move(fn)); }

void RealLoop::Run() {
  running_ = true;
  epoll_event events[16];
  while (running_) {
    const int n = epoll_wait(epoll_fd_, events, 16, 1000);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n && running_; ++i) {
      const auto it = sources_.find(events[i].data.u32);
      if (it == sources_.end()) continue;  // removed by an earlier callback
      const std::shared_ptr<Source> source = it->second;  // survives its own removal
      source->fn();
    }
  }
}

}  // namespace host_kit
