#include "entry/text_delivery.h"

namespace mapsweep {

void deliver_texts(const std::string& out, const std::string& err, TextSinks& sinks) {
  enum class Console { kUntried, kAttached, kNone };
  Console console = Console::kUntried;
  const auto deliver = [&](TextSinks::Stream stream, const std::string& text) {
    if (text.empty() || sinks.write_standard(stream, text)) return;
    if (console == Console::kUntried) {
      console = sinks.attach_parent_console() ? Console::kAttached : Console::kNone;
    }
    if (console == Console::kAttached && sinks.write_console(text)) return;
    sinks.show_box(text, stream == TextSinks::Stream::kErr);
  };
  deliver(TextSinks::Stream::kOut, out);
  deliver(TextSinks::Stream::kErr, err);
}

std::string with_crlf(const std::string& text) {
  std::string converted;
  converted.reserve(text.size() + text.size() / 32);
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) converted.push_back('\r');
    converted.push_back(text[i]);
  }
  return converted;
}

}  // namespace mapsweep
