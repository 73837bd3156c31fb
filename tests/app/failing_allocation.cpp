// Kept in a translation unit of its own so the replaced allocation functions are never
// inlined into their callers.
#include "failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations_before_failure{-1};
std::atomic<std::size_t> largest_allocation{0};  // 0: no limit
}  // namespace

namespace mapsweep::testing {

void fail_allocation_after(long allocations_first) {
  allocations_before_failure = allocations_first;
}
void fail_allocations_larger_than(std::size_t bytes) {
  largest_allocation = bytes;
}
void stop_failing_allocations() {
  allocations_before_failure = -1;
  largest_allocation = 0;
}

}  // namespace mapsweep::testing

void* operator new(std::size_t size) {
  const std::size_t limit = largest_allocation.load();
  if (limit != 0 && size > limit) throw std::bad_alloc();
  long left = allocations_before_failure.load();
  while (left >= 0) {
    if (left == 0) {
      allocations_before_failure = -1;
      throw std::bad_alloc();
    }
    if (allocations_before_failure.compare_exchange_weak(left, left - 1)) break;
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
// The nothrow forms answer as the library's own do, through the replaced form above, so
// that they fail with it; left to a sanitizer, their blocks would come from its allocator
// and be handed back to free() by the delete above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
  std::free(block);
}
