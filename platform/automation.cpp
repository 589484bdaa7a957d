// SPDX-License-Identifier: BSD-2-Clause
#include "platform/automation.h"

namespace varnic::platform {

void Recorder::clear_records() {
  file_requests_.clear();
  messages_.clear();
  dialog_runs_.clear();
  draws_.clear();
  help_.clear();
  frames_.clear();
}

std::optional<std::string> Recorder::take_file_answer(const FileChooserSpec& request) {
  file_requests_.push_back(request);
  if (file_answers_.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(file_answers_.front());
  file_answers_.pop_front();
  return answer;
}

std::vector<DialogStep> Recorder::take_dialog_script(DialogRun& run) {
  if (dialog_scripts_.empty()) return {};
  if (dialog_scripts_.front().dialog != run.dialog) {
    run.mismatches.push_back("next script is for " + dialog_scripts_.front().dialog);
    return {};
  }
  std::vector<DialogStep> steps = std::move(dialog_scripts_.front().steps);
  dialog_scripts_.pop_front();
  run.scripted = true;
  return steps;
}

void Recorder::play_dialog(const std::string& name, ScriptedDialog& dialog, const std::function<void()>* driver) {
  DialogRun run;
  run.dialog = name;
  if (driver != nullptr) {
    run.scripted = true;
    (*driver)();
  } else {
    for (const DialogStep& step : take_dialog_script(run)) {
      if (dialog.ended()) break;
      if (step.action == DialogStep::Action::kSnapshot) {
        run.snapshots.push_back(dialog.state());
      } else if (!dialog.take(step)) {
        run.mismatches.push_back("no control " + std::to_string(step.control) + " takes that step");
      }
    }
  }
  run.finished = dialog.ended();
  if (!dialog.ended()) dialog.escape();
  if (!dialog.ended()) dialog.force_end();
  run.result = dialog.result();
  run.final_state = dialog.state();
  record_dialog_run(std::move(run));
}

utils::ClockReading Recorder::clock_reading() const {
  const std::uint64_t total = clock_ms_ + kClockStartMilliseconds;
  clock_ms_ += clock_step_;
  return utils::ClockReading{kClockStartSeconds + static_cast<std::uint32_t>(total / 1000),
                             static_cast<std::uint16_t>(total % 1000)};
}

}  // namespace varnic::platform
