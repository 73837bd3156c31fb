// The built mapsweep.exe as a user runs it: what it says goes to the handles it was given.
// The program is the mapsweep.exe in the build folder above this test.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <thread>

#include "entry/command_line.h"
#include "entry/text_delivery.h"

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

}  // namespace
}  // namespace mapsweep
