#include "app/entry.h"

#include <string.h>

#include "app/messages.h"
#include "registration/registration.h"
#include "uninstall/uninstall.h"

static int IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

const char *ArgumentString(const char *commandLine) {
  const char *p = commandLine;
  while (IsBlankOrTab(*p)) p++;
  if (*p == '"') {
    // A tab ends a quoted name too, as the system's own parser does.
    p++;
    while (*p && *p != '"' && *p != '\t') p++;
    if (*p == '"') p++;
  } else {
    while (*p && !IsBlankOrTab(*p)) p++;
  }
  while (IsBlankOrTab(*p)) p++;
  return p;
}

static unsigned char FoldAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 'a' + 'A') : c;
}

int StartsWithKeyword(const char *text, const char *keyword) {
  for (; *keyword; text++, keyword++) {
    if (FoldAscii((unsigned char)*text) != FoldAscii((unsigned char)*keyword)) return 0;
  }
  return 1;
}

int EqualsKeyword(const char *text, const char *keyword) {
  return StartsWithKeyword(text, keyword) && text[strlen(keyword)] == '\0';
}

static void ShowWarning(void) {
  char modulePath[MAX_PATH];
  char message[512];
  modulePath[0] = '\0';
  if (GetModuleFileNameA(0, modulePath, MAX_PATH) >= MAX_PATH) modulePath[0] = '\0';
  modulePath[MAX_PATH - 1] = '\0';

  int length = FormatText(message, sizeof message, "%s\n", MessageText(IDS_COMPLETED));
  if (length < 0) length = 0;
  FormatText(message + length, (int)sizeof message - length,
             MessageText(IDS_DELETE_MANUALLY), modulePath);
  MessageBoxA(0, message, MessageText(IDS_TITLE),
              MB_SETFOREGROUND | MB_ICONINFORMATION | MB_OK);
}

Mode SelectMode(const char *arguments) {
  if (StartsWithKeyword(arguments, "register")) return MODE_REGISTER;
  if (EqualsKeyword(arguments, "warning")) return MODE_WARNING;
  if (EqualsKeyword(arguments, "wait")) return MODE_WAIT;
  return MODE_UNINSTALL;
}

int UninstallerMain(HINSTANCE instance, HINSTANCE, const char *arguments, int) {
  SetMessageInstance(instance);
  switch (SelectMode(arguments)) {
    case MODE_REGISTER:
      RegisterInstallation(arguments + 8);  // the group text, unchanged
      break;
    case MODE_WARNING:
      ShowWarning();
      break;
    case MODE_WAIT:
      Sleep(1000);
      break;
    case MODE_UNINSTALL:
      RunUninstall();
      break;
  }
  return 0;
}
