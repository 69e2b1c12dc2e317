// The shell and DDE slice. Not written yet: only the reset and the census.
#include "platform/host/sim.h"

void SimResetShell() {}
int SimOpenShellHandles() { return 0; }
