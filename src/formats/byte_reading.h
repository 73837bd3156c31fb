// Little-endian integers read byte by byte, so that neither alignment nor the host's byte
// order matters, and range checks that cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mapsweep::formats {

// The caller has checked that the bytes lie within `bytes`.
inline std::uint64_t little_endian_at(std::string_view bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  }
  return value;
}

inline std::uint16_t u16_at(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint16_t>(little_endian_at(bytes, at, 2));
}
inline std::uint32_t u32_at(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(little_endian_at(bytes, at, 4));
}
inline std::uint64_t u64_at(std::string_view bytes, std::size_t at) {
  return little_endian_at(bytes, at, 8);
}
inline std::int32_t i32_at(std::string_view bytes, std::size_t at) {
  return static_cast<std::int32_t>(u32_at(bytes, at));
}

// Whether [offset, offset + length) lies within [0, limit).
inline bool range_fits(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

}  // namespace mapsweep::formats
