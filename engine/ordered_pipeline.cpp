#include "engine/ordered_pipeline.h"

#include <algorithm>
#include <new>

#include "support/diag.h"

OrderedPipeline::OrderedPipeline(unsigned workers, uint64_t budget, WorkerStartHook onStart,
                                 void* startContext) noexcept
    : onStart_(onStart), startContext_(startContext), budget_(budget) {
  try {
    threads_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back(&OrderedPipeline::Work, this);
  } catch (...) {
    // Fewer workers than asked for; the ones started carry the work.
  }
}

OrderedPipeline::~OrderedPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  workAvailable_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  for (uint64_t n = taken_; n < submitted_; ++n) delete slots_[n % kMaxTasksInFlight].task;
}

bool OrderedPipeline::HasRoom(uint64_t cost) const noexcept {
  const uint64_t inFlight = submitted_ - taken_;
  if (inFlight == 0) return true;
  return inFlight < kMaxTasksInFlight && cost_ + cost <= budget_;
}

void OrderedPipeline::Submit(std::unique_ptr<PipelineTask> task, uint64_t cost, bool run) noexcept {
  SLIM_FATAL_ASSERT(submitted_ - taken_ < kMaxTasksInFlight);
  Slot& slot = slots_[submitted_ % kMaxTasksInFlight];
  slot.cost = cost;
  if (threads_.empty()) {
    if (run) task->Run();
    slot.task = task.release();
    slot.state = State::kDone;
    cost_ += cost;
    ++submitted_;
    ++started_;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.task = task.release();
    slot.state = run ? State::kQueued : State::kDone;
    cost_ += cost;
    ++submitted_;
  }
  if (run) workAvailable_.notify_one();
}

std::unique_ptr<PipelineTask> OrderedPipeline::Next() noexcept {
  if (taken_ == submitted_) return nullptr;
  Slot& slot = slots_[taken_ % kMaxTasksInFlight];
  if (!threads_.empty()) {
    std::unique_lock<std::mutex> lock(mutex_);
    taskDone_.wait(lock, [&] { return slot.state == State::kDone; });
  }
  std::unique_ptr<PipelineTask> task(slot.task);
  slot.task = nullptr;
  cost_ -= slot.cost;
  ++taken_;
  return task;
}

// Called under the lock: skips the tasks that need no run and tells whether
// one is waiting for a worker.
bool OrderedPipeline::Startable() noexcept {
  while (started_ < submitted_ && slots_[started_ % kMaxTasksInFlight].state == State::kDone)
    ++started_;
  return started_ < submitted_;
}

void OrderedPipeline::Work() noexcept {
  if (onStart_) onStart_(startContext_);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [&] { return stopping_ || Startable(); });
    if (stopping_) return;
    Slot& slot = slots_[started_ % kMaxTasksInFlight];
    ++started_;
    slot.state = State::kRunning;
    lock.unlock();
    slot.task->Run();
    lock.lock();
    slot.state = State::kDone;
    taskDone_.notify_one();
  }
}

unsigned HardwareThreads() noexcept {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

unsigned PipelineWorkers(uint32_t threads) noexcept {
  if (threads == 0) threads = HardwareThreads();
  return threads <= 1 ? 0 : std::min(threads, kMostThreads);
}

uint64_t PipelineBudget(uint32_t largestEntry) noexcept {
  // A few entries of the largest size, within a floor and a ceiling that
  // suit the address space.
  constexpr bool kNarrow = sizeof(void*) == 4;
  constexpr uint64_t kFloor = (kNarrow ? 8ull : 16ull) << 20;
  constexpr uint64_t kCeiling = (kNarrow ? 96ull : 256ull) << 20;
  return std::clamp<uint64_t>(uint64_t{largestEntry} * 4, kFloor, kCeiling);
}
