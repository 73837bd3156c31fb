// Storage exhaustion on demand for the app tests: the global allocation functions of this
// test binary fail the chosen allocation with std::bad_alloc.
#pragma once

#include <cstddef>

namespace mapsweep::testing {

// The allocation after `allocations_first` more succeed throws std::bad_alloc, once.
void fail_allocation_after(long allocations_first);
// Every allocation of more than `bytes` throws std::bad_alloc, as when memory runs out for
// whatever grows large, until stopped.
void fail_allocations_larger_than(std::size_t bytes);
// No allocation fails.
void stop_failing_allocations();

}  // namespace mapsweep::testing
