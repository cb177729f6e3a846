// POSIX terminals take the bytes as they are; there is no code page to set.
#include "consolecp.h"

void UseUtf8ConsoleOutput() {}
