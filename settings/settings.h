// Typed access to the product's settings: values under "Software\Zelk" of
// the selected registry root. Every operation opens its key, does one thing
// and closes it again; failures are silent and reads fall back.
#ifndef ZELK_SETTINGS_H
#define ZELK_SETTINGS_H

#include "platform/platform.h"

enum { SETTINGS_PATH_SIZE = 80 };

extern HKEY SettingsRoot;  // HKEY_CURRENT_USER until switched
void SelectSettingsRoot(HKEY root);

// "Software\Zelk" plus "\" and the name when it is not empty. Returns 0 and
// leaves an empty text when the path would not fit the buffer.
int ComposeSettingsPath(const char *name, char dest[SETTINGS_PATH_SIZE]);

HKEY CreateSettingsKey(const char *name);  // KEY_ALL_ACCESS, or 0
HKEY OpenSettingsKey(const char *name);    // KEY_QUERY_VALUE, or 0

void WriteTextSetting(const char *name, const char *valueName, const char *text);
void WriteNumberSetting(const char *name, const char *valueName, DWORD value);
void WriteBytesSetting(const char *name, const char *valueName, const void *data, DWORD size);

int ReadTextSetting(const char *name, const char *valueName, char *dest, const char *fallback,
                    DWORD size);
int ReadNumberSetting(const char *name, const char *valueName, DWORD *dest, DWORD fallback);
DWORD NumberSettingOr(const char *name, const char *valueName, DWORD fallback);
int ReadBytesSetting(const char *name, const char *valueName, void *dest, const void *fallback,
                     DWORD size);

void RemoveSettingsKey(const char *name);
void RemoveSetting(const char *name, const char *valueName);
int SettingsKeyExists(const char *name);

#endif
