#include "app/html_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/json_text.h"

namespace mapsweep {
namespace {

// The code point of the UTF-8 sequence at `at` (known to be well formed), and its length.
char32_t decode_utf8(std::string_view text, std::size_t& at) {
  const std::size_t length = utf8_sequence_length(text.substr(at));
  EXPECT_NE(length, 0u) << "not UTF-8 at " << at;
  if (length == 0) return static_cast<unsigned char>(text[at++]);
  const auto lead = static_cast<unsigned char>(text[at]);
  char32_t value = length == 1 ? lead : lead & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (text[at + i] & 0x3F);
  at += length;
  return value;
}

// The characters a browser shows for html_text's output, with the Control Pictures read
// back as the control characters they stand for.
std::u32string shown_characters(std::string_view html) {
  static const std::vector<std::pair<std::string_view, char32_t>> kEntities = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::u32string out;
  for (std::size_t at = 0; at < html.size();) {
    bool entity = false;
    for (const auto& [text, character] : kEntities) {
      if (html.substr(at, text.size()) == text) {
        out += character;
        at += text.size();
        entity = true;
        break;
      }
    }
    if (entity) continue;
    EXPECT_NE(html[at], '&') << "a bare ampersand in " << html;
    const char32_t character = decode_utf8(html, at);
    out += character == 0x2421                         ? 0x7F
           : character >= 0x2400 && character < 0x2420 ? character - 0x2400
                                                       : character;
  }
  return out;
}

// The characters a JSON parser reads from json_string's output.
std::u32string json_characters(std::string_view literal) {
  std::u32string out;
  for (std::size_t at = 1; at + 1 < literal.size();) {
    if (literal[at] != '\\') {
      out += decode_utf8(literal, at);
      continue;
    }
    const char kind = literal[at + 1];
    if (kind == 'u') {
      out += static_cast<char32_t>(std::stoi(std::string(literal.substr(at + 2, 4)), nullptr, 16));
      at += 6;
    } else {
      out += kind == 'n' ? U'\n' : kind == 't' ? U'\t' : kind == 'r' ? U'\r' : char32_t(kind);
      at += 2;
    }
  }
  return out;
}

TEST(HtmlText, EscapesMarkupAndShowsControlBytes) {
  EXPECT_EQ(html_text("<script>alert(1)</script>"), "&lt;script&gt;alert(1)&lt;/script&gt;");
  EXPECT_EQ(html_text("a\"b'c&d"), "a&quot;b&#39;c&amp;d");
  EXPECT_EQ(html_text("\x01\n\x7F"), "\xE2\x90\x81\xE2\x90\x8A\xE2\x90\xA1");
  EXPECT_EQ(html_text("caf\xC3\xA9 \xE9t\xE9"), "caf\xC3\xA9 \xC3\xA9t\xC3\xA9");
}

TEST(HtmlText, ShowsEveryByteStringAsTheCharactersTheJsonHolds) {
  // Pairs and triples of bytes: the page's text is markup-free UTF-8 and reads as the same
  // characters maps.json gives the same bytes.
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; b += 5) {
      for (const int c : {0x3C, 0x80, 0xA9, 0xBF}) {
        const std::string bytes{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
        const std::string html = html_text(bytes);
        ASSERT_EQ(html.find_first_of("<>\"'"), std::string::npos) << a << ' ' << b << ' ' << c;
        ASSERT_EQ(shown_characters(html), json_characters(json_string(bytes)))
            << a << ' ' << b << ' ' << c;
      }
    }
  }
}

TEST(UrlPath, EncodesEveryByteThatCouldChangeTheUrlAndDecodesBack) {
  EXPECT_EQ(url_path("pictures/e1m1.png"), "pictures/e1m1.png");
  EXPECT_EQ(url_path("pictures/a b#c?d%41&\".png"), "pictures/a%20b%23c%3Fd%2541%26%22.png");
  for (int a = 0; a < 256; ++a) {
    const std::string bytes{'p', static_cast<char>(a), '/'};
    const std::string url = url_path(bytes);
    ASSERT_EQ(url.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                    "0123456789-._~/%"),
              std::string::npos)
        << a;
    std::string decoded;
    for (std::size_t at = 0; at < url.size(); ++at) {
      if (url[at] != '%') {
        decoded += url[at];
        continue;
      }
      decoded += static_cast<char>(std::stoi(url.substr(at + 1, 2), nullptr, 16));
      at += 2;
    }
    EXPECT_EQ(decoded, bytes) << a;
  }
}

}  // namespace
}  // namespace mapsweep
