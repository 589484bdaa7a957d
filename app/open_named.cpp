#include "app/open_named.h"

#include <cctype>

#include "resources/resources.h"

namespace varnic::app {

int open_command_for(std::string_view path) {
  const auto slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.find_last_of('.');
  if (dot == std::string_view::npos) return -1;
  std::string extension;
  for (char c : name.substr(dot + 1)) extension += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "bmp") return resources::kCmdOpenBitmap;
  if (extension == "tga") return resources::kCmdOpenTarga;
  if (extension == "cod") return resources::kCmdOpenCoded;
  return -1;
}

void open_named_file(Application& app, platform::Platform& platform,
                     const std::function<void(const std::string&)>& answer_chooser, const std::string& path) {
  const int command = open_command_for(path);
  if (command < 0) {
    platform.message_box(kUnknownFileKind, path);
    return;
  }
  answer_chooser(path);
  app.dispatch(command);
  platform.process_paints();
}

}  // namespace varnic::app
