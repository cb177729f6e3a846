// UseUtf8ConsoleOutput: the console shows UTF-8 while the program runs and the
// user's code page again however the process ends. Each way out is taken by a
// child process (this test program, filtered to the child test) that shares
// our console. Needs a console: without one (output to a pipe) it is skipped;
// tools/ci_windows.sh runs it under a terminal as well.
#ifdef VRD_PLATFORM_WINDOWS

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <exception>
#include <string>

#include "consolecp.h"

namespace {

const char kChildMode[] = "VRD_CONSOLECP_CHILD";
const DWORD kNotSwitched = 100;

TEST(ConsoleCodePageChild, EndsTheWayItIsTold) {
  const char* mode = std::getenv(kChildMode);
  if (mode == nullptr) GTEST_SKIP() << "started by ConsoleCodePage.RestoredOnEveryWayOut";
  SetConsoleCtrlHandler(nullptr, FALSE);  // the parent ignores Ctrl+C, we must not
  UseUtf8ConsoleOutput();
  if (GetConsoleOutputCP() != CP_UTF8) _exit(kNotSwitched);
  const std::string how = mode;
  if (how == "exit") std::exit(4);
  if (how == "terminate") std::terminate();
  if (how == "ctrl+c") {
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    Sleep(10000);
  }
  // "return": main returns after this test.
}

DWORD RunChild(const char* mode) {
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  std::string command = std::string("\"") + self + "\" --gtest_filter=ConsoleCodePageChild.*";
  SetEnvironmentVariableA(kChildMode, mode);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;  // its messages stay off our console
  start.hStdInput = start.hStdOutput = start.hStdError = nul;
  PROCESS_INFORMATION child = {};
  DWORD status = ~0u;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                     &child)) {
    WaitForSingleObject(child.hProcess, 30000);
    GetExitCodeProcess(child.hProcess, &status);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
  }
  CloseHandle(nul);
  SetEnvironmentVariableA(kChildMode, nullptr);
  return status;
}

TEST(ConsoleCodePage, RestoredOnEveryWayOut) {
  const UINT original = GetConsoleOutputCP();
  if (original == 0) GTEST_SKIP() << "no console";
  const UINT users = 850;                // not what the program switches to
  SetConsoleCtrlHandler(nullptr, TRUE);  // the child's Ctrl+C reaches us too
  for (const char* mode : {"return", "exit", "terminate", "ctrl+c"}) {
    ASSERT_TRUE(SetConsoleOutputCP(users));
    const DWORD status = RunChild(mode);
    EXPECT_NE(status, kNotSwitched) << mode << ": the console was not switched to UTF-8";
    EXPECT_NE(status, ~0u) << mode << ": the child did not run";
    EXPECT_EQ(GetConsoleOutputCP(), users) << mode;
  }
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleOutputCP(original);
}

}  // namespace

#endif  // VRD_PLATFORM_WINDOWS
