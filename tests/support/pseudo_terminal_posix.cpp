#include "support/pseudo_terminal_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace mapsweep::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Appends what `fd` gives to `into` until `done()` holds, every writer has closed its end
// (a pipe then reads end of file, a terminal's master side an error), or the timeout
// passes. Returns whether `done()` held.
template <class Done>
bool read_until(int fd, std::string& into, std::chrono::milliseconds timeout, Done&& done) {
  const Clock::time_point deadline = Clock::now() + timeout;
  char buffer[4096];
  if (fd < 0) return done();  // closed already: nothing more can come
  while (!done()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{fd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
    if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
    if (polled < 0) return false;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

void close_if_open(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

int exit_status(pid_t child) {
  if (child <= 0) return -1;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

bool attach_null_in_child(int fd) {
  const int null = ::open("/dev/null", O_RDONLY);
  if (null < 0) return false;
  const bool attached = ::dup2(null, fd) >= 0;
  if (null != fd) ::close(null);
  return attached;
}

// --- OutputPipe ------------------------------------------------------------------------

OutputPipe::OutputPipe() {
  // Close-on-exec: a program the child runs keeps only the end it was given as `fd`.
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("output pipe: no pipe");
  read_end_ = ends[0];
  write_end_ = ends[1];
}

OutputPipe::~OutputPipe() {
  close_if_open(read_end_);
  close_if_open(write_end_);
}

bool OutputPipe::attach_in_child(int fd) const {
  if (::dup2(write_end_, fd) < 0) return false;
  ::close(read_end_);
  return true;
}

std::string OutputPipe::read_all(std::chrono::milliseconds timeout) {
  // The parent's own write end would keep the pipe from ever reading end of file.
  close_if_open(write_end_);
  std::string bytes;
  read_until(read_end_, bytes, timeout, [] { return false; });
  return bytes;
}

// --- PseudoTerminal --------------------------------------------------------------------

PseudoTerminal::PseudoTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY)) {
  const char* slave_name = nullptr;
  if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
    slave_name = ::ptsname(master_);
  }
  if (slave_name == nullptr) {
    close_if_open(master_);
    throw std::runtime_error("pseudo-terminal: none can be opened");
  }
  slave_name_ = slave_name;
}

PseudoTerminal::~PseudoTerminal() {
  hang_up();
}

bool PseudoTerminal::attach_in_child(std::initializer_list<int> fds) const {
  // Opening the terminal in a new session makes it the controlling terminal.
  ::setsid();
  const int slave = ::open(slave_name_.c_str(), O_RDWR);
  if (slave < 0) return false;
  bool slave_is_one_of_them = false;
  for (const int fd : fds) {
    if (::dup2(slave, fd) < 0) return false;
    slave_is_one_of_them = slave_is_one_of_them || fd == slave;
  }
  if (!slave_is_one_of_them) ::close(slave);
  ::close(master_);
  return true;
}

bool PseudoTerminal::wait_for(const std::string& text, std::size_t times,
                              std::chrono::milliseconds timeout) {
  return read_until(master_, screen_, timeout, [&] { return occurrences(screen_, text) >= times; });
}

bool PseudoTerminal::type(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void PseudoTerminal::drain(std::chrono::milliseconds timeout) {
  read_until(master_, screen_, timeout, [] { return false; });
}

void PseudoTerminal::hang_up() {
  close_if_open(master_);
}

}  // namespace mapsweep::testing
