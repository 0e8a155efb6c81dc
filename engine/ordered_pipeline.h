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
#include <new>
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
  using ItemType = Item;
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
  // Whether the batch has work for a worker (a derived batch may say no).
  bool NeedsRun() const { return true; }
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
  // Fewer than kMaxTasksInFlight tasks must be in flight (a fatal assertion).
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

// Most threads a job puts to work.
inline constexpr uint32_t kMostThreads = 64;
// Worker threads for a thread count (0: one per hardware thread, at most
// kMostThreads); a count of 1 runs every step on the calling thread.
unsigned PipelineWorkers(uint32_t threads) noexcept;
// Bytes of entries in flight at once, for an archive's largest entry.
uint64_t PipelineBudget(uint32_t largestEntry) noexcept;

// Feeds items to a pipeline in batches and takes them back in order: an item
// joins the batch being filled, which is handed over when full, or at once
// when the pipeline has no workers (everything in flight is then taken
// before the next item, while its bytes are still in the cache). Results are
// taken, oldest first, whenever the pipeline lacks room for the next item;
// each goes to owner->Take(task), whose false stops the feeding.
template <typename Batch, typename Owner>
class BatchFeeder {
 public:
  using Item = typename Batch::ItemType;
  BatchFeeder(OrderedPipeline* pipeline, Owner* owner) noexcept
      : pipeline_(pipeline), owner_(owner) {}

  // False when a take said stop, or when memory ran out (*outOfMemory set;
  // the item is then dropped).
  bool Add(std::unique_ptr<Item> item, uint64_t cost, bool* outOfMemory) noexcept {
    *outOfMemory = false;
    if (!filling_) filling_.reset(new (std::nothrow) Batch());
    if (!filling_) {
      *outOfMemory = true;
      return false;
    }
    while (!pipeline_->HasRoom(filling_->cost + cost)) {
      if (!TakeOne()) return false;
    }
    filling_->items[filling_->count++] = item.release();
    filling_->cost += cost;
    if (pipeline_->Workers() == 0) {
      HandOver();
      while (pipeline_->InFlight() > 0) {
        if (!TakeOne()) return false;
      }
    } else if (filling_->Full()) {
      HandOver();
    }
    return true;
  }
  // Hands the last batch over and takes everything in flight.
  bool Finish() noexcept {
    HandOver();
    while (pipeline_->InFlight() > 0) {
      if (!TakeOne()) return false;
    }
    return true;
  }

 private:
  bool TakeOne() noexcept {
    std::unique_ptr<PipelineTask> task = pipeline_->Next();
    return !task || owner_->Take(std::move(task));
  }
  void HandOver() noexcept {
    if (!filling_ || filling_->count == 0) return;
    const uint64_t cost = filling_->cost;
    const bool run = filling_->NeedsRun();
    pipeline_->Submit(std::move(filling_), cost, run);
  }

  OrderedPipeline* pipeline_;
  Owner* owner_;
  std::unique_ptr<Batch> filling_;
};
