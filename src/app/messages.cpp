#include "app/messages.h"

#include <array>

namespace mapsweep {
namespace {

using Texts = std::array<const char*, kLanguageCount>;

// English help. The German one below says the same, line for line.
constexpr char kUsageEnglish[] =
    "Usage: mapsweep [OPTION]... [--] [DIR]\n"
    "       mapsweep --help | --version\n"
    "\n"
    "Lists the maps of every game folder below DIR (default: the current directory).\n"
    "Each game folder's pak*.pak archives and maps/*.bsp files are searched for map\n"
    "names and titles; the lines go to maps.lst in the game folder and to a combined\n"
    "maps.lst in DIR, with repeated lines removed. Nothing else is changed.\n"
    "\n"
    "  -y, --yes      start without asking\n"
    "      --exact    read each archive's directory and each map's own entity text:\n"
    "                 every playable map with its true title, in natural order, also\n"
    "                 from *.pk3 archives (the default searches the raw bytes)\n"
    "      --catalog[=CATDIR]  an exact run that also writes CATDIR/maps.catalog/ (default\n"
    "                 CATDIR: DIR): a page of every map with its title, ways to play and\n"
    "                 a picture of its layout, with maps.json and pictures/\n"
    "  -n, --dry-run  do the whole run but write and delete nothing: print each list\n"
    "                 that would be written, under its folder, the combined one last\n"
    "  -v, --verbose  print the summary even when the error output is no terminal\n"
    "  -q, --quiet    print nothing but errors (not together with -v)\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "      --         end of the options: what follows is DIR, even if it begins with -\n"
    "\n"
    "Short options may be written together: -yv is -y -v.\n"
    "The start question is asked whenever a person types on a terminal; without one the\n"
    "run starts at once. On a terminal a status line shows the folder being worked on,\n"
    "and a summary follows the run: lists written, unchanged, kept and removed, and the\n"
    "files passed over.\n"
    "Exit status: 0 done, 1 refused (another run is working in DIR, or the folder\n"
    "list cannot be written there), 2 usage error or DIR cannot be entered, 3 the\n"
    "lists were done but the catalogue was left as it was.\n";

constexpr char kUsageGerman[] =
    "Aufruf: mapsweep [OPTION]... [--] [VERZEICHNIS]\n"
    "        mapsweep --help | --version\n"
    "\n"
    "Listet die Maps aller Spielordner unter VERZEICHNIS (Vorgabe: das aktuelle).\n"
    "In jedem Spielordner werden die Archive pak*.pak und die Dateien maps/*.bsp nach\n"
    "Mapnamen und Titeln durchsucht; die Zeilen kommen in die maps.lst des Spielordners\n"
    "und in eine gemeinsame maps.lst in VERZEICHNIS, doppelte Zeilen entfernt. Sonst\n"
    "wird nichts geändert.\n"
    "\n"
    "  -y, --yes      ohne Rückfrage starten\n"
    "      --exact    das Verzeichnis jedes Archivs und den Entity-Text jeder Map lesen:\n"
    "                 jede spielbare Map mit ihrem wahren Titel, in natürlicher Ordnung,\n"
    "                 auch aus *.pk3-Archiven (die Vorgabe durchsucht die rohen Bytes)\n"
    "      --catalog[=KATVERZ]  ein Lauf wie --exact, der auch KATVERZ/maps.catalog/\n"
    "                 schreibt (Vorgabe: VERZEICHNIS): eine Seite aller Maps mit Titel,\n"
    "                 Spielweisen und Bild des Grundrisses, mit maps.json und pictures/\n"
    "  -n, --dry-run  den ganzen Lauf machen, aber nichts schreiben oder löschen: jede\n"
    "                 Liste, die geschrieben würde, unter ihrem Ordner ausgeben\n"
    "  -v, --verbose  die Zusammenfassung auch ausgeben, wenn die Fehlerausgabe kein\n"
    "                 Terminal ist\n"
    "  -q, --quiet    nur Fehler ausgeben (nicht zusammen mit -v)\n"
    "  -h, --help     diese Hilfe zeigen und beenden\n"
    "      --version  die Version zeigen und beenden\n"
    "      --         Ende der Optionen: was folgt, ist VERZEICHNIS, auch mit - vorne\n"
    "\n"
    "Kurze Optionen dürfen zusammen stehen: -yv ist -y -v.\n"
    "Die Startfrage wird gestellt, wenn jemand an einem Terminal tippt; ohne eines\n"
    "beginnt der Lauf sofort. Am Terminal zeigt eine Statuszeile den Ordner in Arbeit,\n"
    "und nach dem Lauf folgt eine Zusammenfassung: geschriebene, unveränderte,\n"
    "behaltene und entfernte Listen und die übergangenen Dateien.\n"
    "Rückgabewert: 0 fertig, 1 abgelehnt (ein anderer Lauf arbeitet in VERZEICHNIS,\n"
    "oder die Ordnerliste kann dort nicht geschrieben werden), 2 Aufruffehler oder\n"
    "VERZEICHNIS kann nicht betreten werden, 3 die Listen sind fertig, aber der\n"
    "Katalog blieb, wie er war.\n";

// One row per message, in the order of the enumeration; one column per language, in the
// order of Language. The German start question and closing word are the program's first
// texts, kept byte for byte (the question's lines end in LF CR, as they always did).
constexpr std::array<Texts, static_cast<std::size_t>(Message::kMessageCount)> kTable{{
    {"mapsweep searches all pak*.pak and maps/*.bsp files\n"
     "for map names and writes them to each folder's maps.lst\n"
     "Start?",
     "Programm durchsucht alle Pak.Pak und *.BSP \n\r"
     "nach Mapnamen und schreibt sie in die jeweilige maps.lst\n\r"
     "Starten ?"},
    {"Done", "Programmende"},
    {"Another run of mapsweep is working in this folder. Nothing was changed; try again "
     "once it has finished.",
     "Ein anderer Lauf von mapsweep arbeitet in diesem Ordner. Nichts wurde geändert; "
     "bitte erneut versuchen, wenn er fertig ist."},
    {"mapsweep cannot write its folder list (temp.tmp) in this folder, so it cannot know "
     "which game folders to visit. Nothing was changed.",
     "mapsweep kann seine Ordnerliste (temp.tmp) in diesem Ordner nicht schreiben und weiß "
     "daher nicht, welche Spielordner es besuchen soll. Nichts wurde geändert."},
    {"Nothing was done: no list was written or removed.",
     "Nichts wurde getan: keine Liste wurde geschrieben oder entfernt."},
    {kUsageEnglish, kUsageGerman},
    {"unknown option '{0}'", "unbekannte Option '{0}'"},
    {"'{0}' and '{1}' cannot be used together", "'{0}' und '{1}' schließen einander aus"},
    {"more than one directory given: '{0}'", "mehr als ein Verzeichnis angegeben: '{0}'"},
    {"empty directory name", "leerer Verzeichnisname"},
    {"Try 'mapsweep --help'.", "Weitere Informationen mit 'mapsweep --help'."},
    {"cannot enter directory '{0}'", "Verzeichnis '{0}' kann nicht betreten werden"},
    {"Game folders visited: {0}", "Besuchte Spielordner: {0}"},
    {"Lists written (bytes changed): {0}", "Geschriebene Listen (Inhalt geändert): {0}"},
    {"Lists that would be written: {0}", "Listen, die geschrieben würden: {0}"},
    {"Lists unchanged (same bytes, left as they were): {0}",
     "Unveränderte Listen (gleicher Inhalt, belassen): {0}"},
    {"Lists kept because a scan was incomplete: {0}",
     "Behaltene Listen (Suche unvollständig): {0}"},
    {"Lists removed: {0}", "Entfernte Listen: {0}"},
    {"Lists that would be removed: {0}", "Listen, die entfernt würden: {0}"},
    {"Combined list written: {0} maps", "Gesamtliste geschrieben: {0} Maps"},
    {"Combined list would be written: {0} maps", "Gesamtliste würde geschrieben: {0} Maps"},
    {"Combined list unchanged: {0} maps", "Gesamtliste unverändert: {0} Maps"},
    {"Combined list left as it was.", "Gesamtliste blieb, wie sie war."},
    {"Passed over:", "Übergangen:"},
    {"Catalogue written to {0}: {1} maps, {2} pictures",
     "Katalog geschrieben nach {0}: {1} Maps, {2} Bilder"},
    {"Catalogue would be written to {0}: {1} maps, {2} pictures",
     "Katalog würde geschrieben nach {0}: {1} Maps, {2} Bilder"},
    {"Catalogue left as it was: {0} holds files no run writes",
     "Katalog blieb, wie er war: {0} enthält Dateien, die kein Lauf schreibt"},
    {"Catalogue left as it was: {0} could not be written (system error {1})",
     "Katalog blieb, wie er war: {0} konnte nicht geschrieben werden (Systemfehler {1})"},
    {"Catalogue left as it was: not every game folder could be read whole",
     "Katalog blieb, wie er war: nicht jeder Spielordner konnte ganz gelesen werden"},
    {"held by another program", "von einem anderen Programm geöffnet"},
    {"gone before it could be read", "verschwunden, bevor es gelesen werden konnte"},
    {"too large for the memory at hand", "zu groß für den verfügbaren Speicher"},
    {"not readable", "nicht lesbar"},
    {"could not be read", "konnte nicht gelesen werden"},
    {"held by another program: left as it was",
     "von einem anderen Programm geöffnet: belassen, wie sie war"},
    {"read-only, a link or no file: left as it was",
     "schreibgeschützt, ein Link oder keine Datei: belassen, wie sie war"},
    {"could not be written: left as it was",
     "konnte nicht geschrieben werden: belassen, wie sie war"},
    {"leads to the starting folder or above it: not visited",
     "führt zum Startordner oder darüber: nicht besucht"},
    {"a name no list line can hold: not listed",
     "ein Name, den keine Listenzeile fassen kann: nicht aufgenommen"},
    {"damaged map data", "beschädigte Map-Daten"},
    {"damaged archive directory", "beschädigtes Archivverzeichnis"},
    {"would cost far more reading than its size warrants: the rest passed over",
     "kostete weit mehr Lesearbeit, als seine Größe rechtfertigt: der Rest wurde übergangen"},
    {"changed while it was read", "während des Lesens verändert"},
}};

const char* cell(Message message, Language language) {
  return kTable[static_cast<std::size_t>(message)][static_cast<std::size_t>(language)];
}

// Whether a locale name asks for German: "de", "de_DE.UTF-8", "de_AT@euro" and the like.
bool names_german(std::string_view locale) {
  return locale.starts_with("de") && (locale.size() == 2 || locale[2] == '_' ||
                                      locale[2] == '.' || locale[2] == '@');
}

}  // namespace

std::string_view message_text(Message message, Language language) {
  const char* text = cell(message, language);
  return text != nullptr ? std::string_view(text) : std::string_view();
}

std::string message(Message message, Language language,
                    std::initializer_list<std::string_view> fill) {
  const std::string_view text = message_text(message, language);
  std::string filled;
  filled.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const bool place = text[at] == '{' && at + 2 < text.size() && text[at + 2] == '}' &&
                       text[at + 1] >= '0' && text[at + 1] <= '9';
    const auto index = place ? static_cast<std::size_t>(text[at + 1] - '0') : fill.size();
    if (index < fill.size()) {
      filled += *(fill.begin() + index);
      at += 2;
    } else {
      filled += text[at];
    }
  }
  return filled;
}

std::string reason_in(std::string_view english_reason, Language language) {
  for (auto row = static_cast<std::size_t>(Message::kReasonHeld); row < kTable.size(); ++row) {
    if (english_reason == kTable[row][0]) return std::string(message_text(Message(row), language));
  }
  return std::string(english_reason);
}

Language language_from_locale(const char* lc_all, const char* lc_messages, const char* lang) {
  for (const char* name : {lc_all, lc_messages, lang}) {
    if (name != nullptr && name[0] != '\0') {
      return names_german(name) ? Language::kGerman : Language::kEnglish;
    }
  }
  return Language::kEnglish;
}

Language language_from_windows_ui(unsigned language_id) {
  // The primary language is the low ten bits; 0x07 is German in every country.
  constexpr unsigned kPrimaryGerman = 0x07;
  return (language_id & 0x3FF) == kPrimaryGerman ? Language::kGerman : Language::kEnglish;
}

}  // namespace mapsweep
