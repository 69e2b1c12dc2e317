// Control of the host simulation, for tests only: set up the world the
// program sees, script the user's answers, inject faults, and read back
// what the program did.
#ifndef ZELK_HOST_SIM_H
#define ZELK_HOST_SIM_H

#include <functional>
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

// Runs before each call the program makes, with the call's name: for what
// another process does meanwhile. The hook may use the helpers below, not
// the program's calls. Cleared by SimReset.
void SimBeforeEachCall(std::function<void(const std::string &function)> hook);

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

// --- Registry -------------------------------------------------------------

// The platform id that the process slice reports; the registry takes its
// deletion rule from it (the Windows 95 family deletes a key with its
// subkeys, the NT family refuses a key that still has subkeys).
DWORD SimPlatformId();

// Seeding and inspection, without logged calls. Paths are relative to the
// root ("Software\\Zelk\\A"), any case; missing keys on the way are made.
void SimRegistryPutKey(HKEY root, const std::string &path);
void SimRegistryPutValue(HKEY root, const std::string &path, const std::string &name,
                         DWORD type, const std::vector<BYTE> &data);
void SimRegistryPutText(HKEY root, const std::string &path, const std::string &name,
                        const std::string &text);  // REG_SZ with its terminator
void SimRegistryPutNumber(HKEY root, const std::string &path, const std::string &name,
                          DWORD value);  // REG_DWORD
bool SimRegistryKeyExists(HKEY root, const std::string &path);
// False when the key or the value is missing.
bool SimRegistryGetValue(HKEY root, const std::string &path, const std::string &name,
                         DWORD *type, std::vector<BYTE> *data);
// Names in enumeration order, with the case they were made with.
std::vector<std::string> SimRegistrySubkeys(HKEY root, const std::string &path);
std::vector<std::string> SimRegistryValues(HKEY root, const std::string &path);
// A branch as text, one line per key and per value, in enumeration order,
// with paths relative to the branch: two equal branches give equal texts.
std::string SimRegistryDump(HKEY root, const std::string &path);

// Every key that RegDeleteKeyA deleted, in order, as "HKCU\\path" or
// "HKLM\\path" in the case the key was made with.
const std::vector<std::string> &SimRegistryDeletions();

// Faults for a key and everything below it (the empty path: the whole
// root); the call fails with ERROR_ACCESS_DENIED.
// Opening (RegOpenKeyExA, and RegCreateKeyExA of a key that exists) with an
// access mask that shares a bit with `refused`.
void SimRegistryRefuseOpen(HKEY root, const std::string &path, REGSAM refused);
// Making a key that does not exist yet.
void SimRegistryRefuseCreate(HKEY root, const std::string &path);
// Deleting a key (on the Windows 95 family, also a key with such a subkey).
void SimRegistryRefuseDelete(HKEY root, const std::string &path);

// --- Files and directories ---------------------------------------------------

// After a reset drive C: is the current directory and holds nothing but
// the temporary directory "C:\WINDOWS\TEMP" (GetTempPathA adds the final
// backslash). Paths given to these helpers resolve like the program's own
// (relative to the current directory, "." and "..", forward slashes, any
// case) and missing parent directories are made. A setup mistake (a file
// standing where a directory must be) throws.
void SimAddDirectory(const std::string &path, DWORD attributes = 0);
void SimAddFile(const std::string &path, const std::string &bytes = "",
                DWORD attributes = FILE_ATTRIBUTE_ARCHIVE);
// A directory whose contents are those of `target`, as a junction shows
// them: paths through it reach the target.
void SimMakeJunction(const std::string &path, const std::string &target);
// Takes an entry and everything below it away, as another process would:
// no deletion is recorded. Throws when nothing is there.
void SimRemoveTree(const std::string &path);
bool SimPathExists(const std::string &path);
DWORD SimFileAttributes(const std::string &path);  // INVALID_FILE_ATTRIBUTES
std::string SimReadFile(const std::string &path);   // throws when no file
// Everything below a directory, depth first in name order, as full paths
// with the case they were made with; directories end with a backslash.
// Junctions are listed but not entered.
std::vector<std::string> SimListTree(const std::string &path);
// Held open by another process without delete sharing: reads still open,
// writes and deletion are refused with ERROR_SHARING_VIOLATION.
void SimSetInUse(const std::string &path, bool inUse);
// Creating, or opening for writing, this path or anything below it is
// refused with ERROR_ACCESS_DENIED.
void SimRefuseCreation(const std::string &path);
// GetTempPathA's answer; a backslash is added when missing. The directory
// is not made.
void SimSetTempPath(const std::string &path);
// The 8.3 name of an existing entry, in place of the generated one.
void SimSetShortName(const std::string &path, const std::string &shortName);
// Sets the current directory without a logged call; it must exist.
void SimSetCurrentDirectory(const std::string &path);

// Every successful DeleteFileA and RemoveDirectoryA, in order, with the
// entry's real full path (through junctions, in its own case).
struct SimDeletion {
  bool directory;
  std::string path;
};
const std::vector<SimDeletion> &SimDeletions();

// Whether an ANSI character has a counterpart in the OEM code page.
bool SimOemCarries(unsigned char ansi);

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
