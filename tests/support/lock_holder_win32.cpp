// The Windows lock holder: the test program starts itself again in "hold this file" mode.
// The child opens the file with share mode 0, so every other open of it fails with a
// sharing violation, reports on its standard output and then waits on its standard input;
// the parent ends it by its process handle, and a parent that dies closes the child's
// input, which ends the child too, so no test run can leave a holder behind.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "support/lock_holder.h"

namespace mapsweep::testing {
namespace {

constexpr char kHoldVariable[] = "MAPSWEEP_LOCK_HOLDER_FILE";
constexpr char kLocked = 'L';
constexpr char kFailed = 'F';

[[noreturn]] void hold_file(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    file =
        CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  const char report = file != INVALID_HANDLE_VALUE ? kLocked : kFailed;
  DWORD moved = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), &report, 1, &moved, nullptr);
  char ignored;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &ignored, 1, &moved, nullptr) && moved != 0) {
  }
  ExitProcess(0);
}

// Runs before main in every test program that uses LockHolder: in the child, holding the
// file is all the program does, and the tests never start.
const bool kHoldMode = [] {
  char path[MAX_PATH * 2];
  const DWORD length = GetEnvironmentVariableA(kHoldVariable, path, sizeof path);
  if (length > 0 && length < sizeof path) hold_file(path);
  return false;
}();

HANDLE to_handle(std::intptr_t h) {
  return reinterpret_cast<HANDLE>(h);
}

void close_if_open(HANDLE& h) {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  h = nullptr;
}

}  // namespace

// Ends the child and waits for it, so the file is free again when this returns.
void LockHolder::release(Child& child) {
  if (child.release != -1) CloseHandle(to_handle(child.release));
  child.release = -1;
  if (child.process == -1) return;
  TerminateProcess(to_handle(child.process), 0);
  WaitForSingleObject(to_handle(child.process), INFINITE);
  CloseHandle(to_handle(child.process));
  child.process = -1;
}

bool LockHolder::start(Child& child, const std::string& absolute_path) {
  (void)kHoldMode;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE report_read = nullptr, report_write = nullptr;
  HANDLE release_read = nullptr, release_write = nullptr;
  if (!CreatePipe(&report_read, &report_write, &inheritable, 0)) {
    throw std::runtime_error("lock holder: no pipe");
  }
  if (!CreatePipe(&release_read, &release_write, &inheritable, 0)) {
    close_if_open(report_read);
    close_if_open(report_write);
    throw std::runtime_error("lock holder: no pipe");
  }
  // Only the child's ends are inherited.
  SetHandleInformation(report_read, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(release_write, HANDLE_FLAG_INHERIT, 0);

  char program[MAX_PATH * 2];
  const DWORD program_length = GetModuleFileNameA(nullptr, program, sizeof program);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = release_read;
  startup.hStdOutput = report_write;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  std::string command_line = std::string("\"") + program + "\"";
  // The child works in the program's folder, not in the caller's current directory (often
  // a test's tree): a process's current directory cannot be removed, and under Wine the
  // tree stayed behind even with the child ended and waited for.
  const std::string program_path(program, std::min<std::size_t>(program_length, sizeof program));
  const std::string folder = program_path.substr(0, program_path.rfind('\\'));

  // The child learns its file from its environment, which it inherits from here.
  SetEnvironmentVariableA(kHoldVariable, absolute_path.c_str());
  const BOOL ok = program_length > 0 && program_length < sizeof program &&
                  CreateProcessA(program, command_line.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW, nullptr, folder.c_str(), &startup, &started);
  SetEnvironmentVariableA(kHoldVariable, nullptr);
  close_if_open(report_write);
  close_if_open(release_read);

  char answer = kFailed;
  DWORD got = 0;
  if (ok) {
    CloseHandle(started.hThread);
    child.process = reinterpret_cast<std::intptr_t>(started.hProcess);
    child.release = reinterpret_cast<std::intptr_t>(release_write);
    ReadFile(report_read, &answer, 1, &got, nullptr);
  } else {
    close_if_open(release_write);
  }
  close_if_open(report_read);
  return got == 1 && answer == kLocked;
}

}  // namespace mapsweep::testing
