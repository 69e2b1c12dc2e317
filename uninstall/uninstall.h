// Uninstall mode: removes the product and, last, this executable.
#ifndef ZELK_UNINSTALL_H
#define ZELK_UNINSTALL_H

void RunUninstall(void);

#endif
