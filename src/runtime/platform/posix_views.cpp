#include "runtime/platform/posix_views.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>

namespace mapsweep::os::posix_views {
namespace {

// The live views, for the handler to tell its faults from others'. A few suffice: a scan
// holds one view at a time. Views are mapped and unmapped by one thread; the handler, on
// whichever thread faults, only reads the slots.
struct Slot {
  std::atomic<std::uintptr_t> start{0};
  std::atomic<std::size_t> length{0};
};
std::array<Slot, 16> live_views;
std::atomic<std::uint64_t> fault_count{0};
std::uintptr_t page_size = 4096;
struct sigaction previous_action;
std::once_flag guard_installed;

bool inside_live_view(std::uintptr_t address) {
  for (const Slot& slot : live_views) {
    const std::uintptr_t start = slot.start.load();
    if (start != 0 && address >= start && address - start < slot.length.load()) return true;
  }
  return false;
}

// Runs in the signal's context: only async-signal-safe calls (mmap, sigaction, raise).
void on_bus_error(int signal, siginfo_t* info, void* /*context*/) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (inside_live_view(address)) {
    void* page = reinterpret_cast<void*>(address & ~(page_size - 1));
    if (::mmap(page, page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      fault_count.fetch_add(1);
      return;  // the read runs again, on zeros
    }
  }
  // Not a view's fault: whoever handled it before does, or the process ends as it would
  // have. A fault comes back when the read runs again; a signal sent is sent again.
  ::sigaction(SIGBUS, &previous_action, nullptr);
  if (info->si_code <= 0) ::raise(signal);
}

void install_guard() {
  page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previous_action);
}

Slot* free_slot() {
  for (Slot& slot : live_views) {
    if (slot.start.load() == 0) return &slot;
  }
  return nullptr;
}

Slot* slot_of(std::uintptr_t start) {
  for (Slot& slot : live_views) {
    if (slot.start.load() == start) return &slot;
  }
  return nullptr;
}

}  // namespace

int map(int fd, std::int64_t offset, std::size_t length, const char** view) {
  std::call_once(guard_installed, install_guard);
  Slot* slot = free_slot();
  if (slot == nullptr) return ENOMEM;
  void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd,
                        static_cast<off_t>(offset));
  if (mapped == MAP_FAILED) return errno;
  slot->length.store(length);
  slot->start.store(reinterpret_cast<std::uintptr_t>(mapped));
  *view = static_cast<const char*>(mapped);
  return 0;
}

int unmap(const char* view, std::size_t length) {
  Slot* slot = slot_of(reinterpret_cast<std::uintptr_t>(view));
  if (slot == nullptr || view == nullptr) return EINVAL;
  // Out of the registry first: a fault in the range after this is no longer the view's.
  slot->start.store(0);
  slot->length.store(0);
  return ::munmap(const_cast<char*>(view), length) == 0 ? 0 : errno;
}

std::uint64_t faults() {
  return fault_count.load();
}

}  // namespace mapsweep::os::posix_views
