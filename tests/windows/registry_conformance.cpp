// The registry cases against the real registry: one line per case, the
// failures under it, and a closing count. Exits nonzero when any failed.
#include <stdio.h>

#include "tests/conformance/registry_cases.h"

namespace {

struct PrintedReport : CaseReport {
  int failures = 0;
  void Fail(const char *file, int line, const char *message) override {
    ++failures;
    printf("    %s:%d: %s\n", file, line, message);
  }
};

}  // namespace

int main() {
  printf("platform family: %s\n", registry_cases::Windows95Family() ? "Windows 95" : "NT");
  int passed = 0, failed = 0;
  for (const RegistryCase &entry : registryCases) {
    PrintedReport report;
    RunRegistryCase(entry, report);
    printf("%s %s\n", report.failures ? "FAIL" : "PASS", entry.name);
    fflush(stdout);
    ++(report.failures ? failed : passed);
  }
  printf("%d passed, %d failed\n", passed, failed);
  return failed ? 1 : 0;
}
