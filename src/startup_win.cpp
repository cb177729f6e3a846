// Process start on Windows: nothing to prepare. Standard input and output
// are the handles the process was given; a file the program opens never
// becomes one of them, and there is no file-size signal.
#include "startup.h"

bool PrepareProcess() { return true; }
