// Reading entity text: the token rules one by one, where reading stops, and randomly
// laid out block sequences against what they were written from.
#include "formats/entity_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tools/map_archive_writer.h"

namespace mapsweep::formats {
namespace {

using namespace std::string_literals;
using tools::EntityPairs;

const EntityPairs kWorld = {{"classname", "worldspawn"}, {"message", "The Hall"}};
const EntityPairs kStart = {{"origin", "0 0 24"}, {"classname", "info_player_start"}};

TEST(EntityText, RealShapedTextIsPlayable) {
  for (const auto line_end : {tools::LineEnd::kLf, tools::LineEnd::kCrLf}) {
    const std::string text =
        tools::entity_text({kWorld, {{"classname", "light"}}, kStart}, line_end);
    const MapEntities found = read_map_entities(text);
    EXPECT_TRUE(found.playable());
    EXPECT_EQ(found.message, "The Hall");
  }
  EXPECT_FALSE(read_map_entities(tools::entity_text({kWorld})).playable());
  EXPECT_FALSE(read_map_entities(tools::entity_text({kStart})).playable());
  // The player start may come first, and any info_player_ kind counts.
  const MapEntities found =
      read_map_entities(tools::entity_text({{{"classname", "info_player_deathmatch"}}, kWorld}));
  EXPECT_TRUE(found.playable());
}

TEST(EntityText, TokenRules) {
  // Tabs, CR and every other byte up to 0x20 separate; quotes are optional.
  EXPECT_EQ(read_map_entities("{\tclassname\r\nworldspawn\x01message\x1F\"Hi\"}").message, "Hi");
  EXPECT_EQ(read_map_entities("{classname worldspawn message Hi }").message, "Hi");
  // Braces inside an unquoted token and quoted braces are text.
  EXPECT_EQ(read_map_entities("{classname worldspawn message a{b}c }").message, "a{b}c");
  EXPECT_FALSE(read_map_entities("{classname worldspawn}").has_world);
  EXPECT_EQ(read_map_entities("{\"classname\"\"worldspawn\"\"message\"\"}\"}").message, "}");
  // A comment only where a token begins, up to the LF.
  EXPECT_EQ(read_map_entities("// { x\n{classname worldspawn //c } \"\n message a//b }").message,
            "a//b");
  EXPECT_FALSE(read_map_entities("// {classname worldspawn}").has_world);
  EXPECT_EQ(read_map_entities("{classname worldspawn message \"a // b\"}").message, "a // b");
  // A NUL ends the text, also inside quotes.
  EXPECT_FALSE(read_map_entities("{classname worldspawn message \"a\0\"}"s).has_world);
  EXPECT_TRUE(read_map_entities("{classname worldspawn }\0{{{"s).has_world);
  // Bytes of 0x80 and up are text.
  EXPECT_EQ(read_map_entities("{classname worldspawn message \xC1\xFF }").message, "\xC1\xFF");
}

TEST(EntityText, FirstOfEachCounts) {
  const std::string text =
      tools::entity_text({{{"classname", "light"}, {"classname", "worldspawn"}},
                          {{"message", "one"}, {"classname", "worldspawn"}, {"message", "two"}},
                          {{"classname", "worldspawn"}, {"message", "three"}}});
  const MapEntities found = read_map_entities(text);
  EXPECT_TRUE(found.has_world);
  EXPECT_EQ(found.message, "one");
  const MapEntities no_message = read_map_entities("{classname worldspawn }{message x }");
  EXPECT_TRUE(no_message.has_world);
  EXPECT_EQ(no_message.message, "");
  // Keys and values compare byte for byte.
  EXPECT_FALSE(read_map_entities("{ClassName worldspawn }{classname WorldSpawn }").has_world);
  EXPECT_FALSE(read_map_entities("{classname info_player }").has_player_start);
  EXPECT_TRUE(read_map_entities("{classname info_player_ }").has_player_start);
  EXPECT_TRUE(read_map_entities("{}{} {classname worldspawn }").has_world);
}

TEST(EntityText, ReadingStopsAtTheFirstMalformedBlock) {
  const std::string world = "{classname worldspawn message W }";
  const std::string start = "{classname info_player_start }";
  for (const std::string& bad :
       {"x"s, "}"s, "{{}"s, "{classname}"s, "{classname {"s, "{classname"s,
        "{classname info_player_start"s, "{\"classname\" \"info_player_start}"s}) {
    const MapEntities found = read_map_entities(world + bad + start);
    EXPECT_TRUE(found.has_world) << bad;
    EXPECT_FALSE(found.has_player_start) << bad;
  }
  // A malformed block's own pairs count for nothing.
  EXPECT_FALSE(read_map_entities("{classname worldspawn message W").has_world);
}

TEST(EntityText, RandomLayoutsReadAsWritten) {
  std::mt19937 random(20240607);
  const std::string separators[] = {" ", "\t", "\r\n", "\n// a comment { }\n", "\x01"};
  const std::string classnames[] = {"worldspawn", "info_player_start", "light", "", "x"};
  for (int round = 0; round < 300; ++round) {
    std::string text;
    bool has_world = false;
    bool has_player_start = false;
    std::string world_message;
    const auto separator = [&] { return separators[random() % std::size(separators)]; };
    const int blocks = static_cast<int>(random() % 6);
    for (int b = 0; b < blocks; ++b) {
      const std::string classname = classnames[random() % std::size(classnames)];
      const std::string message = "m" + std::to_string(round) + "/" + std::to_string(b);
      text += separator() + "{";
      const bool with_message = random() % 2;
      if (with_message) text += separator() + "\"message\"" + separator() + message;
      text += separator() + "classname" + separator() + "\"" + classname + "\"";
      text += separator() + "classname" + separator() + "worldspawn" + separator() + "}";
      if (classname == "worldspawn" && !has_world) {
        has_world = true;
        if (with_message) world_message = message;
      }
      has_player_start |= classname.starts_with("info_player_");
    }
    const MapEntities found = read_map_entities(text);
    EXPECT_EQ(found.has_world, has_world) << text;
    EXPECT_EQ(found.has_player_start, has_player_start) << text;
    EXPECT_EQ(found.message, world_message) << text;
  }
}

}  // namespace
}  // namespace mapsweep::formats

namespace mapsweep::formats {
namespace {

TEST(EntityText, FactsCountSpawnsMonstersSecretsAndTheNextMap) {
  const MapFacts facts =
      read_map_entities(
          "{classname worldspawn }{classname info_player_start }{classname info_player_coop }"
          "{classname monster_army }{classname monster_dog }{classname monster }"
          "{classname trigger_secret }{classname trigger_secret_x }"
          "{classname trigger_changelevel }{classname trigger_changelevel map e1m2 }"
          "{classname trigger_changelevel map e1m3 }")
          .facts;
  EXPECT_TRUE(facts.single && facts.coop);
  EXPECT_FALSE(facts.deathmatch || facts.team);
  EXPECT_EQ(facts.monsters, 2u);
  EXPECT_EQ(facts.secrets, 1u);
  EXPECT_EQ(facts.nextmap, "e1m2");
  // worldspawn's nextmap wins over a changelevel's target, wherever the two stand.
  EXPECT_EQ(read_map_entities("{classname trigger_changelevel map a }"
                              "{classname worldspawn nextmap b }")
                .facts.nextmap,
            "b");
  EXPECT_EQ(read_map_entities("{classname worldspawn nextmap b }"
                              "{classname trigger_changelevel map a }")
                .facts.nextmap,
            "b");
  // Team spawns of both kinds; a malformed block ends the counting as it ends the reading.
  EXPECT_TRUE(read_map_entities("{classname info_player_team1 }").facts.team);
  EXPECT_TRUE(read_map_entities("{classname team_CTF_redspawn }").facts.team);
  EXPECT_FALSE(read_map_entities("{classname team_CTF_redflag }").facts.team);
  const MapFacts cut = read_map_entities(
                           "{classname info_player_deathmatch }{classname "
                           "monster_a }{classname }{classname monster_b }")
                           .facts;
  EXPECT_TRUE(cut.deathmatch);
  EXPECT_EQ(cut.monsters, 1u);
}

}  // namespace
}  // namespace mapsweep::formats
