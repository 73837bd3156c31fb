#include "app/json_text.h"

#include <gtest/gtest.h>

#include <string>

namespace mapsweep {
namespace {

// Decodes what json_string wrote back to bytes: \u00XX to the byte XX, other escapes to
// their character. Used to check that nothing is lost.
std::string decode_to_bytes(std::string_view literal) {
  std::string out;
  for (std::size_t i = 1; i + 1 < literal.size(); ++i) {
    if (literal[i] != '\\') {
      out += literal[i];
      continue;
    }
    const char kind = literal[++i];
    if (kind == 'u') {
      out += static_cast<char>(std::stoi(std::string(literal.substr(i + 1, 4)), nullptr, 16));
      i += 4;
    } else {
      out += kind == 'n' ? '\n' : kind == 't' ? '\t' : kind == 'r' ? '\r' : kind;
    }
  }
  return out;
}

TEST(JsonText, KeepsWellFormedUtf8AndEscapesEveryOtherByteAsLatin1) {
  EXPECT_EQ(json_string("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
            "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
  // A lone Latin-1 byte, an overlong slash, a surrogate and a value past U+10FFFF.
  EXPECT_EQ(json_string("\xE9t\xC3"), "\"\\u00e9t\\u00c3\"");
  EXPECT_EQ(json_string("\xC0\xAF"), "\"\\u00c0\\u00af\"");
  EXPECT_EQ(json_string("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
  EXPECT_EQ(json_string("\xF4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");
  EXPECT_EQ(json_string("\"a\\b\"\n\x01\x7F"), "\"\\\"a\\\\b\\\"\\n\\u0001\\u007f\"");
}

TEST(JsonText, HtmlFormNeverLetsMarkupOut) {
  EXPECT_EQ(json_string("</script><b>&", true), "\"\\u003c/script\\u003e\\u003cb\\u003e\\u0026\"");
  EXPECT_EQ(json_string("</script>", false), "\"</script>\"");
}

TEST(JsonText, EveryByteStringComesOutValidUtf8AndDecodesBackToItself) {
  // Pairs of bytes: the output is valid UTF-8 throughout and its escapes decode to the
  // bytes given.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; b += 7) {
      const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
      const std::string literal = json_string(bytes, true);
      for (std::size_t at = 0; at < literal.size();) {
        const std::size_t length = utf8_sequence_length(std::string_view(literal).substr(at));
        ASSERT_NE(length, 0u) << a << ' ' << b;
        at += length;
      }
      EXPECT_EQ(decode_to_bytes(literal), bytes) << a << ' ' << b;
    }
  }
}

}  // namespace
}  // namespace mapsweep
