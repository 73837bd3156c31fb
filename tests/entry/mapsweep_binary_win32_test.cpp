// The built mapsweep.exe as a user runs it: what it says goes to the handles it was given,
// and its manifest makes the ANSI file functions take UTF-8, so that folders named in any
// script are reached. The program is the mapsweep.exe in the build folder above this test.
//
// A run ends with a message box unless it is quiet: under Wine without a display (as in
// CI) it answers at once, on a desktop it waits to be closed.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "entry/command_line.h"
#include "entry/text_delivery.h"
#include "tools/map_archive_writer.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;

fs::path program_path() {
  std::wstring self(MAX_PATH, L'\0');
  DWORD length = 0;
  while ((length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()))) ==
         self.size()) {
    self.resize(self.size() * 2);
  }
  self.resize(length);
  return fs::path(self).parent_path().parent_path() / L"mapsweep.exe";
}

std::string read_pipe(HANDLE pipe) {
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

struct Outcome {
  DWORD exit_code = 0xFFFFFFFF;
  std::string out;
  std::string err;
};

// Runs the program with these arguments and its output and error output going into pipes.
Outcome run_program(const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out_read = nullptr, out_write = nullptr, err_read = nullptr, err_write = nullptr;
  if (!CreatePipe(&out_read, &out_write, &inheritable, 0) ||
      !CreatePipe(&err_read, &err_write, &inheritable, 0)) {
    ADD_FAILURE() << "no pipe";
    return {};
  }
  // Only the child's ends are inherited, or the reads below would never see the end.
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);

  const fs::path program = program_path();
  std::wstring command_line = L"\"" + program.native() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION started{};
  const BOOL ok = CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, nullptr, &startup, &started);
  CloseHandle(out_write);
  CloseHandle(err_write);
  Outcome outcome;
  if (ok) {
    std::thread err_reader([&] { outcome.err = read_pipe(err_read); });
    outcome.out = read_pipe(out_read);
    err_reader.join();
    EXPECT_EQ(WaitForSingleObject(started.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(started.hProcess, &outcome.exit_code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  } else {
    ADD_FAILURE() << "cannot start " << program.string() << " (error " << GetLastError() << ")";
  }
  CloseHandle(out_read);
  CloseHandle(err_read);
  return outcome;
}

// A fresh folder named with UTF-16, removed at the end; the test's own ANSI code page may
// not hold the names it is about.
class WideTree {
 public:
  WideTree() {
    static std::atomic<unsigned> counter{0};
    root_ =
        fs::temp_directory_path() / (L"mapsweep-names-" + std::to_wstring(GetCurrentProcessId()) +
                                     L"-" + std::to_wstring(counter++));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  ~WideTree() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  const fs::path& root() const { return root_; }
  void write_file(const fs::path& relative, const std::string& bytes) const {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative, std::ios::binary) << bytes;
  }
  std::string read_file(const fs::path& relative) const {
    std::ifstream in(root_ / relative, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  fs::path root_;
};

std::string map_bytes(const std::string& title) {
  return tools::map_data(40000, 100, tools::world_entity_text({title, {}, tools::LineEnd::kLf}));
}

TEST(MapsweepExe, HelpVersionAndUsageErrorsGoToTheHandlesItWasGiven) {
  const Outcome help = run_program(L"--help");
  EXPECT_EQ(help.exit_code, 0u);
  EXPECT_EQ(help.out, with_crlf(usage_text()));
  EXPECT_EQ(help.err, "");
  const Outcome version = run_program(L"--version");
  EXPECT_EQ(version.exit_code, 0u);
  EXPECT_EQ(version.out, with_crlf(version_text()));
  const Outcome unknown = run_program(L"--frobnicate");
  EXPECT_EQ(unknown.exit_code, 2u);
  EXPECT_EQ(unknown.out, "");
  EXPECT_EQ(unknown.err.rfind("mapsweep: unknown option '--frobnicate'\r\n", 0), 0u) << unknown.err;
}

TEST(MapsweepExe, FolderNamesOutsideTheAnsiCodePageAreReached) {
  // Greek and Japanese letters: two- and three-byte UTF-8, in no Western ANSI code page.
  WideTree tree;
  const fs::path base = L"\u03b2\u03ac\u03c3\u03b7";
  tree.write_file(base / L"\u03c7\u03ac\u03c1\u03c4\u03b5\u03c2" / L"maps" / L"e1m1.bsp",
                  map_bytes("Lost Castle"));
  tree.write_file(base / L"\u5730\u56f3" / L"maps" / L"dm1.bsp", map_bytes("Iron Arena"));

  // Quiet: no closing box. Under Wine the first window a prefix shows starts its desktop
  // process, which inherits this run's pipes and would keep them open past its end.
  const Outcome run =
      run_program(L"--yes --quiet \"" + (tree.root() / base).native() + L"\"");
  EXPECT_EQ(run.exit_code, 0u) << run.err;
  EXPECT_EQ(tree.read_file(base / L"\u03c7\u03ac\u03c1\u03c4\u03b5\u03c2" / L"maps.lst"),
            "e1m1 \"Lost Castle\"\r\n");
  EXPECT_EQ(tree.read_file(base / L"\u5730\u56f3" / L"maps.lst"), "dm1 \"Iron Arena\"\r\n");
  const std::string combined = tree.read_file(base / L"maps.lst");
  EXPECT_NE(combined.find("e1m1 \"Lost Castle\"\r\n"), std::string::npos) << combined;
  EXPECT_NE(combined.find("dm1 \"Iron Arena\"\r\n"), std::string::npos) << combined;
}

TEST(MapsweepExe, ItsManifestAsksForUtf8NamesAndLongPaths) {
  const HMODULE image = LoadLibraryExW(program_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(image, nullptr);
  const HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(found, nullptr) << "no application manifest in mapsweep.exe";
  const auto* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
  const std::string manifest(bytes, SizeofResource(image, found));
  FreeLibrary(image);
  // Windows ignores a setting in the wrong namespace without a word: the whole element.
  EXPECT_NE(manifest.find("<activeCodePage "
                          "xmlns=\"http://schemas.microsoft.com/SMI/2019/WindowsSettings\">UTF-8<"),
            std::string::npos);
  EXPECT_NE(manifest.find("<longPathAware "
                          "xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true<"),
            std::string::npos);
  EXPECT_NE(manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"),
            std::string::npos)
      << "the manifest must name Windows 10 and later as supported";
}

}  // namespace
}  // namespace mapsweep
