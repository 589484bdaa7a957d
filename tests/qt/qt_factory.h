// SPDX-License-Identifier: BSD-2-Clause
// The scenario harness's factory for the Qt backend, offscreen unless a platform is named.
#pragma once

#include <QtGlobal>
#include <memory>

#include "../app/harness.h"
#include "qt_automation.h"

namespace varnic::testing {

inline BackendFactory qt_factory() {
  BackendFactory f;
  f.name = "Qt";
  f.supports_eight_bit_screen = false;
  f.make = [] {
    // Before the application object exists: no display is needed or used.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform says, for every capture and raise, that it cannot do them; nothing
    // else of Qt's chatter is dropped.
    static const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
          if (!message.startsWith("This plugin does not support") && previous != nullptr) previous(type, context, message);
        });
    auto platform = std::make_shared<ScriptedQtPlatform>();
    return Backend{platform, platform.get()};
  };
  return f;
}

}  // namespace varnic::testing
