#include "settings/keytree.h"

#include "settings/settings.h"

LONG ErasedKeyCount;

// A path that does not fit its buffer is never cut short: the shorter
// path would name another key, and erasing or copying that is worse than
// leaving the one that was meant.
static int FitsBranchPath(const char *path) {
  int length = 0;
  while (path[length]) ++length;
  return length < BRANCH_PATH_SIZE;
}

void EraseBranchPass(const char *path) {
  HKEY key;
  if (!FitsBranchPath(path) ||
      RegOpenKeyExA(SettingsRoot, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  char name[KEY_NAME_SIZE];
  char subkey[BRANCH_PATH_SIZE];
  for (DWORD index = 0;; ++index) {
    DWORD length = KEY_NAME_SIZE;
    FILETIME written;
    if (RegEnumKeyExA(key, index, name, &length, 0, 0, 0, &written) != ERROR_SUCCESS) break;
    // The index goes on past a deleted subkey, so its successor moves down
    // unseen; the next pass finds it.
    if (FormatText(subkey, BRANCH_PATH_SIZE, "%s\\%s", path, name) >= 0) EraseBranchPass(subkey);
  }
  // Deleted while our own handle is still open; both families allow it.
  if (RegDeleteKeyA(SettingsRoot, path) == ERROR_SUCCESS) ++ErasedKeyCount;
  RegCloseKey(key);
}

void EraseKeyBranch(const char *path) {
  do {
    ErasedKeyCount = 0;
    EraseBranchPass(path);
  } while (ErasedKeyCount != 0);
}

// The copy; *whole is cleared when a call meant to write part of the source
// onto the target failed (a value not set, a subkey not made or not
// copied). The buffer limits leave things out by design and do not count.
static int CopyBranch(const char *source, const char *target, int *whole) {
  HKEY from, to, created;
  DWORD disposition;
  if (!FitsBranchPath(source) || !FitsBranchPath(target) ||
      RegOpenKeyExA(SettingsRoot, source, 0, KEY_ALL_ACCESS, &from) != ERROR_SUCCESS)
    return 0;
  EraseKeyBranch(target);
  if (RegCreateKeyExA(SettingsRoot, target, 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0, &to,
                      &disposition) != ERROR_SUCCESS) {
    RegCloseKey(from);
    return 0;
  }

  char name[KEY_NAME_SIZE];
  BYTE data[VALUE_DATA_SIZE];
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = KEY_NAME_SIZE, dataLength = VALUE_DATA_SIZE, type;
    if (RegEnumValueA(from, index, name, &nameLength, 0, &type, data, &dataLength) !=
        ERROR_SUCCESS)
      break;
    if (RegSetValueExA(to, name, 0, type, data, dataLength) != ERROR_SUCCESS) *whole = 0;
  }

  char subkey[KEY_NAME_SIZE];
  char sourcePath[BRANCH_PATH_SIZE], targetPath[BRANCH_PATH_SIZE];
  for (DWORD index = 0;; ++index) {
    DWORD length = KEY_NAME_SIZE;
    FILETIME written;
    if (RegEnumKeyExA(from, index, subkey, &length, 0, 0, 0, &written) != ERROR_SUCCESS) break;
    // A subkey whose path would not fit is left out, not copied under a
    // shortened name.
    if (FormatText(sourcePath, BRANCH_PATH_SIZE, "%s\\%s", source, subkey) < 0 ||
        FormatText(targetPath, BRANCH_PATH_SIZE, "%s\\%s", target, subkey) < 0)
      continue;
    if (RegCreateKeyExA(SettingsRoot, targetPath, 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0,
                        &created, &disposition) != ERROR_SUCCESS) {
      *whole = 0;
      break;
    }
    RegCloseKey(created);
    if (!CopyBranch(sourcePath, targetPath, whole)) *whole = 0;
  }

  RegCloseKey(from);
  RegCloseKey(to);
  return 1;
}

int CopyKeyBranch(const char *source, const char *target) {
  int whole = 1;
  return CopyBranch(source, target, &whole);
}

// Moving an entry onto another: done only when the copy left nothing out,
// since the entry copied from is then erased or overwritten.
static int MoveEntry(const char *from, const char *to) {
  int whole = 1;
  return CopyBranch(from, to, &whole) && whole;
}

// An entry path that does not fit counts as a failed move.
static int FormatEntryPath(char dest[SETTINGS_PATH_SIZE], const char *pattern, int number) {
  return FormatText(dest, SETTINGS_PATH_SIZE, pattern, number) >= 0;
}

void RemoveNumberedKey(const char *pattern, int number) {
  char format[SETTINGS_PATH_SIZE], earlier[SETTINGS_PATH_SIZE], later[SETTINGS_PATH_SIZE];
  if (!ComposeSettingsPath(pattern, format) || !FormatEntryPath(earlier, format, number)) return;
  // Each later entry moves down one; the last one moved, or the entry
  // itself when none follows, is then erased.
  while (number < 0x7FFFFFFF && FormatEntryPath(later, format, number + 1) &&
         MoveEntry(later, earlier)) {
    ++number;
    for (int i = 0; i < SETTINGS_PATH_SIZE; ++i) earlier[i] = later[i];
  }
  EraseKeyBranch(earlier);
}

void OpenNumberedSlot(const char *pattern, int position, int count) {
  char format[SETTINGS_PATH_SIZE], higher[SETTINGS_PATH_SIZE], lower[SETTINGS_PATH_SIZE];
  if (!ComposeSettingsPath(pattern, format)) return;
  // The highest entry moves first, so none is overwritten before it is
  // copied. A failed or partial move stops everything: erasing the slot or
  // overwriting the entry then would lose what has not moved up.
  for (int i = count; position < i; --i) {
    if (!FormatEntryPath(higher, format, i) || !FormatEntryPath(lower, format, i - 1) ||
        !MoveEntry(lower, higher))
      return;
  }
  if (FormatEntryPath(lower, format, position)) EraseKeyBranch(lower);
}
