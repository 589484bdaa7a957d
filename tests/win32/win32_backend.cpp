// SPDX-License-Identifier: BSD-2-Clause
// Runs the whole-program scenarios on the Win32 backend: real windows, menu and dialog resources.
#include "../app/harness.h"
#include "win32_automation.h"

namespace varnic::testing {
namespace {

BackendFactory win32_factory() {
  BackendFactory f;
  f.name = "Win32";
  f.make = [] {
    auto platform = std::make_shared<ScriptedWin32Platform>();
    Backend b;
    b.automation = platform.get();
    b.platform = platform;
    return b;
  };
  return f;
}

INSTANTIATE_TEST_SUITE_P(Win32, ScenarioTest, ::testing::Values(win32_factory()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace varnic::testing
