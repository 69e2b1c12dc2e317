// Every platform call of a full registration and a full uninstallation
// fails in turn, once or from then on, with that call's own error. Whatever
// fails, the program ends with code 0, shows no box but the confirmation
// and the list-file error, deletes nothing outside the program directory
// but the program group, leaves no handle open, and stops only in the
// states that its failure handling allows.
#include <algorithm>
#include <string>
#include <vector>

#include "app/entry.h"
#include "fixture.h"
#include "resources/strings.h"

namespace {

const std::string kProgramDir = "C:\\Program Files\\Zelk";
const std::string kPrefix = kProgramDir + "\\";
const std::string kModule = kPrefix + "uninstall.exe";
const std::string kPrograms = "C:\\Menu\\Programs";
const std::string kGroupFolder = kPrograms + "\\ZELK";
const std::string kScript = "C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat";
const char *const kEntry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZELK manager";
const char *const kProduct = "Software\\Zelk";
const std::string kNoListFile = std::string(TEXT_NO_LIST_FILE) + " Uninstall.lst";
// What the list names, directories before what they hold.
const std::vector<std::string> kListed = {"Doc",      "Doc\\Sub",      "Doc\\manual.txt",
                                          "Doc\\Sub\\notes.txt", "zelk.exe", "Zelk.bat",
                                          "$UseBat.$$$"};

enum Scenario { REGISTRATION, UNINSTALLATION };

struct Matrix {
  Scenario scenario;
  DWORD platform;
  bool persistent;
};

std::string Lower(std::string text) {
  for (char &c : text)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return text;
}

bool Under(const std::string &path, const std::string &directory) {
  std::string p = Lower(path), d = Lower(directory);
  return p == d || p.compare(0, d.size() + 1, d + "\\") == 0;
}

std::string Text(HKEY root, const std::string &path, const std::string &name) {
  DWORD type = 0;
  std::vector<BYTE> data;
  if (!SimRegistryGetValue(root, path, name, &type, &data)) return "(none)";
  return std::string(data.begin(), data.end());
}

void InstallOutside() {
  SimSetProgramsFolder(kPrograms);
  SimAddFile(kModule, "MZ");
  SimAddFile("C:\\Program Files\\Other\\keep.txt", "", FILE_ATTRIBUTE_READONLY);
  SimAddFile("C:\\keep.txt");
  SimRegistryPutText(HKEY_CURRENT_USER, "Software\\Other", "Kept", "another product");
}

// The machine as the installer leaves it before register mode runs.
void InstallForRegistration() {
  InstallOutside();
  SimAddFile(kPrefix + "zelk.exe", "MZ");
  SimAddFile(kGroupFolder + "\\ZELK.lnk");
  SimSetCommandLine("\"" + kModule + "\" register ZELK");
}

// The machine as a registration leaves it.
void InstallForUninstallation() {
  InstallOutside();
  SimAddFile(kPrefix + "zelk.exe", "MZ");
  SimAddFile(kPrefix + "Doc\\manual.txt", "read me", FILE_ATTRIBUTE_READONLY);
  SimAddFile(kPrefix + "Doc\\Sub\\notes.txt", "", FILE_ATTRIBUTE_HIDDEN);
  if (SimPlatformId() == VER_PLATFORM_WIN32_WINDOWS) {
    SimAddFile(kPrefix + "Zelk.bat", "\"" + kPrefix + "Zelk.exe\"\r\n");
    SimAddFile(kPrefix + "$UseBat.$$$");
  }
  std::string list;
  for (const std::string &entry : kListed) list += entry + "\r\n";
  SimAddFile(kPrefix + "Uninstall.lst", list);
  SimAddFile(kGroupFolder + "\\ZELK.lnk");
  SimAddFile(kGroupFolder + "\\Read me.lnk", "", FILE_ATTRIBUTE_ARCHIVE);
  SimRegistryPutText(HKEY_LOCAL_MACHINE, kEntry, "DisplayName", "ZELK file manager");
  SimRegistryPutText(HKEY_LOCAL_MACHINE, kEntry, "UninstallString", "\"" + kModule + "\"");
  SimRegistryPutText(HKEY_CURRENT_USER, kProduct, "Group", "ZELK");
  for (int i = 0; i < 6; i++) {
    std::string group = std::string(kProduct) + "\\Highlight\\Group" + std::to_string(i);
    SimRegistryPutText(HKEY_CURRENT_USER, group, "Mask", "*.*");
    SimRegistryPutNumber(HKEY_CURRENT_USER, group, "NormalColor", 0x13);
  }
  SimRegistryPutText(HKEY_LOCAL_MACHINE, kProduct, "Group", "ZELK");
  SimRegistryPutNumber(HKEY_LOCAL_MACHINE, std::string(kProduct) + "\\Options", "Flags", 1);
  SimSetCommandLine("\"" + kModule + "\"");
}

bool IsRelease(const std::string &function) {
  static const char *const releases[] = {"RegCloseKey",     "FindClose",         "CloseStream",
                                         "CloseHandle",     "DdeUninitialize",   "DdeDisconnect",
                                         "DdeFreeStringHandle", "DdeFreeDataHandle", "SHGetMalloc",
                                         "IMalloc::Release"};
  for (const char *release : releases)
    if (function == release) return true;
  return false;
}

struct Outcome {
  bool exited = false;
  unsigned code = 99;
};

Outcome RunProgram() {
  Outcome outcome;
  try {
    outcome.code = (unsigned)UninstallerMain(SimInstance(), nullptr,
                                              ArgumentString(GetCommandLineA()), SW_SHOWDEFAULT);
  } catch (const SimProcessExit &exit) {
    outcome.exited = true;
    outcome.code = exit.code;
  }
  return outcome;
}

class FaultMatrix : public SimTest, public ::testing::WithParamInterface<Matrix> {
 protected:
  void Install() {
    SimReset();
    SimSetPlatformId(GetParam().platform);
    if (GetParam().scenario == REGISTRATION) {
      InstallForRegistration();
    } else {
      InstallForUninstallation();
      SimQueueAnswer(IDYES);
      SimQueueAnswer(IDOK);  // taken only by the list-file error
    }
  }

  void CheckRegistration(const Outcome &outcome, const std::string &what) {
    EXPECT_FALSE(outcome.exited) << what;
    EXPECT_TRUE(SimMessageBoxes().empty()) << what;
    // Registration deletes nothing but a launcher script of its own that a
    // failed write left cut short.
    for (const SimDeletion &deleted : SimDeletions())
      EXPECT_EQ(deleted.path, kPrefix + "Zelk.bat") << what;
    // The Group value comes only after the entry, and nothing is half
    // written: a value is there whole or not at all.
    bool entry = SimRegistryKeyExists(HKEY_LOCAL_MACHINE, kEntry);
    std::string group = Text(HKEY_CURRENT_USER, kProduct, "Group");
    EXPECT_TRUE(group == "(none)" || (group == std::string("ZELK", 5) && entry)) << what;
    std::string display = Text(HKEY_LOCAL_MACHINE, kEntry, "DisplayName");
    EXPECT_TRUE(display == "(none)" || display == std::string("ZELK file manager", 18)) << what;
    std::string command = Text(HKEY_LOCAL_MACHINE, kEntry, "UninstallString");
    EXPECT_TRUE(command == "(none)" || command == kModule + '\0' ||
                command == "\"" + kModule + "\"" + '\0')
        << what << ": " << command;
    EXPECT_FALSE(SimRegistryKeyExists(HKEY_LOCAL_MACHINE, kProduct)) << what;
    // A launcher script, when there is one, holds its whole line.
    std::vector<std::string> expectedFiles = {kPrefix + "uninstall.exe", kPrefix + "zelk.exe"};
    if (GetParam().platform == VER_PLATFORM_WIN32_WINDOWS) {
      if (SimPathExists(kPrefix + "Zelk.bat")) {
        // The quoted path, or the short form when the conversion to the
        // OEM code page did not come back whole.
        // A write cut short is taken away again; only when that deletion
        // fails as well (every later call failing) may a part remain.
        std::string line = SimReadFile(kPrefix + "Zelk.bat");
        const std::string quoted = "\"" + kPrefix + "Zelk.exe\"\r\n";
        const std::string shortForm = "C:\\PROGRA~1\\Zelk\\Zelk.exe\r\n";
        if (GetParam().persistent) {
          EXPECT_TRUE(quoted.compare(0, line.size(), line) == 0 ||
                      shortForm.compare(0, line.size(), line) == 0)
              << what << ": " << line;
        } else {
          EXPECT_TRUE(line == quoted || line == shortForm) << what << ": " << line;
        }
        EXPECT_TRUE(SimPathExists(kPrefix + "$UseBat.$$$")) << what;
        expectedFiles.push_back(kPrefix + "Zelk.bat");
      }
      if (SimPathExists(kPrefix + "$UseBat.$$$")) {
        EXPECT_EQ(SimReadFile(kPrefix + "$UseBat.$$$"), "") << what;
        expectedFiles.push_back(kPrefix + "$UseBat.$$$");
      }
    }
    std::vector<std::string> files = SimListTree(kProgramDir);
    std::sort(files.begin(), files.end());
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(files, expectedFiles) << what;
  }

  void CheckUninstallation(const Outcome &outcome, const std::string &what) {
    const std::vector<SimMessageBox> &boxes = SimMessageBoxes();
    const UINT question = MB_SETFOREGROUND | MB_ICONQUESTION | MB_YESNO;
    const UINT error = MB_SETFOREGROUND | MB_ICONERROR;
    ASSERT_LE(boxes.size(), 2u) << what;
    // A text that cannot be loaded from the string table comes out empty.
    for (const SimMessageBox &box : boxes) {
      EXPECT_TRUE(box.caption == TEXT_TITLE || box.caption.empty()) << what;
      EXPECT_EQ(box.owner, nullptr) << what;
    }
    bool listFailed = false;
    if (!boxes.empty()) {
      EXPECT_EQ(boxes[0].flags, question) << what;
      EXPECT_TRUE(boxes[0].text == TEXT_CONFIRM_UNINSTALL || boxes[0].text.empty()) << what;
    }
    if (boxes.size() == 2) {
      listFailed = true;
      EXPECT_EQ(boxes[1].flags, error) << what;
      EXPECT_TRUE(boxes[1].text == kNoListFile || boxes[1].text == " Uninstall.lst")
          << what << ": " << boxes[1].text;
    }

    // Only the program directory and the program group lose anything.
    for (const SimDeletion &deletion : SimDeletions())
      EXPECT_TRUE(Under(deletion.path, kProgramDir) || Under(deletion.path, kGroupFolder) ||
                  Lower(deletion.path) == Lower(kScript))
          << what << ": deleted " << deletion.path;
    EXPECT_TRUE(SimPathExists("C:\\Program Files\\Other\\keep.txt")) << what;
    EXPECT_EQ(SimFileAttributes("C:\\Program Files\\Other\\keep.txt"),
              (DWORD)FILE_ATTRIBUTE_READONLY)
        << what;
    EXPECT_TRUE(SimPathExists("C:\\keep.txt")) << what;
    EXPECT_TRUE(SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Other")) << what;
    // The executable goes only through the script, after this process.
    EXPECT_TRUE(SimPathExists(kModule)) << what;

    bool removedAnything = !SimDeletions().empty() ||
                           !SimRegistryKeyExists(HKEY_CURRENT_USER, kProduct) ||
                           !SimRegistryKeyExists(HKEY_LOCAL_MACHINE, kProduct) ||
                           !SimRegistryKeyExists(HKEY_LOCAL_MACHINE, kEntry);
    bool confirmed = !boxes.empty() && SimPendingAnswers() < 2;
    if (!confirmed || listFailed) {
      // Declined, or no list: everything stays.
      EXPECT_FALSE(removedAnything) << what;
      EXPECT_TRUE(SimLaunches().empty()) << what;
    }
    if (outcome.exited) {
      // Ended only after the script was written whole.
      EXPECT_FALSE(listFailed) << what;
      ASSERT_TRUE(SimPathExists(kScript)) << what;
      // Paths in their own or their short form; nineteen lines, the last
      // without a line end.
      std::string script = SimReadFile(kScript);
      size_t firstEnd = script.find("\r\n");
      ASSERT_NE(firstEnd, std::string::npos) << what;
      EXPECT_EQ(script.substr(firstEnd - 6, 8), "\" wait\r\n") << what;
      EXPECT_EQ(script.substr(script.size() - 19), "Uninstall.Zelk.Bat\"") << what;
      size_t lines = 1;
      for (size_t at = script.find("\r\n"); at != std::string::npos; at = script.find("\r\n", at + 2))
        lines++;
      EXPECT_EQ(lines, 19u) << what;
    } else {
      EXPECT_TRUE(SimLaunches().empty()) << what;
      // A script cut short is deleted again, unless the deletion fails too.
      if (!GetParam().persistent) {
        EXPECT_FALSE(SimPathExists(kScript)) << what << ": a script that was never started";
      }
    }
  }
};

TEST_P(FaultMatrix, EveryCallFailingInTurnEndsInAnAllowedState) {
  // A run without faults counts the calls, and must complete.
  Install();
  long first = SimCallCount();
  Outcome clean = RunProgram();
  long calls = SimCallCount() - first;
  ASSERT_GT(calls, 10);
  RecordProperty("injectedFaults", (int)calls);
  EXPECT_EQ(clean.code, 0u);
  if (GetParam().scenario == REGISTRATION) {
    EXPECT_EQ(Text(HKEY_CURRENT_USER, kProduct, "Group"), std::string("ZELK", 5));
  } else {
    EXPECT_TRUE(clean.exited);
    EXPECT_FALSE(SimRegistryKeyExists(HKEY_LOCAL_MACHINE, kEntry));
    EXPECT_FALSE(SimPathExists(kPrefix + "Doc"));
    EXPECT_FALSE(SimPathExists(kGroupFolder));
  }

  for (long n = 1; n <= calls; n++) {
    Install();
    long base = SimCallCount();
    SimFailNthCall(n, GetParam().persistent);
    Outcome outcome = RunProgram();
    const std::vector<std::string> &log = SimCalls();
    const std::string failed = base + n - 1 < (long)log.size() ? log[base + n - 1] : "?";
    const std::string what = "call " + std::to_string(n) + " of " + std::to_string(calls) + " (" +
                             failed + ")" +
                             (GetParam().persistent ? " and every later one" : "") + " failing";
    EXPECT_EQ(outcome.code, 0u) << what;
    // A handle stays open only when the call that would close it failed.
    long failedReleases = 0;
    for (long at = base + n - 1; at < (long)log.size(); at++) {
      if (IsRelease(log[at])) failedReleases++;
      if (!GetParam().persistent) break;
    }
    EXPECT_LE(SimOpenHandleCount(), failedReleases) << what << ": " << SimOpenHandleReport();
    for (const std::string &problem : SimProblems()) ADD_FAILURE() << what << ": " << problem;
    if (GetParam().scenario == REGISTRATION)
      CheckRegistration(outcome, what);
    else
      CheckUninstallation(outcome, what);
    if (HasFailure()) break;  // one readable failure, not hundreds
  }
  SimReset();
}

std::string Name(const ::testing::TestParamInfo<Matrix> &info) {
  return std::string(info.param.scenario == REGISTRATION ? "Registration" : "Uninstallation") +
         (info.param.platform == VER_PLATFORM_WIN32_WINDOWS ? "Windows95" : "NT") +
         (info.param.persistent ? "Persistent" : "Once");
}

INSTANTIATE_TEST_SUITE_P(
    BothFamilies, FaultMatrix,
    ::testing::Values(Matrix{REGISTRATION, VER_PLATFORM_WIN32_NT, false},
                      Matrix{REGISTRATION, VER_PLATFORM_WIN32_NT, true},
                      Matrix{REGISTRATION, VER_PLATFORM_WIN32_WINDOWS, false},
                      Matrix{REGISTRATION, VER_PLATFORM_WIN32_WINDOWS, true},
                      Matrix{UNINSTALLATION, VER_PLATFORM_WIN32_NT, false},
                      Matrix{UNINSTALLATION, VER_PLATFORM_WIN32_NT, true},
                      Matrix{UNINSTALLATION, VER_PLATFORM_WIN32_WINDOWS, false},
                      Matrix{UNINSTALLATION, VER_PLATFORM_WIN32_WINDOWS, true}),
    Name);

}  // namespace
