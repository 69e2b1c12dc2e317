// The process slice: command line, module, string table, message boxes,
// pauses, version, environment, and the launch and end of processes.
#include <cstring>
#include <deque>
#include <map>

#include "platform/host/sim.h"
#include "resources/strings.h"

namespace {
std::string commandLine;
std::string modulePath;
std::deque<int> answers;
std::vector<SimMessageBox> boxes;
std::vector<DWORD> sleeps;
DWORD platformId;
bool versionFails;
std::map<std::string, std::string> environment;
std::vector<SimLaunch> launches;
int openProcessHandles;

// The same table that the resource script compiles.
const struct {
  UINT id;
  const char *text;
} stringTable[] = {
    {IDS_TITLE, TEXT_TITLE},
    {IDS_COMPLETED, TEXT_COMPLETED},
    {IDS_DELETE_MANUALLY, TEXT_DELETE_MANUALLY},
    {IDS_CONFIRM_UNINSTALL, TEXT_CONFIRM_UNINSTALL},
    {IDS_NO_LIST_FILE, TEXT_NO_LIST_FILE},
};

HINSTANCE const instanceHandle = (HINSTANCE)(ULONG_PTR)0x00400000;

std::string Upper(const std::string &text) {
  std::string out = text;
  for (char &c : out)
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
  return out;
}
}  // namespace

void SimResetProcess() {
  commandLine = "uninstall.exe";
  modulePath = "C:\\Program Files\\Zelk\\uninstall.exe";
  answers.clear();
  boxes.clear();
  sleeps.clear();
  platformId = VER_PLATFORM_WIN32_NT;
  versionFails = false;
  environment.clear();
  environment["COMSPEC"] = "C:\\WINDOWS\\system32\\cmd.exe";
  launches.clear();
  openProcessHandles = 0;
}

int SimOpenProcessHandles() { return openProcessHandles; }

void SimSetCommandLine(const std::string &line) { commandLine = line; }
void SimSetModulePath(const std::string &path) { modulePath = path; }
HINSTANCE SimInstance() { return instanceHandle; }
void SimQueueAnswer(int answer) { answers.push_back(answer); }
int SimPendingAnswers() { return (int)answers.size(); }
const std::vector<SimMessageBox> &SimMessageBoxes() { return boxes; }
const std::vector<DWORD> &SimSleeps() { return sleeps; }
void SimSetPlatformId(DWORD id) { platformId = id; }
DWORD SimPlatformId() { return platformId; }
void SimSetVersionQueryFails(bool fails) { versionFails = fails; }
void SimSetEnvironment(const std::string &name, const std::string &value) {
  environment[Upper(name)] = value;
}
void SimUnsetEnvironment(const std::string &name) { environment.erase(Upper(name)); }
const std::vector<SimLaunch> &SimLaunches() { return launches; }

// The command line lives as long as the process, as the system's does.
LPSTR GetCommandLineA(void) {
  SimEnterCall("GetCommandLineA");
  return &commandLine[0];
}

HMODULE GetModuleHandleA(LPCSTR name) {
  SimEnterCall("GetModuleHandleA");
  return name ? (HMODULE)0 : instanceHandle;
}

// As on Windows XP and later: a path that does not fit is cut, terminated,
// and the size is returned.
DWORD GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size) {
  if (SimEnterCall("GetModuleFileNameA") || modulePath.empty() ||
      (module && module != instanceHandle) || size == 0) {
    SimSetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (modulePath.size() + 1 > size) {
    memcpy(path, modulePath.data(), size - 1);
    path[size - 1] = '\0';
    SimSetLastError(122 /* ERROR_INSUFFICIENT_BUFFER */);
    return size;
  }
  memcpy(path, modulePath.c_str(), modulePath.size() + 1);
  return (DWORD)modulePath.size();
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (SimEnterCall("LoadStringA")) return 0;
  if (instance != instanceHandle) {
    SimReportProblem("LoadStringA with a handle that is not the executable's");
    return 0;
  }
  if (!buffer || size <= 0) return 0;
  for (const auto &entry : stringTable) {
    if (entry.id != id) continue;
    int length = (int)strlen(entry.text);
    if (length > size - 1) length = size - 1;
    memcpy(buffer, entry.text, (size_t)length);
    buffer[length] = '\0';
    return length;
  }
  return 0;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  SimMessageBox box = {owner, text ? text : "", caption ? caption : "", type};
  boxes.push_back(box);
  if (SimEnterCall("MessageBoxA")) return 0;
  if (answers.empty()) {
    SimReportProblem("unexpected message box: \"" + box.caption + "\": \"" + box.text + "\"");
    return IDCANCEL;
  }
  int answer = answers.front();
  answers.pop_front();
  return answer;
}

void Sleep(DWORD milliseconds) {
  SimEnterCall("Sleep");
  sleeps.push_back(milliseconds);
}

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (SimEnterCall("GetVersionExA") || versionFails || !info ||
      info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SimSetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  info->dwPlatformId = platformId;
  info->dwMajorVersion = platformId == VER_PLATFORM_WIN32_WINDOWS ? 4 : 5;
  info->dwMinorVersion = platformId == VER_PLATFORM_WIN32_WINDOWS ? 0 : 1;
  info->dwBuildNumber = platformId == VER_PLATFORM_WIN32_WINDOWS ? 950 : 2600;
  info->szCSDVersion[0] = '\0';
  return TRUE;
}

// Returns the length without the terminator when it fits, else the size
// needed with it, and leaves the buffer alone.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  if (SimEnterCall("GetEnvironmentVariableA")) {
    SimSetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  auto found = environment.find(Upper(name));
  if (found == environment.end()) {
    SimSetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const std::string &value = found->second;
  if (value.size() + 1 > size) return (DWORD)value.size() + 1;
  memcpy(buffer, value.c_str(), value.size() + 1);
  return (DWORD)value.size();
}

BOOL CreateProcessA(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES,
                    LPSECURITY_ATTRIBUTES, BOOL inherit_handles, DWORD creation_flags,
                    LPVOID environment_block, LPCSTR current_directory,
                    LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  SimLaunch launch;
  launch.application = application ? application : "";
  launch.hasApplication = application != nullptr;
  launch.commandLine = command_line ? command_line : "";
  launch.inheritHandles = inherit_handles;
  launch.creationFlags = creation_flags;
  launch.hasEnvironment = environment_block != nullptr;
  launch.hasCurrentDirectory = current_directory != nullptr;
  launch.workingDirectory = SimCurrentDirectory();
  if (startup) launch.startup = *startup;
  if (SimEnterCall("CreateProcessA")) {
    SimSetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  launch.started = true;
  launches.push_back(launch);
  // The child runs on its own; the simulation keeps no handles for it.
  if (info) {
    info->hProcess = nullptr;
    info->hThread = nullptr;
    info->dwProcessId = 1000 + (DWORD)launches.size();
    info->dwThreadId = 2000 + (DWORD)launches.size();
  }
  return TRUE;
}

void ExitProcess(UINT code) {
  SimEnterCall("ExitProcess");
  throw SimProcessExit{code};
}
