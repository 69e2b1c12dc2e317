// The simulated registry beyond what the shared registry cases check
// against Wine: injected faults, access masks, the census of handles, the
// record of deletions and the Windows 95 family's subtree deletion.
#include <string>
#include <vector>

#include "fixture.h"

namespace {

HKEY Open(HKEY root, const char *path, REGSAM access, LONG *status) {
  HKEY key = 0;
  *status = RegOpenKeyExA(root, path, 0, access, &key);
  return key;
}

LONG Create(HKEY root, const char *path) {
  HKEY key;
  LONG status = RegCreateKeyExA(root, path, 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0, &key, 0);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

using RegistrySim = SimTest;

TEST_F(RegistrySim, RefusedOpenCoversTheKeyAndBelowForTheGivenAccessOnly) {
  for (const char *path : {"Software\\Zelk", "Software\\Zelk\\Sub", "Software\\ZelkOther"})
    SimRegistryPutKey(HKEY_CURRENT_USER, path);
  SimRegistryPutKey(HKEY_LOCAL_MACHINE, "Software\\Zelk");
  SimRegistryRefuseOpen(HKEY_CURRENT_USER, "SOFTWARE\\zelk", KEY_SET_VALUE);

  struct Case {
    HKEY root;
    const char *path;
    REGSAM access;
    LONG expected;
  } cases[] = {
      {HKEY_CURRENT_USER, "Software\\Zelk", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {HKEY_CURRENT_USER, "Software\\Zelk\\Sub", KEY_ALL_ACCESS, ERROR_ACCESS_DENIED},
      {HKEY_CURRENT_USER, "Software\\Zelk", KEY_QUERY_VALUE, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software\\ZelkOther", KEY_ALL_ACCESS, ERROR_SUCCESS},
      {HKEY_CURRENT_USER, "Software", KEY_ALL_ACCESS, ERROR_SUCCESS},
      {HKEY_LOCAL_MACHINE, "Software\\Zelk", KEY_ALL_ACCESS, ERROR_SUCCESS},
  };
  for (const Case &c : cases) {
    LONG status;
    HKEY key = Open(c.root, c.path, c.access, &status);
    EXPECT_EQ(status, c.expected) << c.path << " access " << c.access;
    if (status == ERROR_SUCCESS) RegCloseKey(key);
  }
  // Opening through RegCreateKeyExA is refused alike.
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "Software\\Zelk\\Sub"), ERROR_ACCESS_DENIED);
}

TEST_F(RegistrySim, RefusedCreationStopsOnlyNewKeys) {
  SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk\\Old");
  SimRegistryRefuseCreate(HKEY_CURRENT_USER, "Software\\Zelk");
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "Software\\Zelk\\Old"), ERROR_SUCCESS);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "Software\\Zelk\\New\\Deeper"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk\\New"));
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "Software\\Other\\New"), ERROR_SUCCESS);

  // The empty path refuses the whole root, and only that root.
  SimRegistryRefuseCreate(HKEY_LOCAL_MACHINE, "");
  EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, "Software"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "Software\\Another"), ERROR_SUCCESS);
}

TEST_F(RegistrySim, RefusedDeletionOnBothFamilies) {
  for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    SimReset();
    SimSetPlatformId(platform);
    SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk\\Locked");
    SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk\\Free");
    SimRegistryRefuseDelete(HKEY_CURRENT_USER, "Software\\Zelk\\Locked");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Zelk\\Locked"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Zelk\\Free"), ERROR_SUCCESS);
    // A subtree deletion holding a refused key takes nothing.
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Zelk"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk\\Locked"));
    EXPECT_EQ(SimRegistryDeletions(), std::vector<std::string>{"HKCU\\Software\\Zelk\\Free"});
  }
}

TEST_F(RegistrySim, Windows95FamilyDeletesTheSubtreeAndItsHandlesGoStale) {
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Zelk\\A\\B", "v", "x");
  SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk\\C");
  LONG status;
  HKEY deep = Open(HKEY_CURRENT_USER, "Software\\Zelk\\A\\B", KEY_ALL_ACCESS, &status);
  ASSERT_EQ(status, ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "software\\zelk"), ERROR_SUCCESS);
  EXPECT_FALSE(SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk"));
  EXPECT_EQ(SimRegistrySubkeys(HKEY_CURRENT_USER, "Software"), std::vector<std::string>{});
  char data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(deep, "v", 0, 0, (BYTE *)data, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(deep), ERROR_SUCCESS);
  // Recorded once, with the case it was made with.
  EXPECT_EQ(SimRegistryDeletions(), std::vector<std::string>{"HKCU\\Software\\Zelk"});
}

TEST_F(RegistrySim, AccessMaskOfTheHandleIsEnforced) {
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Zelk", "v", "x");
  SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk\\Sub");
  LONG status;
  HKEY key = Open(HKEY_CURRENT_USER, "Software\\Zelk", KEY_QUERY_VALUE, &status);
  ASSERT_EQ(status, ERROR_SUCCESS);
  char name[200], data[8];
  DWORD length = sizeof name, size = sizeof data;
  EXPECT_EQ(RegQueryValueExA(key, "v", 0, 0, (BYTE *)data, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "w", 0, REG_SZ, (const BYTE *)"y", 2), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(key, "v"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &length, 0, 0, 0, 0), ERROR_ACCESS_DENIED);
  RegCloseKey(key);
  EXPECT_TRUE(SimRegistryGetValue(HKEY_CURRENT_USER, "Software\\Zelk", "v", nullptr, nullptr));
  EXPECT_FALSE(SimRegistryGetValue(HKEY_CURRENT_USER, "Software\\Zelk", "w", nullptr, nullptr));
}

TEST_F(RegistrySim, HandlesAreCountedUntilClosed) {
  SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk");
  LONG status;
  HKEY first = Open(HKEY_CURRENT_USER, "Software\\Zelk", KEY_QUERY_VALUE, &status);
  HKEY second = Open(HKEY_CURRENT_USER, "Software\\Zelk", KEY_QUERY_VALUE, &status);
  EXPECT_NE(first, second);
  EXPECT_EQ(SimOpenRegistryHandles(), 2);
  RegCloseKey(first);
  EXPECT_EQ(SimOpenRegistryHandles(), 1);
  RegCloseKey(second);
  EXPECT_EQ(SimOpenRegistryHandles(), 0);
  // Closing again is the program's mistake, and the simulation says so.
  EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SimProblems().size(), 1u);
  SimReset();
}

TEST_F(RegistrySim, CountdownFaultFailsTheCallWithoutAHandle) {
  SimRegistryPutKey(HKEY_CURRENT_USER, "Software\\Zelk");
  SimFailNthCall(2, false);
  LONG status;
  HKEY key = Open(HKEY_CURRENT_USER, "Software\\Zelk", KEY_QUERY_VALUE, &status);
  EXPECT_EQ(status, ERROR_SUCCESS);
  RegCloseKey(key);  // the second call: reports failure, lets the handle go
  Open(HKEY_CURRENT_USER, "Software\\Zelk", KEY_QUERY_VALUE, &status);
  EXPECT_EQ(status, ERROR_SUCCESS);
  EXPECT_EQ(SimOpenRegistryHandles(), 1);
  SimFailNthCall(1, true);
  EXPECT_EQ(Create(HKEY_CURRENT_USER, "Software\\Zelk\\New"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Zelk"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk\\New"));
  EXPECT_TRUE(SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk"));
  SimReset();
}

TEST_F(RegistrySim, SeededValuesReadBackAsStored) {
  SimRegistryPutValue(HKEY_LOCAL_MACHINE, "Software\\Zelk", "Raw", REG_BINARY, {1, 2, 3});
  SimRegistryPutNumber(HKEY_LOCAL_MACHINE, "Software\\Zelk", "Number", 0x01020304);
  SimRegistryPutText(HKEY_LOCAL_MACHINE, "Software\\Zelk", "Text", "ab");
  DWORD type;
  std::vector<BYTE> data;
  ASSERT_TRUE(SimRegistryGetValue(HKEY_LOCAL_MACHINE, "software\\ZELK", "number", &type, &data));
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  EXPECT_EQ(data, (std::vector<BYTE>{4, 3, 2, 1}));
  ASSERT_TRUE(SimRegistryGetValue(HKEY_LOCAL_MACHINE, "Software\\Zelk", "Text", &type, &data));
  EXPECT_EQ(data, (std::vector<BYTE>{'a', 'b', 0}));
  EXPECT_EQ(SimRegistryValues(HKEY_LOCAL_MACHINE, "Software\\Zelk"),
            (std::vector<std::string>{"Number", "Raw", "Text"}));
  EXPECT_FALSE(SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk"));
  EXPECT_EQ(SimRegistryDump(HKEY_LOCAL_MACHINE, "Software\\Zelk"),
            "[]\n  \"Number\" 4 04030201\n  \"Raw\" 3 010203\n  \"Text\" 1 616200\n");
}

}  // namespace
