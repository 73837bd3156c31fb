// The catalogue page's style sheet and script, kept apart from the page's HTML so that each
// reads as the language it is written in.
#pragma once

#include <string_view>

namespace mapsweep {

std::string_view catalog_page_style();
std::string_view catalog_page_script();

}  // namespace mapsweep
