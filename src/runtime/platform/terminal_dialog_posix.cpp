// The message box on POSIX systems: the box's text on the terminal, a Yes/No question
// answered by typing. Without a terminal on standard input nobody could answer, and no
// box is shown.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/ascii_case.h"
#include "runtime/platform/os.h"
#include "runtime/platform/posix_calls.h"

namespace mapsweep::os {
namespace {

constexpr int kButtonOk = 1;
constexpr int kButtonYes = 6;
constexpr int kButtonNo = 7;
constexpr std::uint32_t kButtonSetMask = 0xF;
constexpr std::uint32_t kYesNoButtons = 4;
constexpr std::uint32_t kIconMask = 0xF0;
constexpr std::uint32_t kErrorIcon = 0x10;

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = retry_on_eintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Message texts break lines with LF CR (and CR LF); each pair, or a lone CR or LF, is one
// line break on the terminal. Other control bytes are shown as '?' so that a text can
// never send escape sequences to the terminal.
std::string terminal_text(std::string_view text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\r') {
      const char partner = c == '\n' ? '\r' : '\n';
      if (i + 1 < text.size() && text[i + 1] == partner) ++i;
      shown += '\n';
    } else if (c == '\t' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)) {
      shown += c;
    } else {
      shown += '?';
    }
  }
  return shown;
}

// One line typed on standard input, without its LF; nothing at end of input (or when
// the terminal is gone, which ends input just as well).
std::optional<std::string> read_answer_line() {
  std::string line;
  char c;
  for (;;) {
    const ssize_t n = retry_on_eintr([&] { return ::read(STDIN_FILENO, &c, 1); });
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') return line;
    line += c;
  }
}

std::string trimmed_lower(std::string_view text) {
  const auto is_blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return ascii::lower(text);
}

std::optional<int> button_for_answer(std::string_view answer) {
  const std::string word = trimmed_lower(answer);
  if (word == "y" || word == "yes" || word == "j" || word == "ja") return kButtonYes;
  if (word == "n" || word == "no" || word == "nein") return kButtonNo;
  return std::nullopt;
}

// Where a box goes: the terminal the person typing on standard input sits at, whatever
// standard output was sent to (a pipe, a log file). -1 when nobody is at a terminal.
int terminal_for_boxes() {
  if (::isatty(STDIN_FILENO) != 1) return -1;
  const int tty =
      retry_on_eintr([] { return ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC); });
  if (tty >= 0) return tty;
  // No controlling terminal to open: the error output, when it is the terminal.
  return ::isatty(STDERR_FILENO) == 1 ? ::dup(STDERR_FILENO) : -1;
}

class TerminalDialog final : public Dialog {
 public:
  int show(const std::string& text, const std::string& title, std::uint32_t style) override {
    // A box that reports a failure must be seen whoever started the run: it goes to the
    // error output, terminal or not.
    if ((style & kIconMask) == kErrorIcon) {
      write_all(STDERR_FILENO, terminal_text(title) + ": " + terminal_text(text) + "\n");
      return kButtonOk;
    }
    const int terminal = terminal_for_boxes();
    if (terminal < 0) return 0;  // nobody could answer
    const int button = show_on(terminal, text, title, style);
    ::close(terminal);
    return button;
  }

 private:
  static int show_on(int terminal, const std::string& text, const std::string& title,
                     std::uint32_t style) {
    write_all(terminal, terminal_text(title) + "\n\n" + terminal_text(text) + "\n");
    // Button sets other than Yes/No are shown as a plain notice answered with OK.
    if ((style & kButtonSetMask) != kYesNoButtons) return kButtonOk;
    for (;;) {
      write_all(terminal, "[y/n] ");
      const std::optional<std::string> line = read_answer_line();
      if (!line) return kButtonNo;
      if (const std::optional<int> button = button_for_answer(*line)) return *button;
    }
  }
};

}  // namespace

std::unique_ptr<Dialog> make_native_dialog() {
  return std::make_unique<TerminalDialog>();
}

}  // namespace mapsweep::os
