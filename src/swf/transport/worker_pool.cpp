#include "swf/transport/worker_pool.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace quillon {

namespace {

// Beyond this the bitmap stage has too few rectangles per frame to keep more threads busy.
constexpr uint32_t kMostThreads = 8;

}  // namespace

WorkerPool::WorkerPool(uint32_t threads) {
  const uint32_t wanted = std::clamp<uint32_t>(threads, 1, kMostThreads);
  for (uint32_t worker = 1; worker < wanted; ++worker) {
    try {
      helpers_.emplace_back([this, worker] { HelperLoop(worker); });
    } catch (const std::system_error&) {
      break;  // fewer threads only make the pool slower, never wrong
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : helpers_) t.join();
}

uint32_t WorkerPool::DefaultThreads() {
  // QUILLON_THREADS=N sets the count whatever the machine has (1 runs every stage in turn on
  // the encoding thread): for timing, and for showing that the files do not depend on it.
  const char* text = std::getenv("QUILLON_THREADS");
  if (text != nullptr && *text >= '0' && *text <= '9') {
    char* end = nullptr;
    const unsigned long wanted = std::strtoul(text, &end, 10);
    if (*end == '\0' && wanted >= 1) {
      return static_cast<uint32_t>(std::min<unsigned long>(wanted, kMostThreads));
    }
  }
  return std::clamp<uint32_t>(std::thread::hardware_concurrency(), 1, kMostThreads);
}

void WorkerPool::Run(const std::function<void(uint32_t worker)>& job) {
  if (helpers_.empty()) {
    job(0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = &job;
    running_ = static_cast<uint32_t>(helpers_.size());
    ++generation_;
  }
  wake_.notify_all();
  job(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return running_ == 0; });
  job_ = nullptr;
}

void WorkerPool::HelperLoop(uint32_t worker) {
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
    if (stopping_) return;
    seen = generation_;
    const std::function<void(uint32_t)>* job = job_;
    lock.unlock();
    (*job)(worker);
    lock.lock();
    if (--running_ == 0) done_.notify_one();
  }
}

}  // namespace quillon
