#include "app/run_report.h"

namespace mapsweep {
namespace {

std::string line(Message text, Language language, int count) {
  return message(text, language, {std::to_string(count)}) + "\n";
}

std::string combined_line(const RunReport& report, Language language) {
  switch (report.combined) {
    case CombinedList::kWritten:
      return line(report.dry_run ? Message::kCombinedWouldBeWritten : Message::kCombinedWritten,
                  language, report.maps_listed);
    case CombinedList::kUnchanged:
      return line(Message::kCombinedUnchanged, language, report.maps_listed);
    case CombinedList::kLeft:
      break;
  }
  return message(Message::kCombinedLeft, language) + "\n";
}

// A path as the terminal may be given it: a name's control bytes could drive it (move the
// cursor, set the title), so each shows as '?'.
std::string printable(std::string path) {
  for (char& byte : path) {
    const auto code = static_cast<unsigned char>(byte);
    if (code < 0x20 || code == 0x7F) byte = '?';
  }
  return path;
}

}  // namespace

std::string catalog_summary_text(const RunReport& report, Language language) {
  const CatalogSummary& catalog = report.catalog;
  const std::string path = printable(catalog.path);
  switch (catalog.outcome) {
    case CatalogOutcome::kNone:
      return {};
    case CatalogOutcome::kWritten:
      return message(report.dry_run ? Message::kCatalogWouldBeWritten : Message::kCatalogWritten,
                     language,
                     {path, std::to_string(catalog.maps), std::to_string(catalog.pictures)}) +
             "\n";
    case CatalogOutcome::kKept:
      return message(Message::kCatalogKept, language, {path}) + "\n";
    case CatalogOutcome::kFailed:
      return message(Message::kCatalogFailed, language, {path, std::to_string(catalog.error)}) +
             "\n";
    case CatalogOutcome::kNotComplete:
      return message(Message::kCatalogNotComplete, language) + "\n";
  }
  return {};
}

std::string summary_text(const RunReport& report, Language language) {
  if (report.declined) return message(Message::kNothingDone, language) + "\n";
  std::string text = line(Message::kFoldersVisited, language, report.folders_visited);
  text += line(report.dry_run ? Message::kListsWouldBeWritten : Message::kListsWritten, language,
               report.lists_written);
  text += line(Message::kListsUnchanged, language, report.lists_unchanged);
  text += line(Message::kListsKept, language, report.lists_kept);
  text += line(report.dry_run ? Message::kListsWouldBeRemoved : Message::kListsRemoved, language,
               report.lists_removed);
  text += combined_line(report, language);
  text += catalog_summary_text(report, language);
  if (!report.passed_over.empty()) {
    text += message(Message::kPassedOver, language) + "\n";
    for (const PassedOver& file : report.passed_over) {
      text += "  " + printable(file.path) + ": " + reason_in(file.reason, language) + "\n";
    }
  }
  return text;
}

}  // namespace mapsweep
