// Puts the process into a known state before the run opens or writes anything.
#ifndef VRDSKINCFG_STARTUP_H
#define VRDSKINCFG_STARTUP_H

// False when the process cannot be made safe to run; it should end at once.
bool PrepareProcess();

#endif
