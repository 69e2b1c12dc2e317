#include "uninstall/uninstall.h"

// Not written yet: uninstall mode does nothing so far.
void RunUninstall(void) {}
