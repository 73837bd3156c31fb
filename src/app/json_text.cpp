#include "app/json_text.h"

#include <cstdint>

namespace mapsweep {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_unicode_escape(std::string& out, unsigned char byte) {
  out += "\\u00";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// Appends the escape of a single byte below 0x80, or returns false when it needs none.
bool append_ascii_escape(std::string& out, unsigned char byte, bool for_html) {
  switch (byte) {
    case '"': out += "\\\""; return true;
    case '\\': out += "\\\\"; return true;
    case '\n': out += "\\n"; return true;
    case '\t': out += "\\t"; return true;
    case '\r': out += "\\r"; return true;
    default: break;
  }
  const bool html_special = byte == '<' || byte == '>' || byte == '&';
  if (byte < 0x20 || byte == 0x7F || (for_html && html_special)) {
    append_unicode_escape(out, byte);
    return true;
  }
  return false;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(bytes[i]);
    if (!is_continuation(next)) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
  if (overlong || surrogate || value > 0x10FFFF) return 0;
  return length;
}

std::string json_string(std::string_view bytes, bool for_html) {
  std::string out;
  out.reserve(bytes.size() + 2);
  out += '"';
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80) {
      if (!append_ascii_escape(out, byte, for_html)) out += static_cast<char>(byte);
      ++at;
      continue;
    }
    const std::size_t length = utf8_sequence_length(bytes.substr(at));
    if (length == 0) {
      append_unicode_escape(out, byte);
      ++at;
      continue;
    }
    out.append(bytes.substr(at, length));
    at += length;
  }
  out += '"';
  return out;
}

}  // namespace mapsweep
