// Where a format reader gets its bytes: one call that reads a range, so that the same
// reader runs on a file in the program and on memory in the tests and fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mapsweep::formats {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The length the source had when it was opened; readers check every range against it.
  virtual std::uint64_t size() const = 0;
  // Replaces `into` with the `count` bytes at `offset`. False when they cannot all be had:
  // the read failed, or the source ends sooner than its size said (a file that shrank).
  virtual bool read(std::uint64_t offset, std::size_t count, std::string& into) = 0;
};

// Bytes already in memory.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    into.assign(bytes_.substr(static_cast<std::size_t>(offset), count));
    return true;
  }

 private:
  std::string_view bytes_;
};

}  // namespace mapsweep::formats
