#include <QApplication>
#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/startup.h"
#include "link/system_driver.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/resource_loader.h"

namespace {

// The options QGuiApplication and QApplication document, which Qt reads itself: a session manager
// restarts the program with -session, and -platform, -display or -style choose where and how it
// shows. Undocumented ones, and the Windows platform's, are refused like any unknown option.
constexpr std::array<qvx::ToolkitOption, 17> kQtOptions{{
    {"-platform", true},
    {"-platformpluginpath", true},
    {"-platformtheme", true},
    {"-plugin", true},
    {"-qmljsdebugger=", false},
    {"-qwindowgeometry", true},
    {"-qwindowicon", true},
    {"-qwindowtitle", true},
    {"-reverse", false},
    {"-session", true},
    {"-display", true},
    {"-geometry", true},
    {"-style", true},
    {"-style=", false},
    {"-stylesheet", true},
    {"-stylesheet=", false},
    {"-widgetcount", false},
}};

}  // namespace

int main(int argc, char** argv) {
  // Checked before Qt starts, so that the answers and refusals need no display.
  qvx::Startup startup = qvx::ParseStartup(std::vector<std::string>(argv + 1, argv + argc),
                                           qvx::LoadEmbeddedResource, kQtOptions);
  if (startup.exitStatus) {
    std::fprintf(*startup.exitStatus == 0 ? stdout : stderr, "%s\n", startup.message.c_str());
    return *startup.exitStatus;
  }

  QApplication app(argc, argv);
  // The form decides when the program ends (a link failure ends it only after its box).
  QApplication::setQuitOnLastWindowClosed(false);
  // The desktop entry's name, by which a Wayland compositor matches the window to its entry.
  QGuiApplication::setDesktopFileName(QStringLiteral("invalid.quorvex.Updater"));

  qvx::SystemDriver driver;
  qvx::qt::QtWindow window(driver, std::move(startup.image));
  window.Form().Form_Load();
  if (window.IsClosed()) return window.Form().ExitStatus();
  return QApplication::exec();
}
