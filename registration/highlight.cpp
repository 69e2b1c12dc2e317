#include "registration/registration.h"
#include "settings/settings.h"

namespace {

// Colours are console attributes: background in the high nibble (blue for
// normal display, cyan under the cursor), foreground in the low one.
const struct {
  const char *key;
  const char *mask;
  int hasAttributes;
  DWORD includeAttributes;
  DWORD normalColor;
  DWORD cursorColor;
} defaultGroups[] = {
    {"Highlight\\Group0", "*.*", 1, FILE_ATTRIBUTE_HIDDEN, 0x13, 0x38},
    {"Highlight\\Group1", "*.*", 1, FILE_ATTRIBUTE_SYSTEM, 0x13, 0x38},
    {"Highlight\\Group2", "*.*", 1, FILE_ATTRIBUTE_DIRECTORY, 0x1F, 0x3F},
    {"Highlight\\Group3", "*.exe,*.com,*.bat,*.cmd", 0, 0, 0x1A, 0x3A},
    {"Highlight\\Group4", "*.rar,*.arj,*.zip,*.lzh", 0, 0, 0x1D, 0x3D},
    {"Highlight\\Group5", "*.bak,*.tmp", 0, 0, 0x16, 0x36},
};

}  // namespace

// The key's presence alone decides: a user who changed or removed groups
// keeps what is there.
void SeedHighlightGroups(void) {
  if (SettingsKeyExists("Highlight")) return;
  for (const auto &group : defaultGroups) {
    WriteTextSetting(group.key, "Mask", group.mask);
    if (group.hasAttributes)
      WriteNumberSetting(group.key, "IncludeAttributes", group.includeAttributes);
    WriteNumberSetting(group.key, "NormalColor", group.normalColor);
    WriteNumberSetting(group.key, "CursorColor", group.cursorColor);
  }
}
