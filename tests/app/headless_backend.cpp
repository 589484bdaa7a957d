// Runs the whole-program scenarios on the headless backend.
#include "harness.h"
#include "platform/headless/headless.h"

namespace varnic::testing {
namespace {

BackendFactory headless_factory() {
  BackendFactory f;
  f.name = "Headless";
  f.make = [] {
    auto platform = std::make_shared<platform::HeadlessPlatform>();
    Backend b;
    b.automation = platform.get();
    b.platform = platform;
    return b;
  };
  return f;
}

INSTANTIATE_TEST_SUITE_P(Headless, ScenarioTest, ::testing::Values(headless_factory()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace varnic::testing
