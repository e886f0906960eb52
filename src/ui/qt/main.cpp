#include <QApplication>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "board/demo_rack.h"
#include "link/system_driver.h"
#include "ui/qt/application.h"
#include "ui/qt/qt_options.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/resource_loader.h"

int main(int argc, char** argv) {
  // Checked before Qt starts, so that the answers and refusals need no display.
  qvx::Startup startup = qvx::ParseStartup(std::vector<std::string>(argv + 1, argv + argc),
                                           qvx::LoadEmbeddedResource, qvx::qt::kQtOptions);
  if (startup.exitStatus) {
    std::fprintf(*startup.exitStatus == 0 ? stdout : stderr, "%s\n", startup.message.c_str());
    return *startup.exitStatus;
  }

  qvx::qt::StayOffAbsentSessionBus();
  const auto app = qvx::qt::StartApplication(argc, argv);
  // The form decides when the program ends (a link failure ends it only after its box).
  QApplication::setQuitOnLastWindowClosed(false);
  // The desktop entry's name, by which a Wayland compositor matches the window to its entry.
  QGuiApplication::setDesktopFileName(QStringLiteral("invalid.quorvex.Updater"));

  qvx::SystemDriver system;
  qvx::board::DemoRack demo(1, false, qvx::board::DemoFolder());
  qvx::D2xx* driver = &system;
  if (startup.demo) driver = &demo;
  qvx::qt::QtWindow window(*driver, std::move(startup.image), startup.demo);
  window.Form().Form_Load();
  if (window.IsClosed()) return window.Form().ExitStatus();
  return QApplication::exec();
}
