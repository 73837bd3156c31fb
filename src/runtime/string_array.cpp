#include "runtime/string_array.h"

#include <cstdint>
#include <limits>

namespace mapsweep {
namespace {

// The slot for index, grown into existence when it lies past the upper bound; nullptr
// (with rt_error::kSubscript or kOutOfStorage raised) when the index cannot be stored.
ByteString* slot_for_store(ErrorState& err, StringArray& array, std::int32_t index) {
  if (!array.created || index < array.lower) {
    err.raise_error(rt_error::kSubscript);
    return nullptr;
  }
  const std::size_t offset = static_cast<std::size_t>(std::int64_t{index} - array.lower);
  if (offset >= array.elements.size()) {
    try {
      array.elements.resize(offset + 1);
    } catch (const std::bad_alloc&) {
      err.raise_error(rt_error::kOutOfStorage);
      return nullptr;
    }
    array.upper = index;
  }
  return &array.elements[offset];
}

}  // namespace

void create_array(ErrorState& err, StringArray& array, std::int32_t lower, std::int32_t upper) {
  if (array.created) return;
  if (upper < lower) {
    err.raise_error(rt_error::kSubscript);
    return;
  }
  const std::int64_t count = std::int64_t{upper} - lower + 1;
  if (count * static_cast<std::int64_t>(sizeof(void*)) >
      std::numeric_limits<std::uint32_t>::max()) {
    err.raise_error(rt_error::kSubscript);
    return;
  }
  try {
    array.elements.assign(static_cast<std::size_t>(count), ByteString());
  } catch (const std::bad_alloc&) {
    err.raise_error(rt_error::kOutOfStorage);
    return;
  }
  array.lower = lower;
  array.upper = upper;
  array.created = true;
}

void assign_element(ErrorState& err, StringArray& array, std::int32_t index,
                    const ByteString& value) {
  if (ByteString* slot = slot_for_store(err, array, index)) assign(err, *slot, value);
}

void assign_element(ErrorState& err, StringArray& array, std::int32_t index, ByteString&& value) {
  if (ByteString* slot = slot_for_store(err, array, index)) assign(err, *slot, std::move(value));
}

const ByteString& element(const StringArray& array, std::int32_t index) {
  static const ByteString kEmpty;
  if (!array.created || index < array.lower) return kEmpty;
  const std::size_t offset = static_cast<std::size_t>(std::int64_t{index} - array.lower);
  return offset < array.elements.size() ? array.elements[offset] : kEmpty;
}

void release_array(ErrorState&, StringArray& array) {
  if (!array.created) return;
  std::vector<ByteString>().swap(array.elements);
  array.lower = 0;
  array.upper = -1;
  array.created = false;
}

}  // namespace mapsweep
