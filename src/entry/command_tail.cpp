#include "entry/command_tail.h"

namespace mapsweep {

std::string command_tail(const std::string& command_line) {
  std::string::size_type at = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    const auto closing = command_line.find('"', 1);
    if (closing == std::string::npos) return {};
    at = closing + 1;
  } else {
    // Bytes are compared unsigned so that names with letters above 127 are not cut.
    while (at < command_line.size() && static_cast<unsigned char>(command_line[at]) > ' ') ++at;
  }
  while (at < command_line.size() && (command_line[at] == ' ' || command_line[at] == '\t')) ++at;
  return command_line.substr(at);
}

}  // namespace mapsweep
