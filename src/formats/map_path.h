// Which archive paths are maps: "maps/NAME.bsp", the folder and the extension in any
// letter case, NAME directly in that folder.
#pragma once

#include <optional>
#include <string_view>

namespace mapsweep::formats {

// NAME as it stands in the path (case kept), or no value for any other path.
std::optional<std::string_view> map_name_of_path(std::string_view path);

}  // namespace mapsweep::formats
