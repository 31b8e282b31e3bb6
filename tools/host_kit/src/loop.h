// The host's event loop. Real time: epoll, one timerfd per timer, file
// descriptors watched for reading. Virtual time: timers are only recorded and
// fire when the bench says so, so a script decides when the module ticks.
#pragma once

#include <functional>
#include <map>
#include <memory>

namespace host_kit {

class Loop {
 public:
  virtual ~Loop() = default;
  // Ids are non-zero; 0 means failure.
  virtual unsigned AddTimer(unsigned period_ms, std::function<void()> fn) = 0;
  virtual void RemoveTimer(unsigned id) = 0;
  virtual unsigned AddReader(int fd, std::function<void()> fn) = 0;
  virtual void RemoveReader(unsigned id) = 0;
  virtual bool virtual_time() const = 0;
};

class VirtualLoop final : public Loop {
 public:
  unsigned AddTimer(unsigned period_ms, std::function<void()> fn) override;
  void RemoveTimer(unsigned id) override { timers_.erase(id); }
  unsigned AddReader(int fd, std::function<void()> fn) override;
  void RemoveReader(unsigned id) override { readers_.erase(id); }
  bool virtual_time() const override { return true; }

  // Fires every timer once, in the order they were added; a timer removed
  // by an earlier one in the same round does not fire.
  void FireTimers();
  std::size_t timer_count() const { return timers_.size(); }

 private:
  std::map<unsigned, std::function<void()>> timers_;
  std::map<unsigned, int> readers_;  // recorded, never fire: there is no real time
  unsigned next_id_ = 1;
};

class RealLoop final : public Loop {
 public:
  RealLoop();
  ~RealLoop() override;
  RealLoop(const RealLoop&) = delete;
  RealLoop& operator=(const RealLoop&) = delete;

  unsigned AddTimer(unsigned period_ms, std::function<void()> fn) override;
  void RemoveTimer(unsigned id) override { Remove(id); }
  unsigned AddReader(int fd, std::function<void()> fn) override;
  void RemoveReader(unsigned id) override { Remove(id); }
  bool virtual_time() const override { return false; }

  // Dispatches until Quit.
  void Run();
  void Quit() { running_ = false; }
  bool ok() const { return epoll_fd_ >= 0; }

 private:
  struct Source {
    int fd;
    bool owns_fd;  // timers' timerfds are ours to close
    std::function<void()> fn;
  };
  unsigned Add(int fd, bool owns_fd, std::function<void()> fn);
  void Remove(unsigned id);

  int epoll_fd_ = -1;
  std::map<unsigned, std::shared_ptr<Source>> sources_;
  unsigned next_id_ = 1;
  bool running_ = false;
};

}  // namespace host_kit
