// The floor of a run over many small game folders: the least work any program must do to
// list their maps from what the files hold. It lists the base once and, in every game folder,
// lists the folder, opens and reads each file a run reads there (its archives, its maps
// folder's maps, its list) and closes it; nothing is checked, locked or written. folders.sh
// times it beside mapsweep and `find -type f`, so that mapsweep's ratio to find can be read
// against the ratio no program could beat on the same machine.
//
//   folder_floor DIR    prints the files read and the bytes they held
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct Totals {
  std::uint64_t files = 0;
  std::uint64_t bytes = 0;
};

// The entries of the folder open as fd, "." and ".." left out: name and listed type.
std::vector<std::pair<std::string, unsigned char>> entries_of(int fd) {
  std::vector<std::pair<std::string, unsigned char>> entries;
  std::vector<char> buffer(32 * 1024);
  for (;;) {
    const long n = ::syscall(SYS_getdents64, fd, buffer.data(), buffer.size());
    if (n <= 0) return entries;
    for (long at = 0; at < n;) {
      const auto* record = reinterpret_cast<const dirent64*>(buffer.data() + at);
      const std::string_view name(record->d_name);
      if (name != "." && name != "..") entries.emplace_back(name, record->d_type);
      at += record->d_reclen;
    }
  }
}

bool ends_with_ignoring_case(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() && ::strncasecmp(name.data() + name.size() - suffix.size(),
                                                       suffix.data(), suffix.size()) == 0;
}

void read_file(int folder, const std::string& name, Totals& totals) {
  const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  static std::vector<char> buffer(256 * 1024);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n <= 0) break;
    totals.bytes += static_cast<std::uint64_t>(n);
    if (static_cast<std::size_t>(n) < buffer.size()) break;  // a regular file's end
  }
  ::close(fd);
  ++totals.files;
}

void read_maps_folder(int game, Totals& totals) {
  const int maps = ::openat(game, "maps", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (maps < 0) return;
  for (const auto& [name, type] : entries_of(maps)) {
    if (type == DT_REG && ends_with_ignoring_case(name, ".bsp")) read_file(maps, name, totals);
  }
  ::close(maps);
}

void read_game_folder(int base, const std::string& name, Totals& totals) {
  const int game = ::openat(base, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (game < 0) return;
  for (const auto& [entry, type] : entries_of(game)) {
    if (type == DT_DIR && ::strcasecmp(entry.c_str(), "maps") == 0) {
      read_maps_folder(game, totals);
    } else if (type == DT_REG && (ends_with_ignoring_case(entry, ".pak") ||
                                  ::strcasecmp(entry.c_str(), "maps.lst") == 0)) {
      read_file(game, entry, totals);
    }
  }
  ::close(game);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: folder_floor DIR\n");
    return 2;
  }
  const int base = ::open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (base < 0) {
    std::perror(argv[1]);
    return 1;
  }
  Totals totals;
  for (const auto& [name, type] : entries_of(base)) {
    if (type == DT_DIR) read_game_folder(base, name, totals);
  }
  ::close(base);
  std::printf("%llu files, %llu bytes\n", static_cast<unsigned long long>(totals.files),
              static_cast<unsigned long long>(totals.bytes));
  return 0;
}
