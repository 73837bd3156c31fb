#include "runtime/string_list.h"

#include <limits>
#include <new>

namespace mapsweep {

void store_element(ErrorState& err, StringList& list, std::int32_t index, std::string_view value) {
  if (index < 1 || static_cast<std::size_t>(index) <= list.ends.size()) {
    err.raise_error(rt_error::kSubscript);
    return;
  }
  if (value.size() > std::numeric_limits<std::uint32_t>::max() - list.bytes.size()) {
    err.raise_error(rt_error::kOutOfStorage);
    return;
  }
  const std::size_t bytes_before = list.bytes.size();
  const std::size_t count_before = list.ends.size();
  try {
    list.bytes.append(value);
    const auto end = static_cast<std::uint32_t>(list.bytes.size());
    list.ends.resize(static_cast<std::size_t>(index) - 1, static_cast<std::uint32_t>(bytes_before));
    list.ends.push_back(end);
  } catch (const std::bad_alloc&) {
    // All or nothing: the list stays as it was, so later indices still line up.
    list.bytes.resize(bytes_before);
    list.ends.resize(count_before);
    err.raise_error(rt_error::kOutOfStorage);
  }
}

std::string_view element(const StringList& list, std::int32_t index) {
  if (index < 1 || static_cast<std::size_t>(index) > list.ends.size()) return {};
  const std::size_t i = static_cast<std::size_t>(index) - 1;
  const std::uint32_t begin = i == 0 ? 0 : list.ends[i - 1];
  return std::string_view(list.bytes).substr(begin, list.ends[i] - begin);
}

void release_list(StringList& list) {
  std::string().swap(list.bytes);
  std::vector<std::uint32_t>().swap(list.ends);
}

}  // namespace mapsweep
