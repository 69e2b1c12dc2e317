// Register mode: what the installer runs to make the product known.
#ifndef ZELK_REGISTRATION_H
#define ZELK_REGISTRATION_H

// The group text is everything after the keyword "register", unchanged.
void RegisterInstallation(const char *groupText);

// Windows 95 family only: the empty marker file "$UseBat.$$$" and, unless
// one exists, the launcher script "Zelk.bat" in the program directory.
void WriteLauncherScript(void);

// Puts the path in double quotes when the command processor would split
// it or take it for something else. The buffer needs room for two more
// characters. Returns the same buffer.
char *QuoteForScript(char *path);

// The uninstall entry under HKEY_LOCAL_MACHINE, then "Group" in the
// product key; no "Group" when the entry cannot be made.
void WriteUninstallEntry(const char *groupText);

// The file manager's six default highlight groups, unless the key
// "Highlight" is already there.
void SeedHighlightGroups(void);

#endif
