// Uninstall mode: removes the product and, last, this executable.
#ifndef ZELK_UNINSTALL_H
#define ZELK_UNINSTALL_H

#include "platform/platform.h"

enum {
  LIST_LINE_SIZE = 520,      // one read of a list-file line
  // Reads of the list whose deletion is remembered across passes; entries
  // on later lines are tried in every pass.
  DELETED_TABLE_LINES = 65536,
  DDE_COMMAND_SIZE = 512,
  COMMAND_LINE_SIZE = 512,
  SCRIPT_PIECE_SIZE = 2048,  // one composed piece, paths with "%" doubled
};

#define LIST_FILE_NAME "Uninstall.lst"
#define SCRIPT_FILE_NAME "Uninstall.Zelk.Bat"
#define UNINSTALL_ENTRY_PATH "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZELK manager"

void RunUninstall(void);

// Deletes what the list names, pass after pass, until a pass deletes
// nothing. The list is open for reading at its start; it stays open.
void DeleteListedEntries(FileStream *list, const char *directoryPrefix);
// Cuts trailing blanks and control characters off a line, in place.
void TrimLineEnd(char *line);
// 1 when the relative path, as the system resolves it, stays below the
// directory it is appended to: no root, drive, UNC or ".." form.
int StaysInside(const char *relativePath);

// The Start-menu folder of the program group, and the Program Manager group.
void RemoveProgramGroup(void);
HDDEDATA CALLBACK IgnoreDdeCallback(UINT type, UINT format, HCONV conversation, HSZ text1,
                                    HSZ text2, HDDEDATA data, ULONG_PTR data1,
                                    ULONG_PTR data2);

// Writes the script that deletes this executable once it has ended; fills
// scriptPath (MAX_PATH characters). Returns 1, or 0 when there is no script.
int WriteSelfRemovalScript(const char *modulePath, char *scriptPath);
// Starts the script through the command processor and ends the process.
void LaunchSelfRemovalScript(const char *scriptPath);

#endif
