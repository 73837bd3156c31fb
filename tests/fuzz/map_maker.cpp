#include "map_maker.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/map_archive_writer.h"

namespace mapsweep::fuzz {
namespace {

// Input bytes as a quoted token's content: a quote would end it and a NUL the text.
std::string quotable(std::string text) {
  for (char& c : text) {
    if (c == '"') c = '\'';
    if (c == '\0') c = ' ';
  }
  return text;
}

// Writes entity text in one of the ways map editors and people do.
class TextWriter {
 public:
  explicit TextWriter(FuzzedDataProvider& input)
      : input_(input), line_ends_(input.ConsumeIntegralInRange(0, 2)) {}

  std::string eol() {
    if (line_ends_ == 2) return input_.ConsumeBool() ? "\r\n" : "\n";
    return line_ends_ == 1 ? "\r\n" : "\n";
  }
  std::string gap() {
    static constexpr std::string_view kGaps[] = {" ", "\t", " \t", "  "};
    return std::string(input_.PickValueInArray(kGaps));
  }
  // A comment runs to the next LF, so it holds none (and no NUL, which ends the text).
  std::string comment() {
    std::string said = quotable(input_.ConsumeRandomLengthString(40));
    said.erase(std::remove(said.begin(), said.end(), '\n'), said.end());
    return "//" + said + "\n";
  }
  std::string block(const tools::EntityPairs& pairs) {
    std::string text = "{" + eol();
    if (input_.ConsumeIntegralInRange(0, 3) == 0) text += gap() + comment();
    for (const auto& [key, value] : pairs) {
      text += gap() + "\"" + key + "\"" + gap() + "\"" + value + "\"" + eol();
    }
    return text + "}" + eol();
  }

 private:
  FuzzedDataProvider& input_;
  int line_ends_;
};

// Mostly a few KiB; now and then up to 64 KiB or up to 1 MiB.
std::size_t wanted_text_size(FuzzedDataProvider& input) {
  const auto choice = input.ConsumeIntegral<std::uint8_t>();
  if (choice < 192) return input.ConsumeIntegralInRange<std::size_t>(0, 2048);
  if (choice < 252) return input.ConsumeIntegralInRange<std::size_t>(0, 64u << 10);
  return input.ConsumeIntegralInRange<std::size_t>(0, 1u << 20);
}

std::string entity_text(FuzzedDataProvider& input, MadeMap& made) {
  if (input.ConsumeIntegralInRange(0, 15) == 0) return input.ConsumeRandomLengthString(4096);
  TextWriter writer(input);
  made.message = quotable(input.ConsumeRandomLengthString(160));
  const bool with_start = input.ConsumeIntegralInRange(0, 7) != 0;
  const bool start_last = input.ConsumeBool();
  const int blocks_before_world = input.ConsumeIntegralInRange(0, 2);
  const std::size_t wanted = wanted_text_size(input);

  tools::EntityPairs world_pairs = {{"classname", "worldspawn"}, {"message", made.message}};
  if (input.ConsumeBool()) std::swap(world_pairs[0], world_pairs[1]);
  world_pairs.emplace_back("wad", "gfx/base.wad");
  const std::string world = writer.block(world_pairs);
  static constexpr std::string_view kStarts[] = {"info_player_start", "info_player_deathmatch",
                                                 "info_player_coop"};
  const std::string start = writer.block(
      {{"classname", std::string(input.PickValueInArray(kStarts))}, {"origin", "0 0 24"}});
  const std::string other = writer.block(
      {{"classname", "light"},
       {quotable(input.ConsumeRandomLengthString(16)), quotable(input.ConsumeRandomLengthString(64))},
       {"origin", "128 -64 " + std::to_string(input.ConsumeIntegral<std::int16_t>())}});

  std::string text = input.ConsumeBool() ? writer.comment() : std::string();
  for (int i = 0; i < blocks_before_world; ++i) text += other;
  text += world;
  if (with_start && !start_last) text += start;
  while (text.size() + other.size() <= wanted) text += other;
  if (with_start && start_last) text += start;
  made.as_built = with_start;
  return text;
}

// Input bytes where the map holds filler: between the lump table and a text placed further
// in, and after the text's NUL.
void put_body(FuzzedDataProvider& input, std::string& map, std::size_t text_at,
              std::size_t text_end) {
  // No layout's lump table reaches past this offset.
  constexpr std::size_t kAfterAnyTable = 160;
  const std::string body = input.ConsumeRandomLengthString(1024);
  if (text_at > kAfterAnyTable) {
    tools::put_bytes(map, kAfterAnyTable, std::string_view(body).substr(0, text_at - kAfterAnyTable));
  }
  tools::put_bytes(map, text_end, std::string_view(body).substr(0, map.size() - text_end));
}

void change_bytes(FuzzedDataProvider& input, MadeMap& made) {
  if (input.ConsumeIntegralInRange(0, 7) != 0 || made.bytes.empty()) return;
  const int changes = input.ConsumeIntegralInRange(1, 3);
  for (int i = 0; i < changes; ++i) {
    const std::size_t last = made.bytes.size() - 1;
    const std::size_t at = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::size_t>(0, std::min<std::size_t>(last, 31))
                                               : input.ConsumeIntegralInRange<std::size_t>(0, last);
    made.bytes[at] = static_cast<char>(input.ConsumeIntegral<std::uint8_t>());
  }
  made.as_built = false;
}

}  // namespace

MadeMap make_map(FuzzedDataProvider& input) {
  MadeMap made;
  const tools::MapLayout layout = input.PickValueInArray(tools::kAllMapLayouts);
  const std::string text = entity_text(input, made);
  const std::size_t text_at =
      input.ConsumeBool() ? 0 : 256 + input.ConsumeIntegralInRange<std::size_t>(0, 4096);
  const std::size_t body_after = input.ConsumeIntegralInRange<std::size_t>(0, 8192);
  made.bytes = tools::bsp_map(layout, text, std::max<std::size_t>(text_at, 256) + text.size() + 1 + body_after, text_at);
  put_body(input, made.bytes, text_at, made.bytes.size() - body_after);
  change_bytes(input, made);
  return made;
}

}  // namespace mapsweep::fuzz
