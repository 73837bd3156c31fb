// The command tail of a Windows command line: what follows the program name.
#pragma once

#include <string>

namespace mapsweep {

// The command line after the program name and the blanks behind it. A program name that
// begins with a double quote ends at the next double quote (no closing quote: the tail is
// empty); any other ends at the first blank or control byte.
std::string command_tail(const std::string& command_line);

}  // namespace mapsweep
