#pragma once

#include <QApplication>
#include <memory>

namespace qvx::qt {

// The window's status when there is no display to open it on.
inline constexpr int kNoDisplay = 3;

// Without a session bus of the desktop's own, Qt's D-Bus would start one for the user
// (dbus-launch, a daemon that outlives the program, files in ~/.dbus): here it finds none
// instead. A desktop's bus, named in DBUS_SESSION_BUS_ADDRESS or the user's socket
// $XDG_RUNTIME_DIR/bus, is left to Qt, which publishes the widgets to screen readers on it.
void StayOffAbsentSessionBus();

// Qt's application object. When Qt finds no display it would abort; the program then ends here
// instead, with one line on standard error and kNoDisplay. Qt's notice that XDG_RUNTIME_DIR is
// unset is dropped: the program has a fallback of its own for its one runtime file.
std::unique_ptr<QApplication> StartApplication(int& argc, char** argv);

}  // namespace qvx::qt
