#include "registration/registration.h"

// Not written yet: register mode does nothing so far.
void RegisterInstallation(const char *) {}
