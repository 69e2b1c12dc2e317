// Operations on whole key branches below the settings root.
#ifndef ZELK_KEYTREE_H
#define ZELK_KEYTREE_H

#include "platform/platform.h"

enum { BRANCH_PATH_SIZE = 512, KEY_NAME_SIZE = 200, VALUE_DATA_SIZE = 1000 };

// Keys deleted by the erase pass that runs now.
extern LONG ErasedKeyCount;

// Full paths under the settings root, such as "Software\Zelk".
void EraseKeyBranch(const char *path);
void EraseBranchPass(const char *path);
int CopyKeyBranch(const char *source, const char *target);

// Numbered lists: a settings key name pattern with one %d.
void RemoveNumberedKey(const char *pattern, int number);
void OpenNumberedSlot(const char *pattern, int position, int count);

#endif
