#include "settings/settings.h"

HKEY SettingsRoot = HKEY_CURRENT_USER;

void SelectSettingsRoot(HKEY root) { SettingsRoot = root; }

int ComposeSettingsPath(const char *name, char dest[SETTINGS_PATH_SIZE]) {
  return FormatText(dest, SETTINGS_PATH_SIZE, "Software\\Zelk%s%s", name[0] ? "\\" : "", name) >= 0;
}

// A name too long for its path gets no handle: cut short, it would name
// another key.
HKEY CreateSettingsKey(const char *name) {
  char path[SETTINGS_PATH_SIZE];
  HKEY key = 0;
  DWORD disposition;
  if (!ComposeSettingsPath(name, path) ||
      RegCreateKeyExA(SettingsRoot, path, 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0, &key,
                      &disposition) != ERROR_SUCCESS)
    return 0;
  return key;
}

HKEY OpenSettingsKey(const char *name) {
  char path[SETTINGS_PATH_SIZE];
  HKEY key = 0;
  if (!ComposeSettingsPath(name, path) ||
      RegOpenKeyExA(SettingsRoot, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return 0;
  return key;
}

static void WriteSetting(const char *name, const char *valueName, DWORD type, const void *data,
                         DWORD size) {
  HKEY key = CreateSettingsKey(name);
  if (!key) return;
  RegSetValueExA(key, valueName, 0, type, (const BYTE *)data, size);
  RegCloseKey(key);
}

// Reads into dest; on success `size` holds the stored length.
static int QuerySetting(const char *name, const char *valueName, void *dest, DWORD *size) {
  HKEY key = OpenSettingsKey(name);
  if (!key) return 0;
  DWORD type;
  LONG status = RegQueryValueExA(key, valueName, 0, &type, (BYTE *)dest, size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

void WriteTextSetting(const char *name, const char *valueName, const char *text) {
  DWORD length = 0;
  while (text[length]) ++length;
  WriteSetting(name, valueName, REG_SZ, text, length + 1);
}

void WriteNumberSetting(const char *name, const char *valueName, DWORD value) {
  BYTE data[4] = {(BYTE)value, (BYTE)(value >> 8), (BYTE)(value >> 16), (BYTE)(value >> 24)};
  WriteSetting(name, valueName, REG_DWORD, data, 4);
}

void WriteBytesSetting(const char *name, const char *valueName, const void *data, DWORD size) {
  WriteSetting(name, valueName, REG_BINARY, data, size);
}

int ReadTextSetting(const char *name, const char *valueName, char *dest, const char *fallback,
                    DWORD size) {
  DWORD length = size;
  if (QuerySetting(name, valueName, dest, &length)) {
    // Data stored without its terminator gets one when there is room;
    // without room it does not fit, like any text too long.
    if (length > 0 && dest[length - 1] == '\0') return 1;
    if (length < size) {
      dest[length] = '\0';
      return 1;
    }
  }
  if (size == 0) return 0;
  DWORD i = 0;
  for (; fallback[i] && i + 1 < size; ++i) dest[i] = fallback[i];
  dest[i] = '\0';
  return 0;
}

int ReadNumberSetting(const char *name, const char *valueName, DWORD *dest, DWORD fallback) {
  DWORD length = 4;
  if (QuerySetting(name, valueName, dest, &length)) return 1;
  *dest = fallback;
  return 0;
}

// A stored value shorter than 4 bytes reads zero-extended.
DWORD NumberSettingOr(const char *name, const char *valueName, DWORD fallback) {
  DWORD number = 0;
  ReadNumberSetting(name, valueName, &number, fallback);
  return number;
}

int ReadBytesSetting(const char *name, const char *valueName, void *dest, const void *fallback,
                     DWORD size) {
  DWORD length = size;
  if (QuerySetting(name, valueName, dest, &length)) return 1;
  BYTE *out = (BYTE *)dest;
  const BYTE *in = (const BYTE *)fallback;
  for (DWORD i = 0; i < size; ++i) out[i] = in ? in[i] : 0;
  return 0;
}

void RemoveSettingsKey(const char *name) {
  char path[SETTINGS_PATH_SIZE];
  if (ComposeSettingsPath(name, path)) RegDeleteKeyA(SettingsRoot, path);
}

void RemoveSetting(const char *name, const char *valueName) {
  char path[SETTINGS_PATH_SIZE];
  HKEY key;
  if (!ComposeSettingsPath(name, path) ||
      RegOpenKeyExA(SettingsRoot, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return;
  RegDeleteValueA(key, valueName);
  RegCloseKey(key);
}

int SettingsKeyExists(const char *name) {
  HKEY key = OpenSettingsKey(name);
  if (!key) return 0;
  RegCloseKey(key);
  return 1;
}
