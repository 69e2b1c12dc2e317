// hold_file PATH [SECONDS] [MARKER]: opens PATH without delete sharing and
// keeps it open for SECONDS (default one hour) or until killed, so that no
// other process can delete the file meanwhile. Once the file is held it
// prints "held" and, when MARKER is given, creates that file, for the
// caller to wait on.
#include <windows.h>

static void Say(const char *text) {
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, lstrlenA(text), &written, 0);
}

static DWORD ParseSeconds(const char *text) {
  DWORD value = 0;
  for (; *text >= '0' && *text <= '9'; text++) value = value * 10 + (DWORD)(*text - '0');
  return value;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    Say("usage: hold_file PATH [SECONDS] [MARKER]\n");
    return 2;
  }
  HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, 0);
  if (file == INVALID_HANDLE_VALUE) {
    Say("cannot open\n");
    return 1;
  }
  Say("held\n");
  if (argc > 3) {
    HANDLE marker = CreateFileA(argv[3], GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  }
  DWORD seconds = argc > 2 ? ParseSeconds(argv[2]) : 3600;
  Sleep(seconds * 1000);
  CloseHandle(file);
  return 0;
}
