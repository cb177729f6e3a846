// UTF-8 console output on Windows, with the console's own code page put back
// on every way out: return from main and exit() (atexit), Ctrl+C, Ctrl+Break
// and closing the window (control handler), and std::terminate, which an
// uncaught exception ends in. A process killed from outside cannot restore
// anything.
#include "consolecp.h"

#include <windows.h>

#include <cstdlib>
#include <exception>

namespace {

UINT g_savedcp = 0;  // 0: nothing to put back
std::terminate_handler g_nextterminate = nullptr;

void RestoreCodePage() {
  if (g_savedcp != 0) SetConsoleOutputCP(g_savedcp);
}

extern "C" void RestoreAtExit() { RestoreCodePage(); }

BOOL WINAPI RestoreOnControlEvent(DWORD /*event*/) {
  RestoreCodePage();
  // Not handled: the other handlers and the default one still run.
  return FALSE;
}

[[noreturn]] void RestoreOnTerminate() {
  RestoreCodePage();
  if (g_nextterminate != nullptr) g_nextterminate();
  std::abort();
}

}  // namespace

void UseUtf8ConsoleOutput() {
  UINT current = GetConsoleOutputCP();  // 0 when the process has no console
  if (current == 0 || current == CP_UTF8 || g_savedcp != 0) return;
  if (!SetConsoleOutputCP(CP_UTF8)) return;
  g_savedcp = current;
  atexit(RestoreAtExit);
  SetConsoleCtrlHandler(RestoreOnControlEvent, TRUE);
  g_nextterminate = std::set_terminate(RestoreOnTerminate);
}
