// The registry slice. Not written yet: only the reset and the census.
#include "platform/host/sim.h"

void SimResetRegistry() {}
int SimOpenRegistryHandles() { return 0; }
