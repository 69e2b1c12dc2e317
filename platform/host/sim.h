// Control of the host simulation, for tests only: set up the world the
// program sees, script the user's answers, inject faults, and read back
// what the program did.
#ifndef ZELK_HOST_SIM_H
#define ZELK_HOST_SIM_H

#include <stdexcept>
#include <string>
#include <vector>

#include "win32.h"

// --- The whole simulation -------------------------------------------------

// Back to a fresh machine: NT family, empty registry and file system, no
// scripted answers, no faults, no recorded calls. Every slice resets here.
void SimReset();

// Every simulated call is logged by name, in order ("RegOpenKeyExA", ...).
const std::vector<std::string> &SimCalls();
void SimClearCalls();
// Long runs (benchmarks, fuzzing) switch the log off; counting goes on.
void SimSetCallLogging(bool on);

// Fault injection by countdown: the call numbered `nth` (1 = the next call
// made after this) fails with that call's own error; with `persistent` every
// later call fails as well. 0 disables it.
void SimFailNthCall(long nth, bool persistent);
long SimCallCount();

// Fault injection by name: every call of that function fails while set.
void SimFailCall(const std::string &function, bool fail);

// Handles of any kind (registry keys, find handles, streams, kernel
// handles, DDE instances and conversations) still open.
int SimOpenHandleCount();
// Names of the kinds still open, for a readable failure message.
std::string SimOpenHandleReport();

// Problems the simulation saw that a test must fail on (an unexpected
// message box, a handle the program never opened, ...). Emptied by SimReset.
const std::vector<std::string> &SimProblems();

// Thrown by ExitProcess so that a test goes on after the program ended.
struct SimProcessExit {
  unsigned code;
};

// Used inside the simulation: logs the call and answers whether the
// injected faults make it fail.
bool SimEnterCall(const char *function);
void SimReportProblem(const std::string &problem);
void SimSetLastError(DWORD error);

// --- Process, resources, message boxes -------------------------------------

// Full command line, as GetCommandLineA reports it.
void SimSetCommandLine(const std::string &line);
// Full path of the running executable; an empty path makes
// GetModuleFileNameA fail.
void SimSetModulePath(const std::string &path);
HINSTANCE SimInstance();

struct SimMessageBox {
  HWND owner;
  std::string text;
  std::string caption;
  UINT flags;
};
// Queue the answer for the next box. A box with no queued answer is a
// problem (see SimProblems) and is answered IDCANCEL.
void SimQueueAnswer(int answer);
int SimPendingAnswers();
const std::vector<SimMessageBox> &SimMessageBoxes();

// Every Sleep, in milliseconds; nothing is actually slept.
const std::vector<DWORD> &SimSleeps();

// Platform family reported by GetVersionExA; `fails` makes the query fail.
void SimSetPlatformId(DWORD platform_id);
void SimSetVersionQueryFails(bool fails);

void SimSetEnvironment(const std::string &name, const std::string &value);
void SimUnsetEnvironment(const std::string &name);

// Every CreateProcessA, with what it was given and the current directory
// at that moment. A launch that an injected fault refused is not recorded.
struct SimLaunch {
  std::string application;
  bool hasApplication = false;
  std::string commandLine;
  BOOL inheritHandles = FALSE;
  DWORD creationFlags = 0;
  bool hasEnvironment = false;
  bool hasCurrentDirectory = false;
  std::string workingDirectory;
  STARTUPINFOA startup = {};
  bool started = false;
};
const std::vector<SimLaunch> &SimLaunches();

// The file slice's current directory, as GetCurrentDirectoryA reports it.
std::string SimCurrentDirectory();

// --- Slices, each in its own file ------------------------------------------

void SimResetProcess();
void SimResetRegistry();
void SimResetFiles();
void SimResetShell();
int SimOpenRegistryHandles();
int SimOpenFileHandles();
int SimOpenShellHandles();
int SimOpenProcessHandles();

// --- Shell and DDE ----------------------------------------------------------

// The Programs folder that the shell's special-folder lookup reports; an
// empty path makes the lookup fail.
void SimSetProgramsFolder(const std::string &path);
// The stand-in Program Manager ("PROGMAN"). Present, it accepts the
// connection and acknowledges every execute command, handing the command's
// text (up to its first NUL) to the action, if one is set; absent,
// DdeConnect yields no conversation and what follows fails.
void SimSetProgramManager(bool present);
void SimOnProgramManagerCommand(void (*action)(const std::string &command));

// Every DDE client call, in order, with what it was given.
struct SimDdeCall {
  std::string function;       // "DdeInitializeA", "DdeConnect", ...
  DWORD instance = 0;         // the instance named, or the one created
  bool hasCallback = false;   // DdeInitializeA
  PFNCALLBACK callback = nullptr;
  DWORD command = 0;          // DdeInitializeA: its command flags
  DWORD reserved = 0;
  std::string text;           // string handle: its text; DdeConnect: the service's
  std::string topic;          // DdeConnect: the topic's text
  int codePage = 0;           // DdeCreateStringHandleA
  bool hasContext = false;    // DdeConnect
  HCONV conversation = nullptr;  // made by DdeConnect, or the one named
  std::string data;           // DdeClientTransaction: `length` bytes
  DWORD length = 0;
  bool hasItem = false;
  UINT format = 0;
  UINT type = 0;
  DWORD timeout = 0;
  bool hasResult = false;
  HDDEDATA dataHandle = nullptr;  // DdeFreeDataHandle
  bool succeeded = false;
};
const std::vector<SimDdeCall> &SimDdeCalls();

#endif
