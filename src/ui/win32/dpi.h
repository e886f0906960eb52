#pragma once

#include <windows.h>

namespace qvx::win32 {

// The per-monitor DPI calls of Windows 10 1607 and later, loaded at run time so that the program
// still starts on older systems; there the system's DPI, which their awareness gets, stands in.

// The DPI of the screen the window is on.
int WindowDpi(HWND window);
// The outer size of a window with this style and client size at `dpi`, its frame at that DPI.
// (::DWORD: the core has a DWORD of its own in namespace qvx, of another type.)
SIZE FrameSize(SIZE client, ::DWORD style, int dpi);
// The system's message font (its message boxes' own) at `dpi`. The caller deletes it.
HFONT CreateMessageFont(int dpi);

// The work area (the screen less the taskbar) of the monitor that holds the mouse pointer.
RECT WorkAreaUnderPointer();
// The top-left corner that centres `size` in `area`; a window larger than the area keeps its
// top-left corner, and so its caption, inside it.
POINT CentredIn(const RECT& area, SIZE size);

}  // namespace qvx::win32
