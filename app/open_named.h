// Opening a file named outside the open dialog (on the command line, dropped on the main window):
// its extension picks the open command, and the command's file chooser is answered with the path,
// so the same checks, messages, menu rules and title follow as for a file chosen there.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/app.h"

namespace varnic::app {

// The open command for a file name by its extension, in any case: ".bmp" 102, ".tga" 103,
// ".cod" 10; -1 for any other name.
int open_command_for(std::string_view path);

// `answer_chooser` makes the next file chooser return the path without asking. A name with an
// extension the program cannot open gets a message in the layout of the picture refusals.
void open_named_file(Application& app, platform::Platform& platform,
                     const std::function<void(const std::string&)>& answer_chooser, const std::string& path);

inline constexpr std::string_view kUnknownFileKind = "The file is not a Bitmap, Targa or compressed file";

}  // namespace varnic::app
