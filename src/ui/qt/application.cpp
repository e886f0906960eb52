#include "ui/qt/application.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace qvx::qt {
namespace {

// What Qt says while it starts, held back until it is known whether it started.
struct Held {
  QtMsgType type;
  const char* file;
  int line;
  const char* function;
  const char* category;
  QString text;
};

std::mutex heldLock;
std::vector<Held> held;

std::string NoDisplayLine() {
  std::string line = "quorvex-updater: cannot open the window: no display";
  const QByteArray x11 = qgetenv("DISPLAY");
  const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
  if (x11.isEmpty() && wayland.isEmpty()) {
    return line +
           " (neither DISPLAY nor WAYLAND_DISPLAY is set); quorvex, the command line, "
           "needs none";
  }
  line += " answers at";
  if (!x11.isEmpty()) line += " DISPLAY=" + x11.toStdString();
  if (!wayland.isEmpty()) line += " WAYLAND_DISPLAY=" + wayland.toStdString();
  return line;
}

void HoldWhileStarting(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    // Only the platform plugin ends Qt's start-up: nothing to open a window on.
    std::fprintf(stderr, "%s\n", NoDisplayLine().c_str());
    std::_Exit(kNoDisplay);
  }
  if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
  const std::lock_guard guard(heldLock);
  held.push_back({type, context.file, context.line, context.function, context.category, text});
}

}  // namespace

void StayOffAbsentSessionBus() {
  if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return;
  // The socket libdbus itself looks for: the user's own, in the user's runtime folder.
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  struct stat bus {};
  if (!runtime.isEmpty() && ::stat((runtime + "/bus").constData(), &bus) == 0 &&
      S_ISSOCK(bus.st_mode) && bus.st_uid == ::getuid()) {
    return;
  }
  // An address of no known kind: connecting fails at once, and nothing is started.
  qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
}

std::unique_ptr<QApplication> StartApplication(int& argc, char** argv) {
  const QtMessageHandler previous = qInstallMessageHandler(HoldWhileStarting);
  auto app = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(previous);
  std::vector<Held> said;
  {
    const std::lock_guard guard(heldLock);
    said.swap(held);
  }
  for (const Held& h : said) {
    qt_message_output(h.type, QMessageLogContext(h.file, h.line, h.function, h.category), h.text);
  }
  return app;
}

}  // namespace qvx::qt
