// SPDX-License-Identifier: BSD-2-Clause
#include "app/command_line.h"

#include <algorithm>
#include <charconv>

#include "app/app.h"

namespace varnic::app {

namespace {

// Whole milliseconds, digits only; numbers past any hold come out as one past the ceiling.
std::optional<std::uint32_t> milliseconds(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && value <= kMaxPreviewHoldMs ? value : kMaxPreviewHoldMs + 1;
}

CommandLine refuse(std::string error) {
  CommandLine line;
  line.action = CommandLine::Action::kUsageError;
  line.error = std::move(error);
  return line;
}

}  // namespace

CommandLine parse_command_line(std::span<const std::string> args, const char* hold_variable, bool with_headless) {
  CommandLine line;
  if (hold_variable != nullptr) line.preview_hold_ms = std::min(milliseconds(hold_variable).value_or(0), kMaxPreviewHoldMs);
  bool options = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options || arg.size() < 2 || arg[0] != '-') {
      line.files.push_back(arg);  // "-" alone is a name too
      continue;
    }
    // "--name=value" and "--name value" alike.
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    auto value = [&]() -> std::optional<std::string> {
      if (equals != std::string::npos) return arg.substr(equals + 1);
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    const bool takes_value = name == "--preview-hold" || (with_headless && (name == "--script" || name == "--depth"));
    if (equals != std::string::npos && !takes_value) return refuse(name + " takes no value");
    if (name == "--") {
      options = false;
    } else if (name == "--help" || name == "-h") {
      if (line.action == CommandLine::Action::kRun) line.action = CommandLine::Action::kHelp;
    } else if (name == "--version") {
      if (line.action == CommandLine::Action::kRun) line.action = CommandLine::Action::kVersion;
    } else if (name == "--preview-hold") {
      const std::optional<std::string> text = value();
      const std::optional<std::uint32_t> hold = text ? milliseconds(*text) : std::nullopt;
      if (!hold || *hold > kMaxPreviewHoldMs) {
        return refuse("--preview-hold takes whole milliseconds from 0 to " + std::to_string(kMaxPreviewHoldMs));
      }
      line.preview_hold_ms = *hold;
    } else if (with_headless && name == "--headless") {
      line.headless = true;
    } else if (with_headless && name == "--script") {
      line.script = value();
      if (!line.script || line.script->empty()) return refuse("--script takes a file, or - for standard input");
    } else if (with_headless && name == "--depth") {
      const std::optional<std::string> text = value();
      if (text != "8" && text != "24") return refuse("--depth takes 8 or 24");
      line.depth = *text == "8" ? 8 : 24;
    } else {
      return refuse("unknown option " + arg + " (a file whose name starts with - goes after -- or as ./" + arg + ")");
    }
  }
  return line;
}

std::string usage_text(bool with_headless) {
  std::string text =
      "usage: varnic [OPTION...] [--] [FILE...]\n"
      "Opens each FILE (.bmp, .tga or .cod) as if it had been chosen in the open dialog.\n"
      "  --preview-hold MS  keep each level of the incremental display MS milliseconds on the\n"
      "                     screen (0 to " + std::to_string(kMaxPreviewHoldMs) + "; also " + kPreviewHoldVariable + "=MS)\n";
  if (with_headless) {
    text +=
        "  --headless         no windows: run the --script session, then exit (also VARNIC_HEADLESS=1)\n"
        "  --script FILE|-    the headless session's commands, from FILE or standard input\n"
        "  --depth 8|24       bits per pixel of the headless screen (headless only: real screens\n"
        "                     keep their own)\n";
  }
  text +=
      "  --version          print the version and exit\n"
      "  --help             print this help and exit\n"
      "  --                 every argument after it is a file, even one starting with -\n";
  return text;
}

void start_program(Application& app, platform::Platform& platform, const CommandLine& line) {
  app.set_preview_hold(line.preview_hold_ms);
  app.start();
  connect_file_opening(app, platform);
  for (const std::string& file : line.files) {
    if (platform.quit_requested()) break;
    open_named_file(app, platform, file);
  }
}

}  // namespace varnic::app
