// SPDX-License-Identifier: BSD-2-Clause
// Stands in for the Qt backend's tests in a build without Qt.
#include <gtest/gtest.h>

TEST(QtBackend, NeedsTheQtBuild) { GTEST_SKIP() << "the Qt backend was not built (VARNIC_BUILD_QT=OFF)"; }
