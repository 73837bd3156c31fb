// Where the Windows program puts what its command line has to say (help, version, usage
// errors, what a run reports on its error output). The program has no console of its own:
// a text goes to the standard handle it was given (a console, file or pipe), else to the
// console of the program that started it, else into a message box as before.
#pragma once

#include <string>

namespace mapsweep {

// The ways out, as the system offers them; the Windows entry implements them, tests fake
// them.
class TextSinks {
 public:
  enum class Stream { kOut, kErr };
  virtual ~TextSinks() = default;
  // Writes the whole text to the stream's standard handle; false when the process was given
  // none or the write fails.
  virtual bool write_standard(Stream stream, const std::string& text) = 0;
  // Attaches the process to the console of the one that started it; false when it has none.
  virtual bool attach_parent_console() = 0;
  // Writes the whole text to the attached console; false when that fails.
  virtual bool write_console(const std::string& text) = 0;
  virtual void show_box(const std::string& text, bool error) = 0;
};

// Delivers `out`, then `err`, each the first way that works. An empty text goes nowhere;
// the console is attached at most once, and only for a text that has no standard handle.
void deliver_texts(const std::string& out, const std::string& err, TextSinks& sinks);

// The text with each line ending in CR LF, as Windows programs write files and pipes; a CR
// LF already there stays as it is.
std::string with_crlf(const std::string& text);

}  // namespace mapsweep
