// Storage exhaustion on demand for the app tests: the global allocation functions of this
// test binary fail the chosen allocation with std::bad_alloc.
#pragma once

namespace mapsweep::testing {

// The allocation after `allocations_first` more succeed throws std::bad_alloc, once.
void fail_allocation_after(long allocations_first);
// No allocation fails.
void stop_failing_allocations();

}  // namespace mapsweep::testing
