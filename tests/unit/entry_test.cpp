#include <string>

#include "app/entry.h"
#include "app/messages.h"
#include "fixture.h"

namespace {

struct DispatchCase {
  const char *commandLine;
  const char *arguments;
  Mode mode;
};

const DispatchCase dispatchCases[] = {
    {"uninstall.exe", "", MODE_UNINSTALL},
    {"", "", MODE_UNINSTALL},
    {" \t ", "", MODE_UNINSTALL},
    {"uninstall.exe wait", "wait", MODE_WAIT},
    {" \t uninstall.exe wait", "wait", MODE_WAIT},
    {"\"C:\\Program Files\\Zelk\\uninstall.exe\" wait", "wait", MODE_WAIT},
    {"\"C:\\Program Files\\Zelk\\uninstall.exe\" \t  wait", "wait", MODE_WAIT},
    {"\"C:\\Program Files\\Zelk\\uninstall.exe\"wait", "wait", MODE_WAIT},
    // An opening quote never closed, and no tab: all of it is the name.
    {"\"C:\\Program Files\\Zelk\\uninstall.exe wait", "", MODE_UNINSTALL},
    // A tab ends a quoted name too; the closing quote is then no name end.
    {"\"C:\\Zelk\tuninstall.exe\" wait", "uninstall.exe\" wait", MODE_UNINSTALL},
    {"\"C:\\Zelk\tuninstall.exe wait", "uninstall.exe wait", MODE_UNINSTALL},
    // A quote inside an unquoted name belongs to the name.
    {"C:\\Zel\"k\\uninstall.exe wait", "wait", MODE_WAIT},
    {"C:\\Zel\"k uninstall.exe\" wait", "uninstall.exe\" wait", MODE_UNINSTALL},
    {"uninstall.exe\twait", "wait", MODE_WAIT},
    {"uninstall.exe WAIT", "WAIT", MODE_WAIT},
    {"uninstall.exe wAiT", "wAiT", MODE_WAIT},
    {"uninstall.exe wait ", "wait ", MODE_UNINSTALL},
    {"uninstall.exe wait\t", "wait\t", MODE_UNINSTALL},
    {"uninstall.exe waiting", "waiting", MODE_UNINSTALL},
    {"uninstall.exe wai", "wai", MODE_UNINSTALL},
    {"uninstall.exe warning", "warning", MODE_WARNING},
    {"uninstall.exe Warning", "Warning", MODE_WARNING},
    {"uninstall.exe WARNING", "WARNING", MODE_WARNING},
    {"uninstall.exe warning ", "warning ", MODE_UNINSTALL},
    {"uninstall.exe register", "register", MODE_REGISTER},
    {"uninstall.exe REGISTER Zelk", "REGISTER Zelk", MODE_REGISTER},
    {"uninstall.exe Register  Zelk ", "Register  Zelk ", MODE_REGISTER},
    {"uninstall.exe registered", "registered", MODE_REGISTER},
    {"uninstall.exe regist", "regist", MODE_UNINSTALL},
    {"uninstall.exe register\tZelk", "register\tZelk", MODE_REGISTER},
    // Bytes above 127 equal only themselves, whatever the code page folds.
    {"uninstall.exe w\xc1it", "w\xc1it", MODE_UNINSTALL},
    {"uninstall.exe WA\xcdT", "WA\xcdT", MODE_UNINSTALL},
    {"uninstall.exe warn\xecng", "warn\xecng", MODE_UNINSTALL},
    {"uninstall.exe \xe9wait", "\xe9wait", MODE_UNINSTALL},
    // Letters next to the ASCII range do not fold: '@' and '[' are not 'A'.
    {"uninstall.exe w@it", "w@it", MODE_UNINSTALL},
    {"uninstall.exe w[it", "w[it", MODE_UNINSTALL},
};

class DispatchTable : public SimTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTable, DerivesArgumentsAndMode) {
  const DispatchCase &c = GetParam();
  const char *arguments = ArgumentString(c.commandLine);
  EXPECT_STREQ(arguments, c.arguments);
  // Read in place, never copied: it points into the command line.
  EXPECT_GE(arguments, c.commandLine);
  EXPECT_LE(arguments, c.commandLine + std::string(c.commandLine).size());
  EXPECT_EQ(SelectMode(arguments), c.mode);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, DispatchTable, ::testing::ValuesIn(dispatchCases));

class EntryTest : public SimTest {
 protected:
  int Run(const std::string &commandLine) {
    SimSetCommandLine(commandLine);
    return UninstallerMain(SimInstance(), 0, ArgumentString(GetCommandLineA()), SW_SHOWDEFAULT);
  }
};

TEST_F(EntryTest, WarningModeShowsOneBoxWithTheModulePath) {
  SimSetModulePath("C:\\Program Files\\Zelk 100%s\\uninstall.exe");
  SimQueueAnswer(IDOK);
  EXPECT_EQ(Run("\"C:\\Program Files\\Zelk 100%s\\uninstall.exe\" Warning"), 0);
  ASSERT_EQ(SimMessageBoxes().size(), 1u);
  const SimMessageBox &box = SimMessageBoxes()[0];
  EXPECT_EQ(box.owner, (HWND)0);
  EXPECT_EQ(box.caption, "Uninstall ZELK");
  EXPECT_EQ(box.text,
            "Uninstall completed\nYou should delete C:\\Program Files\\Zelk 100%s\\uninstall.exe "
            "manually");
  EXPECT_EQ(box.flags, 0x10040u);
  EXPECT_TRUE(SimSleeps().empty());
}

TEST_F(EntryTest, WarningModeFitsTheLongestModulePath) {
  std::string path = "C:\\" + std::string(242, 'z') + "\\uninstall.exe";
  ASSERT_EQ(path.size(), 259u);
  SimSetModulePath(path);
  SimQueueAnswer(IDOK);
  Run("uninstall.exe warning");
  ASSERT_EQ(SimMessageBoxes().size(), 1u);
  EXPECT_EQ(SimMessageBoxes()[0].text,
            "Uninstall completed\nYou should delete " + path + " manually");
}

TEST_F(EntryTest, WarningModeAnswerDoesNotMatter) {
  SimQueueAnswer(0);  // the box failed: still exit code 0
  EXPECT_EQ(Run("uninstall.exe WARNING"), 0);
  EXPECT_EQ(SimMessageBoxes().size(), 1u);
}

TEST_F(EntryTest, WaitModeSleepsOneSecondAndShowsNothing) {
  EXPECT_EQ(Run("\"C:\\Program Files\\Zelk\\uninstall.exe\" wait"), 0);
  EXPECT_EQ(SimSleeps(), std::vector<DWORD>{1000});
  EXPECT_TRUE(SimMessageBoxes().empty());
}

TEST_F(EntryTest, TextsComeFromTheInstanceTheEntryRecorded) {
  Run("uninstall.exe wait");
  EXPECT_STREQ(MessageText(IDS_TITLE), "Uninstall ZELK");
  EXPECT_STREQ(MessageText(IDS_COMPLETED), "Uninstall completed");
  EXPECT_STREQ(MessageText(IDS_DELETE_MANUALLY), "You should delete %s manually");
  EXPECT_STREQ(MessageText(IDS_CONFIRM_UNINSTALL), "Continue with uninstall ZELK");
  EXPECT_STREQ(MessageText(IDS_NO_LIST_FILE), "Cannot open list file");
}

class MessageRingTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    SetMessageInstance(SimInstance());
  }
};

TEST_F(MessageRingTest, SlotsAreHandedOutInTurnAndTheSixthReusesTheFirst) {
  const char *slots[6];
  for (int i = 0; i < 6; i++) slots[i] = MessageText(IDS_TITLE);
  // Consecutive slots of one array, wrapping after the fifth.
  int wraps = 0;
  for (int i = 1; i < 6; i++) {
    ptrdiff_t step = slots[i] - slots[i - 1];
    if (step == -(MESSAGE_RING_SLOTS - 1) * MESSAGE_TEXT_SIZE) {
      wraps++;
    } else {
      EXPECT_EQ(step, MESSAGE_TEXT_SIZE) << "call " << i;
    }
  }
  EXPECT_EQ(wraps, 1);
  EXPECT_EQ(slots[5], slots[0]);
  for (int i = 0; i < 5; i++)
    for (int j = i + 1; j < 5; j++) EXPECT_NE(slots[i], slots[j]);
}

TEST_F(MessageRingTest, FiveTextsStayValidTogetherAndTheSixthReplacesTheFirst) {
  const char *title = MessageText(IDS_TITLE);
  const char *completed = MessageText(IDS_COMPLETED);
  const char *manually = MessageText(IDS_DELETE_MANUALLY);
  const char *confirm = MessageText(IDS_CONFIRM_UNINSTALL);
  const char *noList = MessageText(IDS_NO_LIST_FILE);
  EXPECT_STREQ(title, "Uninstall ZELK");
  EXPECT_STREQ(completed, "Uninstall completed");
  EXPECT_STREQ(manually, "You should delete %s manually");
  EXPECT_STREQ(confirm, "Continue with uninstall ZELK");
  EXPECT_STREQ(noList, "Cannot open list file");
  const char *sixth = MessageText(IDS_NO_LIST_FILE);
  EXPECT_EQ(sixth, title);
  EXPECT_STREQ(title, "Cannot open list file");
  EXPECT_STREQ(completed, "Uninstall completed");
}

TEST_F(MessageRingTest, SameIdTwiceGivesTwoSlotsWithEqualTexts) {
  const char *first = MessageText(IDS_TITLE);
  const char *second = MessageText(IDS_TITLE);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, second);
}

TEST_F(MessageRingTest, UnknownIdOrFailedLoadGivesAnEmptyText) {
  MessageText(IDS_TITLE);  // fill every slot first, so emptiness is shown
  MessageText(IDS_TITLE);
  MessageText(IDS_TITLE);
  MessageText(IDS_TITLE);
  MessageText(IDS_TITLE);
  EXPECT_STREQ(MessageText(199), "");
  EXPECT_STREQ(MessageText(205), "");
  SimFailCall("LoadStringA", true);
  EXPECT_STREQ(MessageText(IDS_TITLE), "");
}

}  // namespace
