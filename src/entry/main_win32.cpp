// The Windows entry: a GUI program with no console of its own, so the command tail is
// taken from GetCommandLineA. What the command line has to say (help, version, a usage
// error, a folder that cannot be entered, what a run reports) goes to the standard handles
// the program was given, else to the console it was started from, else into message boxes.
#include <windows.h>

#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "app/messages.h"
#include "entry/command_line.h"
#include "entry/command_tail.h"
#include "entry/status_line.h"
#include "entry/text_delivery.h"
#include "runtime/message_box.h"

namespace {

// Calls `write(done, written)` until all `count` units are written; false when a call
// fails or writes nothing.
template <class Write>
bool write_whole(std::size_t count, Write write) {
  for (std::size_t done = 0; done < count;) {
    DWORD written = 0;
    if (!write(done, written) || written == 0) return false;
    done += written;
  }
  return true;
}

// A console takes UTF-16: the text's bytes are in the ANSI code page (UTF-8 where the
// manifest is honoured), whatever code page the console shows.
bool write_console_text(HANDLE console, const std::string& text) {
  const int length = static_cast<int>(text.size());
  std::wstring wide(MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), static_cast<int>(wide.size()));
  return write_whole(wide.size(), [&](std::size_t done, DWORD& written) {
    return WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(wide.size() - done),
                         &written, nullptr) != 0;
  });
}

// A file or pipe takes the bytes with CR LF line ends.
bool write_file_text(HANDLE file, const std::string& text) {
  const std::string bytes = mapsweep::with_crlf(text);
  return write_whole(bytes.size(), [&](std::size_t done, DWORD& written) {
    return WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                     nullptr) != 0;
  });
}

// The console the process is attached to, for writing; INVALID_HANDLE_VALUE without one.
HANDLE open_console_output() {
  return CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// The status line goes straight to the console, as the run goes on.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    write_console_text(console_, std::string(text, static_cast<std::size_t>(count)));
    return count;
  }
  int overflow(int c) override {
    if (c != traits_type::eof()) write_console_text(console_, std::string(1, static_cast<char>(c)));
    return c;
  }

 private:
  HANDLE console_;
};

class Win32TextSinks final : public mapsweep::TextSinks {
 public:
  explicit Win32TextSinks(mapsweep::os::Dialog& dialog) : dialog_(dialog) {}

  bool write_standard(Stream stream, const std::string& text) override {
    const HANDLE handle =
        GetStdHandle(stream == Stream::kOut ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) return write_console_text(handle, text);
    // A handle left over from a console the process is not attached to names nothing.
    if (GetFileType(handle) == FILE_TYPE_UNKNOWN) return false;
    return write_file_text(handle, text);
  }

  bool attach_parent_console() override {
    // Denied: the process has a console already, which is as good.
    return AttachConsole(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED;
  }

  bool write_console(const std::string& text) override {
    const HANDLE console = open_console_output();
    if (console == INVALID_HANDLE_VALUE) return false;
    const bool written = write_console_text(console, text);
    CloseHandle(console);
    return written;
  }

  void show_box(const std::string& text, bool error) override {
    dialog_.show(text, mapsweep::kDefaultCaption,
                 mapsweep::kStyleOk | (error ? mapsweep::kStyleErrorIcon : 0));
  }

 private:
  mapsweep::os::Dialog& dialog_;
};

// The console's width in columns, for the status line; 0 when it cannot be told.
std::size_t console_columns(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return 0;
  return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const char* command_line = GetCommandLineA();
  const std::string tail = mapsweep::command_tail(command_line ? command_line : "");
  const mapsweep::CommandLine command =
      mapsweep::parse_command_line(mapsweep::split_command_tail(tail));

  auto os = mapsweep::os::make_native_os();
  auto dialog = mapsweep::os::make_native_dialog();
  std::ostringstream out;
  std::ostringstream err;
  // A run's summary is for a person at a console: the one the error output goes to, or the
  // one the program was started from. A program started from the desktop has neither.
  mapsweep::Console console;
  console.language = mapsweep::language_from_windows_ui(GetUserDefaultUILanguage());
  const HANDLE error_output = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  console.err_is_terminal = error_output != nullptr && error_output != INVALID_HANDLE_VALUE
                                ? GetConsoleMode(error_output, &mode) != 0
                                : AttachConsole(ATTACH_PARENT_PROCESS) != 0;
  // On a console the run's progress shows as it goes.
  const HANDLE status_console =
      console.err_is_terminal ? open_console_output() : INVALID_HANDLE_VALUE;
  ConsoleBuffer status_buffer(status_console);
  std::ostream status_stream(&status_buffer);
  mapsweep::StatusLine status_line(status_stream, std::chrono::steady_clock::now,
                                   [&] { return console_columns(status_console); });
  if (status_console != INVALID_HANDLE_VALUE) console.progress = &status_line;
  const int code = mapsweep::run_command_line(command, *os, *dialog, out, err, console);
  if (status_console != INVALID_HANDLE_VALUE) CloseHandle(status_console);

  Win32TextSinks sinks(*dialog);
  mapsweep::deliver_texts(out.str(), err.str(), sinks);
  return code;
}
