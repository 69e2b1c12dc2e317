// Command lines into the entry: exactly the one mode that the line selects
// runs, seen from outside through what it leaves in the simulation, and
// register mode gets exactly the text after the keyword.
//
// Input: byte 0 selects the platform family (bit 0); the rest, up to a NUL,
// is the process command line.
#include <string>

#include "app/entry.h"
#include "fuzz_support.h"
#include "resources/strings.h"


namespace {

const std::string kModule = "C:\\Program Files\\Zelk\\uninstall.exe";
const char *const kEntryPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZELK manager";

enum Expected { REGISTER, WARNING, WAIT, UNINSTALL };
const char *const kModeNames[] = {"register", "warning", "wait", "uninstall"};

// The rules, written out once more on their own: the program name is
// skipped (quoted up to a quote or tab, else up to a blank or tab), then
// the blanks and tabs after it.
std::string Arguments(const std::string &line) {
  size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos) return "";
  if (line[at] == '"') {
    size_t end = line.find_first_of("\"\t", at + 1);
    if (end == std::string::npos) return "";
    at = line[end] == '"' ? end + 1 : end;
  } else {
    at = line.find_first_of(" \t", at);
    if (at == std::string::npos) return "";
  }
  at = line.find_first_not_of(" \t", at);
  return at == std::string::npos ? "" : line.substr(at);
}

bool SameLetters(const std::string &text, const std::string &keyword) {
  if (text.size() != keyword.size()) return false;
  for (size_t i = 0; i < text.size(); i++) {
    char a = text[i], b = keyword[i];
    if (a >= 'A' && a <= 'Z') a = (char)(a - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

Expected ModeOf(const std::string &arguments) {
  if (arguments.size() >= 8 && SameLetters(arguments.substr(0, 8), "register")) return REGISTER;
  if (SameLetters(arguments, "warning")) return WARNING;
  if (SameLetters(arguments, "wait")) return WAIT;
  return UNINSTALL;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
  fuzz::Bytes in(data, size);
  SimReset();
  SimSetPlatformId((in.Next() & 1) ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT);
  std::string rest = in.Rest();
  const std::string line = rest.substr(0, rest.find('\0'));
  SimSetCommandLine(line);
  SimAddFile(kModule, "MZ");
  SimAddFile("C:\\Program Files\\Zelk\\Uninstall.lst", "zelk.exe\r\n");
  SimAddFile("C:\\Program Files\\Zelk\\zelk.exe");
  SimQueueAnswer(IDNO);  // uninstall mode asks; the answer keeps everything

  const std::string expectedArguments = Arguments(line);
  const Expected expected = ModeOf(expectedArguments);
  const std::string what = std::string("expected ") + kModeNames[expected] + " for [" + line + "]";

  const char *commandLine = GetCommandLineA();
  const char *arguments = ArgumentString(commandLine);
  FUZZ_CHECK(arguments == expectedArguments, what + ", arguments [" + arguments + "]");

  int result = -1;
  try {
    result = UninstallerMain(SimInstance(), nullptr, arguments, SW_SHOWDEFAULT);
  } catch (const SimProcessExit &exit) {
    FUZZ_CHECK(false, what + ": the process ended with " + std::to_string(exit.code));
  }
  FUZZ_CHECK(result == 0, what + ": returned " + std::to_string(result));

  const std::vector<SimMessageBox> &boxes = SimMessageBoxes();
  const std::string warning =
      std::string(TEXT_COMPLETED) + "\nYou should delete " + kModule + " manually";
  bool waited = SimSleeps() == std::vector<DWORD>{1000};
  bool warned = boxes.size() == 1 && boxes[0].text == warning && boxes[0].caption == TEXT_TITLE &&
                boxes[0].flags == (UINT)(MB_SETFOREGROUND | MB_ICONINFORMATION);
  bool registered = SimRegistryKeyExists(HKEY_LOCAL_MACHINE, kEntryPath);
  bool asked = boxes.size() == 1 && boxes[0].text == TEXT_CONFIRM_UNINSTALL;
  const bool seen[] = {registered, warned, waited, asked};
  for (int mode = REGISTER; mode <= UNINSTALL; mode++)
    FUZZ_CHECK(seen[mode] == (mode == expected), what + ", " + kModeNames[mode] + " seen " +
                                                     std::to_string(seen[mode]));
  FUZZ_CHECK(SimSleeps().empty() || expected == WAIT, what + ": slept");
  FUZZ_CHECK(boxes.size() == (expected == WARNING || expected == UNINSTALL ? 1u : 0u),
             what + ": " + std::to_string(boxes.size()) + " boxes");
  FUZZ_CHECK(SimDeletions().empty(), what + ": something was deleted");
  FUZZ_CHECK(SimPathExists("C:\\Program Files\\Zelk\\zelk.exe"), what + ": the product is gone");

  if (expected == REGISTER) {
    std::string group = expectedArguments.substr(8);
    group.erase(0, group.find_first_not_of(' ') == std::string::npos ? group.size()
                                                                     : group.find_first_not_of(' '));
    DWORD type = 0;
    std::vector<BYTE> stored;
    FUZZ_CHECK(SimRegistryGetValue(HKEY_CURRENT_USER, "Software\\Zelk", "Group", &type, &stored),
               what + ": no Group value");
    std::string expectedData = group + '\0';
    FUZZ_CHECK(type == REG_SZ && std::string(stored.begin(), stored.end()) == expectedData,
               what + ": Group holds [" + std::string(stored.begin(), stored.end()) + "]");
  } else {
    FUZZ_CHECK(!SimRegistryKeyExists(HKEY_CURRENT_USER, "Software\\Zelk"),
               what + ": the product key was made");
  }
  // Only the modes that show a box take the scripted answer.
  FUZZ_CHECK(SimPendingAnswers() == (expected == WARNING || expected == UNINSTALL ? 0 : 1),
             what + ": the answer was taken or left wrongly");
  fuzz::CheckSimulationClean(what);
  return 0;
}
