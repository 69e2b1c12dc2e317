// A GUI program that does nothing but load user32 and call it once: the
// floor for the start-up time of uninstall.exe. The call needs no display,
// as register mode needs none.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return IsCharAlphaA('a') ? 0 : 1; }
