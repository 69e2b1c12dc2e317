// The program group: its folder in the Start menu, and its group in the
// Program Manager, each removed on its own.
#include <string.h>

#include "settings/settings.h"
#include "uninstall/uninstall.h"

HDDEDATA CALLBACK IgnoreDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                    ULONG_PTR) {
  return 0;
}

// Through the shell's allocator: ILFree is exported by name only on the
// NT family, and an import the loader cannot find keeps the program from
// starting at all.
static void FreeItemList(LPITEMIDLIST list) {
  IMalloc *allocator = 0;
  if (SHGetMalloc(&allocator) != S_OK || !allocator) return;
  allocator->Free(list);
  allocator->Release();
}

// Deletes the plain files directly in the group folder, then the folder
// when that left it empty. Subfolders and read-only files stay.
static void RemoveGroupFolder(const char *group) {
  char programs[MAX_PATH];
  char groupFolder[MAX_PATH];
  char pattern[MAX_PATH];
  char entryPath[MAX_PATH];

  LPITEMIDLIST list = 0;
  programs[0] = '\0';
  SHGetSpecialFolderLocation(0, CSIDL_PROGRAMS, &list);
  if (list) {
    if (!SHGetPathFromIDList(list, programs)) programs[0] = '\0';
    FreeItemList(list);
  }
  // Without the Programs folder the group folder would be a rooted path.
  if (programs[0] == '\0') return;
  if (FormatText(groupFolder, sizeof groupFolder, "%s\\%s", programs, group) < 0) return;
  if (FormatText(pattern, sizeof pattern, "%s\\*.*", groupFolder) < 0) return;

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if (FormatText(entryPath, sizeof entryPath, "%s\\%s", groupFolder, found.cFileName) >= 0)
        DeleteFileA(entryPath);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(groupFolder);
}

static void DeleteProgramManagerGroup(const char *group) {
  DWORD instance = 0;
  if (DdeInitializeA(&instance, IgnoreDdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
    return;
  HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
  HSZ topic = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
  HCONV conversation = DdeConnect(instance, service, topic, 0);
  DdeFreeStringHandle(instance, service);
  DdeFreeStringHandle(instance, topic);

  char command[DDE_COMMAND_SIZE];
  int length = FormatText(command, sizeof command, "[DeleteGroup(%s)]", group);
  if (length >= 0) {
    HDDEDATA result = DdeClientTransaction((LPBYTE)command, (DWORD)length + 1, conversation, 0, 0,
                                           XTYP_EXECUTE, 5000, 0);
    DdeFreeDataHandle(result);
  }
  DdeDisconnect(conversation);
  DdeUninitialize(instance);
}

void RemoveProgramGroup(void) {
  char group[MAX_PATH];
  memset(group, 0, sizeof group);
  ReadTextSetting("", "Group", group, "", sizeof group);
  // A value that filled the buffer without a terminator is no name.
  if (group[0] == '\0' || group[sizeof group - 1] != '\0') return;

  // A name that climbs out of the Programs folder gets no folder steps.
  if (StaysInside(group)) RemoveGroupFolder(group);
  DeleteProgramManagerGroup(group);
}
