// Operator new of the engine test binary, made to fail on demand.
#include <cstdint>
#include <cstdlib>
#include <new>
thread_local int64_t t_allowed = -1;  // allocations left on this thread; negative: no limit
thread_local uint64_t t_allocations = 0;  // made on this thread

static void* Allocate(std::size_t size) noexcept {
  if (t_allowed == 0) return nullptr;
  t_allowed -= t_allowed > 0;
  ++t_allocations;
  return std::malloc(size ? size : 1);
}

void* operator new(std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
