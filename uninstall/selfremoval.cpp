// The batch script that removes this executable and the program directory
// once this process has ended, and its launch.
#include <string.h>

#include "uninstall/uninstall.h"

enum { ESCAPED_PATH_SIZE = 2 * MAX_PATH };

// 1 when the path survives the way to the OEM code page and back.
static int ConvertToOem(const char *path, char *oem) {
  char back[MAX_PATH];
  DWORD length = (DWORD)strlen(path);
  if (length >= MAX_PATH) return 0;
  CharToOemBuffA(path, oem, length);
  oem[length] = '\0';
  OemToCharBuffA(oem, back, length);
  return memcmp(back, path, length) == 0;
}

// The command processor reads the script in the OEM code page and expands
// "%": each path is written so that it reaches the command processor as
// the same name. A character that has no OEM form would come out as "?", a
// wildcard for "del", so such a path is written in its short form instead.
static int ScriptForm(const char *path, char *escaped) {
  char oem[MAX_PATH];
  if (!ConvertToOem(path, oem)) {
    char shortPath[MAX_PATH];
    DWORD length = GetShortPathNameA(path, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath) return 0;
    if (!ConvertToOem(shortPath, oem)) return 0;
  }
  int out = 0;
  for (const char *p = oem; *p; p++) {
    escaped[out++] = *p;
    if (*p == '%') escaped[out++] = '%';
  }
  escaped[out] = '\0';
  return 1;
}

// The script does not exist yet, so its short form is that of the
// temporary directory followed by the script's own (ASCII) name.
static int ScriptPathForm(const char *tempDirectory, char *escaped) {
  char oem[MAX_PATH];
  char shortPath[MAX_PATH];
  const char *directory = tempDirectory;
  if (!ConvertToOem(tempDirectory, oem)) {
    DWORD length = GetShortPathNameA(tempDirectory, shortPath, sizeof shortPath);
    if (length == 0 || length >= sizeof shortPath) return 0;
    directory = shortPath;
  }
  char path[MAX_PATH];
  const char *separator = directory[0] && directory[strlen(directory) - 1] == '\\' ? "" : "\\";
  if (FormatText(path, sizeof path, "%s%s%s", directory, separator, SCRIPT_FILE_NAME) < 0)
    return 0;
  return ScriptForm(path, escaped);
}

static int WritePiece(FileStream *script, const char *piece, int length) {
  return length >= 0 && WriteStream(piece, (size_t)length, script) == (size_t)length;
}

int WriteSelfRemovalScript(const char *modulePath, char *scriptPath) {
  char tempDirectory[MAX_PATH];
  char directory[MAX_PATH];
  char module[ESCAPED_PATH_SIZE];
  char folder[ESCAPED_PATH_SIZE];
  char self[ESCAPED_PATH_SIZE];
  char piece[SCRIPT_PIECE_SIZE];

  DWORD length = GetTempPathA(sizeof tempDirectory, tempDirectory);
  if (length == 0 || length >= sizeof tempDirectory) return 0;
  if (FormatText(scriptPath, MAX_PATH, "%s%s", tempDirectory, SCRIPT_FILE_NAME) < 0) return 0;
  if (!ScriptForm(modulePath, module) || !ScriptPathForm(tempDirectory, self)) return 0;

  FileStream *script = OpenStream(scriptPath, "wb");
  if (!script) return 0;

  int written = WritePiece(script, piece,
                           FormatText(piece, sizeof piece, "\"%s\" wait\r\n", module));
  length = GetCurrentDirectoryA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory || !ScriptForm(directory, folder)) written = 0;
  if (written) {
    int pieceLength = FormatText(piece, sizeof piece,
                                 "del \"%s\"\r\nrd \"%s\"\r\nif not exist \"%s\" goto done\r\n",
                                 module, folder, module);
    for (int attempt = 0; attempt < 5 && written; attempt++)
      written = WritePiece(script, piece, pieceLength);
  }
  if (written)
    written = WritePiece(script, piece,
                         FormatText(piece, sizeof piece,
                                    ":done\r\nif exist \"%s\" \"%s\" Warning\r\ndel \"%s\"",
                                    module, module, self));
  CloseStream(script);
  // A script cut short would not run as written: better none at all.
  if (!written) {
    DeleteFileA(scriptPath);
    return 0;
  }
  return 1;
}

void LaunchSelfRemovalScript(const char *scriptPath) {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  int windows95 = version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;

  char processor[MAX_PATH];
  processor[0] = '\0';
  // A value too long for the buffer leaves it unusable: treat it as unset.
  if (GetEnvironmentVariableA("COMSPEC", processor, sizeof processor) >= sizeof processor)
    processor[0] = '\0';

  char commandLine[COMMAND_LINE_SIZE];
  int fits = FormatText(commandLine, sizeof commandLine, "%s /c \"%s\"", processor, scriptPath) >= 0;

  STARTUPINFOA startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  memset(&process, 0, sizeof process);
  startup.cb = sizeof startup;
  HANDLE nul = INVALID_HANDLE_VALUE;
  if (windows95) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ, 0, CREATE_ALWAYS, 0, 0);
    startup.hStdInput = nul;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
  } else {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }

  // The command processor starts in the parent, so that the program
  // directory is nobody's current directory and can be removed.
  SetCurrentDirectoryA("..");
  if (fits)
    CreateProcessA(0, commandLine, 0, 0, TRUE, windows95 ? DETACHED_PROCESS : 0, 0, 0, &startup,
                   &process);
  if (windows95 && nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  ExitProcess(0);
}
