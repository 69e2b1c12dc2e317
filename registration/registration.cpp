#include "registration/registration.h"

#include <string.h>

#include "platform/platform.h"
#include "settings/settings.h"

namespace {

const char UNINSTALL_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZELK manager";
const char DISPLAY_NAME[] = "ZELK file manager";
const char MARKER_NAME[] = "$UseBat.$$$";
const char SCRIPT_NAME[] = "Zelk.bat";
const char PROGRAM_NAME[] = "Zelk.exe";

// The module path whole, or nothing: a path the buffer cut short would
// name another file.
int QueryModulePath(char path[MAX_PATH]) {
  DWORD length = GetModuleFileNameA(0, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    path[0] = '\0';
    return 0;
  }
  path[length] = '\0';
  return 1;
}

// A failed version query counts as the NT family, which writes nothing
// into the program directory.
int IsWindows95Family(void) {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return 0;
  return version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// The quoted program path in the command processor's OEM code page, when
// it survives the conversion.
int ConvertedLine(const char *directory, char *line, int size) {
  char ansi[MAX_PATH + 2];
  char back[MAX_PATH + 2];
  if (FormatText(ansi, MAX_PATH, "%s\\%s", directory, PROGRAM_NAME) < 0) return 0;
  QuoteForScript(ansi);
  DWORD length = (DWORD)strlen(ansi);
  if ((int)length >= size) return 0;
  CharToOemBuffA(ansi, line, length);
  line[length] = '\0';
  OemToCharBuffA(line, back, length);
  return memcmp(back, ansi, length) == 0;
}

// The launcher line: the program's quoted path, converted for the command
// processor. A directory whose name the OEM page cannot carry is named by
// its short form, which it can.
int ComposeLauncherLine(const char *directory, char *line, int size) {
  if (ConvertedLine(directory, line, size)) return 1;
  char shortDirectory[MAX_PATH];
  DWORD length = GetShortPathNameA(directory, shortDirectory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  return ConvertedLine(shortDirectory, line, size);
}

}  // namespace

void RegisterInstallation(const char *groupText) {
  WriteLauncherScript();
  WriteUninstallEntry(groupText);
  SeedHighlightGroups();
}

void WriteLauncherScript(void) {
  char path[MAX_PATH];
  if (!QueryModulePath(path)) return;
  char *slash = strrchr(path, '\\');
  if (!slash) return;
  if (!IsWindows95Family()) return;

  // Every name must fit whole before anything is written: the marker is the
  // longest, the quoted program path two characters short of it.
  size_t directoryLength = (size_t)(slash - path) + 1;
  if (directoryLength + sizeof MARKER_NAME > MAX_PATH ||
      directoryLength + sizeof PROGRAM_NAME + 2 > MAX_PATH)
    return;
  char directory[MAX_PATH];
  memcpy(directory, path, directoryLength - 1);
  directory[directoryLength - 1] = '\0';

  char name[MAX_PATH];
  FormatText(name, MAX_PATH, "%s\\%s", directory, MARKER_NAME);
  FileStream *marker = OpenStream(name, "wb");
  if (!marker) return;
  CloseStream(marker);

  FormatText(name, MAX_PATH, "%s\\%s", directory, SCRIPT_NAME);
  if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES) return;  // never overwritten

  char line[MAX_PATH + 2];
  if (!ComposeLauncherLine(directory, line, sizeof line)) return;
  char text[MAX_PATH + 4];
  int length = FormatText(text, sizeof text, "%s\r\n", line);
  if (length < 0) return;
  FileStream *script = OpenStream(name, "wb");
  if (!script) return;
  size_t written = WriteStream(text, (size_t)length, script);
  CloseStream(script);
  // A launcher script is never rewritten once it exists, so one cut short
  // would stay broken for good: take it away and let the next run retry.
  if (written != (size_t)length) DeleteFileA(name);
}

char *QuoteForScript(char *path) {
  if (path[0] != '-' && path[0] != '^' && !strchr(path, ' ') && !strchr(path, '&')) return path;
  char quoted[8192];
  int length = FormatText(quoted, sizeof quoted, "\"%s\"", path);
  if (length >= 0) memcpy(path, quoted, (size_t)length + 1);
  return path;
}

void WriteUninstallEntry(const char *groupText) {
  char path[MAX_PATH];
  int havePath = QueryModulePath(path);

  HKEY key;
  DWORD disposition;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, 0, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, 0, &key, &disposition) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE *)DISPLAY_NAME, sizeof DISPLAY_NAME);
  // Quoted when it holds a blank: unquoted, the system would try
  // "C:\Program.exe" first for "C:\Program Files\...".
  char command[MAX_PATH + 2];
  const char *format = strchr(path, ' ') ? "\"%s\"" : "%s";
  if (havePath && FormatText(command, sizeof command, format, path) >= 0)
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE *)command,
                   (DWORD)strlen(command) + 1);
  RegCloseKey(key);

  while (*groupText == ' ') groupText++;
  WriteTextSetting("", "Group", groupText);
}
