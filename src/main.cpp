// Process entry: one program object, one run, then close, report and wait.
#include <cstdio>

#include "SkinCfgProgram.h"
#include "consolecp.h"
#include "startup.h"

// The program object lives until the process ends; a global pointer keeps it
// reachable so leak checkers do not flag the intentional non-destruction.
static SkinCfgProgram* g_program = nullptr;

int main(int argc, char** argv) {
  if (!PrepareProcess()) return 1;
  UseUtf8ConsoleOutput();
  g_program = new SkinCfgProgram();
  bool ok = g_program->SkinCfg(argc, argv);
  if (!ok) g_program->DiscardChanges();  // a failed run never commits
  g_program->CloseZip();
  if (!ok) g_program->PrintMessage("Program aborted.\n");
  if (g_program->waitonexit) {
    g_program->PrintMessage("\nPress RETURN to Exit ");
    g_program->GetInput();
  }
  fflush(stdout);
  return ok ? 0 : 1;
}
