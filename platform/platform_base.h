// SPDX-License-Identifier: BSD-2-Clause
// What every backend does alike, whatever it draws with: the answers preset for the file
// choosers by files named outside them, the road of dropped files to the program, the quit code
// and a pause that sleeps. A backend derives from PlatformBase and asks take_preset_answer()
// before it shows a chooser.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace varnic::platform {

class PlatformBase : public Platform {
 public:
  void answer_next_file_chooser(std::string path) override { preset_answers_.push_back(std::move(path)); }
  void set_open_request_handler(std::function<void(const std::string&)> handler) override {
    open_request_ = std::move(handler);
  }
  void pause(std::uint32_t milliseconds) override;
  void quit(int code) override;
  bool quit_requested() const override { return quit_code_.has_value(); }

  // Hands a file dropped on the main window to the program.
  void request_open(const std::string& path) {
    if (open_request_) open_request_(path);
  }

 protected:
  // The path a chooser returns without showing itself, if one is preset.
  std::optional<std::string> take_preset_answer();
  const std::optional<int>& quit_code() const { return quit_code_; }
  // Ends the backend's event loop with `code`; quit() has recorded it already.
  virtual void end_event_loop(int code) { (void)code; }

 private:
  std::deque<std::string> preset_answers_;
  std::function<void(const std::string&)> open_request_;
  std::optional<int> quit_code_;
};

}  // namespace varnic::platform
