// A product installed on the simulated machine, as the uninstall tests
// find it: the program directory, the product keys under both roots, the
// uninstall entry and the Start-menu group.
#ifndef ZELK_TEST_UNINSTALL_WORLD_H
#define ZELK_TEST_UNINSTALL_WORLD_H

#include <algorithm>
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/host/sim.h"

namespace world {

const std::string kProgramDir = "C:\\Program Files\\Zelk";
const std::string kPrefix = kProgramDir + "\\";
const std::string kModule = kPrefix + "uninstall.exe";
const std::string kList = kPrefix + "Uninstall.lst";
const std::string kPrograms =
    "C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs";
const char *const kEntryPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZELK manager";

inline std::string In(const std::string &relative) { return kPrefix + relative; }

inline void SetText(HKEY root, const char *path, const char *name, const std::string &text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                 (DWORD)text.size() + 1);
  RegCloseKey(key);
}

inline bool KeyExists(HKEY root, const char *path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// The group name, stored where register mode stores it.
inline void SetGroup(const std::string &group) {
  SetText(HKEY_CURRENT_USER, "Software\\Zelk", "Group", group);
}

inline int CountCalls(const std::string &function) {
  return (int)std::count(SimCalls().begin(), SimCalls().end(), function);
}

inline bool Called(const std::string &function) { return CountCalls(function) > 0; }

inline std::vector<std::string> DdeFunctions() {
  std::vector<std::string> names;
  for (const SimDdeCall &call : SimDdeCalls()) names.push_back(call.function);
  return names;
}

inline const SimDdeCall *FindDde(const std::string &function) {
  for (const SimDdeCall &call : SimDdeCalls())
    if (call.function == function) return &call;
  return nullptr;
}

}  // namespace world

#endif
