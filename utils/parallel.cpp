// SPDX-License-Identifier: BSD-2-Clause
#include "utils/parallel.h"

#include <chrono>
#include <deque>
#include <system_error>

namespace varnic::utils {

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
      workers_.emplace_back([this] { loop(); });
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

void WorkerPool::run(int count, const std::function<void(int)>& task) {
  if (count <= 0) return;
  if (workers_.empty() || count == 1) {
    for (int i = 0; i < count; ++i) task(i);
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    task_ = &task;
    count_ = count;
    next_ = 1;  // task 0 is the calling thread's
    finished_ = 0;
    ++generation_;
  }
  wake_.notify_all();
  task(0);
  {
    const std::lock_guard lock(mutex_);
    ++finished_;
  }
  drain();
  std::unique_lock lock(mutex_);
  wait_until(done_, lock, [this] { return finished_ == count_; });
  task_ = nullptr;
}

void WorkerPool::loop() {
  std::uint64_t seen = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      wait_until(wake_, lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
    }
    drain();
  }
}

void WorkerPool::drain() {
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

TaskGraph::TaskId TaskGraph::add(std::initializer_list<TaskId> after, std::function<void()> work) {
  const TaskId id = tasks_.size();
  Task task;
  task.work = std::move(work);
  task.waiting = static_cast<int>(after.size());
  tasks_.push_back(std::move(task));
  for (const TaskId before : after) tasks_[before].next.push_back(id);
  return id;
}

void TaskGraph::run(WorkerPool* pool, int lanes) {
  if (pool == nullptr || lanes <= 1 || pool->size() <= 1) {
    for (Task& task : tasks_) task.work();
    return;
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<TaskId> ready;
  for (TaskId id = 0; id < tasks_.size(); ++id) {
    if (tasks_[id].waiting == 0) ready.push_back(id);
  }
  std::size_t finished = 0;
  pool->run(std::min(lanes, pool->size()), [&](int) {
    std::unique_lock lock(mutex);
    for (;;) {
      wait_until(changed, lock, [&] { return !ready.empty() || finished == tasks_.size(); });
      if (ready.empty()) return;  // everything has finished
      const TaskId id = ready.front();
      ready.pop_front();
      lock.unlock();
      tasks_[id].work();
      lock.lock();
      ++finished;
      for (const TaskId next : tasks_[id].next) {
        if (--tasks_[next].waiting == 0) ready.push_back(next);
      }
      changed.notify_all();
    }
  });
}

}  // namespace varnic::utils
