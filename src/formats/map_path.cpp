#include "formats/map_path.h"

#include "base/ascii_case.h"

namespace mapsweep::formats {

std::optional<std::string_view> map_name_of_path(std::string_view path) {
  constexpr std::string_view kFolder = "maps/";
  constexpr std::string_view kExtension = ".bsp";
  if (path.size() <= kFolder.size() + kExtension.size()) return std::nullopt;
  if (!ascii::equal_ignoring_case(path.substr(0, kFolder.size()), kFolder) ||
      !ascii::equal_ignoring_case(path.substr(path.size() - kExtension.size()), kExtension)) {
    return std::nullopt;
  }
  const std::string_view name =
      path.substr(kFolder.size(), path.size() - kFolder.size() - kExtension.size());
  if (name.find('/') != std::string_view::npos) return std::nullopt;
  return name;
}

}  // namespace mapsweep::formats
