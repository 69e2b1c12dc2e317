#include <cstring>

#include "settings/settings.h"
#include "uninstall/uninstall.h"
#include "uninstall_world.h"

using namespace world;

namespace {

class GroupTest : public SimTest {
 protected:
  std::string Folder(const std::string &group) { return kPrograms + "\\" + group; }
};

// Stand-in for the Program Manager that, as Wine's shell does, deletes the
// group's folder with everything in it.
std::vector<std::string> executedCommands;
void RecordCommand(const std::string &command) { executedCommands.push_back(command); }

TEST_F(GroupTest, DeletesPlainFilesKeepsSubfoldersAndReadOnlyAndSendsTheCommand) {
  const std::string group = "ZELK (file manager), 2";
  const std::string folder = Folder(group);
  SimAddFile(folder + "\\ZELK.lnk");
  SimAddFile(folder + "\\Read me.lnk", "", FILE_ATTRIBUTE_HIDDEN);
  SimAddFile(folder + "\\Locked.lnk", "", FILE_ATTRIBUTE_READONLY);
  SimAddFile(folder + "\\Tools\\Editor.lnk");
  SetGroup(group);
  executedCommands.clear();
  SimOnProgramManagerCommand(RecordCommand);
  SimClearCalls();

  RemoveProgramGroup();

  EXPECT_FALSE(SimPathExists(folder + "\\ZELK.lnk"));
  EXPECT_FALSE(SimPathExists(folder + "\\Read me.lnk"));
  EXPECT_EQ(SimFileAttributes(folder + "\\Locked.lnk"), (DWORD)FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(SimPathExists(folder + "\\Tools\\Editor.lnk"));
  EXPECT_TRUE(SimPathExists(folder));
  EXPECT_EQ(CountCalls("RemoveDirectoryA"), 1);
  EXPECT_FALSE(Called("SetFileAttributesA"));

  const std::vector<std::string> expected = {
      "DdeInitializeA",      "DdeCreateStringHandleA", "DdeCreateStringHandleA",
      "DdeConnect",          "DdeFreeStringHandle",    "DdeFreeStringHandle",
      "DdeClientTransaction", "DdeFreeDataHandle",     "DdeDisconnect",
      "DdeUninitialize"};
  ASSERT_EQ(DdeFunctions(), expected);
  const std::vector<SimDdeCall> &dde = SimDdeCalls();
  EXPECT_EQ(dde[0].callback, &IgnoreDdeCallback);
  EXPECT_EQ(dde[0].command, (DWORD)APPCMD_CLIENTONLY);
  EXPECT_EQ(dde[0].reserved, 0u);
  for (int i : {1, 2}) {
    EXPECT_EQ(dde[i].text, "PROGMAN");
    EXPECT_EQ(dde[i].codePage, CP_WINANSI);
  }
  EXPECT_EQ(dde[3].text, "PROGMAN");
  EXPECT_EQ(dde[3].topic, "PROGMAN");
  EXPECT_FALSE(dde[3].hasContext);
  ASSERT_TRUE(dde[3].succeeded);

  const SimDdeCall &execute = dde[6];
  const std::string command = "[DeleteGroup(" + group + ")]";
  EXPECT_EQ(execute.data, command + std::string(1, '\0'));
  EXPECT_EQ(execute.length, command.size() + 1);
  EXPECT_EQ(execute.conversation, dde[3].conversation);
  EXPECT_FALSE(execute.hasItem);
  EXPECT_EQ(execute.format, 0u);
  EXPECT_EQ(execute.type, (UINT)XTYP_EXECUTE);
  EXPECT_EQ(execute.timeout, 5000u);
  EXPECT_FALSE(execute.hasResult);
  EXPECT_EQ(executedCommands, std::vector<std::string>{command});
  EXPECT_EQ(dde[8].conversation, dde[3].conversation);
  EXPECT_TRUE(dde[8].succeeded);
  EXPECT_TRUE(dde[9].succeeded);
  for (const SimDdeCall &call : dde) {
    if (call.function != "DdeFreeDataHandle") {
      EXPECT_EQ(call.instance, dde[0].instance) << call.function;
    }
  }
}

TEST_F(GroupTest, AFolderOfPlainFilesGoesAway) {
  SetGroup("ZELK");
  SimAddFile(Folder("ZELK") + "\\ZELK.lnk");
  SimAddFile(Folder("ZELK") + "\\Uninstall.lnk");
  SimAddFile(Folder("Other") + "\\Other.lnk");

  RemoveProgramGroup();

  EXPECT_FALSE(SimPathExists(Folder("ZELK")));
  EXPECT_TRUE(SimPathExists(Folder("Other") + "\\Other.lnk"));
}

TEST_F(GroupTest, NoGroupNameDoesNothing) {
  for (bool stored : {false, true}) {
    SimReset();
    if (stored) SetGroup("");
    SimAddFile(kPrograms + "\\keep.lnk");
    SimClearCalls();
    RemoveProgramGroup();
    EXPECT_FALSE(Called("SHGetSpecialFolderLocation")) << stored;
    EXPECT_FALSE(Called("FindFirstFileA")) << stored;
    EXPECT_TRUE(SimDdeCalls().empty()) << stored;
    EXPECT_TRUE(SimPathExists(kPrograms + "\\keep.lnk"));
  }
}

TEST_F(GroupTest, TheGroupIsReadUnderTheRootInForce) {
  SetText(HKEY_LOCAL_MACHINE, "Software\\Zelk", "Group", "Machine group");
  SetGroup("User group");
  SelectSettingsRoot(HKEY_LOCAL_MACHINE);
  RemoveProgramGroup();
  SelectSettingsRoot(HKEY_CURRENT_USER);
  const SimDdeCall *execute = FindDde("DdeClientTransaction");
  ASSERT_NE(execute, nullptr);
  EXPECT_STREQ(execute->data.c_str(), "[DeleteGroup(Machine group)]");
}

// Whatever fails on the way, the other half still runs and nothing stays
// open: the item list and the DDE instance are released.
TEST_F(GroupTest, EachHalfRunsWhenTheOtherCannot) {
  struct Case {
    const char *what;
    const char *failing;     // a call made to fail, or none
    bool programManager;
    bool folderSteps;        // the group folder was searched
    bool commandSent;        // the execute transaction reached a server
  } cases[] = {
      {"no Program Manager", nullptr, false, true, false},
      {"no Programs folder", "SHGetSpecialFolderLocation", true, false, true},
      {"no path for the list", "SHGetPathFromIDListA", true, false, true},
      {"no DDE instance", "DdeInitializeA", true, true, false},
      {"no connection", "DdeConnect", true, true, false},
  };
  for (const Case &c : cases) {
    SimReset();
    SetGroup("ZELK");
    SimAddFile(Folder("ZELK") + "\\ZELK.lnk");
    SimSetProgramManager(c.programManager);
    executedCommands.clear();
    SimOnProgramManagerCommand(RecordCommand);
    if (c.failing) SimFailCall(c.failing, true);
    SimClearCalls();

    RemoveProgramGroup();

    EXPECT_EQ(Called("FindFirstFileA"), c.folderSteps) << c.what;
    EXPECT_EQ(SimPathExists(Folder("ZELK")), !c.folderSteps) << c.what;
    EXPECT_EQ(executedCommands.size(), c.commandSent ? 1u : 0u) << c.what;
    if (!c.failing || strcmp(c.failing, "DdeInitializeA") != 0) {
      // Without a conversation the transaction and the disconnect are
      // still made, and fail quietly.
      EXPECT_TRUE(Called("DdeClientTransaction")) << c.what;
      EXPECT_TRUE(Called("DdeDisconnect")) << c.what;
      EXPECT_TRUE(Called("DdeUninitialize")) << c.what;
    } else {
      EXPECT_FALSE(Called("DdeCreateStringHandleA")) << c.what;
    }
    EXPECT_EQ(SimOpenHandleCount(), 0) << c.what << ": " << SimOpenHandleReport();
    for (const std::string &problem : SimProblems()) ADD_FAILURE() << c.what << ": " << problem;
  }
}

// A name that would lead out of the Programs folder gets no folder steps;
// the Program Manager still receives it.
TEST_F(GroupTest, ANameLeavingTheProgramsFolderGetsNoFolderSteps) {
  const char *names[] = {"..",        "..\\Startup",  "ZELK\\..\\..\\Startup",
                         ".. ",       "...",          "\\Startup",
                         "/Startup",  "C:\\Startup",  "C:Startup",
                         "\\\\server\\share", "ZELK/../../Startup"};
  for (const char *name : names) {
    SimReset();
    SetGroup(name);
    SimAddFile(kPrograms + "\\Startup\\keep.lnk");
    SimAddFile(kPrograms + "\\top.lnk");
    SimAddFile("C:\\Startup\\keep.lnk");
    SimClearCalls();

    RemoveProgramGroup();

    EXPECT_FALSE(Called("FindFirstFileA")) << name;
    EXPECT_FALSE(Called("DeleteFileA")) << name;
    EXPECT_FALSE(Called("RemoveDirectoryA")) << name;
    EXPECT_TRUE(SimPathExists(kPrograms + "\\Startup\\keep.lnk")) << name;
    EXPECT_TRUE(SimPathExists(kPrograms + "\\top.lnk")) << name;
    EXPECT_TRUE(SimPathExists("C:\\Startup\\keep.lnk")) << name;
    const SimDdeCall *execute = FindDde("DdeClientTransaction");
    ASSERT_NE(execute, nullptr) << name;
    EXPECT_STREQ(execute->data.c_str(), (std::string("[DeleteGroup(") + name + ")]").c_str());
  }
}

// The folder, its search pattern and each entry path must fit 260
// characters; what would not is left alone instead of cut short.
TEST_F(GroupTest, PathsThatDoNotFitAreNotCut) {
  // Programs folder of 240 characters: the group folder "…\ab" and the
  // search pattern (+4) fit with a name of 14, not with one of 15.
  const std::string programs = "C:\\" + std::string(237, 'p');
  struct Case {
    std::string group;
    bool searched;
  } cases[] = {{std::string(14, 'g'), true}, {std::string(15, 'g'), false}};
  for (const Case &c : cases) {
    SimReset();
    SimSetProgramsFolder(programs);
    SetGroup(c.group);
    SimAddDirectory(programs + "\\" + c.group);
    SimClearCalls();
    RemoveProgramGroup();
    EXPECT_EQ(Called("FindFirstFileA"), c.searched) << c.group.size();
    EXPECT_EQ(SimPathExists(programs + "\\" + c.group), !c.searched) << c.group.size();
    EXPECT_TRUE(Called("DdeClientTransaction"));
  }
}

TEST_F(GroupTest, TheCallbackAnswersNothing) {
  EXPECT_EQ(IgnoreDdeCallback(XTYP_EXECUTE, 0, nullptr, nullptr, nullptr, nullptr, 0, 0),
            nullptr);
  EXPECT_EQ(IgnoreDdeCallback(0x80f2 /* disconnect */, 1, reinterpret_cast<HCONV>(1),
                              reinterpret_cast<HSZ>(2), reinterpret_cast<HSZ>(3),
                              reinterpret_cast<HDDEDATA>(4), 5, 6),
            nullptr);
}

}  // namespace
