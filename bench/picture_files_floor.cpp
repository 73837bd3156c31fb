// The floor of a catalogue's pictures on a file system: the least work any program must do
// to leave one file per picture, with nothing drawn, encoded, checked or locked. It makes
// COUNT files of BYTES zero bytes each in numbered folders of 64, as the catalogue does, in
// a folder DIR that must not exist yet, and prints the seconds it took. catalog.sh times it
// beside the catalogue, so that the catalogue's time can be read against what the files
// alone cost on the same machine.
//
//   picture_files_floor DIR COUNT BYTES
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr long kFilesPerFolder = 64;

bool write_whole(int fd, const std::vector<char>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: picture_files_floor DIR COUNT BYTES\n");
    return 2;
  }
  const std::string base = argv[1];
  const long count = std::atol(argv[2]);
  const std::vector<char> bytes(static_cast<std::size_t>(std::atol(argv[3])), '\0');
  const auto start = std::chrono::steady_clock::now();
  if (::mkdir(base.c_str(), 0755) != 0) {
    std::perror(base.c_str());
    return 1;
  }
  int folder = -1;
  for (long i = 0; i < count; ++i) {
    if (i % kFilesPerFolder == 0) {
      if (folder >= 0) ::close(folder);
      const std::string path = base + "/" + std::to_string(i / kFilesPerFolder);
      if (::mkdir(path.c_str(), 0755) != 0 ||
          (folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0) {
        std::perror(path.c_str());
        return 1;
      }
    }
    const std::string name = std::to_string(i + 1) + ".png";
    const int fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || !write_whole(fd, bytes) || ::close(fd) != 0) {
      std::perror(name.c_str());
      return 1;
    }
  }
  if (folder >= 0) ::close(folder);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%.3f\n", took.count());
  return 0;
}
