// SPDX-License-Identifier: BSD-2-Clause
#include "app/session.h"

#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>

#include "resources/resources.h"

namespace varnic::app {

bool write_ppm(const platform::Image& image, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  if (!out) return false;
  out << "P6\n" << image.width << " " << image.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(image.rgb.data()), static_cast<std::streamsize>(image.rgb.size()));
  return static_cast<bool>(out);
}

namespace {

void report(platform::Automation& automation, std::size_t& messages_seen, std::size_t& dialogs_seen, std::ostream& log) {
  const auto& messages = automation.messages();
  for (; messages_seen < messages.size(); ++messages_seen) {
    const auto& m = messages[messages_seen];
    log << "  message box [" << m.caption << "] " << m.text << "\n";
  }
  const auto& runs = automation.dialog_runs();
  for (; dialogs_seen < runs.size(); ++dialogs_seen) {
    const auto& run = runs[dialogs_seen];
    log << "  dialog " << run.dialog << (run.finished ? "" : " (closed unanswered)") << "\n";
    for (const auto& [control, text] : run.final_state.texts) {
      if (!text.empty()) log << "    " << control << ": " << text << "\n";
    }
  }
}

}  // namespace

int run_session(Application& app, platform::Platform& platform, platform::Automation& automation,
                std::istream& script, std::ostream& log) {
  std::size_t messages_seen = automation.messages().size();
  std::size_t dialogs_seen = automation.dialog_runs().size();
  std::string line;
  int status = 0;
  while (std::getline(script, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string verb, kind, path;
    words >> verb;
    log << "> " << line << "\n";
    if (verb == "open" || verb == "save") {
      words >> kind;
      std::getline(words >> std::ws, path);
      int command = -1;
      if (verb == "open") {
        command = kind == "bmp" ? kCmdOpenBitmap : kind == "tga" ? kCmdOpenTarga
                                : kind == "cod" ? kCmdOpenCoded : -1;
      } else {
        command = kind == "cod" ? kCmdSave : kind == "bmp" ? kCmdSaveBitmap
                                : kind == "tga" ? kCmdSaveTarga : -1;
      }
      if (command < 0 || path.empty()) {
        log << "  not understood\n";
        status = 1;
        continue;
      }
      automation.queue_file_answer(path);
      app.dispatch(command);
    } else if (verb == "command") {
      int command = -1;
      words >> command;
      if (!words) {
        log << "  not understood\n";
        status = 1;
        continue;
      }
      app.dispatch(command);
    } else if (verb == "screenshot") {
      words >> kind;
      std::getline(words >> std::ws, path);
      platform::Window& window = kind == "source" ? app.source_window() : app.main_window();
      if (!write_ppm(automation.client_image(window), path)) {
        log << "  cannot write " << path << "\n";
        status = 1;
      }
    } else if (verb == "exit") {
      app.dispatch(kCmdExit);
    } else {
      log << "  not understood\n";
      status = 1;
      continue;
    }
    platform.process_paints();
    report(automation, messages_seen, dialogs_seen, log);
    log << "  title: " << app.main_window().title() << "\n";
    if (app.main_window().is_destroyed()) break;
  }
  return status;
}

}  // namespace varnic::app
