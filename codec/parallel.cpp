#include "codec/parallel.h"

#include <chrono>
#include <system_error>

namespace varnic::codec {

namespace {

// Waits until `ready` holds. MinGW's POSIX-thread condition variables can lose a wake-up under
// load (seen as the caller and a worker both waiting forever), so on Windows a waiter also looks
// again at its condition every few milliseconds.
template <typename Ready>
void wait_until(std::condition_variable& signal, std::unique_lock<std::mutex>& lock, Ready ready) {
#if defined(_WIN32)
  constexpr std::chrono::milliseconds kRecheck{5};
  while (!ready()) signal.wait_for(lock, kRecheck);
#else
  signal.wait(lock, ready);
#endif
}

}  // namespace

WorkerPool::WorkerPool(int threads) {
  for (int t = 1; t < threads; ++t) {
    try {
      workers_.emplace_back([this] { Loop(); });
    } catch (const std::system_error&) {
      break;
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void WorkerPool::Run(int count, const std::function<void(int)>& task) {
  if (count <= 0) return;
  if (workers_.empty() || count == 1) {
    for (int i = 0; i < count; ++i) task(i);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    task_ = &task;
    count_ = count;
    next_ = 0;
    finished_ = 0;
    ++generation_;
  }
  wake_.notify_all();
  Drain();
  std::unique_lock lock(mutex_);
  wait_until(done_, lock, [this] { return finished_ == count_; });
  task_ = nullptr;
}

void WorkerPool::Loop() {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wait_until(wake_, lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
    }
    Drain();
  }
}

void WorkerPool::Drain() {
  std::unique_lock lock(mutex_);
  while (task_ != nullptr && next_ < count_) {
    const int i = next_++;
    const std::function<void(int)>& task = *task_;
    lock.unlock();
    task(i);
    lock.lock();
    if (++finished_ == count_) done_.notify_all();
  }
}

}  // namespace varnic::codec
