// SPDX-License-Identifier: BSD-2-Clause
// Runs the whole-program scenarios on the headless backend.
#include "harness.h"
#include "platform/headless/headless.h"

namespace varnic::testing {
namespace {

INSTANTIATE_TEST_SUITE_P(Headless, ScenarioTest, ::testing::Values(BackendFactory{"Headless", [] {
                           auto platform = std::make_shared<platform::HeadlessPlatform>();
                           return Backend{platform, platform.get()};
                         }}),
                         [](const auto& instance) { return instance.param.name; });

}  // namespace
}  // namespace varnic::testing
