// A core fixture with the resource library loaded, for the file set and start-up tests.
#pragma once
#include <cstdlib>

#include "config/file_set.h"
#include "config/options.h"
#include "platform/dynlib.h"
#include "support/core_fixture.h"

namespace vanta::test {

class ConfigTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    ASSERT_TRUE(config::LoadResourceLibrary()) << "libvres.so not found (VANTA_BIN)";
    config::ResetOptionsToDefaults();
  }
  void TearDown() override {
    config::ResetOptionsToDefaults();
    CoreTest::TearDown();
  }
};

}  // namespace vanta::test
