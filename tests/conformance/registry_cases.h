// Registry cases written once and run twice: on the host against the
// simulation (registry_conformance_test.cpp) and as a Windows console
// program against the real registry (tests/windows/registry_conformance.cpp),
// with the same expectations. They work under a scratch key of
// HKEY_CURRENT_USER and leave nothing behind. Expectations that differ
// between the platform families ask the version query which one runs.
#ifndef ZELK_REGISTRY_CASES_H
#define ZELK_REGISTRY_CASES_H

#include <string.h>

#include "platform/platform.h"
#include "settings/keytree.h"
#include "settings/settings.h"

// Where a failed expectation goes: a GoogleTest failure, or a printed line.
struct CaseReport {
  virtual void Fail(const char *file, int line, const char *message) = 0;

 protected:
  ~CaseReport() {}
};

struct RegistryCase {
  const char *name;
  void (*run)(CaseReport &report);
};

namespace registry_cases {

const char *const kScratch = "Software\\ZelkConformance";
enum { kTextSize = 4096 };

inline void Expect(CaseReport &report, bool ok, const char *what, const char *file, int line) {
  if (!ok) report.Fail(file, line, what);
}

inline void ExpectNumber(CaseReport &report, long expected, long actual, const char *what,
                         const char *file, int line) {
  if (expected == actual) return;
  char message[512];
  if (FormatText(message, sizeof message, "%s: expected %ld, got %ld", what, expected, actual) < 0)
    FormatText(message, sizeof message, "expected %ld, got %ld", expected, actual);
  report.Fail(file, line, message);
}

inline void ExpectText(CaseReport &report, const char *expected, const char *actual,
                       const char *what, const char *file, int line) {
  if (strcmp(expected, actual) == 0) return;
  static char message[3 * kTextSize];
  if (FormatText(message, sizeof message, "%s:\n  expected \"%s\"\n  got      \"%s\"", what,
                 expected, actual) < 0)
    FormatText(message, sizeof message, "%s: texts differ", what);
  report.Fail(file, line, message);
}

#define CASE_CHECK(cond) registry_cases::Expect(report, (cond), #cond, __FILE__, __LINE__)
#define CASE_EQ(expected, actual) \
  registry_cases::ExpectNumber(report, (long)(expected), (long)(actual), #actual, __FILE__, __LINE__)
#define CASE_TEXT(expected, actual) \
  registry_cases::ExpectText(report, (expected), (actual), #actual, __FILE__, __LINE__)

// --- Helpers, on plain registry calls only -----------------------------------

inline bool Windows95Family() {
  OSVERSIONINFOA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// The full path of a key below the scratch key; "" is the scratch key.
struct Path {
  char text[BRANCH_PATH_SIZE];
  explicit Path(const char *relative) {
    if (FormatText(text, sizeof text, "%s%s%s", kScratch, relative[0] ? "\\" : "", relative) < 0)
      text[0] = '\0';
  }
  operator const char *() const { return text; }
};

inline LONG MakeKey(const char *relative) {
  HKEY key;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, Path(relative), 0, 0, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, 0, &key, 0);
  if (status == ERROR_SUCCESS) RegCloseKey(key);
  return status;
}

inline HKEY OpenKey(const char *relative) {
  HKEY key = 0;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, Path(relative), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
    return 0;
  return key;
}

inline bool KeyExists(const char *relative) {
  HKEY key = OpenKey(relative);
  if (key) RegCloseKey(key);
  return key != 0;
}

inline LONG SetValue(const char *relative, const char *name, DWORD type, const void *data,
                     DWORD size) {
  HKEY key;
  LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, Path(relative), 0, 0, REG_OPTION_NON_VOLATILE,
                                KEY_ALL_ACCESS, 0, &key, 0);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
  RegCloseKey(key);
  return status;
}

inline LONG DeleteKey(const char *relative) { return RegDeleteKeyA(HKEY_CURRENT_USER, Path(relative)); }

// Depth first, always at index 0, independent of the program's own erase.
inline void DeleteTree(const char *path) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  char name[300], child[BRANCH_PATH_SIZE];
  for (int guard = 0; guard < 1000; ++guard) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, 0, name, &length, 0, 0, 0, 0) != ERROR_SUCCESS) break;
    if (FormatText(child, sizeof child, "%s\\%s", path, name) < 0) break;
    DeleteTree(child);
  }
  RegCloseKey(key);
  RegDeleteKeyA(HKEY_CURRENT_USER, path);
}

inline void Append(char *out, const char *text) {
  size_t used = strlen(out), length = strlen(text);
  if (used + length < kTextSize) memcpy(out + used, text, length + 1);
}

// The subkey or value names of a key, in enumeration order, joined by ",".
inline const char *ListNames(const char *relative, bool values, char out[kTextSize]) {
  out[0] = '\0';
  HKEY key = OpenKey(relative);
  if (!key) return "(no key)";
  char name[300];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    LONG status = values ? RegEnumValueA(key, index, name, &length, 0, 0, 0, 0)
                         : RegEnumKeyExA(key, index, name, &length, 0, 0, 0, 0);
    if (status != ERROR_SUCCESS) break;
    if (index) Append(out, ",");
    Append(out, name);
  }
  RegCloseKey(key);
  return out;
}

// A branch as text: every key relative to the branch, every value with its
// type, length and bytes (long data as a hash), in enumeration order.
inline void DumpKey(const char *path, const char *relative, char *out) {
  HKEY key;
  char line[600];
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
    Append(out, "(no key)");
    return;
  }
  FormatText(line, sizeof line, "[%s]", relative);
  Append(out, line);
  char name[300];
  static BYTE data[2000];
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof name, dataLength = sizeof data, type;
    if (RegEnumValueA(key, index, name, &nameLength, 0, &type, data, &dataLength) != ERROR_SUCCESS)
      break;
    unsigned long hash = 2166136261u;
    for (DWORD i = 0; i < dataLength; ++i) hash = ((hash ^ data[i]) * 16777619u) & 0xFFFFFFFFu;
    FormatText(line, sizeof line, " \"%s\"=%lu:%lu:%08lx", name, (unsigned long)type,
               (unsigned long)dataLength, hash);
    Append(out, line);
  }
  char childPath[BRANCH_PATH_SIZE], childRelative[BRANCH_PATH_SIZE];
  for (DWORD index = 0;; ++index) {
    DWORD length = sizeof name;
    if (RegEnumKeyExA(key, index, name, &length, 0, 0, 0, 0) != ERROR_SUCCESS) break;
    FormatText(childPath, sizeof childPath, "%s\\%s", path, name);
    FormatText(childRelative, sizeof childRelative, "%s%s%s", relative, relative[0] ? "\\" : "",
               name);
    Append(out, " ");
    DumpKey(childPath, childRelative, out);
  }
  RegCloseKey(key);
}

inline const char *Dump(const char *relative, char out[kTextSize]) {
  out[0] = '\0';
  DumpKey(Path(relative), "", out);
  return out;
}

// The subkey name at an index, or "#<error>" when the enumeration fails.
inline const char *SubkeyAt(HKEY key, DWORD index, char out[300]) {
  DWORD length = 300;
  LONG status = RegEnumKeyExA(key, index, out, &length, 0, 0, 0, 0);
  if (status != ERROR_SUCCESS) FormatText(out, 300, "#%ld", (long)status);
  return out;
}

// --- The cases -----------------------------------------------------------------

// NT refuses a key that still has subkeys; the Windows 95 family takes them along.
inline void DeleteWithSubkeysFollowsFamily(CaseReport &report) {
  CASE_EQ(ERROR_SUCCESS, MakeKey("Parent\\Kid"));
  if (Windows95Family()) {
    CASE_EQ(ERROR_SUCCESS, DeleteKey("Parent"));
    CASE_CHECK(!KeyExists("Parent\\Kid"));
  } else {
    CASE_EQ(ERROR_ACCESS_DENIED, DeleteKey("Parent"));
    CASE_CHECK(KeyExists("Parent\\Kid"));
    CASE_EQ(ERROR_SUCCESS, DeleteKey("Parent\\Kid"));
    CASE_EQ(ERROR_SUCCESS, DeleteKey("Parent"));
  }
  CASE_CHECK(!KeyExists("Parent"));
  HKEY key;
  CASE_EQ(ERROR_FILE_NOT_FOUND,
          RegOpenKeyExA(HKEY_CURRENT_USER, Path("Parent"), 0, KEY_QUERY_VALUE, &key));
  CASE_EQ(ERROR_FILE_NOT_FOUND, DeleteKey("Parent"));
}

inline void EnumerationIndexShiftsAfterDeletion(CaseReport &report) {
  MakeKey("A");
  MakeKey("B");
  MakeKey("C");
  HKEY key = OpenKey("");
  char name[300];
  CASE_TEXT("A", SubkeyAt(key, 0, name));
  CASE_EQ(ERROR_SUCCESS, DeleteKey("A"));
  CASE_TEXT("B", SubkeyAt(key, 0, name));
  CASE_TEXT("C", SubkeyAt(key, 1, name));
  CASE_TEXT("#259", SubkeyAt(key, 2, name));  // ERROR_NO_MORE_ITEMS
  RegCloseKey(key);
}

// A name fits a buffer only with its terminator: 200 characters need 201.
inline void LongNamesDoNotFit(CaseReport &report) {
  char name[201];
  memset(name, 'k', 200);
  name[200] = '\0';
  char relative[300];
  FormatText(relative, sizeof relative, "Long\\%s", name);
  CASE_EQ(ERROR_SUCCESS, MakeKey(relative));
  name[199] = '\0';
  FormatText(relative, sizeof relative, "Fits\\%s", name);
  CASE_EQ(ERROR_SUCCESS, MakeKey(relative));

  char found[KEY_NAME_SIZE + 1];
  HKEY key = OpenKey("Long");
  DWORD length = KEY_NAME_SIZE;
  CASE_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key, 0, found, &length, 0, 0, 0, 0));
  length = KEY_NAME_SIZE + 1;
  CASE_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 0, found, &length, 0, 0, 0, 0));
  CASE_EQ(200, length);
  RegCloseKey(key);
  key = OpenKey("Fits");
  length = KEY_NAME_SIZE;
  CASE_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 0, found, &length, 0, 0, 0, 0));
  CASE_EQ(199, length);
  RegCloseKey(key);

  memset(name, 'v', 200);
  name[200] = '\0';
  SetValue("LongValue", name, REG_SZ, "x", 2);
  name[199] = '\0';
  SetValue("FitsValue", name, REG_SZ, "x", 2);
  BYTE data[16];
  DWORD dataLength, type;
  key = OpenKey("LongValue");
  length = KEY_NAME_SIZE, dataLength = sizeof data;
  CASE_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 0, found, &length, 0, &type, data, &dataLength));
  RegCloseKey(key);
  key = OpenKey("FitsValue");
  length = KEY_NAME_SIZE, dataLength = sizeof data;
  CASE_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, found, &length, 0, &type, data, &dataLength));
  CASE_EQ(199, length);
  CASE_EQ(2, dataLength);
  RegCloseKey(key);
}

inline void ValueDataOverTheBufferDoesNotFit(CaseReport &report) {
  static BYTE big[VALUE_DATA_SIZE + 1];
  memset(big, 0x5a, sizeof big);
  SetValue("Vals", "v1000", REG_BINARY, big, VALUE_DATA_SIZE);
  SetValue("Vals", "v1001", REG_BINARY, big, VALUE_DATA_SIZE + 1);
  HKEY key = OpenKey("Vals");
  static BYTE data[VALUE_DATA_SIZE];
  char name[KEY_NAME_SIZE];
  DWORD nameLength = KEY_NAME_SIZE, dataLength = VALUE_DATA_SIZE, type = 0;
  CASE_EQ(ERROR_SUCCESS, RegEnumValueA(key, 0, name, &nameLength, 0, &type, data, &dataLength));
  CASE_TEXT("v1000", name);
  CASE_EQ(VALUE_DATA_SIZE, dataLength);
  nameLength = KEY_NAME_SIZE, dataLength = VALUE_DATA_SIZE, type = 0;
  CASE_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 1, name, &nameLength, 0, &type, data, &dataLength));
  CASE_EQ(VALUE_DATA_SIZE + 1, dataLength);  // the size it needs
  CASE_EQ(REG_BINARY, type);

  // A query into too small a buffer leaves it alone and tells the size.
  BYTE small[4] = {'#', '#', '#', '#'};
  dataLength = sizeof small;
  CASE_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "v1000", 0, &type, small, &dataLength));
  CASE_EQ(VALUE_DATA_SIZE, dataLength);
  CASE_EQ('#', small[0]);
  RegCloseKey(key);
}

inline void TextIsStoredWithItsTerminator(CaseReport &report) {
  SetValue("", "With", REG_SZ, "abc", 4);
  SetValue("", "Without", REG_SZ, "abc", 3);  // the registry adds it
  SetValue("", "Empty", REG_SZ, "", 0);
  HKEY key = OpenKey("");
  const char *names[] = {"With", "Without"};
  for (const char *name : names) {
    BYTE data[8];
    memset(data, '#', sizeof data);
    DWORD size = sizeof data, type = 0;
    CASE_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name, 0, &type, data, &size));
    CASE_EQ(REG_SZ, type);
    CASE_EQ(4, size);
    CASE_CHECK(memcmp(data, "abc\0#", 5) == 0);
    size = 3;
    CASE_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, name, 0, &type, data, &size));
    CASE_EQ(4, size);
  }
  // The Windows 95 family keeps even the empty text's terminator.
  BYTE data[8];
  DWORD size = sizeof data;
  CASE_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Empty", 0, 0, data, &size));
  CASE_EQ(Windows95Family() ? 1 : 0, size);
  RegCloseKey(key);
}

inline void NumberIsFourLittleEndianBytes(CaseReport &report) {
  const DWORD number = 0x11223344;
  SetValue("", "Number", REG_DWORD, &number, 4);
  BYTE data[8];
  DWORD size = sizeof data, type = 0;
  HKEY key = OpenKey("");
  CASE_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Number", 0, &type, data, &size));
  CASE_EQ(REG_DWORD, type);
  CASE_EQ(4, size);
  CASE_CHECK(data[0] == 0x44 && data[1] == 0x33 && data[2] == 0x22 && data[3] == 0x11);
  // The type is not checked against the size.
  CASE_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Short", 0, REG_DWORD, data, 3));
  size = sizeof data;
  CASE_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "Short", 0, &type, data, &size));
  CASE_EQ(3, size);
  RegCloseKey(key);
}

inline void NamesIgnoreCase(CaseReport &report) {
  MakeKey("MixedCase");
  HKEY key;
  CASE_EQ(ERROR_SUCCESS,
          RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\ZELKCONFORMANCE\\mixedcase", 0,
                        KEY_ALL_ACCESS, &key));
  CASE_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Value", 0, REG_SZ, (const BYTE *)"1", 2));
  CASE_EQ(ERROR_SUCCESS, RegSetValueExA(key, "VALUE", 0, REG_SZ, (const BYTE *)"2", 2));
  char data[8];
  DWORD size = sizeof data;
  CASE_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "vAlUe", 0, 0, (BYTE *)data, &size));
  CASE_TEXT("2", data);
  RegCloseKey(key);
  CASE_EQ(ERROR_SUCCESS, MakeKey("MIXEDCASE\\Kid"));
  char names[kTextSize];
  CASE_TEXT("MixedCase", ListNames("", false, names));  // made with this case, kept
  CASE_TEXT("Value", ListNames("MixedCase", true, names));
}

// Both lists run in the order of the lower-cased names, so "_" and "["
// come before the letters and "~" after them; a prefix comes first.
inline void SubkeysEnumerateByName(CaseReport &report) {
  const char *names[] = {"b", "A", "_x", "c", "a1", "B2", "Z", "[", "~", "0", "ab", "aB0"};
  for (const char *name : names) MakeKey(name);
  char listed[kTextSize];
  CASE_TEXT("0,[,_x,A,a1,ab,aB0,b,B2,c,Z,~", ListNames("", false, listed));
}

inline void ValuesEnumerateByName(CaseReport &report) {
  const char *names[] = {"b", "A", "_x", "c", "", "a1", "Z", "["};
  for (const char *name : names) SetValue("", name, REG_SZ, "v", 2);
  char listed[kTextSize];
  CASE_TEXT(",[,_x,A,a1,b,c,Z", ListNames("", true, listed));
  // Neither a replaced value nor one deleted and set again moves.
  SetValue("", "b", REG_DWORD, "\1\0\0\0", 4);
  HKEY key = OpenKey("");
  CASE_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "A"));
  CASE_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(key, "A"));
  RegCloseKey(key);
  SetValue("", "A", REG_SZ, "v", 2);
  CASE_TEXT(",[,_x,A,a1,b,c,Z", ListNames("", true, listed));
}

inline void HandleOutlivesItsDeletedKey(CaseReport &report) {
  SetValue("Doomed", "x", REG_SZ, "x", 2);
  HKEY key = OpenKey("Doomed");
  CASE_EQ(ERROR_SUCCESS, DeleteKey("Doomed"));
  CASE_CHECK(!KeyExists("Doomed"));
  BYTE data[8];
  char name[300];
  DWORD size = sizeof data, length = sizeof name, type;
  HKEY other;
  CASE_EQ(ERROR_KEY_DELETED, RegQueryValueExA(key, "x", 0, &type, data, &size));
  CASE_EQ(ERROR_KEY_DELETED, RegSetValueExA(key, "y", 0, REG_SZ, (const BYTE *)"y", 2));
  CASE_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(key, 0, name, &length, 0, 0, 0, 0));
  length = sizeof name, size = sizeof data;
  CASE_EQ(ERROR_KEY_DELETED, RegEnumValueA(key, 0, name, &length, 0, &type, data, &size));
  CASE_EQ(ERROR_KEY_DELETED,
          RegCreateKeyExA(key, "Sub", 0, 0, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, 0, &other, 0));
  CASE_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(key, "", 0, KEY_ALL_ACCESS, &other));
  CASE_EQ(ERROR_KEY_DELETED, RegDeleteValueA(key, "x"));
  CASE_EQ(ERROR_SUCCESS, RegCloseKey(key));
  CASE_CHECK(!KeyExists("Doomed"));

  // With subkeys, the open handle changes nothing about the family's rule.
  MakeKey("Held\\Kid");
  key = OpenKey("Held");
  CASE_EQ(Windows95Family() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED, DeleteKey("Held"));
  RegCloseKey(key);
}

inline void PathSeparators(CaseReport &report) {
  MakeKey("Sep\\Kid");
  HKEY key;
  CASE_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software\\ZelkConformance", 0,
                                            KEY_QUERY_VALUE, &key));
  const char *accepted[] = {"Software\\ZelkConformance\\Sep\\", "Software\\\\ZelkConformance\\Sep"};
  for (const char *path : accepted) {
    CASE_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key));
    RegCloseKey(key);
  }
  CASE_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\ZelkConformance\\Sep\\Kid\\"));
  CASE_CHECK(KeyExists("Sep") && !KeyExists("Sep\\Kid"));
}

// One pass over four subkeys: NT deletes the first and the third (the
// second and the fourth move down unseen) and cannot delete the key; the
// Windows 95 family deletes those two and then the key with the other two.
// Wine's imitation of the 95 rule goes on past a subkey only when the next
// name is shorter (it does not reset the name length), so the names left
// for it ("Bbbb", then "D") get shorter, as real Windows 95 does not need.
inline void OneErasePassFollowsFamily(CaseReport &report) {
  const char *names[] = {"Tree\\Aaaa", "Tree\\Bbbb", "Tree\\Cc", "Tree\\D"};
  for (const char *name : names) MakeKey(name);
  ErasedKeyCount = 0;
  EraseBranchPass(Path("Tree"));
  char listed[kTextSize];
  if (Windows95Family()) {
    CASE_EQ(3, ErasedKeyCount);
    CASE_CHECK(!KeyExists("Tree"));
  } else {
    CASE_EQ(2, ErasedKeyCount);
    CASE_TEXT("Bbbb,D", ListNames("Tree", false, listed));
  }
}

inline void EraseRemovesTheWholeBranch(CaseReport &report) {
  const char *keys[] = {"Tree\\A\\Deep\\Deeper", "Tree\\B", "Tree\\C\\X", "Tree\\C\\Y", "Tree\\D",
                        "Keep\\Kid", "TreeSibling"};
  for (const char *name : keys) MakeKey(name);
  SetValue("Tree\\A\\Deep", "v", REG_SZ, "v", 2);
  SetValue("Tree", "", REG_SZ, "default", 8);
  SetValue("Keep", "v", REG_DWORD, "\7\0\0\0", 4);
  EraseKeyBranch(Path("Tree"));
  CASE_CHECK(!KeyExists("Tree"));
  CASE_EQ(0, ErasedKeyCount);  // the last pass found nothing
  char listed[kTextSize];
  CASE_TEXT("Keep,TreeSibling", ListNames("", false, listed));
  CASE_TEXT("v", ListNames("Keep", true, listed));
  CASE_TEXT("Kid", ListNames("Keep", false, listed));

  EraseKeyBranch(Path("Missing"));  // nothing there: one pass, no change
  CASE_EQ(0, ErasedKeyCount);
  CASE_TEXT("Keep,TreeSibling", ListNames("", false, listed));
}

inline void FillCopySource(const char *source) {
  char path[BRANCH_PATH_SIZE];
  static BYTE blob[VALUE_DATA_SIZE];
  for (int i = 0; i < VALUE_DATA_SIZE; ++i) blob[i] = (BYTE)i;
  const DWORD number = 2;
  SetValue(source, "", REG_SZ, "default", 8);
  SetValue(source, "Text", REG_SZ, "text", 5);
  SetValue(source, "Number", REG_DWORD, &number, 4);
  SetValue(source, "Blob", REG_BINARY, blob, VALUE_DATA_SIZE);
  SetValue(source, "Expand", REG_EXPAND_SZ, "%TEMP%", 7);
  FormatText(path, sizeof path, "%s\\X\\Y", source);
  SetValue(path, "Deep", REG_SZ, "deep", 5);
  FormatText(path, sizeof path, "%s\\X", source);
  SetValue(path, "Mid", REG_BINARY, "\1\2", 2);
  FormatText(path, sizeof path, "%s\\Z", source);
  MakeKey(path);
}

inline void CopyLeavesExactlyTheSource(CaseReport &report) {
  FillCopySource("Src");
  SetValue("Dst", "Stale", REG_SZ, "old", 4);
  SetValue("Dst", "Text", REG_BINARY, "old", 3);
  SetValue("Dst\\X", "Gone", REG_SZ, "old", 4);
  MakeKey("Dst\\Old\\Older");
  char before[kTextSize], source[kTextSize], target[kTextSize];
  Dump("Src", before);
  CASE_EQ(1, CopyKeyBranch(Path("Src"), Path("Dst")));
  CASE_TEXT(before, Dump("Src", source));  // the source is not changed
  CASE_TEXT(source, Dump("Dst", target));
  // A copy onto a target that does not exist makes it.
  CASE_EQ(1, CopyKeyBranch(Path("Src"), Path("New\\Copy")));
  CASE_TEXT(source, Dump("New\\Copy", target));
}

// A value over 1000 bytes ends the values (it and those after it stay
// behind); the subkeys are copied all the same.
inline void CopyStopsAtAnOversizedValue(CaseReport &report) {
  static BYTE big[VALUE_DATA_SIZE + 1];
  SetValue("Src", "a", REG_SZ, "a", 2);
  SetValue("Src", "b", REG_BINARY, big, VALUE_DATA_SIZE + 1);
  SetValue("Src", "c", REG_SZ, "c", 2);
  SetValue("Src\\K", "k", REG_SZ, "k", 2);
  CASE_EQ(1, CopyKeyBranch(Path("Src"), Path("Dst")));
  char listed[kTextSize];
  CASE_TEXT("a", ListNames("Dst", true, listed));
  CASE_TEXT("k", ListNames("Dst\\K", true, listed));
}

inline void CopyFromAMissingSourceChangesNothing(CaseReport &report) {
  SetValue("Dst\\Kid", "v", REG_SZ, "v", 2);
  char before[kTextSize], after[kTextSize];
  Dump("Dst", before);
  CASE_EQ(0, CopyKeyBranch(Path("Missing"), Path("Dst")));
  CASE_TEXT(before, Dump("Dst", after));
}

}  // namespace registry_cases

const RegistryCase registryCases[] = {
    {"DeleteWithSubkeysFollowsFamily", registry_cases::DeleteWithSubkeysFollowsFamily},
    {"EnumerationIndexShiftsAfterDeletion", registry_cases::EnumerationIndexShiftsAfterDeletion},
    {"LongNamesDoNotFit", registry_cases::LongNamesDoNotFit},
    {"ValueDataOverTheBufferDoesNotFit", registry_cases::ValueDataOverTheBufferDoesNotFit},
    {"TextIsStoredWithItsTerminator", registry_cases::TextIsStoredWithItsTerminator},
    {"NumberIsFourLittleEndianBytes", registry_cases::NumberIsFourLittleEndianBytes},
    {"NamesIgnoreCase", registry_cases::NamesIgnoreCase},
    {"SubkeysEnumerateByName", registry_cases::SubkeysEnumerateByName},
    {"ValuesEnumerateByName", registry_cases::ValuesEnumerateByName},
    {"HandleOutlivesItsDeletedKey", registry_cases::HandleOutlivesItsDeletedKey},
    {"PathSeparators", registry_cases::PathSeparators},
    {"OneErasePassFollowsFamily", registry_cases::OneErasePassFollowsFamily},
    {"EraseRemovesTheWholeBranch", registry_cases::EraseRemovesTheWholeBranch},
    {"CopyLeavesExactlyTheSource", registry_cases::CopyLeavesExactlyTheSource},
    {"CopyStopsAtAnOversizedValue", registry_cases::CopyStopsAtAnOversizedValue},
    {"CopyFromAMissingSourceChangesNothing", registry_cases::CopyFromAMissingSourceChangesNothing},
};

// Runs one case on a fresh scratch key and removes the key afterwards.
inline void RunRegistryCase(const RegistryCase &entry, CaseReport &report) {
  registry_cases::DeleteTree(registry_cases::kScratch);
  registry_cases::MakeKey("");
  entry.run(report);
  registry_cases::DeleteTree(registry_cases::kScratch);
  if (registry_cases::KeyExists("")) report.Fail(__FILE__, __LINE__, "scratch key left behind");
}

#endif
