#include "alloc_failure.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations still allowed on this thread; negative means no limit.
thread_local int64_t t_allowed = -1;
thread_local int64_t t_failures = 0;

bool RefuseAllocation() {
  if (t_allowed < 0) return false;
  if (t_allowed == 0) {
    ++t_failures;
    return true;
  }
  --t_allowed;
  return false;
}

void* Allocate(std::size_t size) noexcept {
  if (RefuseAllocation()) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

ScopedAllocationLimit::ScopedAllocationLimit(int64_t allowed) : previous_(t_allowed) {
  t_allowed = allowed < 0 ? 0 : allowed;
  t_failures = 0;
}

ScopedAllocationLimit::~ScopedAllocationLimit() { t_allowed = previous_; }

int64_t ScopedAllocationLimit::failures() const { return t_failures; }

void* operator new(std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
