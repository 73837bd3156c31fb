#include "formats/entity_text.h"

#include <optional>

namespace mapsweep::formats {
namespace {

enum class TokenKind { kEnd, kOpen, kClose, kText };

struct Token {
  TokenKind kind;
  std::string_view text;
};

bool is_separator(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

// Hands out the tokens one by one, each byte looked at a fixed number of times.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

  Token next() {
    skip_separators_and_comments();
    if (at_ == text_.size()) return {TokenKind::kEnd, {}};
    const char first = text_[at_];
    if (first == '{' || first == '}') {
      ++at_;
      return {first == '{' ? TokenKind::kOpen : TokenKind::kClose, {}};
    }
    if (first == '"') {
      const std::size_t start = at_ + 1;
      const std::size_t quote = text_.find('"', start);
      // An unclosed quote takes the rest of the text.
      const std::size_t end = quote == std::string_view::npos ? text_.size() : quote;
      at_ = quote == std::string_view::npos ? text_.size() : quote + 1;
      return {TokenKind::kText, text_.substr(start, end - start)};
    }
    const std::size_t start = at_;
    while (at_ < text_.size() && !is_separator(text_[at_])) ++at_;
    return {TokenKind::kText, text_.substr(start, at_ - start)};
  }

 private:
  void skip_separators_and_comments() {
    for (;;) {
      while (at_ < text_.size() && is_separator(text_[at_])) ++at_;
      if (text_.substr(at_, 2) != "//") return;
      const std::size_t line_end = text_.find('\n', at_ + 2);
      at_ = line_end == std::string_view::npos ? text_.size() : line_end + 1;
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

struct Block {
  std::optional<std::string_view> classname;
  std::optional<std::string_view> message;
  std::optional<std::string_view> nextmap;
  std::optional<std::string_view> map;
};

// The first value of each key the readers care about wins.
void take_pair(Block& block, std::string_view key, std::string_view value) {
  std::optional<std::string_view>* slot = nullptr;
  if (key == "classname")
    slot = &block.classname;
  else if (key == "message")
    slot = &block.message;
  else if (key == "nextmap")
    slot = &block.nextmap;
  else if (key == "map")
    slot = &block.map;
  if (slot != nullptr && !*slot) *slot = value;
}

void count_block(MapFacts& facts, std::string_view classname, const Block& block,
                 bool& changelevel_seen) {
  facts.single = facts.single || classname == "info_player_start";
  facts.coop = facts.coop || classname == "info_player_coop";
  facts.deathmatch = facts.deathmatch || classname == "info_player_deathmatch";
  facts.team = facts.team || classname.starts_with("info_player_team") ||
               (classname.starts_with("team_CTF_") && classname.ends_with("spawn"));
  if (classname.starts_with("monster_") && facts.monsters < UINT32_MAX) ++facts.monsters;
  if (classname == "trigger_secret" && facts.secrets < UINT32_MAX) ++facts.secrets;
  if (classname == "trigger_changelevel" && !changelevel_seen && block.map) {
    changelevel_seen = true;
    if (facts.nextmap.empty()) facts.nextmap = *block.map;
  }
}

// Reads the pairs of a block whose "{" has been taken; no value for a malformed block.
std::optional<Block> read_block(Tokens& tokens) {
  Block block;
  for (;;) {
    const Token key = tokens.next();
    if (key.kind == TokenKind::kClose) return block;
    if (key.kind != TokenKind::kText) return std::nullopt;
    const Token value = tokens.next();
    if (value.kind != TokenKind::kText) return std::nullopt;
    take_pair(block, key.text, value.text);
  }
}

}  // namespace

MapEntities read_map_entities(std::string_view text) {
  MapEntities found;
  bool changelevel_seen = false;
  Tokens tokens(text);
  while (tokens.next().kind == TokenKind::kOpen) {
    const std::optional<Block> block = read_block(tokens);
    if (!block) break;
    const std::string_view classname = block->classname.value_or(std::string_view());
    if (classname == "worldspawn" && !found.has_world) {
      found.has_world = true;
      found.message = block->message.value_or(std::string_view());
      // worldspawn's own nextmap outranks a changelevel's target found before it.
      if (block->nextmap && !block->nextmap->empty()) found.facts.nextmap = *block->nextmap;
    }
    count_block(found.facts, classname, *block, changelevel_seen);
    if (classname.starts_with("info_player_")) found.has_player_start = true;
  }
  return found;
}

}  // namespace mapsweep::formats
