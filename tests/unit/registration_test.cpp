// Register mode on the simulated machine: the uninstall entry and the group
// name, the default highlight groups, and the launcher script of the
// Windows 95 family.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fixture.h"
#include "registration/registration.h"

namespace {

const char ENTRY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZELK manager";
const char PRODUCT[] = "Software\\Zelk";
const char HIGHLIGHT[] = "Software\\Zelk\\Highlight";
const std::string SZ_END(1, '\0');

std::string Value(HKEY root, const std::string &path, const std::string &name,
                  DWORD *type = nullptr) {
  DWORD stored = 0;
  std::vector<BYTE> data;
  if (!SimRegistryGetValue(root, path, name, &stored, &data)) return "<missing>";
  if (type) *type = stored;
  return std::string(data.begin(), data.end());
}

std::string Number(DWORD value) { return std::string((const char *)&value, 4); }

// Every value of the six groups, in the order they are written.
struct Seeded {
  const char *group;
  const char *name;
  DWORD type;
  std::string data;
};
const std::vector<Seeded> &DefaultGroups() {
  static const std::vector<Seeded> groups = {
      {"Group0", "Mask", REG_SZ, "*.*" + SZ_END},
      {"Group0", "IncludeAttributes", REG_DWORD, Number(2)},
      {"Group0", "NormalColor", REG_DWORD, Number(19)},
      {"Group0", "CursorColor", REG_DWORD, Number(56)},
      {"Group1", "Mask", REG_SZ, "*.*" + SZ_END},
      {"Group1", "IncludeAttributes", REG_DWORD, Number(4)},
      {"Group1", "NormalColor", REG_DWORD, Number(19)},
      {"Group1", "CursorColor", REG_DWORD, Number(56)},
      {"Group2", "Mask", REG_SZ, "*.*" + SZ_END},
      {"Group2", "IncludeAttributes", REG_DWORD, Number(16)},
      {"Group2", "NormalColor", REG_DWORD, Number(31)},
      {"Group2", "CursorColor", REG_DWORD, Number(63)},
      {"Group3", "Mask", REG_SZ, "*.exe,*.com,*.bat,*.cmd" + SZ_END},
      {"Group3", "NormalColor", REG_DWORD, Number(26)},
      {"Group3", "CursorColor", REG_DWORD, Number(58)},
      {"Group4", "Mask", REG_SZ, "*.rar,*.arj,*.zip,*.lzh" + SZ_END},
      {"Group4", "NormalColor", REG_DWORD, Number(29)},
      {"Group4", "CursorColor", REG_DWORD, Number(61)},
      {"Group5", "Mask", REG_SZ, "*.bak,*.tmp" + SZ_END},
      {"Group5", "NormalColor", REG_DWORD, Number(22)},
      {"Group5", "CursorColor", REG_DWORD, Number(54)},
  };
  return groups;
}

std::string GroupKey(const Seeded &value) { return std::string(HIGHLIGHT) + "\\" + value.group; }

// The values of the six groups that are missing.
std::vector<std::string> MissingGroupValues() {
  std::vector<std::string> missing;
  for (const Seeded &value : DefaultGroups())
    if (Value(HKEY_CURRENT_USER, GroupKey(value), value.name) == "<missing>")
      missing.push_back(std::string(value.group) + "\\" + value.name);
  return missing;
}

void InstallAt(const std::string &directory, const std::string &name = "uninstall.exe") {
  SimSetModulePath(directory + "\\" + name);
  SimAddFile(directory + "\\" + name, "MZ");
}

class Registration : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    InstallAt("C:\\Program Files\\Zelk");
  }
};

TEST_F(Registration, TheNtFamilyRecordsTheEntryGroupAndHighlightsOnly) {
  RegisterInstallation("  Zelk Tools ");

  DWORD type = 0;
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ENTRY, "DisplayName", &type), "ZELK file manager" + SZ_END);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  // Quoted, so that the system cannot take "C:\Program" for the program.
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ENTRY, "UninstallString", &type),
            "\"C:\\Program Files\\Zelk\\uninstall.exe\"" + SZ_END);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_EQ(SimRegistryValues(HKEY_LOCAL_MACHINE, ENTRY),
            (std::vector<std::string>{"DisplayName", "UninstallString"}));
  EXPECT_EQ(Value(HKEY_CURRENT_USER, PRODUCT, "Group", &type), "Zelk Tools " + SZ_END);
  EXPECT_EQ(type, (DWORD)REG_SZ);
  EXPECT_FALSE(SimRegistryKeyExists(HKEY_CURRENT_USER, ENTRY));
  EXPECT_FALSE(SimRegistryKeyExists(HKEY_LOCAL_MACHINE, PRODUCT));

  for (const Seeded &value : DefaultGroups()) {
    EXPECT_EQ(Value(HKEY_CURRENT_USER, GroupKey(value), value.name, &type), value.data)
        << value.group << "\\" << value.name;
    EXPECT_EQ(type, value.type) << value.group << "\\" << value.name;
  }
  size_t total = 0;
  for (const std::string &group : SimRegistrySubkeys(HKEY_CURRENT_USER, HIGHLIGHT))
    total += SimRegistryValues(HKEY_CURRENT_USER, std::string(HIGHLIGHT) + "\\" + group).size();
  EXPECT_EQ(total, DefaultGroups().size());
  EXPECT_EQ(SimRegistrySubkeys(HKEY_CURRENT_USER, HIGHLIGHT).size(), 6u);

  // Nothing lands in the program directory on this family.
  EXPECT_EQ(SimListTree("C:\\Program Files\\Zelk"),
            (std::vector<std::string>{"C:\\Program Files\\Zelk\\uninstall.exe"}));
}

TEST_F(Registration, TheGroupLosesOnlyItsLeadingBlanks) {
  struct {
    const char *text;
    const char *stored;
  } cases[] = {
      {"  Two blanks", "Two blanks"}, {" Trailing  ", "Trailing  "}, {"\tTab", "\tTab"},
      {"\t Tab first", "\t Tab first"}, {"Straight", "Straight"}, {"", ""}, {"   ", ""},
  };
  for (const auto &c : cases) {
    WriteUninstallEntry(c.text);
    EXPECT_EQ(Value(HKEY_CURRENT_USER, PRODUCT, "Group"), c.stored + SZ_END) << '"' << c.text << '"';
  }
}

TEST_F(Registration, AnEntryPathWithoutBlanksStaysBare) {
  for (const char *directory : {"C:\\Zelk", "C:\\A&B"}) {
    InstallAt(directory);
    WriteUninstallEntry("");
    EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ENTRY, "UninstallString"),
              std::string(directory) + "\\uninstall.exe" + SZ_END);
  }
}

TEST_F(Registration, ARefusedEntryWritesNoGroupButTheHighlightsStillCome) {
  SimRegistryPutText(HKEY_CURRENT_USER, PRODUCT, "Group", "Earlier");
  SimRegistryRefuseCreate(HKEY_LOCAL_MACHINE, "");
  RegisterInstallation(" New Group");
  EXPECT_FALSE(SimRegistryKeyExists(HKEY_LOCAL_MACHINE, ENTRY));
  EXPECT_EQ(Value(HKEY_CURRENT_USER, PRODUCT, "Group"), "Earlier" + SZ_END);
  EXPECT_TRUE(MissingGroupValues().empty());
}

// Each write fails alone in turn: the value that goes missing shows which
// write came at that point.
TEST_F(Registration, TheHighlightValuesAreWrittenInTableOrder) {
  SimClearCalls();
  SeedHighlightGroups();
  std::vector<long> writes;
  for (size_t i = 0; i < SimCalls().size(); ++i)
    if (SimCalls()[i] == "RegSetValueExA") writes.push_back((long)i + 1);
  ASSERT_EQ(writes.size(), DefaultGroups().size());

  std::vector<std::string> order;
  for (long call : writes) {
    SimReset();
    SimFailNthCall(call, false);
    SeedHighlightGroups();
    std::vector<std::string> missing = MissingGroupValues();
    ASSERT_EQ(missing.size(), 1u) << "call " << call;
    order.push_back(missing[0]);
  }
  std::vector<std::string> expected;
  for (const Seeded &value : DefaultGroups())
    expected.push_back(std::string(value.group) + "\\" + value.name);
  EXPECT_EQ(order, expected);
}

TEST_F(Registration, OnlyAnOpenableHighlightKeyStopsTheSeeding) {
  // Present, even empty or changed by the user: nothing is written.
  SimRegistryPutNumber(HKEY_CURRENT_USER, std::string(HIGHLIGHT) + "\\Group2", "NormalColor", 7);
  SimClearCalls();
  SeedHighlightGroups();
  EXPECT_EQ(std::count(SimCalls().begin(), SimCalls().end(), "RegSetValueExA"), 0);
  EXPECT_EQ(Value(HKEY_CURRENT_USER, std::string(HIGHLIGHT) + "\\Group2", "NormalColor"), Number(7));
  EXPECT_EQ(SimRegistrySubkeys(HKEY_CURRENT_USER, HIGHLIGHT), (std::vector<std::string>{"Group2"}));

  // Groups under the machine root do not count.
  SimReset();
  SimRegistryPutKey(HKEY_LOCAL_MACHINE, HIGHLIGHT);
  SeedHighlightGroups();
  EXPECT_TRUE(MissingGroupValues().empty());

  // A key that cannot be opened for reading counts as absent.
  SimReset();
  SimRegistryPutKey(HKEY_CURRENT_USER, HIGHLIGHT);
  SimFailCall("RegOpenKeyExA", true);
  SeedHighlightGroups();
  SimFailCall("RegOpenKeyExA", false);
  EXPECT_TRUE(MissingGroupValues().empty());
}

TEST_F(Registration, QuotingForTheCommandProcessor) {
  struct {
    const char *path;
    const char *quoted;
  } cases[] = {
      {"", ""},
      {"C:\\Zelk\\Zelk.exe", "C:\\Zelk\\Zelk.exe"},
      {"C:\\Program Files\\Zelk.exe", "\"C:\\Program Files\\Zelk.exe\""},
      {"C:\\A&B\\Zelk.exe", "\"C:\\A&B\\Zelk.exe\""},
      {"-dash", "\"-dash\""},
      {"^caret", "\"^caret\""},
      {"a-b^c", "a-b^c"},
      {"C:\\Tab\there|<>%()", "C:\\Tab\there|<>%()"},
      {"\"already\"", "\"already\""},
      {"\"quoted blank\"", "\"\"quoted blank\"\""},
  };
  for (const auto &c : cases) {
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s", c.path);
    EXPECT_EQ(QuoteForScript(buffer), buffer);
    EXPECT_STREQ(buffer, c.quoted) << c.path;
  }
}

// --- The Windows 95 family -----------------------------------------------------

const std::string MARKER = "\\$UseBat.$$$";
const std::string SCRIPT = "\\Zelk.bat";

TEST_F(Registration, TheWindows95FamilyWritesMarkerAndLauncherOnce) {
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  const std::string dir = "C:\\Program Files\\Zelk";
  RegisterInstallation(" Zelk");
  EXPECT_EQ(SimReadFile(dir + MARKER), "");
  EXPECT_EQ(SimReadFile(dir + SCRIPT), "\"C:\\Program Files\\Zelk\\Zelk.exe\"\r\n");
  // The registry side is the same as on the NT family.
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, ENTRY, "UninstallString"),
            "\"C:\\Program Files\\Zelk\\uninstall.exe\"" + SZ_END);
  EXPECT_EQ(Value(HKEY_CURRENT_USER, PRODUCT, "Group"), "Zelk" + SZ_END);
  EXPECT_TRUE(MissingGroupValues().empty());

  // Again: the marker is emptied, the launcher is never rewritten.
  SimAddFile(dir + MARKER, "filled in between");
  SimAddFile(dir + SCRIPT, "edited by the user\r\n");
  RegisterInstallation(" Zelk");
  EXPECT_EQ(SimReadFile(dir + MARKER), "");
  EXPECT_EQ(SimReadFile(dir + SCRIPT), "edited by the user\r\n");
}

TEST_F(Registration, TheLauncherLineFollowsTheDirectoryName) {
  struct {
    const char *directory;
    const char *line;
  } cases[] = {
      {"C:\\Zelk", "C:\\Zelk\\Zelk.exe\r\n"},
      {"C:\\Tools\\A&B", "\"C:\\Tools\\A&B\\Zelk.exe\"\r\n"},
      {"C:\\Program Files\\Zelk", "\"C:\\Program Files\\Zelk\\Zelk.exe\"\r\n"},
      // Letters the OEM page has are converted to it.
      {"C:\\Caf\xE9 Zelk", "\"C:\\Caf\x82 Zelk\\Zelk.exe\"\r\n"},
      {"C:\\\xC4rger", "C:\\\x8Erger\\Zelk.exe\r\n"},
      // A name it cannot carry is replaced by the short form.
      {"C:\\Pr\x80ise Dir", "C:\\PR_ISE~1\\Zelk.exe\r\n"},
      {"C:\\\x8A\x9C", "C:\\__~1\\Zelk.exe\r\n"},
  };
  for (const auto &c : cases) {
    SimReset();
    SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    InstallAt(c.directory);
    WriteLauncherScript();
    EXPECT_EQ(SimReadFile(std::string(c.directory) + SCRIPT), c.line) << c.directory;
    EXPECT_EQ(SimReadFile(std::string(c.directory) + MARKER), "") << c.directory;
  }
}

TEST_F(Registration, TheLauncherStepWritesNothingItCannotWriteWhole) {
  const std::string dir = "C:\\Program Files\\Zelk";
  auto files = [&] { return SimListTree(dir); };
  const std::vector<std::string> untouched = {dir + "\\uninstall.exe"};

  // The NT family, and a version query that fails.
  WriteLauncherScript();
  EXPECT_EQ(files(), untouched);
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  SimSetVersionQueryFails(true);
  WriteLauncherScript();
  EXPECT_EQ(files(), untouched);
  SimSetVersionQueryFails(false);

  // No marker, no launcher.
  SimRefuseCreation(dir + MARKER);
  WriteLauncherScript();
  EXPECT_EQ(files(), untouched);

  // A directory of the launcher's name stays as it is; the marker is made.
  SimReset();
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  InstallAt(dir);
  SimAddDirectory(dir + SCRIPT);
  WriteLauncherScript();
  EXPECT_EQ(files(), (std::vector<std::string>{dir + MARKER, dir + "\\uninstall.exe",
                                               dir + SCRIPT + "\\"}));

  // A launcher that cannot be created leaves the marker alone.
  SimReset();
  SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
  InstallAt(dir);
  SimRefuseCreation(dir + SCRIPT);
  WriteLauncherScript();
  EXPECT_EQ(files(), (std::vector<std::string>{dir + MARKER, dir + "\\uninstall.exe"}));
}

TEST_F(Registration, ADirectoryTooLongForTheNamesGetsNoFiles) {
  // Under a short module name the directory may leave room for the program
  // but not for the marker's longer name: then nothing is written at all.
  for (size_t length : {(size_t)247, (size_t)248}) {
    SimReset();
    SimSetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    std::string dir = "C:\\" + std::string(length - 3, 'z');
    InstallAt(dir, "u.exe");
    WriteLauncherScript();
    std::vector<std::string> expected = {dir + "\\u.exe"};
    if (length + MARKER.size() < MAX_PATH)
      expected = {dir + MARKER, dir + "\\u.exe", dir + SCRIPT};
    EXPECT_EQ(SimListTree(dir), expected) << length;
  }
}

}  // namespace
