// SPDX-License-Identifier: BSD-2-Clause
// Runs the whole-program scenarios on the Qt backend, offscreen.
#include "qt_factory.h"

namespace varnic::testing {
INSTANTIATE_TEST_SUITE_P(Qt, ScenarioTest, ::testing::Values(qt_factory()), [](const auto& instance) { return instance.param.name; });
}  // namespace varnic::testing
