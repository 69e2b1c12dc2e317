// The Windows entry point. The argument string is derived here from the
// full command line rather than taken from the runtime, whose startup code
// parses quotes by rules of its own.
#include "app/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
  return UninstallerMain(instance, previous, ArgumentString(GetCommandLineA()),
                         showCommand);
}
