// The registry cases that the Windows program runs against the real
// registry, here against the simulation, on both platform families.
#include <string>

#include "fixture.h"
#include "tests/conformance/registry_cases.h"

namespace {

struct GtestReport : CaseReport {
  void Fail(const char *file, int line, const char *message) override {
    ADD_FAILURE_AT(file, line) << message;
  }
};

struct Run {
  DWORD platformId;
  const RegistryCase *entry;
};

std::vector<Run> AllRuns() {
  std::vector<Run> runs;
  for (DWORD platform : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS})
    for (const RegistryCase &entry : registryCases) runs.push_back(Run{platform, &entry});
  return runs;
}

class RegistryConformance : public SimTest, public ::testing::WithParamInterface<Run> {};

TEST_P(RegistryConformance, MatchesTheRealRegistry) {
  SimSetPlatformId(GetParam().platformId);
  SelectSettingsRoot(HKEY_CURRENT_USER);  // the erase and copy act under it
  GtestReport report;
  RunRegistryCase(*GetParam().entry, report);
  EXPECT_EQ(SimRegistrySubkeys(HKEY_CURRENT_USER, "Software"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryConformance, ::testing::ValuesIn(AllRuns()),
                         [](const ::testing::TestParamInfo<Run> &info) {
                           return std::string(info.param.entry->name) +
                                  (info.param.platformId == VER_PLATFORM_WIN32_WINDOWS ? "_Win95"
                                                                                       : "_NT");
                         });

}  // namespace
