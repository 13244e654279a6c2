// A fixed set of threads that run one job at a time together with the calling thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillon {

// Run hands the same job to every worker and returns when all of them have returned from it;
// the caller is worker 0, so a pool of one thread starts none. Jobs share out their own work
// (an atomic counter, say); the pool promises only that each worker runs the job once.
class WorkerPool {
 public:
  explicit WorkerPool(uint32_t threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  uint32_t Threads() const { return static_cast<uint32_t>(helpers_.size()) + 1; }
  // job(worker) with worker in [0, Threads()). The job must not throw.
  void Run(const std::function<void(uint32_t worker)>& job);

  // What "as many as the machine has" means for the pool: the hardware threads, 1 to 8, unless
  // the environment's QUILLON_THREADS names a count (also at most 8).
  static uint32_t DefaultThreads();

 private:
  void HelperLoop(uint32_t worker);

  std::vector<std::thread> helpers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  const std::function<void(uint32_t)>* job_ = nullptr;
  uint64_t generation_ = 0;  // counts jobs, so a helper runs each one once
  uint32_t running_ = 0;     // helpers still inside the current job
  bool stopping_ = false;
};

}  // namespace quillon
