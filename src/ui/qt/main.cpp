#include <QApplication>

#include "link/system_driver.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/resource_loader.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // The form decides when the program ends (a link failure ends it only after its box).
  QApplication::setQuitOnLastWindowClosed(false);

  qvx::SystemDriver driver;
  qvx::qt::QtWindow window(driver, qvx::LoadEmbeddedResource);
  window.Form().Form_Load();
  if (window.IsClosed()) return window.Form().ExitStatus();
  return QApplication::exec();
}
