// Everything the program says to a person, in each language it speaks. The texts stand in
// one table (messages.cpp), a row per message and a column per language, so that a
// language is added as one more column and a message as one more row.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace mapsweep {

enum class Language { kEnglish, kGerman };
inline constexpr std::size_t kLanguageCount = 2;

enum class Message {
  kStartQuestion,
  kProgramEnd,
  kAnotherRun,
  kNoFolderList,
  kNothingDone,
  kUsage,
  kUnknownOption,
  kConflictingOptions,
  kMoreThanOneDirectory,
  kEmptyDirectoryName,
  kTryHelp,
  kCannotEnter,
  kFoldersVisited,
  kListsWritten,
  kListsWouldBeWritten,
  kListsUnchanged,
  kListsKept,
  kListsRemoved,
  kListsWouldBeRemoved,
  kCombinedWritten,
  kCombinedWouldBeWritten,
  kCombinedUnchanged,
  kCombinedLeft,
  kPassedOver,
  kCatalogWritten,
  kCatalogWouldBeWritten,
  kCatalogKept,
  kCatalogFailed,
  kCatalogNotComplete,
  // Why a file was passed over. The scans name a reason by its English text; the summary
  // finds it here (reason_in) and says it in the reader's language.
  kReasonHeld,
  kReasonGone,
  kReasonTooLarge,
  kReasonNotReadable,
  kReasonNotRead,
  kReasonListHeld,
  kReasonListReadOnly,
  kReasonListNotWritten,
  kReasonAboveStart,
  kReasonNameUnlistable,
  kReasonDamagedMap,
  kReasonDamagedDirectory,
  kReasonOverBudget,
  kReasonChangedWhileRead,
  kMessageCount
};

// The message's text in the language, "{0}", "{1}", ... standing for what fills it in.
std::string_view message_text(Message message, Language language);
// The message with its places filled in from `fill`, in order.
std::string message(Message message, Language language,
                    std::initializer_list<std::string_view> fill = {});
// A reason as the scans give it to the report: its English text (a whole literal, so
// zero-terminated).
inline const char* english_reason(Message reason) {
  return message_text(reason, Language::kEnglish).data();
}
// A reason given in English, in the language; a reason the table does not know stays as
// it was given.
std::string reason_in(std::string_view english_reason, Language language);

// The language the POSIX locale variables ask for: the first of LC_ALL, LC_MESSAGES and
// LANG that is set and not empty decides; German when it begins with "de". Null for unset.
Language language_from_locale(const char* lc_all, const char* lc_messages, const char* lang);
// The language of a Windows user interface language identifier (a LANGID).
Language language_from_windows_ui(unsigned language_id);

}  // namespace mapsweep
