#include "uninstall/uninstall.h"

#include <string.h>

#include "app/messages.h"
#include "settings/keytree.h"
#include "settings/settings.h"

static int IsSeparator(char c) { return c == '\\' || c == '/'; }

// The system trims trailing dots and blanks off a path component, so a
// component of nothing else can mean "..": refuse them all.
static int IsDotsAndBlanks(const char *start, const char *end) {
  if (start == end) return 0;
  for (const char *p = start; p < end; p++) {
    unsigned char c = (unsigned char)*p;
    if (c != '.' && c != ' ' && c >= 0x20) return 0;
  }
  return 1;
}

int StaysInside(const char *path) {
  if (IsSeparator(path[0])) return 0;  // rooted or UNC
  if (strchr(path, ':')) return 0;     // drive-qualified, or a device form
  const char *start = path;
  for (;;) {
    const char *end = start;
    while (*end && !IsSeparator(*end)) end++;
    if (IsDotsAndBlanks(start, end)) return 0;
    if (!*end) return 1;
    start = end + 1;
  }
}

void TrimLineEnd(char *line) {
  size_t length = strlen(line);
  while (length > 0) {
    unsigned char c = (unsigned char)line[length - 1];
    if (c > 0x20 && c != 0x7F) break;
    line[--length] = '\0';
  }
}

// The directory levels of the last entry that were found to be no links.
// A list names the entries of one directory together, so the next entry
// mostly has the same levels: reading them again for each entry made more
// calls than the deletions themselves. A deletion never changes the levels
// of the entry it deletes, so only something outside this process could;
// the levels are forgotten at each pass to keep that window short. A link
// that was there when the pass began is always found.
static char CheckedLevels[MAX_PATH];
static int CheckedLength;  // up to and including the separator after the last checked level

static void ForgetCheckedLevels(void) { CheckedLength = 0; }

// A directory on the way that is a junction or a symbolic link could lead
// the deletion out of the program directory.
static int PassesThroughLink(const char *fullPath, int prefixLength) {
  int same = 0;
  while (same < CheckedLength && fullPath[same] == CheckedLevels[same]) same++;
  char partial[MAX_PATH];
  int checkedUpTo = prefixLength;  // the levels before this are known plain
  int allPlain = 1;
  for (int i = prefixLength; fullPath[i]; i++) {
    if (!IsSeparator(fullPath[i])) continue;
    if (i >= same) {
      memcpy(partial, fullPath, (size_t)i);
      partial[i] = '\0';
      DWORD attributes = GetFileAttributesA(partial);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return 1;
      // A level that cannot be read now might become a link later.
      if (attributes == INVALID_FILE_ATTRIBUTES) allPlain = 0;
    }
    if (allPlain) checkedUpTo = i + 1;
  }
  memcpy(CheckedLevels, fullPath, (size_t)checkedUpTo);
  CheckedLength = checkedUpTo;
  return 0;
}

static int DeleteEntry(const char *directoryPrefix, const char *entry) {
  char fullPath[MAX_PATH];
  if (!StaysInside(entry)) return 0;
  if (FormatText(fullPath, sizeof fullPath, "%s%s", directoryPrefix, entry) < 0) return 0;
  if (PassesThroughLink(fullPath, (int)strlen(directoryPrefix))) return 0;

  DWORD attributes = GetFileAttributesA(fullPath);
  // Clearing the attributes of a link would change its target's.
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    SetFileAttributesA(fullPath, 0);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return RemoveDirectoryA(fullPath) ? 1 : 0;
  return DeleteFileA(fullPath) ? 1 : 0;
}

// Reads one line; *complete tells whether it ended with a line feed or at
// the end of the file. The buffer is marked beforehand so that the read's
// terminator is found behind any NUL byte inside the line.
static char *ReadListLine(char *line, FileStream *list, int *complete) {
  memset(line, 1, LIST_LINE_SIZE);
  if (!ReadStreamLine(line, LIST_LINE_SIZE, list)) return 0;
  int end = LIST_LINE_SIZE - 1;
  while (end > 0 && line[end] != '\0') end--;
  *complete = end < LIST_LINE_SIZE - 1 || line[end - 1] == '\n';
  return line;
}

// Entries deleted in an earlier pass, one bit per read of the list. Later
// passes skip them: nothing re-creates a deleted entry during the passes,
// so its attempt could only count 0. A static table keeps the stack small.
// Named into .bss, as -fdata-sections would otherwise store its 8 KB of
// zeros in the Windows executable's file.
__attribute__((section(".bss"))) static unsigned char DeletedLines[DELETED_TABLE_LINES / 8];

static int IsDeletedLine(unsigned long lineNumber) {
  return lineNumber < DELETED_TABLE_LINES &&
         (DeletedLines[lineNumber / 8] & (1u << (lineNumber % 8)));
}

static void MarkDeletedLine(unsigned long lineNumber) {
  if (lineNumber < DELETED_TABLE_LINES)
    DeletedLines[lineNumber / 8] |= (unsigned char)(1u << (lineNumber % 8));
}

void DeleteListedEntries(FileStream *list, const char *directoryPrefix) {
  char line[LIST_LINE_SIZE];
  memset(DeletedLines, 0, sizeof DeletedLines);
  for (;;) {
    int passCount = 0;
    ForgetCheckedLevels();
    int insideLongLine = 0;
    int complete;
    // Counts every read, so that a line has the same number in each pass;
    // a line listed twice has two numbers and is tried at both.
    unsigned long lineNumber = 0;
    for (; ReadListLine(line, list, &complete); lineNumber++) {
      // A line too long for the buffer is skipped whole: its pieces could
      // each name some other file.
      if (insideLongLine || !complete) {
        insideLongLine = !complete;
        continue;
      }
      if (IsDeletedLine(lineNumber)) continue;
      TrimLineEnd(line);
      if (line[0] == '\0') continue;
      if (DeleteEntry(directoryPrefix, line)) {
        passCount++;
        MarkDeletedLine(lineNumber);
      }
    }
    if (passCount == 0) return;
    RewindStream(list);
  }
}

void RunUninstall(void) {
  char modulePath[MAX_PATH];
  char directoryPrefix[MAX_PATH];

  modulePath[0] = '\0';
  DWORD length = GetModuleFileNameA(0, modulePath, MAX_PATH);
  // A path cut short would name another directory.
  if (length == 0 || length >= MAX_PATH) return;
  modulePath[MAX_PATH - 1] = '\0';

  memcpy(directoryPrefix, modulePath, sizeof directoryPrefix);
  char *lastBackslash = strrchr(directoryPrefix, '\\');
  if (!lastBackslash) return;
  *lastBackslash = '\0';
  SetCurrentDirectoryA(directoryPrefix);
  lastBackslash[0] = '\\';
  lastBackslash[1] = '\0';

  const char *title = MessageText(IDS_TITLE);
  const char *question = MessageText(IDS_CONFIRM_UNINSTALL);
  if (MessageBoxA(0, question, title, MB_SETFOREGROUND | MB_ICONQUESTION | MB_YESNO) != IDYES)
    return;

  FileStream *list = OpenStream(LIST_FILE_NAME, "rb");
  if (!list) {
    char error[MESSAGE_TEXT_SIZE];
    FormatText(error, sizeof error, "%s %s", MessageText(IDS_NO_LIST_FILE), LIST_FILE_NAME);
    MessageBoxA(0, error, MessageText(IDS_TITLE), MB_SETFOREGROUND | MB_ICONERROR | MB_OK);
    return;
  }
  DeleteListedEntries(list, directoryPrefix);
  CloseStream(list);
  DeleteFileA(LIST_FILE_NAME);

  // Reads the group name under HKEY_CURRENT_USER, before the key goes.
  RemoveProgramGroup();
  SelectSettingsRoot(HKEY_LOCAL_MACHINE);
  EraseKeyBranch("Software\\Zelk");
  SelectSettingsRoot(HKEY_CURRENT_USER);
  EraseKeyBranch("Software\\Zelk");
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_ENTRY_PATH);

  char scriptPath[MAX_PATH];
  if (!WriteSelfRemovalScript(modulePath, scriptPath)) return;
  LaunchSelfRemovalScript(scriptPath);
}
