// The console's output code page while the program runs. The Windows program
// works in UTF-8 (its manifest makes that the process code page), so the
// console must show UTF-8 too, or file names outside the ANSI code page come
// out garbled. The console belongs to the user's shell as well, so its code
// page is put back however the process ends.
#ifndef VRDSKINCFG_CONSOLECP_H
#define VRDSKINCFG_CONSOLECP_H

// Switches an attached console to UTF-8 output until the process ends;
// nothing happens without a console, and on POSIX systems.
void UseUtf8ConsoleOutput();

#endif
