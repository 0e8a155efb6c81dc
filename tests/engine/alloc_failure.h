#pragma once
// Makes the global operator new of the test binary fail on demand.
//
// Only the allocations of the calling thread are counted and failed; other
// threads and code outside a ScopedAllocationLimit allocate normally.

#include <cstdint>

class ScopedAllocationLimit {
 public:
  // Lets `allowed` more allocations succeed on this thread, then fails every
  // further one with std::bad_alloc (or null for the nothrow forms).
  explicit ScopedAllocationLimit(int64_t allowed);
  ~ScopedAllocationLimit();
  ScopedAllocationLimit(const ScopedAllocationLimit&) = delete;
  ScopedAllocationLimit& operator=(const ScopedAllocationLimit&) = delete;

  // Allocations refused so far within this scope.
  int64_t failures() const;

 private:
  int64_t previous_;
};
