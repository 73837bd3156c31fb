#include "app/html_text.h"

#include "app/json_text.h"

namespace mapsweep {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// A code point below 0x800 or in the U+2400 block as UTF-8.
void append_utf8(std::string& out, unsigned code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

void append_ascii(std::string& out, unsigned char byte) {
  switch (byte) {
    case '&':
      out += "&amp;";
      return;
    case '<':
      out += "&lt;";
      return;
    case '>':
      out += "&gt;";
      return;
    case '"':
      out += "&quot;";
      return;
    case '\'':
      out += "&#39;";
      return;
    default:
      break;
  }
  if (byte < 0x20) {
    append_utf8(out, 0x2400 + byte);
  } else if (byte == 0x7F) {
    append_utf8(out, 0x2421);
  } else {
    out += static_cast<char>(byte);
  }
}

bool is_unreserved(unsigned char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
         (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

}  // namespace

std::string html_text(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80) {
      append_ascii(out, byte);
      ++at;
      continue;
    }
    const std::size_t length = utf8_sequence_length(bytes.substr(at));
    if (length == 0) {
      append_utf8(out, byte);  // Latin-1: the byte's value is its code point
      ++at;
    } else {
      out.append(bytes.substr(at, length));
      at += length;
    }
  }
  return out;
}

std::string url_path(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (is_unreserved(byte) || byte == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

}  // namespace mapsweep
