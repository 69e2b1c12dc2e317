// A GUI program that does nothing but load user32 and call it once: the
// floor for the start-up time of uninstall.exe.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return GetSystemMetrics(SM_CXSCREEN) < 0;
}
