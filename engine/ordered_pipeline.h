#pragma once
// Runs tasks on worker threads and hands them back in the order they were
// submitted, so one thread can decide and write in a fixed order while the
// expensive work of later tasks goes on in parallel.
//
// The thread that submits is the one that takes results (Next); it never
// waits for room: HasRoom tells whether another task fits the budget, and a
// task is always admitted when nothing is in flight. With no workers every
// task runs inside Submit, on the caller's thread. Nothing here throws: a
// worker thread that cannot be started leaves fewer workers (possibly none).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class PipelineTask {
 public:
  virtual ~PipelineTask() = default;
  // The work; runs on a worker thread (or inline). Must not throw.
  virtual void Run() noexcept = 0;
};

// Called first on every worker thread (to set its priority, say).
using WorkerStartHook = void (*)(void* context);

// Consecutive items handed to a worker together, so that small items do not
// each pay for a hand-over between threads. Owns its items; each needs a
// Run() that does not throw.
template <typename Item>
struct PipelineBatch : PipelineTask {
  static constexpr uint32_t kMostItems = 64;
  static constexpr uint64_t kEnoughBytes = 1u << 20;

  Item* items[kMostItems] = {};
  uint32_t count = 0;
  uint64_t cost = 0;

  PipelineBatch() = default;
  PipelineBatch(const PipelineBatch&) = delete;
  PipelineBatch& operator=(const PipelineBatch&) = delete;
  ~PipelineBatch() override {
    for (uint32_t i = 0; i < count; ++i) delete items[i];
  }
  bool Full() const { return count == kMostItems || cost >= kEnoughBytes; }
  void Run() noexcept override {
    for (uint32_t i = 0; i < count; ++i) items[i]->Run();
  }
};

class OrderedPipeline {
 public:
  // Most tasks in flight at once, whatever their cost.
  static constexpr size_t kMaxTasksInFlight = 256;

  OrderedPipeline(unsigned workers, uint64_t budget, WorkerStartHook onStart = nullptr,
                  void* startContext = nullptr) noexcept;
  // Stops the workers: tasks not yet started are dropped unrun, running ones
  // are finished first. Results not taken are released.
  ~OrderedPipeline();
  OrderedPipeline(const OrderedPipeline&) = delete;
  OrderedPipeline& operator=(const OrderedPipeline&) = delete;

  unsigned Workers() const noexcept { return static_cast<unsigned>(threads_.size()); }
  size_t InFlight() const noexcept { return static_cast<size_t>(submitted_ - taken_); }

  // Whether a task of this cost may be submitted now.
  bool HasRoom(uint64_t cost) const noexcept;
  // Queues the task (or runs it at once without workers). With run false the
  // task is taken as already done: it only keeps its place in the order.
  void Submit(std::unique_ptr<PipelineTask> task, uint64_t cost, bool run = true) noexcept;
  // The oldest submitted task, once it has run; null when none is in flight.
  std::unique_ptr<PipelineTask> Next() noexcept;

 private:
  enum class State : uint8_t { kQueued, kRunning, kDone };
  struct Slot {
    PipelineTask* task = nullptr;
    uint64_t cost = 0;
    State state = State::kQueued;
  };

  void Work() noexcept;
  bool Startable() noexcept;

  WorkerStartHook onStart_;
  void* startContext_;

  std::vector<std::thread> threads_;
  Slot slots_[kMaxTasksInFlight];
  uint64_t budget_;
  uint64_t cost_ = 0;  // cost of the tasks in flight
  // Running counts; a task's slot is its number modulo the ring size.
  // taken_ <= started_ <= submitted_.
  uint64_t submitted_ = 0;
  uint64_t started_ = 0;
  uint64_t taken_ = 0;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable taskDone_;
};

// The number of threads the hardware runs at once (at least 1).
unsigned HardwareThreads() noexcept;
