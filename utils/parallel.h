// SPDX-License-Identifier: BSD-2-Clause
// A small fork-join pool for splitting one picture's work across threads.
//
// Every parallel stage of the codec writes disjoint outputs and evaluates the
// same per-sample expressions whatever the split, so results never depend on
// the thread count. The pool's threads live as long as the pool; a stage
// costs one wake-up, not a thread start.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace varnic::utils {

class WorkerPool {
 public:
  // threads <= 1 runs everything on the calling thread. If the system
  // refuses a thread, the pool works with those it got.
  explicit WorkerPool(int threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Calling thread included.
  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // Runs task(i) for i = 0..count-1 and returns when all have finished. The
  // calling thread runs task(0), then takes part in the rest. Tasks must not
  // throw.
  void run(int count, const std::function<void(int)>& task);

  // Splits [0, n) into at most size() contiguous ranges of about equal
  // length, rounded to multiples of `grain`, and runs body(begin, end) on
  // each, or body(begin, end, part) with the range's index 0..size()-1 (for
  // per-part scratch: no two running ranges share an index).
  template <class Body>
  void for_range(std::size_t n, std::size_t grain, Body&& body) {
    if (n == 0) return;
    const std::size_t parts = std::min<std::size_t>(
        static_cast<std::size_t>(size()), std::max<std::size_t>((n + grain - 1) / grain, 1));
    auto call = [&body](std::size_t begin, std::size_t end, int part) {
      if constexpr (std::is_invocable_v<Body&, std::size_t, std::size_t, int>) {
        body(begin, end, part);
      } else {
        (void)part;
        body(begin, end);
      }
    };
    if (parts <= 1) {
      call(std::size_t{0}, n, 0);
      return;
    }
    const std::size_t step = ((n + parts - 1) / parts + grain - 1) / grain * grain;
    run(static_cast<int>(parts), [&](int p) {
      const std::size_t begin = std::min(n, step * static_cast<std::size_t>(p));
      const std::size_t end = std::min(n, begin + step);
      if (begin < end) call(begin, end, p);
    });
  }

 private:
  void loop();
  // Takes task indices until none are left.
  void drain();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(int)>* task_ = nullptr;
  int count_ = 0;
  int next_ = 0;
  int finished_ = 0;
  std::uint64_t generation_ = 0;
  bool stop_ = false;
};

// Tasks with prerequisites, run on a pool's threads: a task starts once every task it comes after
// has finished, on whichever lane is free, so no task ever waits for another inside its body.
// Tasks must not throw. A graph runs once.
class TaskGraph {
 public:
  using TaskId = std::size_t;

  TaskId add(std::initializer_list<TaskId> after, std::function<void()> work);
  // Runs every task on up to `lanes` threads of the pool (the calling thread is one); without a
  // pool, or with one lane, in the order they were added, which must then respect the
  // prerequisites. Returns when all have finished.
  void run(WorkerPool* pool, int lanes);

 private:
  struct Task {
    std::function<void()> work;
    std::vector<TaskId> next;  // tasks that come after this one
    int waiting = 0;       // prerequisites not finished yet
  };
  std::vector<Task> tasks_;
};

// pool->for_range(n, grain, body) when there is a pool; without one, the whole
// range on the calling thread as part 0.
template <class Body>
void for_range(WorkerPool* pool, std::size_t n, std::size_t grain, Body&& body) {
  if (pool != nullptr) {
    pool->for_range(n, grain, body);
  } else if (n > 0) {
    if constexpr (std::is_invocable_v<Body&, std::size_t, std::size_t, int>) {
      body(std::size_t{0}, n, 0);
    } else {
      body(std::size_t{0}, n);
    }
  }
}

}  // namespace varnic::utils
