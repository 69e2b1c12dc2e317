// The Windows entry point. The argument string is derived here from the
// full command line rather than taken from the runtime, whose startup code
// parses quotes by rules of its own.
#include "app/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int showCommand) {
  return UninstallerMain(instance, previous, ArgumentString(GetCommandLineA()), showCommand);
}

// The process starts here, without mingw's start-up code: msvcrt sets
// itself up when it loads, the program has no constructors to run, and
// leaving that code out keeps the executable small.
extern "C" void WinMainCRTStartup(void) {
  ExitProcess((UINT)WinMain(GetModuleHandleA(0), 0, GetCommandLineA(), SW_SHOWDEFAULT));
}
