#include <cstring>

#include "app/messages.h"
#include "resources/strings.h"
#include "settings/settings.h"
#include "uninstall/uninstall.h"
#include "uninstall_world.h"

using namespace world;

namespace {

class ListTest : public SimTest {
 protected:
  // Runs the deletion passes over a list with these bytes; answers how
  // many passes were made.
  int RunPasses(const std::string &listBytes) {
    SimAddFile(kList, listBytes);
    FileStream *list = OpenStream(kList.c_str(), "rb");
    EXPECT_NE(list, nullptr);
    if (!list) return 0;
    SimClearCalls();
    DeleteListedEntries(list, kPrefix.c_str());
    int passes = CountCalls("RewindStream") + 1;
    CloseStream(list);
    return passes;
  }
  std::vector<std::string> Deleted() {
    std::vector<std::string> paths;
    for (const SimDeletion &deletion : SimDeletions()) paths.push_back(deletion.path);
    return paths;
  }
};

TEST_F(ListTest, PassesRepeatUntilOneDeletesNothing) {
  struct Case {
    const char *what;
    std::vector<std::string> files;  // below the program directory
    std::string list;
    int passes;
    std::vector<std::string> deleted;  // in order
  } cases[] = {
      {"a directory before its two files",
       {"Doc\\a.txt", "Doc\\b.txt"},
       "Doc\r\nDoc\\a.txt\r\nDoc\\b.txt\r\n",
       3,
       {"Doc\\a.txt", "Doc\\b.txt", "Doc"}},
      {"nested directories, outermost first",
       {"A\\B\\C\\f.txt"},
       "A\nA\\B\nA\\B\\C\nA\\B\\C\\f.txt\n",
       5,
       {"A\\B\\C\\f.txt", "A\\B\\C", "A\\B", "A"}},
      {"blank lines only", {"keep.txt"}, "\r\n\n   \n\t\r\n", 1, {}},
      {"a duplicate and a missing entry",
       {"a.txt"},
       "a.txt\nmissing.txt\na.txt\n",
       2,
       {"a.txt"}},
      {"read-only, hidden and system files",
       {},
       "ro.txt\nhidden.txt\nsystem.txt\n",
       2,
       {"ro.txt", "hidden.txt", "system.txt"}},
      {"a directory that keeps an unlisted file",
       {"Doc\\listed.txt", "Doc\\unlisted.txt"},
       "Doc\nDoc\\listed.txt\n",
       2,
       {"Doc\\listed.txt"}},
  };
  for (const Case &c : cases) {
    SimReset();
    for (const std::string &file : c.files) SimAddFile(In(file));
    SimAddFile(In("ro.txt"), "", FILE_ATTRIBUTE_READONLY);
    SimAddFile(In("hidden.txt"), "", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
    SimAddFile(In("system.txt"), "", FILE_ATTRIBUTE_SYSTEM);

    EXPECT_EQ(RunPasses(c.list), c.passes) << c.what;
    std::vector<std::string> expected;
    for (const std::string &entry : c.deleted) expected.push_back(In(entry));
    EXPECT_EQ(Deleted(), expected) << c.what;
  }
}

// Each list names the target among decoys that share its name up to the
// bytes in question; exactly the target must go.
TEST_F(ListTest, LineRules) {
  struct Case {
    const char *what;
    std::string list;
    std::string target;
  } cases[] = {
      {"CR LF", "a.txt\r\n", "a.txt"},
      {"trailing blanks and tabs", "a.txt \t  \t\r\n", "a.txt"},
      {"trailing control bytes and DEL", "a.txt\x0b\x0c\x7f\x1f\n", "a.txt"},
      {"blanks at the start are kept", "  a.txt\n", "  a.txt"},
      {"a NUL ends the entry", std::string("a.txt\0b.txt\n", 12), "a.txt"},
      {"0x1A is an ordinary byte", "\x1a\nb.txt\n", "b.txt"},
      {"last line without a line end", "\n\nb.txt", "b.txt"},
      {"blank lines around", "\n \n\t\n\r\nb.txt\r\n\r\n\n", "b.txt"},
      {"bytes above 0x7F stay", "caf\xe9 \xa0\n", "caf\xe9 \xa0"},
      {"a blank inside the name", "Read me.txt \r\n", "Read me.txt"},
  };
  const std::vector<std::string> files = {"a.txt",     "  a.txt",     "b.txt",
                                          "caf\xe9 \xa0", "caf\xe9",  "Read me.txt",
                                          "Read"};
  for (const Case &c : cases) {
    SimReset();
    for (const std::string &file : files) SimAddFile(In(file));
    RunPasses(c.list);
    EXPECT_EQ(Deleted(), std::vector<std::string>{In(c.target)}) << c.what;
  }
}

TEST_F(ListTest, TrimLineEndStopsAtTheFirstOtherByte) {
  struct Case {
    const char *line;
    const char *trimmed;
  } cases[] = {{"", ""},           {" \t\r\n", ""},         {"a \x01\x7f", "a"},
               {" a", " a"},       {"a\xff \n", "a\xff"},   {"a b ", "a b"},
               {"\x80\x20", "\x80"}};
  for (const Case &c : cases) {
    char line[32];
    strcpy(line, c.line);
    TrimLineEnd(line);
    EXPECT_STREQ(line, c.trimmed) << '"' << c.line << '"';
  }
}

// An entry that would lead out of the program directory is neither deleted
// nor has its attributes changed; the other entries go on.
TEST_F(ListTest, EntriesLeavingTheDirectoryAreRefused) {
  const char *entries[] = {
      "..\\Other\\victim.txt",        "Doc\\..\\..\\Other\\victim.txt",
      "Doc/../../Other/victim.txt",   ".. \\Other\\victim.txt",
      "...\\Other\\victim.txt",       "\\victim.txt",
      "/victim.txt",                  "C:victim.txt",
      "C:\\victim.txt",               "\\\\server\\share\\victim.txt",
      "//server/share/victim.txt",    "\\\\?\\C:\\victim.txt",
      "Doc\\..",                      "..",
  };
  for (const char *entry : entries) {
    SimReset();
    SimSetCurrentDirectory("C:\\");
    SimAddFile(In("Doc\\inside.txt"));
    SimAddFile("C:\\Program Files\\Other\\victim.txt", "", FILE_ATTRIBUTE_READONLY);
    SimAddFile("C:\\victim.txt", "", FILE_ATTRIBUTE_READONLY);
    SimAddFile(In("ok.txt"));

    RunPasses(std::string(entry) + "\r\nok.txt\r\n");

    EXPECT_EQ(Deleted(), std::vector<std::string>{In("ok.txt")}) << entry;
    EXPECT_EQ(SimFileAttributes("C:\\Program Files\\Other\\victim.txt"),
              (DWORD)FILE_ATTRIBUTE_READONLY)
        << entry;
    EXPECT_EQ(SimFileAttributes("C:\\victim.txt"), (DWORD)FILE_ATTRIBUTE_READONLY) << entry;
    // ok.txt only, in the first pass; the second skips it, deleted.
    EXPECT_EQ(CountCalls("SetFileAttributesA"), 1) << entry;
  }
}

TEST_F(ListTest, NoDeletionFollowsALinkOutOfTheDirectory) {
  SimAddFile("C:\\Elsewhere\\victim.txt", "", FILE_ATTRIBUTE_READONLY);
  SimAddFile("C:\\Elsewhere\\Deep\\victim.txt");
  SimMakeJunction(In("link"), "C:\\Elsewhere");
  SimMakeJunction(In("Doc\\link"), "C:\\Elsewhere");
  SimAddFile(In("ok.txt"));

  RunPasses("link\\victim.txt\nlink\\Deep\\victim.txt\nlink\\Deep\nDoc\\link\\victim.txt\n"
            "ok.txt\n");

  EXPECT_EQ(Deleted(), std::vector<std::string>{In("ok.txt")});
  EXPECT_EQ(SimFileAttributes("C:\\Elsewhere\\victim.txt"), (DWORD)FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(SimPathExists("C:\\Elsewhere\\Deep\\victim.txt"));
}

// The levels of one entry are not read again for the next entry that has
// them, so the check must tell a shared level from a different one.
TEST_F(ListTest, LevelsSharedWithThePreviousEntryStillStopAtALink) {
  struct Case {
    const char *what;
    std::string list;
  } cases[] = {
      {"a sibling whose name begins with the checked one's", "a\\b\\f.txt\na\\bc\\victim.txt\n"},
      {"the same sibling after forward slashes", "a/b/f.txt\na/bc/victim.txt\n"},
      {"a link one level below the checked ones", "a\\b\\f.txt\na\\b\\link\\victim.txt\n"},
      {"a link after an entry at the top", "f.txt\nbc\\victim.txt\n"},
      {"a link whose name begins the checked one's", "c\\bc\\f.txt\nc\\b\\victim.txt\n"},
  };
  for (const Case &c : cases) {
    SimReset();
    SimAddFile("C:\\Elsewhere\\victim.txt");
    SimAddFile(In("a\\b\\f.txt"));
    SimAddFile(In("f.txt"));
    SimMakeJunction(In("a\\bc"), "C:\\Elsewhere");
    SimMakeJunction(In("a\\b\\link"), "C:\\Elsewhere");
    SimMakeJunction(In("bc"), "C:\\Elsewhere");
    SimAddFile(In("c\\bc\\f.txt"));
    SimMakeJunction(In("c\\b"), "C:\\Elsewhere");
    RunPasses(c.list);
    EXPECT_TRUE(SimPathExists("C:\\Elsewhere\\victim.txt")) << c.what;
    EXPECT_EQ(Deleted().size(), 1u) << c.what;
  }
}

TEST_F(ListTest, TheEntriesOfOneDirectoryReadItsLevelsOncePerPass) {
  SimAddFile(In("a\\b\\f1.txt"));
  SimAddFile(In("a\\b\\f2.txt"));
  SimAddFile(In("a\\b\\f3.txt"));
  SimAddFile(In("a\\b\\held.txt"));
  SimSetInUse(In("a\\b\\held.txt"), true);

  EXPECT_EQ(RunPasses("a\\b\\f1.txt\na\\b\\f2.txt\na\\b\\f3.txt\na\\b\\held.txt\n"), 2);
  // Pass 1: "a" and "a\b" once, then each entry's own; pass 2: the same
  // for the one entry left.
  EXPECT_EQ(CountCalls("GetFileAttributesA"), (2 + 4) + (2 + 1));
  EXPECT_TRUE(SimPathExists(In("a\\b\\held.txt")));
}

// A level taken as checked is one this pass read since the last entry; a
// link made by someone else in the meantime is found when it could matter.
TEST_F(ListTest, ALinkMadeWhileThePassesRunIsFound) {
  struct Case {
    const char *what;
    std::string list;
    std::string trigger;  // the call before which the link is made
    std::string link;     // replaced by a junction to C:\Elsewhere
  } cases[] = {
      {"at a level that did not exist for the previous entry",
       "gone\\f.txt\ngone\\victim.txt\n", "DeleteFileA", "gone"},
      {"at a level read in the previous pass", "ok.txt\na\\victim.txt\n", "RewindStream", "a"},
  };
  for (const Case &c : cases) {
    SimReset();
    SimAddFile("C:\\Elsewhere\\victim.txt");
    SimAddFile(In("ok.txt"));
    SimAddFile(In("a\\victim.txt"));
    SimSetInUse(In("a\\victim.txt"), true);
    bool made = false;
    SimBeforeEachCall([&](const std::string &function) {
      if (made || function != c.trigger) return;
      if (SimPathExists(In(c.link))) SimRemoveTree(In(c.link));
      SimMakeJunction(In(c.link), "C:\\Elsewhere");
      made = true;
    });
    RunPasses(c.list);
    EXPECT_TRUE(made) << c.what;
    EXPECT_TRUE(SimPathExists("C:\\Elsewhere\\victim.txt")) << c.what;
  }
}

// A line longer than the buffer is skipped whole: none of its pieces is
// taken as an entry, though a piece names an existing file.
TEST_F(ListTest, ALineTooLongForTheBufferIsSkippedWhole) {
  const std::string filler(LIST_LINE_SIZE - 1, 'x');
  struct Case {
    const char *what;
    std::string list;
  } cases[] = {
      {"in the middle", "first.txt\n" + filler + "victim.txt\r\nlast.txt\n"},
      {"of exactly one buffer and its line feed", "first.txt\n" + filler + "\nlast.txt\n"},
      {"over three buffers", "first.txt\n" + filler + filler + "victim.txt\nlast.txt"},
      {"at the end without a line end", "first.txt\nlast.txt\n" + filler + "victim.txt"},
      {"of blanks after an entry", "first.txt\nvictim.txt" + std::string(600, ' ') +
                                       "\nlast.txt\n"},
  };
  for (const Case &c : cases) {
    SimReset();
    SimAddFile(In("first.txt"));
    SimAddFile(In("last.txt"));
    SimAddFile(In("victim.txt"));
    RunPasses(c.list);
    EXPECT_EQ(Deleted(), (std::vector<std::string>{In("first.txt"), In("last.txt")})) << c.what;
  }
}

// The directory prefix and the entry must fit 259 characters together; a
// longer entry is skipped, never cut to a shorter name.
TEST_F(ListTest, AnEntryWhoseFullPathDoesNotFitIsSkipped) {
  const size_t room = MAX_PATH - 1 - kPrefix.size();
  const std::string fits(room, 'f');
  const std::string cut(room, 'c');
  SimAddFile(In(fits));
  SimAddFile(In(cut));

  RunPasses(cut + "c\n" + fits + "\n");

  EXPECT_EQ(Deleted(), std::vector<std::string>{In(fits)});
  EXPECT_TRUE(SimPathExists(In(cut)));
}

class SequenceTest : public SimTest {
 protected:
  void Install() {
    SetMessageInstance(SimInstance());
    SimAddFile(kModule, "MZ");
    SimAddFile(In("zelk.exe"));
    SimAddFile(In("Doc\\manual.txt"), "", FILE_ATTRIBUTE_READONLY);
    SimAddFile(kList, "Doc\r\nDoc\\manual.txt\r\nzelk.exe");
    SimAddFile(kPrograms + "\\ZELK\\ZELK.lnk");
    SetGroup("ZELK");
    SetText(HKEY_CURRENT_USER, "Software\\Zelk\\Highlight\\Group0", "Mask", "*.exe");
    SetText(HKEY_LOCAL_MACHINE, "Software\\Zelk", "Group", "Machine");
    SetText(HKEY_LOCAL_MACHINE, kEntryPath, "DisplayName", "ZELK manager");
    SetText(HKEY_CURRENT_USER, "Software\\Other", "Kept", "yes");
    SimClearCalls();
  }
  void ExpectNothingRemoved(const char *what) {
    EXPECT_TRUE(SimPathExists(kModule)) << what;
    EXPECT_TRUE(SimPathExists(In("zelk.exe"))) << what;
    EXPECT_TRUE(SimPathExists(In("Doc\\manual.txt"))) << what;
    EXPECT_TRUE(SimPathExists(kPrograms + "\\ZELK\\ZELK.lnk")) << what;
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Zelk\\Highlight\\Group0")) << what;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zelk")) << what;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kEntryPath)) << what;
    EXPECT_TRUE(SimLaunches().empty()) << what;
    EXPECT_TRUE(SimDdeCalls().empty()) << what;
  }
};

// What the Program Manager saw of the machine when the command came.
struct AtCommand {
  bool listFile, userKey, machineKey, entry;
} atCommand;
void LookAround(const std::string &) {
  atCommand = {SimPathExists(kList), KeyExists(HKEY_CURRENT_USER, "Software\\Zelk"),
               KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zelk"),
               KeyExists(HKEY_LOCAL_MACHINE, kEntryPath)};
}

TEST_F(SequenceTest, RemovesEverythingInItsOrderAndHandsOver) {
  Install();
  SimOnProgramManagerCommand(LookAround);
  SimQueueAnswer(IDYES);

  unsigned exitCode = 99;
  try {
    RunUninstall();
    ADD_FAILURE() << "RunUninstall returned";
  } catch (const SimProcessExit &exit) {
    exitCode = exit.code;
  }
  EXPECT_EQ(exitCode, 0u);

  ASSERT_EQ(SimMessageBoxes().size(), 1u);
  EXPECT_EQ(SimMessageBoxes()[0].text, TEXT_CONFIRM_UNINSTALL);
  EXPECT_EQ(SimMessageBoxes()[0].caption, TEXT_TITLE);
  EXPECT_EQ(SimMessageBoxes()[0].flags, (UINT)(MB_SETFOREGROUND | MB_ICONQUESTION | MB_YESNO));
  EXPECT_EQ(SimMessageBoxes()[0].owner, nullptr);

  // The steps, each once and in this order.
  const std::vector<std::string> milestones = {
      "GetModuleFileNameA", "SetCurrentDirectoryA",       "MessageBoxA",
      "OpenStream",         "RewindStream",               "CloseStream",
      "DeleteFileA",        "SHGetSpecialFolderLocation", "DdeInitializeA",
      "RegDeleteKeyA",      "GetTempPathA",               "OpenStream",
      "CloseStream",        "GetVersionExA",              "GetEnvironmentVariableA",
      "SetCurrentDirectoryA", "CreateProcessA",           "ExitProcess"};
  size_t at = 0;
  for (const std::string &call : SimCalls())
    if (at < milestones.size() && call == milestones[at]) at++;
  EXPECT_EQ(at, milestones.size()) << "missing from the order: " << milestones[at];

  // The group was read under HKEY_CURRENT_USER, after the list was gone
  // and before either product key was erased.
  const SimDdeCall *execute = FindDde("DdeClientTransaction");
  ASSERT_NE(execute, nullptr);
  EXPECT_STREQ(execute->data.c_str(), "[DeleteGroup(ZELK)]");
  EXPECT_FALSE(atCommand.listFile);
  EXPECT_TRUE(atCommand.userKey);
  EXPECT_TRUE(atCommand.machineKey);
  EXPECT_TRUE(atCommand.entry);

  EXPECT_FALSE(SimPathExists(In("zelk.exe")));
  EXPECT_FALSE(SimPathExists(In("Doc")));
  EXPECT_FALSE(SimPathExists(kList));
  EXPECT_TRUE(SimPathExists(kModule));
  EXPECT_FALSE(SimPathExists(kPrograms + "\\ZELK"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\Zelk"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Zelk"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryPath));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Other"));
  EXPECT_EQ(SettingsRoot, HKEY_CURRENT_USER);

  ASSERT_EQ(SimLaunches().size(), 1u);
  EXPECT_EQ(SimLaunches()[0].workingDirectory, "C:\\Program Files");
  EXPECT_EQ(SimLaunches()[0].commandLine,
            "C:\\WINDOWS\\system32\\cmd.exe /c \"C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat\"");
  EXPECT_TRUE(SimPathExists("C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat"));
}

TEST_F(SequenceTest, EachEarlyEndLeavesEverythingInPlace) {
  struct Case {
    const char *what;
    std::string modulePath;
    int answer;  // 0: no box expected
    bool listFile;
    std::vector<std::pair<std::string, std::string>> boxes;  // text, caption
  } cases[] = {
      {"no backslash in the module path", "uninstall.exe", 0, true, {}},
      {"the module path cannot be read", "", 0, true, {}},
      {"the user says No", kModule, IDNO, true, {{TEXT_CONFIRM_UNINSTALL, TEXT_TITLE}}},
      {"the box is closed otherwise", kModule, IDCANCEL, true,
       {{TEXT_CONFIRM_UNINSTALL, TEXT_TITLE}}},
      {"no list file", kModule, IDYES, false,
       {{TEXT_CONFIRM_UNINSTALL, TEXT_TITLE}, {"Cannot open list file Uninstall.lst", TEXT_TITLE}}},
  };
  for (const Case &c : cases) {
    SimReset();
    Install();
    if (!c.listFile) DeleteFileA(kList.c_str());
    SimSetModulePath(c.modulePath);
    if (c.answer) SimQueueAnswer(c.answer);
    if (!c.listFile) SimQueueAnswer(IDOK);

    RunUninstall();

    ExpectNothingRemoved(c.what);
    ASSERT_EQ(SimMessageBoxes().size(), c.boxes.size()) << c.what;
    for (size_t i = 0; i < c.boxes.size(); i++) {
      EXPECT_EQ(SimMessageBoxes()[i].text, c.boxes[i].first) << c.what;
      EXPECT_EQ(SimMessageBoxes()[i].caption, c.boxes[i].second) << c.what;
    }
    if (!c.listFile) {
      EXPECT_EQ(SimMessageBoxes()[1].flags, (UINT)(MB_SETFOREGROUND | MB_ICONERROR)) << c.what;
    }
    EXPECT_TRUE(SimPathExists(c.listFile ? kList : kModule)) << c.what;
    EXPECT_FALSE(Called("ExitProcess")) << c.what;
  }
}

// No script, no launch: the executable stays, and the process returns to
// the entry instead of ending.
TEST_F(SequenceTest, WithoutAScriptTheSequenceReturns) {
  Install();
  SimRefuseCreation("C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat");
  SimQueueAnswer(IDYES);

  RunUninstall();

  EXPECT_FALSE(SimPathExists(In("zelk.exe")));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryPath));
  EXPECT_TRUE(SimPathExists(kModule));
  EXPECT_FALSE(SimPathExists("C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat"));
  EXPECT_TRUE(SimLaunches().empty());
  EXPECT_FALSE(Called("ExitProcess"));
  EXPECT_EQ(SimCurrentDirectory(), kProgramDir);
}

}  // namespace
