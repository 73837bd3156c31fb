// The messages in every language: each message has a text in each, with the same places
// to fill in; the locale chooses the language; and a run speaks it, the German question
// and closing word being the program's original texts byte for byte.
#include "app/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "program_tree.h"

namespace mapsweep {
namespace {

constexpr Language kLanguages[] = {Language::kEnglish, Language::kGerman};
static_assert(std::size(kLanguages) == kLanguageCount);

// The places a text has to fill in: "{0}", "{1}", ...
std::multiset<std::string> places(std::string_view text) {
  std::multiset<std::string> found;
  for (std::size_t at = text.find('{'); at != std::string_view::npos; at = text.find('{', at + 1)) {
    if (at + 2 < text.size() && text[at + 2] == '}') found.insert(std::string(text.substr(at, 3)));
  }
  return found;
}

TEST(Messages, EveryMessageHasEveryLanguageWithTheSamePlaces) {
  for (int row = 0; row < static_cast<int>(Message::kMessageCount); ++row) {
    const auto english = message_text(Message(row), Language::kEnglish);
    for (const Language language : kLanguages) {
      const auto text = message_text(Message(row), language);
      EXPECT_FALSE(text.empty()) << "message " << row << ", language " << int(language);
      EXPECT_EQ(places(text), places(english)) << "message " << row << ": " << text;
      EXPECT_EQ(text.find("https://"), std::string_view::npos) << text;
    }
  }
}

TEST(Messages, FillsInPlacesAndSaysKnownReasonsInTheLanguage) {
  EXPECT_EQ(message(Message::kConflictingOptions, Language::kEnglish, {"-q", "--verbose"}),
            "'-q' and '--verbose' cannot be used together");
  EXPECT_EQ(message(Message::kFoldersVisited, Language::kGerman, {"12"}),
            "Besuchte Spielordner: 12");
  EXPECT_EQ(reason_in("held by another program", Language::kGerman),
            "von einem anderen Programm geöffnet");
  EXPECT_EQ(reason_in("held by another program", Language::kEnglish), "held by another program");
  EXPECT_EQ(reason_in("a reason of tomorrow", Language::kGerman), "a reason of tomorrow");
}

TEST(Messages, TheLocaleChoosesTheLanguage) {
  struct Case {
    const char* lc_all;
    const char* lc_messages;
    const char* lang;
    Language expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, Language::kEnglish},
      {nullptr, nullptr, "de_DE.UTF-8", Language::kGerman},
      {nullptr, nullptr, "de", Language::kGerman},
      {nullptr, nullptr, "de_AT@euro", Language::kGerman},
      {nullptr, nullptr, "en_US.UTF-8", Language::kEnglish},
      {nullptr, nullptr, "C", Language::kEnglish},
      {nullptr, nullptr, "dem", Language::kEnglish},  // not German: a language of its own
      {"", "", "de_CH.UTF-8", Language::kGerman},     // empty ones do not count
      {nullptr, "en_GB.UTF-8", "de_DE.UTF-8", Language::kEnglish},
      {"de_DE.UTF-8", "en_GB.UTF-8", "en_US.UTF-8", Language::kGerman},
      {"C.UTF-8", nullptr, "de_DE.UTF-8", Language::kEnglish},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(language_from_locale(c.lc_all, c.lc_messages, c.lang), c.expected)
        << (c.lc_all ? c.lc_all : "-") << " " << (c.lc_messages ? c.lc_messages : "-") << " "
        << (c.lang ? c.lang : "-");
  }
  // Windows: the primary language of the user's UI language, whatever the country.
  EXPECT_EQ(language_from_windows_ui(0x0407), Language::kGerman);  // Germany
  EXPECT_EQ(language_from_windows_ui(0x0807), Language::kGerman);  // Switzerland
  EXPECT_EQ(language_from_windows_ui(0x0409), Language::kEnglish);
  EXPECT_EQ(language_from_windows_ui(0x040C), Language::kEnglish);  // French: no column yet
}

class RunLanguage : public testing::ProgramTree {};

// The boxes of a whole run in each language: the start question without an address to
// point at, and the closing word; in German the very bytes the program always showed.
TEST_F(RunLanguage, ARunShowsItsBoxesInTheLanguage) {
  struct Case {
    Language language;
    std::string question;
    std::string closing;
  };
  const Case cases[] = {
      {Language::kGerman,
       "Programm durchsucht alle Pak.Pak und *.BSP \n\r"
       "nach Mapnamen und schreibt sie in die jeweilige maps.lst\n\r"
       "Starten ?",
       "Programmende"},
      {Language::kEnglish,
       "mapsweep searches all pak*.pak and maps/*.bsp files\n"
       "for map names and writes them to each folder's maps.lst\n"
       "Start?",
       "Done"},
  };
  loose_map("g", "one", "One");
  for (const Case& c : cases) {
    const RunOptions options{ScanMode::kByteSearch, nullptr, nullptr, c.language};
    dialog_ = testing::ScriptedDialog({kButtonYes});
    faulty_.set_current_directory(tree_.path("base"));
    EXPECT_EQ(program_entry(faulty_, dialog_,
                            [&](Runtime& rt) { build_map_lists(rt, options); }),
              kExitDone);
    ASSERT_EQ(dialog_.shown().size(), 2u);
    EXPECT_EQ(dialog_.shown()[0].text, c.question);
    EXPECT_EQ(dialog_.shown()[0].title, kDefaultCaption);
    EXPECT_EQ(dialog_.shown()[1].text, c.closing);
  }
}

TEST(RunLanguageSummary, TheSummarySpeaksTheLanguage) {
  RunReport report;
  report.folders_visited = 2;
  report.lists_written = 1;
  report.combined = CombinedList::kUnchanged;
  report.maps_listed = 3;
  report.passed_over.push_back({"a/pak0.pak", "not readable"});
  report.passed_over.push_back({"b\x1B[2J/pak0.pak", "a reason of tomorrow"});
  EXPECT_EQ(summary_text(report, Language::kGerman),
            "Besuchte Spielordner: 2\n"
            "Geschriebene Listen (Inhalt geändert): 1\n"
            "Unveränderte Listen (gleicher Inhalt, belassen): 0\n"
            "Behaltene Listen (Suche unvollständig): 0\n"
            "Entfernte Listen: 0\n"
            "Gesamtliste unverändert: 3 Maps\n"
            "Übergangen:\n"
            "  a/pak0.pak: nicht lesbar\n"
            "  b?[2J/pak0.pak: a reason of tomorrow\n");  // no escape reaches the terminal
}

}  // namespace
}  // namespace mapsweep
