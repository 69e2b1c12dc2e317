// Every host test starts from a fresh simulated machine and ends by checking
// that the program left no handle open, answered every scripted box and
// made the simulation see nothing amiss.
#ifndef ZELK_TEST_FIXTURE_H
#define ZELK_TEST_FIXTURE_H

#include <gtest/gtest.h>

#include "platform/host/sim.h"
#include "settings/settings.h"

class SimTest : public ::testing::Test {
 protected:
  // A fresh process as well: the settings root is process-wide and starts
  // on the user's.
  void SetUp() override {
    SimReset();
    SelectSettingsRoot(HKEY_CURRENT_USER);
  }
  void TearDown() override {
    EXPECT_EQ(SimOpenHandleCount(), 0) << SimOpenHandleReport();
    EXPECT_EQ(SimPendingAnswers(), 0) << "scripted answers left unused";
    for (const std::string &problem : SimProblems()) ADD_FAILURE() << problem;
    SelectSettingsRoot(HKEY_CURRENT_USER);
  }
};

#endif
