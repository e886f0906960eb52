#pragma once

#include <array>

#include "app/startup.h"

namespace qvx::qt {

// The options QGuiApplication and QApplication document, which Qt reads itself: a session manager
// restarts the program with -session, and -platform, -display or -style choose where and how it
// shows. Undocumented ones, and the Windows platform's, are refused like any unknown option.
inline constexpr auto kQtOptions = std::to_array<ToolkitOption>({
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
});

}  // namespace qvx::qt
