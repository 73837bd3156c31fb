// The POSIX lock holder: a forked child opens the file, takes flock(LOCK_EX) and reports
// through a pipe; it holds the lock until it is killed, or until its parent is gone (the
// release pipe then reads end of file), so no test run can leave a holder behind.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "support/lock_holder.h"

namespace mapsweep::testing {
namespace {

constexpr char kLocked = 'L';
constexpr char kFailed = 'F';

// The child must not keep the parent's files open: a lock belongs to the open file, so an
// inherited descriptor would go on holding whatever lock the parent takes or drops.
void close_inherited_files(int keep_a, int keep_b, long open_max) {
  for (long fd = 3; fd < open_max; ++fd) {
    if (fd != keep_a && fd != keep_b) ::close(static_cast<int>(fd));
  }
}

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void hold_lock(const char* path, int report_fd, int release_fd, long open_max) {
  close_inherited_files(report_fd, release_fd, open_max);
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) fd = ::open(path, O_RDONLY | O_CLOEXEC);
  int locked = -1;
  if (fd >= 0) {
    do {
      locked = ::flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
  }
  const char report = locked == 0 ? kLocked : kFailed;
  (void)!::write(report_fd, &report, 1);
  char ignored;
  while (::read(release_fd, &ignored, 1) != 0) {
  }
  ::_exit(0);
}

void close_both(const int fds[2]) {
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace

// Ends the child by its pid and reaps it, so the lock is gone when this returns.
void LockHolder::release(Child& child) {
  if (child.release >= 0) ::close(static_cast<int>(child.release));
  child.release = -1;
  if (child.process <= 0) return;
  const auto pid = static_cast<pid_t>(child.process);
  ::kill(pid, SIGKILL);
  int status;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  child.process = -1;
}

bool LockHolder::start(Child& child, const std::string& absolute_path) {
  int report_pipe[2];
  int release_pipe[2];
  if (::pipe2(report_pipe, O_CLOEXEC) != 0) throw std::runtime_error("lock holder: no pipe");
  if (::pipe2(release_pipe, O_CLOEXEC) != 0) {
    close_both(report_pipe);
    throw std::runtime_error("lock holder: no pipe");
  }
  const long limit = ::sysconf(_SC_OPEN_MAX);
  const long open_max = limit > 0 ? std::min(limit, 65536L) : 1024L;
  const pid_t pid = ::fork();
  if (pid == 0) {
    hold_lock(absolute_path.c_str(), report_pipe[1], release_pipe[0], open_max);
  }
  ::close(report_pipe[1]);
  ::close(release_pipe[0]);
  child.process = pid;
  child.release = release_pipe[1];
  char answer = kFailed;
  ssize_t got = 0;
  if (pid > 0) {
    do {
      got = ::read(report_pipe[0], &answer, 1);
    } while (got < 0 && errno == EINTR);
  }
  ::close(report_pipe[0]);
  return got == 1 && answer == kLocked;
}

}  // namespace mapsweep::testing
