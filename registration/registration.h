// Register mode: what the installer runs to make the product known.
#ifndef ZELK_REGISTRATION_H
#define ZELK_REGISTRATION_H

// The group text is everything after the keyword "register", unchanged.
void RegisterInstallation(const char *groupText);

#endif
