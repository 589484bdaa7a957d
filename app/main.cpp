// The desktop program. Without a display backend built in it runs headless: a scripted session
// (--script FILE, or standard input with --script -) and then exits.
#include <cstring>
#include <fstream>
#include <iostream>

#include "app/app.h"
#include "app/session.h"
#include "platform/headless/headless.h"

int main(int argc, char** argv) {
  const char* script_path = nullptr;
  int depth = 24;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc) {
      script_path = argv[++i];
    } else if (std::strcmp(argv[i], "--depth") == 0 && i + 1 < argc) {
      depth = std::atoi(argv[++i]);
    } else {
      std::cerr << "usage: varnic [--script FILE|-] [--depth 8|24]\n";
      return 2;
    }
  }
  varnic::platform::HeadlessPlatform platform;
  platform.set_screen_depth(depth);
  varnic::app::Application app(platform);
  app.start();
  int status = 0;
  if (script_path != nullptr) {
    if (std::strcmp(script_path, "-") == 0) {
      status = varnic::app::run_session(app, platform, platform, std::cin, std::cout);
    } else {
      std::ifstream script(script_path);
      if (!script) {
        std::cerr << "varnic: cannot read " << script_path << "\n";
        return 2;
      }
      status = varnic::app::run_session(app, platform, platform, script, std::cout);
    }
  }
  const int code = platform.run();
  return status != 0 ? status : code;
}
