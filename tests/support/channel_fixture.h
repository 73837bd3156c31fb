// The fixture of the file channel tests: the runtime over a temporary tree (see
// tree_runtime.h), with what most of them do, open a file written just before, read every
// line or field, and take the failure raised.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/file_channels.h"
#include "runtime/runtime.h"
#include "support/tree_runtime.h"

namespace mapsweep::testing {

class ChannelTest : public ::testing::Test, protected TreeRuntime {
 protected:
  ChannelTest() {}

  // The pending failure's number, or 0; the failure is dropped.
  int take_error() { return rt_.err.take_failure() ? rt_.err.number() : 0; }

  void open_with(const std::string& name, const std::string& bytes, std::uint16_t mode) {
    tree_.write_file(name, bytes);
    open_channel(rt_, 1, name, mode, kInputBufferLength);
    ASSERT_EQ(take_error(), rt_error::kNone);
  }

  std::vector<std::string> all_lines(std::int16_t number) {
    std::vector<std::string> lines;
    while (at_end(rt_, number) == 0) lines.push_back(read_line(rt_, number));
    return lines;
  }

  std::vector<std::string> all_fields(std::int16_t number) {
    std::vector<std::string> fields;
    while (at_end(rt_, number) == 0) fields.push_back(read_field(rt_, number));
    return fields;
  }
};

inline std::string pattern_bytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

}  // namespace mapsweep::testing
