#include <cstring>

#include "uninstall/uninstall.h"
#include "uninstall_world.h"

using namespace world;

namespace {

const std::string kScript = "C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat";

// The script as the command processor must read it, for these three paths
// in the form they are to be written in.
std::string ExpectedScript(const std::string &module, const std::string &directory,
                           const std::string &script) {
  std::string attempt = "del \"" + module + "\"\r\nrd \"" + directory + "\"\r\nif not exist \"" +
                        module + "\" goto done\r\n";
  return "\"" + module + "\" wait\r\n" + attempt + attempt + attempt + attempt + attempt +
         ":done\r\nif exist \"" + module + "\" \"" + module + "\" Warning\r\ndel \"" + script +
         "\"";
}

class ScriptTest : public SimTest {
 protected:
  // Writes the script for a program in `directory`, made current as the
  // uninstall sequence makes it; answers the script's path, or "".
  std::string Write(const std::string &module, const std::string &directory) {
    SimAddFile(module, "MZ");
    SimSetCurrentDirectory(directory);
    char scriptPath[MAX_PATH];
    memset(scriptPath, 'x', sizeof scriptPath);
    if (!WriteSelfRemovalScript(module.c_str(), scriptPath)) return "";
    return scriptPath;
  }
};

TEST_F(ScriptTest, HoldsTheNineteenLinesWithoutAFinalLineEnd) {
  // Module path of 30 characters, directory of 20, script path of 40.
  const std::string directory = "C:\\" + std::string(17, 'd');
  const std::string module = directory + "\\unins.exe";
  const std::string temp = "C:\\" + std::string(18, 't') + "\\";
  ASSERT_EQ(module.size(), 30u);
  SimSetTempPath(temp);
  SimAddDirectory(temp);

  const std::string script = Write(module, directory);

  ASSERT_EQ(script, temp + "Uninstall.Zelk.Bat");
  ASSERT_EQ(script.size(), 40u);
  const std::string bytes = SimReadFile(script);
  EXPECT_EQ(bytes.size(), 786u);
  EXPECT_EQ(bytes, ExpectedScript(module, directory, script));
  EXPECT_EQ(bytes.back(), '"');
}

TEST_F(ScriptTest, PathsReachTheCommandProcessorUnchanged) {
  struct Case {
    const char *what;
    std::string directory;    // the program directory
    std::string temp;         // the temporary directory
    std::string shortDirectory, shortTemp;  // 8.3 names to give, if any
    std::string writtenDirectory, writtenTemp;  // as the script must hold them
  } cases[] = {
      {"blanks", "C:\\Program Files\\Zelk", "C:\\WINDOWS\\TEMP\\", "", "",
       "C:\\Program Files\\Zelk", "C:\\WINDOWS\\TEMP\\"},
      // "%" would be expanded by the command processor.
      {"percent signs", "C:\\100% Zelk\\%PATH%", "C:\\T%1\\", "", "",
       "C:\\100%% Zelk\\%%PATH%%", "C:\\T%%1\\"},
      // Written in the OEM code page, where É is 0x90.
      {"letters the OEM code page has", "C:\\Zelk \xc9" "diteur", "C:\\T\xe9mp\\", "", "",
       "C:\\Zelk \x90" "diteur", "C:\\T\x82mp\\"},
      // The euro sign has no OEM form: "?" would make "del" a wildcard.
      {"letters it lacks", "C:\\Zelk \x80", "C:\\T\x80mp\\", "ZELK~1", "TMP~1",
       "C:\\ZELK~1", "C:\\TMP~1\\"},
  };
  for (const Case &c : cases) {
    SimReset();
    SimAddDirectory(c.directory);
    SimAddDirectory(c.temp);
    SimSetTempPath(c.temp);
    if (!c.shortDirectory.empty()) SimSetShortName(c.directory, c.shortDirectory);
    if (!c.shortTemp.empty()) SimSetShortName(c.temp, c.shortTemp);

    const std::string script = Write(c.directory + "\\ZELKUN.EXE", c.directory);

    ASSERT_EQ(script, c.temp + "Uninstall.Zelk.Bat") << c.what;
    EXPECT_EQ(SimReadFile(script),
              ExpectedScript(c.writtenDirectory + "\\ZELKUN.EXE", c.writtenDirectory,
                             c.writtenTemp + "Uninstall.Zelk.Bat"))
        << c.what;
  }
}

// When there is no script there is nothing to launch: 0, and no file.
TEST_F(ScriptTest, NoScriptWhenItCannotBeWrittenFaithfully) {
  struct Case {
    const char *what;
    void (*arrange)();
    const char *directory;
  } cases[] = {
      {"the file cannot be created", [] { SimRefuseCreation(kScript); }, "C:\\Zelk"},
      {"no temporary directory", [] { SimFailCall("GetTempPathA", true); }, "C:\\Zelk"},
      {"a temporary directory too long",
       [] {
         const std::string temp = "C:\\" + std::string(240, 't') + "\\";
         SimAddDirectory(temp);
         SimSetTempPath(temp);
       },
       "C:\\Zelk"},
      {"a path without OEM or short form", [] { SimFailCall("GetShortPathNameA", true); },
       "C:\\Zelk\x80"},
  };
  for (const Case &c : cases) {
    SimReset();
    const std::string directory = c.directory;
    c.arrange();
    EXPECT_EQ(Write(directory + "\\uninstall.exe", directory), "") << c.what;
    EXPECT_FALSE(SimPathExists(kScript)) << c.what;
  }
}

class LaunchTest : public SimTest {
 protected:
  void Launch(const char *script) {
    SimAddDirectory(kProgramDir);
    SimSetCurrentDirectory(kProgramDir);
    try {
      LaunchSelfRemovalScript(script);
      ADD_FAILURE() << "LaunchSelfRemovalScript returned";
    } catch (const SimProcessExit &exit) {
      EXPECT_EQ(exit.code, 0u);
    }
  }
};

TEST_F(LaunchTest, StartsTheCommandProcessorAsEachFamilyNeeds) {
  for (DWORD platform : {(DWORD)VER_PLATFORM_WIN32_WINDOWS, (DWORD)VER_PLATFORM_WIN32_NT}) {
    SimReset();
    SimSetPlatformId(platform);
    SimSetEnvironment("COMSPEC", "C:\\WINDOWS\\COMMAND.COM");

    Launch("C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat");

    ASSERT_EQ(SimLaunches().size(), 1u);
    const SimLaunch &launch = SimLaunches()[0];
    EXPECT_FALSE(launch.hasApplication);
    EXPECT_EQ(launch.commandLine,
              "C:\\WINDOWS\\COMMAND.COM /c \"C:\\WINDOWS\\TEMP\\Uninstall.Zelk.Bat\"");
    EXPECT_TRUE(launch.inheritHandles);
    EXPECT_FALSE(launch.hasEnvironment);
    EXPECT_FALSE(launch.hasCurrentDirectory);
    EXPECT_EQ(launch.workingDirectory, "C:\\Program Files");
    EXPECT_EQ(SimCurrentDirectory(), "C:\\Program Files");
    const STARTUPINFOA &startup = launch.startup;
    EXPECT_EQ(startup.cb, sizeof(STARTUPINFOA));
    EXPECT_EQ(startup.lpTitle, nullptr);
    EXPECT_EQ(startup.lpDesktop, nullptr);
    if (platform == VER_PLATFORM_WIN32_WINDOWS) {
      EXPECT_EQ(launch.creationFlags, (DWORD)DETACHED_PROCESS);
      EXPECT_EQ(startup.dwFlags, (DWORD)STARTF_USESTDHANDLES);
      EXPECT_NE(startup.hStdInput, nullptr);
      EXPECT_NE(startup.hStdInput, INVALID_HANDLE_VALUE);
      EXPECT_EQ(startup.hStdOutput, startup.hStdInput);
      EXPECT_EQ(startup.hStdError, startup.hStdInput);
      EXPECT_EQ(CountCalls("CreateFileA"), 1);
      EXPECT_EQ(CountCalls("CloseHandle"), 1);
    } else {
      EXPECT_EQ(launch.creationFlags, 0u);
      EXPECT_EQ(startup.dwFlags, (DWORD)STARTF_USESHOWWINDOW);
      EXPECT_EQ(startup.wShowWindow, SW_HIDE);
      EXPECT_EQ(startup.hStdInput, nullptr);
      EXPECT_EQ(startup.hStdOutput, nullptr);
      EXPECT_EQ(startup.hStdError, nullptr);
      EXPECT_FALSE(Called("CreateFileA"));
    }
  }
}

TEST_F(LaunchTest, EndsWithCodeZeroWhateverTheLaunchGives) {
  struct Case {
    const char *what;
    void (*arrange)();
    const char *commandLine;  // nullptr: nothing launched
  } cases[] = {
      {"COMSPEC unset", [] { SimUnsetEnvironment("COMSPEC"); }, " /c \"C:\\T\\Uninstall.Zelk.Bat\""},
      {"COMSPEC too long for its buffer",
       [] { SimSetEnvironment("COMSPEC", "C:\\" + std::string(300, 'c')); },
       " /c \"C:\\T\\Uninstall.Zelk.Bat\""},
      {"the launch fails", [] { SimFailCall("CreateProcessA", true); }, nullptr},
      {"the version query fails", [] { SimSetVersionQueryFails(true); },
       "C:\\WINDOWS\\system32\\cmd.exe /c \"C:\\T\\Uninstall.Zelk.Bat\""},
  };
  for (const Case &c : cases) {
    SimReset();
    c.arrange();
    Launch("C:\\T\\Uninstall.Zelk.Bat");
    if (c.commandLine) {
      ASSERT_EQ(SimLaunches().size(), 1u) << c.what;
      EXPECT_EQ(SimLaunches()[0].commandLine, c.commandLine) << c.what;
    } else {
      EXPECT_TRUE(SimLaunches().empty()) << c.what;
    }
    EXPECT_EQ(SimCurrentDirectory(), "C:\\Program Files") << c.what;
    EXPECT_EQ(SimCalls().back(), "ExitProcess") << c.what;
  }
}

}  // namespace
