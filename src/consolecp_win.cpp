// UTF-8 console output on Windows, with the console's own code page put back
// on every way out: return from main and exit() (atexit); Ctrl+C, Ctrl+Break
// and closing the window (control handler); abort(), which std::terminate
// and so an uncaught exception end in (SIGABRT). A process killed from
// outside cannot put anything back.
#include "consolecp.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>

namespace {

volatile UINT g_savedcp = 0;  // 0: nothing to put back

void RestoreCodePage() {
  if (g_savedcp != 0) SetConsoleOutputCP(g_savedcp);
}

extern "C" void RestoreAtExit() { RestoreCodePage(); }

BOOL WINAPI RestoreOnControlEvent(DWORD /*event*/) {
  RestoreCodePage();
  // Not handled: the other handlers and the default one still run.
  return FALSE;
}

extern "C" void RestoreOnAbort(int sig) {
  RestoreCodePage();
  // abort() goes on to end the process once the handler returns.
  signal(sig, SIG_DFL);
}

}  // namespace

void UseUtf8ConsoleOutput() {
  UINT current = GetConsoleOutputCP();  // 0 when the process has no console
  if (current == 0 || current == CP_UTF8 || g_savedcp != 0) return;
  if (!SetConsoleOutputCP(CP_UTF8)) return;
  g_savedcp = current;
  atexit(RestoreAtExit);
  SetConsoleCtrlHandler(RestoreOnControlEvent, TRUE);
  signal(SIGABRT, RestoreOnAbort);
}
