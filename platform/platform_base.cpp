// SPDX-License-Identifier: BSD-2-Clause
#include "platform/platform_base.h"

#include <chrono>
#include <thread>

namespace varnic::platform {

void PlatformBase::pause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void PlatformBase::quit(int code) {
  quit_code_ = code;
  end_event_loop(code);
}

std::optional<std::string> PlatformBase::take_preset_answer() {
  if (preset_answers_.empty()) return std::nullopt;
  std::string path = std::move(preset_answers_.front());
  preset_answers_.pop_front();
  return path;
}

}  // namespace varnic::platform
