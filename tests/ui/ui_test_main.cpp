#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

// One QApplication for every window test, and a runtime folder of their own so the
// single-instance lock never meets a running program.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir runtimeDir;
  if (!runtimeDir.isValid()) return 2;
  qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
