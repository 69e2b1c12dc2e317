// The simulation's shared machinery: reset, the call log, fault injection,
// the handle census and the list of problems a test must fail on.
#include <map>
#include <sstream>

#include "platform/host/sim.h"

namespace {
std::vector<std::string> calls;
bool logging = true;
long callCount;
long failAt;
bool failPersistent;
std::map<std::string, bool> failByName;
std::vector<std::string> problems;
DWORD lastError;
std::function<void(const std::string &)> beforeEachCall;
}  // namespace

void SimReset() {
  calls.clear();
  logging = true;
  callCount = 0;
  failAt = 0;
  failPersistent = false;
  failByName.clear();
  problems.clear();
  lastError = 0;
  beforeEachCall = nullptr;
  SimResetProcess();
  SimResetRegistry();
  SimResetFiles();
  SimResetShell();
}

const std::vector<std::string> &SimCalls() { return calls; }
void SimClearCalls() { calls.clear(); }
void SimSetCallLogging(bool on) { logging = on; }

void SimFailNthCall(long nth, bool persistent) {
  failAt = nth > 0 ? callCount + nth : 0;
  failPersistent = persistent;
}

long SimCallCount() { return callCount; }

void SimFailCall(const std::string &function, bool fail) { failByName[function] = fail; }

void SimBeforeEachCall(std::function<void(const std::string &function)> hook) {
  beforeEachCall = std::move(hook);
}

bool SimEnterCall(const char *function) {
  if (beforeEachCall) beforeEachCall(function);
  if (logging) calls.push_back(function);
  ++callCount;
  bool fail = false;
  if (failAt > 0 && (callCount == failAt || (failPersistent && callCount > failAt))) fail = true;
  auto named = failByName.find(function);
  if (named != failByName.end() && named->second) fail = true;
  return fail;
}

void SimReportProblem(const std::string &problem) { problems.push_back(problem); }
const std::vector<std::string> &SimProblems() { return problems; }

int SimOpenHandleCount() {
  return SimOpenRegistryHandles() + SimOpenFileHandles() + SimOpenShellHandles() +
         SimOpenProcessHandles();
}

std::string SimOpenHandleReport() {
  std::ostringstream out;
  out << "registry " << SimOpenRegistryHandles() << ", files " << SimOpenFileHandles()
      << ", shell and DDE " << SimOpenShellHandles() << ", processes "
      << SimOpenProcessHandles();
  return out.str();
}

void SimSetLastError(DWORD error) { lastError = error; }

DWORD GetLastError(void) { return lastError; }
