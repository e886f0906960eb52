#include <QApplication>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "link/system_driver.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/resource_loader.h"

int main(int argc, char** argv) {
  // Checked before Qt starts, so that a wrong --image needs no display.
  qvx::Startup startup =
      qvx::ParseStartup(std::vector<std::string>(argv + 1, argv + argc), qvx::LoadEmbeddedResource);
  if (startup.exitStatus) {
    std::fprintf(stderr, "%s\n", startup.message.c_str());
    return *startup.exitStatus;
  }

  QApplication app(argc, argv);
  // The form decides when the program ends (a link failure ends it only after its box).
  QApplication::setQuitOnLastWindowClosed(false);

  qvx::SystemDriver driver;
  qvx::qt::QtWindow window(driver, std::move(startup.image));
  window.Form().Form_Load();
  if (window.IsClosed()) return window.Form().ExitStatus();
  return QApplication::exec();
}
