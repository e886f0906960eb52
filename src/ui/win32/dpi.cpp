#include "ui/win32/dpi.h"

#include <algorithm>

namespace qvx::win32 {
namespace {

using GetDpiForWindowCall = UINT WINAPI(HWND);
using AdjustWindowRectExForDpiCall = BOOL WINAPI(RECT*, DWORD, BOOL, DWORD, UINT);
using SystemParametersInfoForDpiCall = BOOL WINAPI(UINT, UINT, void*, UINT, UINT);

// A call of user32.dll by name, or null where the system lacks it.
template <typename Call>
Call* FromUser32(const char* name) {
  return reinterpret_cast<Call*>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

}  // namespace

int WindowDpi(HWND window) {
  static auto* const call = FromUser32<GetDpiForWindowCall>("GetDpiForWindow");
  return call != nullptr ? static_cast<int>(call(window)) : SystemDpi();
}

SIZE FrameSize(SIZE client, ::DWORD style, int dpi) {
  static auto* const call = FromUser32<AdjustWindowRectExForDpiCall>("AdjustWindowRectExForDpi");
  RECT frame{0, 0, client.cx, client.cy};
  if (call == nullptr || call(&frame, style, FALSE, 0, static_cast<UINT>(dpi)) == FALSE) {
    AdjustWindowRectEx(&frame, style, FALSE, 0);
  }
  return {frame.right - frame.left, frame.bottom - frame.top};
}

HFONT CreateMessageFont(int dpi) {
  static auto* const call =
      FromUser32<SystemParametersInfoForDpiCall>("SystemParametersInfoForDpi");
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (call == nullptr || call(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0,
                              static_cast<UINT>(dpi)) == FALSE) {
    // The font at the system's DPI, scaled to the one asked for.
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, dpi, SystemDpi());
  }
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

RECT WorkAreaUnderPointer() {
  POINT pointer{};
  GetCursorPos(&pointer);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromPoint(pointer, MONITOR_DEFAULTTOPRIMARY), &monitor);
  return monitor.rcWork;
}

POINT CentredIn(const RECT& area, SIZE size) {
  return {std::max(area.left, area.left + (area.right - area.left - size.cx) / 2),
          std::max(area.top, area.top + (area.bottom - area.top - size.cy) / 2)};
}

}  // namespace qvx::win32
