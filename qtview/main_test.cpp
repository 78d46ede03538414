// The view's tests need the application object before the first test; they
// render offscreen unless told otherwise.
#include <gtest/gtest.h>
#include <QByteArray>
#include <QtGlobal>

#include "qtview/qtview.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
  dg::qtview::EnsureApplication(argc, argv);
  return RUN_ALL_TESTS();
}
