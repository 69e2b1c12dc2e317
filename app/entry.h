// The program's entry: picks the one mode that the command line asks for.
#ifndef ZELK_ENTRY_H
#define ZELK_ENTRY_H

#include "platform/platform.h"

// What follows the program name and the blanks and tabs after it.
const char *ArgumentString(const char *commandLine);

// Case-insensitive for the ASCII letters only: bytes above 127 equal only
// themselves, whatever the code page makes of them.
int EqualsKeyword(const char *text, const char *keyword);
int StartsWithKeyword(const char *text, const char *keyword);

enum Mode { MODE_REGISTER, MODE_WARNING, MODE_WAIT, MODE_UNINSTALL };

// The first keyword that matches wins; anything else, the empty argument
// string included, uninstalls.
Mode SelectMode(const char *arguments);

int UninstallerMain(HINSTANCE instance, HINSTANCE previous, const char *arguments,
                    int showCommand);

#endif
