#include "formats/map_path.h"

#include <algorithm>

namespace mapsweep::formats {
namespace {

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `lower` is lower case already.
bool equals_ignoring_case(std::string_view text, std::string_view lower) {
  return std::equal(text.begin(), text.end(), lower.begin(), lower.end(),
                    [](char a, char b) { return ascii_lower(a) == b; });
}

}  // namespace

std::optional<std::string_view> map_name_of_path(std::string_view path) {
  constexpr std::string_view kFolder = "maps/";
  constexpr std::string_view kExtension = ".bsp";
  if (path.size() <= kFolder.size() + kExtension.size()) return std::nullopt;
  if (!equals_ignoring_case(path.substr(0, kFolder.size()), kFolder) ||
      !equals_ignoring_case(path.substr(path.size() - kExtension.size()), kExtension)) {
    return std::nullopt;
  }
  const std::string_view name =
      path.substr(kFolder.size(), path.size() - kFolder.size() - kExtension.size());
  if (name.find('/') != std::string_view::npos) return std::nullopt;
  return name;
}

}  // namespace mapsweep::formats
